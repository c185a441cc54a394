// Scene nodes: transforms relative to the parent, hierarchy, user
// properties, object offsets and evaluation through the modifier stack.
#include "host/inode.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/control.h"
#include "host/objects.h"

namespace {

// A transform split into scale (along its own axes), rotation and position:
// tm = scale x rotation, then the translation. Rows of zero length keep a
// scale of 0 and the identity direction.
struct Parts {
    Point3 position;
    Quat rotation;
    Point3 scale{1.0f, 1.0f, 1.0f};
};

Parts decompose(const Matrix3& tm)
{
    Parts parts;
    parts.position = tm.GetTrans();
    Point3 axes[3];
    for (int i = 0; i < 3; ++i) {
        const Point3 r = tm.GetRow(i);
        parts.scale[i] = std::sqrt(DotProd(r, r));
        axes[i] = parts.scale[i] > 0.0f ? r * (1.0f / parts.scale[i]) : Point3();
    }
    // A mirrored transform keeps its mirror in the scale.
    if (DotProd(CrossProd(axes[0], axes[1]), axes[2]) < 0.0f) {
        parts.scale.z = -parts.scale.z;
        axes[2] = axes[2] * -1.0f;
    }
    parts.rotation = Quat(Matrix3(axes[0], axes[1], axes[2], Point3()));
    return parts;
}

Matrix3 compose(const Parts& parts)
{
    Matrix3 tm;
    parts.rotation.MakeMatrix(tm);
    for (int i = 0; i < 3; ++i) tm.SetRow(i, tm.GetRow(i) * parts.scale[i]);
    tm.SetTrans(parts.position);
    return tm;
}

bool isUnitScale(const Point3& s)
{
    constexpr float kTolerance = 1e-5f;
    return std::fabs(s.x - 1.0f) <= kTolerance && std::fabs(s.y - 1.0f) <= kTolerance &&
           std::fabs(s.z - 1.0f) <= kTolerance;
}

template <class V>
void putKey(std::vector<INode::Key<V>>& keys, TimeValue t, const V& value)
{
    auto it = std::lower_bound(keys.begin(), keys.end(), t,
                               [](const INode::Key<V>& k, TimeValue time) { return k.time < time; });
    if (it != keys.end() && it->time == t) {
        it->value = value;
    } else {
        keys.insert(it, INode::Key<V>{t, value});
    }
}

Point3 lerp(const Point3& a, const Point3& b, float u)
{
    return a + (b - a) * u;
}
Quat lerp(const Quat& a, const Quat& b, float u)
{
    return Slerp(a, b, u);
}

// The value at t: held before the first key and after the last, between
// keys interpolated; `fallback` where there is no key.
template <class V>
V valueAt(const std::vector<INode::Key<V>>& keys, TimeValue t, const V& fallback)
{
    if (keys.empty()) return fallback;
    if (t <= keys.front().time) return keys.front().value;
    if (t >= keys.back().time) return keys.back().value;
    auto next = std::lower_bound(keys.begin(), keys.end(), t,
                                 [](const INode::Key<V>& k, TimeValue time) { return k.time < time; });
    if (next->time == t) return next->value;
    const auto prev = next - 1;
    const double span = double(next->time) - double(prev->time);
    return lerp(prev->value, next->value, static_cast<float>((double(t) - double(prev->time)) / span));
}

}  // namespace

void INode::setKeys(TimeValue t, const Matrix3& localTm)
{
    // Scale keys begin with the first scale that is not 1. That first one
    // keys the unit scale at every time keyed before, so that the scale is
    // 1 up to there and grows from the key before it, not held from before
    // the animation starts.
    const Parts parts = decompose(localTm);
    if (scaleKeys.empty() && !isUnitScale(parts.scale)) {
        for (const auto& k : positionKeys) scaleKeys.push_back({k.time, Point3(1, 1, 1)});
    }
    putKey(positionKeys, t, parts.position);
    putKey(rotationKeys, t, parts.rotation);
    if (!scaleKeys.empty() || !isUnitScale(parts.scale)) putKey(scaleKeys, t, parts.scale);
}

