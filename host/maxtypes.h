// Basic host SDK types: the values every other host header uses.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef _T
#define _T(x) x
#endif

using BOOL = int;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using MCHAR = char;
using TCHAR = char;
using LPVOID = void*;
using HINSTANCE = void*;
using MtlID = unsigned short;
using ParamID = short;
using TimeValue = int;
using SClass_ID = ULONG;
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

constexpr int MAX_PATH = 260;
constexpr TimeValue TIME_TICKSPERSEC = 4800;
constexpr int kFrameRate = 30;  // the scene's frames per second
constexpr TimeValue TIME_NegInfinity = static_cast<TimeValue>(0x80000000u);
constexpr TimeValue TIME_PosInfinity = 0x7FFFFFFF;

// Super class IDs.
constexpr SClass_ID GEOMOBJECT_CLASS_ID = 0x10;
constexpr SClass_ID LIGHT_CLASS_ID = 0x30;
constexpr SClass_ID HELPER_CLASS_ID = 0x50;
constexpr SClass_ID OSM_CLASS_ID = 0x810;
constexpr SClass_ID SCENE_IMPORT_CLASS_ID = 0xA10;
constexpr SClass_ID MATERIAL_CLASS_ID = 0xC00;
constexpr SClass_ID TEXMAP_CLASS_ID = 0xC10;
constexpr SClass_ID UVGEN_CLASS_ID = 0x0000C20;
constexpr SClass_ID CTRL_FLOAT_CLASS_ID = 0x9003;

class Class_ID {
public:
    Class_ID() = default;
    Class_ID(ULONG aa, ULONG bb) : a(aa), b(bb) {}
    ULONG PartA() const { return a; }
    ULONG PartB() const { return b; }
    bool operator==(const Class_ID& o) const { return a == o.a && b == o.b; }
    bool operator!=(const Class_ID& o) const { return !(*this == o); }

private:
    ULONG a = 0xFFFFFFFF;
    ULONG b = 0xFFFFFFFF;
};

constexpr ULONG EDITTRIOBJ_CLASS_ID = 0xE44F10B3;
constexpr ULONG MULTI_CLASS_ID = 0x200;
constexpr ULONG OMNI_LIGHT_CLASS_ID = 0x1011;
constexpr ULONG DUMMY_CLASS_ID = 0x876234;
#define SKIN_CLASSID Class_ID(0x95C723, 0x15666)
#define GAME_MTL_CLASS_ID Class_ID(0x48238272, 0x48206285)
constexpr ULONG I_SKIN = 0x00010000;
constexpr ULONG I_SKINIMPORTDATA = 0x00020000;

