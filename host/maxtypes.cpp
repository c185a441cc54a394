// Matrix operations of the host's 4x3 transform (row vectors, p' = p x M).
#include "host/maxtypes.h"

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

Matrix3 Inverse(const Matrix3& m) { return m.Inverse(); }