void INode::SetNodeTM(TimeValue t, Matrix3& tm)
{
    const Matrix3 localTm = parent ? tm * Inverse(parent->GetNodeTM(t)) : tm;
    if (Animating()) {
        setKeys(t, localTm);
        return;
    }
    local = localTm;
    positionKeys.clear();
    rotationKeys.clear();
    scaleKeys.clear();
}

void INode::DeleteKeys(DWORD flags)
{
    (void)flags;
    positionKeys.clear();
    rotationKeys.clear();
    scaleKeys.clear();
}

Matrix3 INode::LocalTM(TimeValue t) const
{
    if (!HasKeys()) return local;
    const Parts fixed = decompose(local);
    Parts parts;
    parts.position = valueAt(positionKeys, t, fixed.position);
    parts.rotation = valueAt(rotationKeys, t, fixed.rotation);
    parts.scale = valueAt(scaleKeys, t, fixed.scale);
    return compose(parts);
}

Matrix3 INode::GetNodeTM(TimeValue t, Interval* valid) const
{
    if (valid) *valid = HasKeys() ? Interval(t, t) : FOREVER;
    // local x parent's world, the parent's world composed first; iterative,
    // as hierarchies can be deep.
    std::vector<const INode*> chain;
    for (const INode* p = this; p; p = p->parent) chain.push_back(p);
    Matrix3 world = chain.back()->LocalTM(t);
    for (std::size_t i = chain.size() - 1; i-- > 0;) world = chain[i]->LocalTM(t) * world;
    return world;
}

Matrix3 INode::GetObjectTM(TimeValue t, Interval* valid) const
{
    const Point3 s = offsetScale.s;
    const Quat q = offsetRot;
    const double len = std::sqrt(double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w);
    double x = 0, y = 0, z = 0, w = 1;
    if (len > 0.0 && std::isfinite(len)) x = q.x / len, y = q.y / len, z = q.z / len, w = q.w / len;
    // Rows of the rotation for row vectors, each scaled by its axis.
    const Point3 r0(float(1 - 2 * (y * y + z * z)), float(2 * (x * y + z * w)), float(2 * (x * z - y * w)));
    const Point3 r1(float(2 * (x * y - z * w)), float(1 - 2 * (x * x + z * z)), float(2 * (y * z + x * w)));
    const Point3 r2(float(2 * (x * z + y * w)), float(2 * (y * z - x * w)), float(1 - 2 * (x * x + y * y)));
    const Matrix3 offset(r0 * s.x, r1 * s.y, r2 * s.z, offsetPos);
    return offset * GetNodeTM(t, valid);
}

void INode::AttachChild(INode* node, int keepPos)
{
    if (!node || node == this) return;
    // Refuse a link that would make the node its own ancestor.
    for (const INode* p = parent; p; p = p->parent) {
        if (p == node) return;
    }
    const Matrix3 world = node->GetNodeTM(0);
    if (INode* old = node->parent) {
        auto& siblings = old->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
    }
    node->parent = this;
    children.push_back(node);
    if (keepPos) node->local = world * Inverse(GetNodeTM(0));
}

ObjectState INode::EvalWorldState(TimeValue time, BOOL evalHidden)
{
    (void)time, (void)evalHidden;
    int vertexCount = 0;
    if (auto* tri = dynamic_cast<TriObject*>(object)) vertexCount = tri->mesh.getNumVerts();
    for (Modifier* mod : modifiers) {
        if (mod) mod->NotifyEvaluated(this, vertexCount);
    }
    return ObjectState(object);
}

INode::UserProp& INode::prop(const std::string& key)
{
    for (UserProp& p : userProps) {
        if (p.key == key) return p;
    }
    userProps.push_back(UserProp{key, false, 0, false, 0.0f, {}});
    return userProps.back();
}

void INode::SetUserPropInt(const MSTR& key, int val)
{
    UserProp& p = prop(key.str_());
    p.isInt = true;
    p.intValue = val;
    p.isFloat = false;
    p.text.clear();
}

void INode::SetUserPropFloat(const MSTR& key, float val)
{
    UserProp& p = prop(key.str_());
    p.isInt = false;
    p.intValue = 0;
    p.isFloat = true;
    p.floatValue = val;
    p.text.clear();
}

void INode::SetUserPropString(const MSTR& key, const MSTR& string)
{
    UserProp& p = prop(key.str_());
    p.isInt = false;
    p.intValue = 0;
    p.isFloat = false;
    p.text = string.str_();
}

