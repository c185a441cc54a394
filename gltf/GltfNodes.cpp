// glTF export: the node tree with its transforms (glTF's translation,
// rotation and scale, or a matrix), the objects the nodes hold, and lights.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "gltf/GltfDocument.h"
#include "host/describe.h"
#include "support/Text.h"

namespace orvik::gltf {

// ---------------------------------------------------------------------------
// What glTF alone needs of transforms: the host's Matrix3 does the rest.

double determinant(const Matrix3& m)
{
    const Point3 a = m.GetRow(0), b = m.GetRow(1), c = m.GetRow(2);
    return double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) -
           double(a.y) * (double(b.x) * c.z - double(b.z) * c.x) +
           double(a.z) * (double(b.x) * c.y - double(b.y) * c.x);
}

bool finite(const Matrix3& m)
{
    for (int r = 0; r < 4; ++r) {
        const Point3 p = m.GetRow(r);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
    }
    return true;
}

namespace {

// The glTF 4x4 matrix (column vectors, column-major): the host's rows are
// glTF's columns.
Json columnMajor(const Matrix3& m)
{
    Json out = Json::array();
    for (int r = 0; r < 4; ++r) {
        const Point3 p = m.GetRow(r);
        out.push_back(tidy(p.x)), out.push_back(tidy(p.y)), out.push_back(tidy(p.z));
        out.push_back(r == 3 ? 1.0 : 0.0);
    }
    return out;
}

using V3 = std::array<double, 3>;

V3 row(const Matrix3& m, int i)
{
    const Point3 p = m.GetRow(i);
    return {p.x, p.y, p.z};
}
double dot(const V3& a, const V3& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
V3 cross(const V3& a, const V3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
V3 scaled(const V3& v, double f)
{
    return {v[0] * f, v[1] * f, v[2] * f};
}
V3 minus(const V3& a, const V3& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
// v made unit, or fallback when it has no length.
V3 unit(const V3& v, const V3& fallback)
{
    const double len = std::sqrt(dot(v, v));
    return len > 1e-12 ? scaled(v, 1.0 / len) : fallback;
}

}  // namespace

Matrix3 compose(const Trs& t)
{
    const double x = t.r[0], y = t.r[1], z = t.r[2], w = t.r[3];
    // Rotation matrix for column vectors; the host's rows are its columns.
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    Matrix3 m;
    for (int i = 0; i < 3; ++i) {
        const double s = t.s[static_cast<std::size_t>(i)];
        m.SetRow(i, Point3(static_cast<float>(r[0][i] * s), static_cast<float>(r[1][i] * s),
                           static_cast<float>(r[2][i] * s)));
    }
    m.SetTrans(Point3(static_cast<float>(t.t[0]), static_cast<float>(t.t[1]), static_cast<float>(t.t[2])));
    return m;
}

// Gram-Schmidt makes the axes orthonormal.
Trs decompose(const Matrix3& m)
{
    Trs out;
    out.t = row(m, 3);
    const V3 ax = row(m, 0), ay = row(m, 1), az = row(m, 2);
    out.s = {std::sqrt(dot(ax, ax)), std::sqrt(dot(ay, ay)), std::sqrt(dot(az, az))};
    if (determinant(m) < 0.0) out.s[0] = -out.s[0];
    const V3 x = out.s[0] != 0.0 ? scaled(ax, 1.0 / out.s[0]) : V3{1, 0, 0};
    V3 y = unit(minus(ay, scaled(x, dot(ay, x))), std::abs(x[1]) < 0.9 ? V3{0, 1, 0} : V3{0, 0, 1});
    y = unit(minus(y, scaled(x, dot(y, x))), y);
    const V3 z = cross(x, y);
    // Rows are the rotated axes: the column-vector matrix R has them as columns.
    const double r00 = x[0], r10 = x[1], r20 = x[2], r01 = y[0], r11 = y[1], r21 = y[2], r02 = z[0], r12 = z[1],
                 r22 = z[2];
    std::array<double, 4> q{};
    const double trace = r00 + r11 + r22;
    if (trace > 0.0) {
        const double s = std::sqrt(trace + 1.0) * 2.0;
        q = {(r21 - r12) / s, (r02 - r20) / s, (r10 - r01) / s, 0.25 * s};
    } else if (r00 > r11 && r00 > r22) {
        const double s = std::sqrt(1.0 + r00 - r11 - r22) * 2.0;
        q = {0.25 * s, (r01 + r10) / s, (r02 + r20) / s, (r21 - r12) / s};
    } else if (r11 > r22) {
        const double s = std::sqrt(1.0 + r11 - r00 - r22) * 2.0;
        q = {(r01 + r10) / s, 0.25 * s, (r12 + r21) / s, (r02 - r20) / s};
    } else {
        const double s = std::sqrt(1.0 + r22 - r00 - r11) * 2.0;
        q = {(r02 + r20) / s, (r12 + r21) / s, 0.25 * s, (r10 - r01) / s};
    }
    const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& c : q) c /= len;
    out.r = q;
    return out;
}

namespace {

bool offsetIsIdentity(const INode& node)
{
    const Quat q = node.GetObjOffsetRot();
    return node.GetObjOffsetPos() == Point3(0, 0, 0) && node.GetObjOffsetScale().s == Point3(1, 1, 1) && q.x == 0.0f &&
           q.y == 0.0f && q.z == 0.0f && q.w == 1.0f;
}

std::string fileStem(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace

// The object-offset transform: scale, then rotation, then translation.
Matrix3 objectOffset(const INode& node)
{
    const Point3 pos = node.GetObjOffsetPos(), s = node.GetObjOffsetScale().s;
    const Quat q = node.GetObjOffsetRot();
    Trs t;
    t.t = {pos.x, pos.y, pos.z};
    t.s = {s.x, s.y, s.z};
    const double len = std::sqrt(double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w);
    if (len > 0.0 && std::isfinite(len)) t.r = {q.x / len, q.y / len, q.z / len, q.w / len};
    return compose(t);
}

int Builder::nodeIndex(const INode* node) const
{
    const auto it = nodeIndices.find(node);
    return it == nodeIndices.end() ? -1 : it->second;
}

void Builder::addNodes()
{
    // Node 0 is the root, turning the host's Z-up (x, y, z) into glTF's
    // Y-up (x, z, -y); the scene's nodes follow in scene order, less those
    // --skip-parts leaves out (with everything below them).
    std::string rootName = latin1ToUtf8(fileStem(scene.import.file));
    const Matrix3 yUp(Point3(1, 0, 0), Point3(0, 0, -1), Point3(0, 1, 0), Point3(0, 0, 0));
    int index = 0;
    add("nodes", {{"name", rootName.empty() ? "scene" : rootName}, {"matrix", columnMajor(yUp)}}, index);
    doc["nodes"][0]["extras"] = {{"axes", "host Z-up turned to glTF Y-up"}};
    exportedWorld.push_back(Matrix3());  // host space: the root's turn is not in it

    std::vector<std::string> suffixes;
    std::vector<std::string> parts = options.skipParts;
    if (options.gameView) parts.insert(parts.end(), {"dam", "vlo"});
    for (const std::string& part : parts) suffixes.push_back(asciiLower(std::string(1, '_').append(part)));
    std::vector<INode*> kept;
    for (INode* node : scene.nodes) {
        bool skip = false, notRendered = false;
        for (const INode* n = node; n != nullptr && !skip; n = n->GetParentNode()) {
            const std::string name = asciiLower(n->GetName());
            for (const std::string& suffix : suffixes) skip = skip || name.ends_with(suffix);
            notRendered = notRendered || (options.gameView && n->Renderable() == 0);
        }
        if (skip) {
            ++report.nodesSkipped;
            continue;
        }
        if (notRendered) {
            ++report.nodesNotRendered;
            continue;
        }
        nodeIndices.emplace(node, static_cast<int>(kept.size() + 1));
        kept.push_back(node);
    }

    // Parents before children (the host keeps no cycles), children in the
    // host's attachment order, transforms relative to the parent as exported:
    // local = world x inverse(parent's world as exported), so that a parent
    // glTF can only approximate does not carry its error into its children.
    std::vector<INode*> order;
    for (INode* node : kept) {
        if (node->GetParentNode() == nullptr) order.push_back(node);
    }
    for (std::size_t k = 0; k < order.size(); ++k) {
        for (INode* c : order[k]->Children()) {
            if (nodeIndex(c) >= 0) order.push_back(c);
        }
    }
    assert(order.size() == kept.size());
    for (INode* node : kept) add("nodes", {{"name", latin1ToUtf8(node->GetName())}}, index);
    exportedWorld.resize(kept.size() + 1);
    Json& nodes = doc["nodes"];
    for (INode* node : order) {
        const auto n = static_cast<std::size_t>(nodeIndex(node));
        const INode* parent = node->GetParentNode();
        const auto p = static_cast<std::size_t>(parent ? nodeIndex(parent) : 0);
        Json& children = nodes[p]["children"];
        if (children.is_null()) children = Json::array();
        children.push_back(n);
        const Matrix3 world = node->GetNodeTM(0);
        Matrix3 local = world;
        if (p > 0) local = determinant(exportedWorld[p]) != 0.0 ? world * Inverse(exportedWorld[p]) : node->LocalTM();
        exportedWorld[n] = setTransform(nodes[n], local, animated.count(node) > 0) * exportedWorld[p];
    }
    for (INode* node : kept) addObject(node, nodeIndex(node));
}

Matrix3 Builder::setTransform(Json& node, const Matrix3& local, bool asTrs)
{
    if (local == Matrix3()) return local;
    if (!finite(local)) {
        note("a node transform holds a value that is not a number: it is exported as the identity");
        return Matrix3();
    }
    const Trs trs = decompose(local);
    const Matrix3 back = compose(trs);
    double largest = 1.0, error = 0.0;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            largest = std::max(largest, double(std::abs(local.GetRow(r)[c])));
            error = std::max(error, double(std::abs(back.GetRow(r)[c] - local.GetRow(r)[c])));
        }
    }
    // Axes orthogonal to within 1e-4 (the file's rounding) count as a
    // rotation and scale.
    const bool exact = determinant(local) != 0.0 && error <= 1e-4 * largest;
    if (exact && !asTrs) {
        node["matrix"] = columnMajor(local);
        return local;
    }
    if (exact) {
        node["translation"] = trs.t;
        node["rotation"] = trs.r;
        node["scale"] = trs.s;
        return back;
    }
    // A shear, or an axis of length zero: the nearest TRS, and the exact
    // transform in the extras.
    node["translation"] = trs.t;
    node["rotation"] = trs.r;
    node["scale"] = trs.s;
    Json rows = Json::array();
    for (int r = 0; r < 4; ++r) rows.push_back(jsonPoint(local.GetRow(r)));
    node["extras"]["localMatrix"] = rows;
    note(
        "a node transform is not made of translation, rotation and scale: it is exported as the nearest such "
        "transform, with the exact one in the node's extras as \"localMatrix\"");
    return back;
}

void Builder::addObject(INode* node, int gltfNode)
{
    Object* obj = node->GetObjectRef();
    auto* tri = dynamic_cast<TriObject*>(obj);
    int holder = gltfNode;
    const SkinExport* skin = nullptr;
    if (auto* light = dynamic_cast<GenLight*>(obj)) {
        addLight(*light, gltfNode);
    } else if (tri != nullptr) {
        // The mesh in the node's object-offset space: a child node of its own
        // carries it, so that the node's children do not inherit the offset.
        if (!offsetIsIdentity(*node)) {
            Json offsetNode = {{"name", latin1ToUtf8(node->GetName())}};
            const Matrix3 offsetTM = setTransform(offsetNode, objectOffset(*node));
            offsetNode["extras"]["objectOffsetOf"] = gltfNode;
            add("nodes", std::move(offsetNode), holder);
            doc["nodes"][static_cast<std::size_t>(gltfNode)]["children"].push_back(holder);
            exportedWorld.push_back(offsetTM * exportedWorld[static_cast<std::size_t>(gltfNode)]);
        }
        SkinModifier* skinModifier = nullptr;
        for (Modifier* mod : node->Modifiers()) {
            if (auto* s = dynamic_cast<SkinModifier*>(mod); s && !skinModifier) skinModifier = s;
        }
        skin = skinModifier ? skinFor(*skinModifier, *node) : nullptr;
        if (skin && skin->skin < 0) skin = nullptr;
        const int mesh = meshFor(*node, *tri, skin);
        if (mesh >= 0) {
            meshOfObject.emplace(tri, mesh);
            meshHolders.emplace(node, holder);
            Json& h = doc["nodes"][static_cast<std::size_t>(holder)];
            h["mesh"] = mesh;
            if (skin) h["skin"] = skin->skin;
        } else {
            skin = nullptr;
        }
    }

    // The node's extras: what the dump says of it.
    JsonBuilder w;
    w.beginObject();
    w.key("object"), describe::object(w, obj, *this);
    if (!offsetIsIdentity(*node)) w.key("objectOffset"), describe::objectOffset(w, *node);
    if (node->HasBoneDisplay()) w.key("boneDisplay"), w.integer(node->BoneDisplay());
    if (!node->UserProps().empty()) w.key("userProps"), describe::userProps(w, *node);
    if (node->IsHidden()) w.key("hidden"), w.boolean(true);
    if (!node->Renderable()) w.key("renderable"), w.boolean(false);
    if (skin) w.key("skin"), w.integer(skin->skin);
    w.endObject();
    Json& extras = doc["nodes"][static_cast<std::size_t>(gltfNode)]["extras"];
    if (extras.is_null()) extras = Json::object();
    for (auto& [k, v] : w.result.items()) extras[k] = v;
}

void Builder::mesh(JsonBuilder& w, const Object* obj)
{
    const auto it = meshOfObject.find(obj);
    w.index(it == meshOfObject.end() ? -1 : it->second);
}

void Builder::addLight(GenLight& light, int gltfNode)
{
    // glTF colours are 0..1; the import gives the file's colour times 255.
    const Point3 c = light.GetRGBColor(0);
    const float largest = std::max({c.x, c.y, c.z});
    Json colour = Json::array();
    for (float v : {c.x, c.y, c.z}) {
        const float x = std::isfinite(v) ? std::clamp(largest > 1.0f ? v / 255.0f : v, 0.0f, 1.0f) : 0.0f;
        colour.push_back(tidy(x));
    }
    Json& ext = doc["extensions"];
    if (ext.is_null()) {
        ext = {{"KHR_lights_punctual", {{"lights", Json::array()}}}};
        doc["extensionsUsed"] = {"KHR_lights_punctual"};
    }
    Json& lights = ext["KHR_lights_punctual"]["lights"];
    lights.push_back({{"name", doc["nodes"][static_cast<std::size_t>(gltfNode)]["name"]},
                      {"type", "point"},
                      {"color", colour},
                      {"intensity", 1.0}});
    // The far attenuation's end, where the import puts a light's range.
    const float range = light.GetAtten(0, ATTEN_END);
    if (std::isfinite(range) && range > 0.0f) lights.back()["range"] = tidy(range);
    doc["nodes"][static_cast<std::size_t>(gltfNode)]["extensions"] = {
        {"KHR_lights_punctual", {{"light", lights.size() - 1}}}};
}

}  // namespace orvik::gltf