class Point3 {
public:
    float x = 0.0f, y = 0.0f, z = 0.0f;
    Point3() = default;
    Point3(float xx, float yy, float zz) : x(xx), y(yy), z(zz) {}
    float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    Point3 operator+(const Point3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Point3 operator-(const Point3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Point3 operator*(float f) const { return {x * f, y * f, z * f}; }
    bool operator==(const Point3& o) const { return x == o.x && y == o.y && z == o.z; }
};
using UVVert = Point3;
using VertColor = Point3;

inline Point3 CrossProd(const Point3& a, const Point3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float DotProd(const Point3& a, const Point3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Point3 Normalize(const Point3& p)
{
    const float len = std::sqrt(DotProd(p, p));
    return len > 0.0f ? p * (1.0f / len) : p;
}

class Color {
public:
    float r = 0.0f, g = 0.0f, b = 0.0f;
    Color() = default;
    Color(float rr, float gg, float bb) : r(rr), g(gg), b(bb) {}
    explicit Color(const Point3& p) : r(p.x), g(p.y), b(p.z) {}
};

class Matrix3;

// A rotation as a unit quaternion. Its matrix (MakeMatrix) has the rows
// (1-2(y²+z²), 2(xy+zw), 2(xz-yw)), (2(xy-zw), 1-2(x²+z²), 2(yz+xw)),
// (2(xz+yw), 2(yz-xw), 1-2(x²+y²)); Quat(const Matrix3&) is its inverse for
// the rotation part of a matrix whose rows are orthonormal.
class Quat {
public:
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 1.0f;
    Quat() = default;
    Quat(float xx, float yy, float zz, float ww) : x(xx), y(yy), z(zz), w(ww) {}
    explicit Quat(const Matrix3& m);
    // Sets the rotation rows of mat; the translation row is left as it is.
    void MakeMatrix(Matrix3& mat) const;
    Quat Conjugate() const { return {-x, -y, -z, w}; }
    void Normalize();
};
// Spherical interpolation along the shorter arc, u from 0 (p) to 1 (q).
Quat Slerp(const Quat& p, const Quat& q, float u);

class ScaleValue {
public:
    Point3 s{1.0f, 1.0f, 1.0f};
    Quat q;
    ScaleValue() = default;
    explicit ScaleValue(const Point3& as) : s(as) {}
};

// A transform of four rows; points are row vectors (p' = p x M).
class Matrix3 {
public:
    Matrix3() { IdentityMatrix(); }
    explicit Matrix3(BOOL init)
    {
        if (init) IdentityMatrix();
    }
    Matrix3(const Point3& u, const Point3& v, const Point3& n, const Point3& t) : rows{u, v, n, t} {}
    void IdentityMatrix() { rows[0] = {1, 0, 0}, rows[1] = {0, 1, 0}, rows[2] = {0, 0, 1}, rows[3] = {0, 0, 0}; }
    Point3 GetRow(int i) const { return rows[i]; }
    void SetRow(int i, const Point3& p) { rows[i] = p; }
    Point3 GetTrans() const { return rows[3]; }
    void SetTrans(const Point3& p) { rows[3] = p; }
    // Multiplies on the right by the rotation about X; the translation row turns too.
    void RotateX(float angle);
    Matrix3 operator*(const Matrix3& b) const;
    Matrix3 Inverse() const;
    Point3 PointTransform(const Point3& p) const;
    bool operator==(const Matrix3& o) const
    {
        return rows[0] == o.rows[0] && rows[1] == o.rows[1] && rows[2] == o.rows[2] && rows[3] == o.rows[3];
    }

private:
    Point3 rows[4];
};
inline Point3 operator*(const Point3& p, const Matrix3& m)
{
    return m.PointTransform(p);
}
Matrix3 Inverse(const Matrix3& m);

class Interval {
public:
    Interval() = default;
    Interval(TimeValue s, TimeValue e) : start(s), end(e) {}
    TimeValue Start() const { return start; }
    TimeValue End() const { return end; }
    void Set(TimeValue s, TimeValue e) { start = s, end = e; }

private:
    TimeValue start = TIME_NegInfinity;
    TimeValue end = TIME_PosInfinity;
};
#define FOREVER Interval(TIME_NegInfinity, TIME_PosInfinity)

// The host's narrow text string.
class CStr {
public:
    CStr() = default;
    CStr(const char* s) : str(s ? s : "") {}  // NOLINT: implicit as in the SDK
    CStr(const std::string& s) : str(s) {}    // NOLINT
    const char* data() const { return str.c_str(); }
    operator const char*() const { return str.c_str(); }  // NOLINT
    int Length() const { return static_cast<int>(str.size()); }
    const std::string& str_() const { return str; }

private:
    std::string str;
};
using MSTR = CStr;
using TSTR = CStr;

// The host's growable table.
template <class T>
class Tab {
public:
    int Count() const { return static_cast<int>(items.size()); }
    int SetCount(int n, BOOL resize = TRUE)
    {
        (void)resize;
        items.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return Count();
    }
    T& operator[](int i) { return items[static_cast<std::size_t>(i)]; }
    const T& operator[](int i) const { return items[static_cast<std::size_t>(i)]; }
    int Append(int n, const T* el, int allocExtra = 0)
    {
        (void)allocExtra;
        items.insert(items.end(), el, el + n);
        return Count() - n;
    }
    void ZeroCount() { items.clear(); }
    T* Addr(int i) { return items.data() + i; }

private:
    std::vector<T> items;
};