BOOL INode::GetUserPropInt(const MSTR& key, int& val) const
{
    for (const UserProp& p : userProps) {
        if (p.key != key.str_()) continue;
        if (p.isInt) {
            val = p.intValue;
            return TRUE;
        }
        if (p.isFloat) return FALSE;
        // A text value counts when it reads whole as an integer, as the host
        // parses its property buffer.
        const char* s = p.text.c_str();
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(s, &end, 10);
        if (end == s || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return FALSE;
        val = static_cast<int>(v);
        return TRUE;
    }
    return FALSE;
}

BOOL INode::GetUserPropString(const MSTR& key, MSTR& string) const
{
    for (const UserProp& p : userProps) {
        if (p.key != key.str_()) continue;
        if (p.isFloat) {
            char text[32];
            std::snprintf(text, sizeof text, "%.9g", static_cast<double>(p.floatValue));
            string = MSTR(text);
        } else {
            string = p.isInt ? MSTR(std::to_string(p.intValue)) : MSTR(p.text);
        }
        return TRUE;
    }
    return FALSE;
}

namespace {

// The direction v in tmAxis's axes, in world axes (rotation rows only).
Point3 axisVector(const Matrix3& tmAxis, const Point3& v)
{
    return tmAxis.GetRow(0) * v.x + tmAxis.GetRow(1) * v.y + tmAxis.GetRow(2) * v.z;
}

// Keeps the children's world transforms across a change of this node's transform.
struct KeepChildren {
    std::vector<std::pair<INode*, Matrix3>> saved;
    explicit KeepChildren(const INode& node)
    {
        for (INode* c : node.Children()) saved.emplace_back(c, c->GetNodeTM(0));
    }
    void restore()
    {
        for (auto& [c, tm] : saved) c->SetNodeTM(0, tm);
    }
};

}  // namespace

void INode::Move(TimeValue t, const Matrix3& tmAxis, const Point3& val, BOOL localOrigin, BOOL affectKids, int pivMode,
                 BOOL ignoreLocks)
{
    (void)t, (void)localOrigin, (void)ignoreLocks;
    const Point3 d = axisVector(tmAxis, val);
    if (pivMode == PIV_OBJECT_ONLY) {
        offsetPos = offsetPos + d;
        return;
    }
    KeepChildren kids(*this);
    Matrix3 world = GetNodeTM(0);
    world.SetTrans(world.GetTrans() + d);
    SetNodeTM(0, world);
    if (pivMode == PIV_PIVOT_ONLY) {
        // The pivot moved, the object stays: the offset takes the move back,
        // in the node's own axes.
        Matrix3 rot = world;
        rot.SetTrans(Point3());
        const Point3 back = Inverse(rot).PointTransform(Point3(-d.x, -d.y, -d.z));
        offsetPos = offsetPos + back;
    }
    if (!affectKids || pivMode == PIV_PIVOT_ONLY) kids.restore();
}

void INode::Scale(TimeValue t, const Matrix3& tmAxis, const Point3& val, BOOL localOrigin, BOOL affectKids, int pivMode,
                  BOOL ignoreLocks)
{
    (void)t, (void)ignoreLocks;
    if (pivMode == PIV_OBJECT_ONLY) {
        Point3& s = offsetScale.s;
        s = Point3(s.x * val.x, s.y * val.y, s.z * val.z);
        // About the axis origin rather than the object's own, the offset
        // position scales as well.
        if (!localOrigin) offsetPos = Point3(offsetPos.x * val.x, offsetPos.y * val.y, offsetPos.z * val.z);
        return;
    }
    if (pivMode == PIV_PIVOT_ONLY) return;  // a pivot has no size
    KeepChildren kids(*this);
    Matrix3 world = GetNodeTM(0);
    for (int i = 0; i < 3; ++i) world.SetRow(i, world.GetRow(i) * val[i]);
    if (!localOrigin) {
        const Point3 o = tmAxis.GetTrans();
        const Point3 p = world.GetTrans() - o;
        world.SetTrans(o + Point3(p.x * val.x, p.y * val.y, p.z * val.z));
    }
    SetNodeTM(0, world);
    if (!affectKids) kids.restore();
}
