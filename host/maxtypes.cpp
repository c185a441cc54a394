// Matrix operations of the host's 4x3 transform (row vectors, p' = p x M).
#include "host/maxtypes.h"

#include <algorithm>

void Matrix3::RotateX(float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    // Each row r becomes r x Rx with Rx rows (1,0,0), (0,c,s), (0,-s,c).
    for (Point3& r : rows) {
        const float y = r.y * c - r.z * s;
        const float z = r.y * s + r.z * c;
        r.y = y;
        r.z = z;
    }
}

Matrix3 Matrix3::operator*(const Matrix3& b) const
{
    Matrix3 out(FALSE);
    for (int i = 0; i < 3; ++i) {
        const Point3& r = rows[i];
        out.rows[i] = b.rows[0] * r.x + b.rows[1] * r.y + b.rows[2] * r.z;
    }
    out.rows[3] = b.PointTransform(rows[3]);
    return out;
}

Point3 Matrix3::PointTransform(const Point3& p) const
{
    return rows[0] * p.x + rows[1] * p.y + rows[2] * p.z + rows[3];
}

Matrix3 Matrix3::Inverse() const
{
    // The 3x3 part by its adjugate, computed in double for accuracy; the
    // translation row is then -t x inverse(3x3).
    const double a[3][3] = {{rows[0].x, rows[0].y, rows[0].z},
                            {rows[1].x, rows[1].y, rows[1].z},
                            {rows[2].x, rows[2].y, rows[2].z}};
    double inv[3][3];
    inv[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    inv[0][1] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
    inv[0][2] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    inv[1][0] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    inv[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    inv[1][2] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
    inv[2][0] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    inv[2][1] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
    inv[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    const double det = a[0][0] * inv[0][0] + a[0][1] * inv[1][0] + a[0][2] * inv[2][0];
    Matrix3 out;  // a singular matrix has no inverse: identity rotation part
    if (det != 0.0 && std::isfinite(det)) {
        for (int i = 0; i < 3; ++i) {
            out.rows[i] = Point3(static_cast<float>(inv[i][0] / det), static_cast<float>(inv[i][1] / det),
                                 static_cast<float>(inv[i][2] / det));
        }
    }
    const Point3 t = rows[3];
    const Point3 rt = out.rows[0] * t.x + out.rows[1] * t.y + out.rows[2] * t.z;
    out.rows[3] = Point3(-rt.x, -rt.y, -rt.z);
    return out;
}

Matrix3 Inverse(const Matrix3& m)
{
    return m.Inverse();
}

void Quat::Normalize()
{
    const double len = std::sqrt(double(x) * x + double(y) * y + double(z) * z + double(w) * w);
    if (!(len > 0.0) || !std::isfinite(len)) {
        *this = Quat();
        return;
    }
    x = float(x / len), y = float(y / len), z = float(z / len), w = float(w / len);
}

void Quat::MakeMatrix(Matrix3& mat) const
{
    Quat q = *this;
    q.Normalize();
    const double qx = q.x, qy = q.y, qz = q.z, qw = q.w;
    mat.SetRow(0, Point3(float(1 - 2 * (qy * qy + qz * qz)), float(2 * (qx * qy + qz * qw)),
                         float(2 * (qx * qz - qy * qw))));
    mat.SetRow(1, Point3(float(2 * (qx * qy - qz * qw)), float(1 - 2 * (qx * qx + qz * qz)),
                         float(2 * (qy * qz + qx * qw))));
    mat.SetRow(2, Point3(float(2 * (qx * qz + qy * qw)), float(2 * (qy * qz - qx * qw)),
                         float(1 - 2 * (qx * qx + qy * qy))));
}

Quat::Quat(const Matrix3& mat)
{
    double m[3][3];
    for (int i = 0; i < 3; ++i) {
        const Point3 r = mat.GetRow(i);
        m[i][0] = r.x, m[i][1] = r.y, m[i][2] = r.z;
    }
    const double trace = m[0][0] + m[1][1] + m[2][2];
    double qx, qy, qz, qw;
    // The largest of the four components is taken from the diagonal, the
    // others from the off-diagonal sums and differences.
    if (trace > 0.0) {
        const double s = std::sqrt(trace + 1.0) * 2.0;
        qw = s / 4.0, qx = (m[1][2] - m[2][1]) / s, qy = (m[2][0] - m[0][2]) / s, qz = (m[0][1] - m[1][0]) / s;
    } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
        const double s = std::sqrt(1.0 + m[0][0] - m[1][1] - m[2][2]) * 2.0;
        qx = s / 4.0, qw = (m[1][2] - m[2][1]) / s, qy = (m[0][1] + m[1][0]) / s, qz = (m[2][0] + m[0][2]) / s;
    } else if (m[1][1] >= m[2][2]) {
        const double s = std::sqrt(1.0 + m[1][1] - m[0][0] - m[2][2]) * 2.0;
        qy = s / 4.0, qw = (m[2][0] - m[0][2]) / s, qx = (m[0][1] + m[1][0]) / s, qz = (m[1][2] + m[2][1]) / s;
    } else {
        const double s = std::sqrt(1.0 + m[2][2] - m[0][0] - m[1][1]) * 2.0;
        qz = s / 4.0, qw = (m[0][1] - m[1][0]) / s, qx = (m[2][0] + m[0][2]) / s, qy = (m[1][2] + m[2][1]) / s;
    }
    x = float(qx), y = float(qy), z = float(qz), w = float(qw);
    Normalize();
}

Quat Slerp(const Quat& p, const Quat& q, float u)
{
    double dot = double(p.x) * q.x + double(p.y) * q.y + double(p.z) * q.z + double(p.w) * q.w;
    double sign = 1.0;
    if (dot < 0.0) dot = -dot, sign = -1.0;  // the shorter arc
    double a = 1.0 - u, b = u;
    if (dot < 0.9995) {
        const double angle = std::acos(std::min(dot, 1.0));
        const double s = std::sin(angle);
        a = std::sin((1.0 - u) * angle) / s;
        b = std::sin(u * angle) / s;
    }
    b *= sign;
    Quat out(float(a * p.x + b * q.x), float(a * p.y + b * q.y), float(a * p.z + b * q.z), float(a * p.w + b * q.w));
    out.Normalize();
    return out;
}
