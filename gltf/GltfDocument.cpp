// glTF export: the document, the node tree and its transforms, lights, skins,
// materials and textures.
#include "gltf/GltfDocument.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "support/Text.h"
#include "host/describe.h"

namespace orvik::gltf {

double tidy(float f)
{
    if (!std::isfinite(f)) return static_cast<double>(f);
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text - 1, f);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

Json jsonPoint(const Point3& p) { return Json::array({tidy(p.x), tidy(p.y), tidy(p.z)}); }

void JsonBuilder::string(const std::string& s) { put(latin1ToUtf8(s)); }

Json& JsonBuilder::put(Json v)
{
    if (stack.empty()) {
        result = std::move(v);
        return result;
    }
    Json& top = *stack.back();
    if (top.is_array()) {
        top.push_back(std::move(v));
        return top.back();
    }
    Json& slot = top[pendingKey];
    slot = std::move(v);
    return slot;
}

namespace {

// ---------------------------------------------------------------------------
// What glTF alone needs of transforms: the host's Matrix3 does the rest.

double determinant(const Matrix3& m)
{
    const Point3 a = m.GetRow(0), b = m.GetRow(1), c = m.GetRow(2);
    return double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) - double(a.y) * (double(b.x) * c.z - double(b.z) * c.x) +
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

// Translation, rotation (unit quaternion x y z w) and scale, composed the
// way glTF does (T * R * S), in double precision.
struct Trs {
    std::array<double, 3> t{};
    std::array<double, 4> r{0, 0, 0, 1};
    std::array<double, 3> s{1, 1, 1};
};

using V3 = std::array<double, 3>;

V3 row(const Matrix3& m, int i)
{
    const Point3 p = m.GetRow(i);
    return {p.x, p.y, p.z};
}
double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V3 cross(const V3& a, const V3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
V3 scaled(const V3& v, double f) { return {v[0] * f, v[1] * f, v[2] * f}; }
V3 minus(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
// v made unit, or fallback when it has no length.
V3 unit(const V3& v, const V3& fallback)
{
    const double len = std::sqrt(dot(v, v));
    return len > 1e-12 ? scaled(v, 1.0 / len) : fallback;
}

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

// The nearest TRS: axis lengths as the scale (the first negated for a
// mirror), the axes made orthonormal (Gram-Schmidt) as the rotation; a shear
// is lost.
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

bool offsetIsIdentity(const INode& node)
{
    const Quat q = node.GetObjOffsetRot();
    return node.GetObjOffsetPos() == Point3(0, 0, 0) && node.GetObjOffsetScale().s == Point3(1, 1, 1) &&
           q.x == 0.0f && q.y == 0.0f && q.z == 0.0f && q.w == 1.0f;
}

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

std::string fileStem(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

// The image type of a file's first bytes: "image/png", "image/jpeg", or ""
// with the kind named where it is recognised.
std::string mimeType(const std::string& bytes, const std::string& name, std::string& kind)
{
    auto starts = [&](std::string_view magic) { return bytes.compare(0, magic.size(), magic) == 0; };
    if (starts("\x89PNG\r\n\x1A\n")) return "image/png";
    if (starts("\xFF\xD8\xFF")) return "image/jpeg";
    if (starts("DDS ")) {
        kind = "DDS";
    } else if (starts("BM")) {
        kind = "BMP";
    } else if (starts("GIF8")) {
        kind = "GIF";
    } else if (asciiLower(name).ends_with(".tga")) {
        kind = "TGA";
    }
    return "";
}

int wrapMode(bool wrap, bool mirror) { return mirror ? 33648 : wrap ? 10497 : 33071; }

// Game material parameters the glTF material itself carries.
constexpr ParamID kColour = 3;
constexpr ParamID kMainTexture = 4;
constexpr ParamID kAlpha = 6;
constexpr ParamID kMaskTexture = 7;

const IParamBlock2::Param* findParam(const IParamBlock2* block, ParamID id)
{
    if (block == nullptr) return nullptr;
    for (const IParamBlock2::Param& p : block->Params()) {
        if (p.id == id && p.written) return &p;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// The document

Builder::Builder(const Scene& s, ImageSource& i, const GltfOptions& o, GltfExportReport& r)
    : scene(s), imageSource(i), options(o), report(r)
{
}

Json& Builder::add(const char* array, Json value, int& index)
{
    Json& list = doc[array];
    if (list.is_null()) list = Json::array();
    index = static_cast<int>(list.size());
    list.push_back(std::move(value));
    return list.back();
}

int Builder::addView(const void* data, std::size_t bytes, int target)
{
    bin.append((4 - bin.size() % 4) % 4, '\0');
    Json view = {{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", bytes}};
    if (target != kNoTarget) view["target"] = target;
    bin.append(static_cast<const char*>(data), bytes);
    int index = 0;
    add("bufferViews", std::move(view), index);
    return index;
}

int Builder::addAccessor(const void* data, std::size_t bytes, int target, int componentType, const char* type,
                         std::size_t count)
{
    const int view = addView(data, bytes, target);
    int index = 0;
    add("accessors", {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}}, index);
    return index;
}

void Builder::build()
{
    // Top-level members in a fixed order; empty lists are dropped at the end.
    doc["asset"] = {{"generator", "orvik (Orvik DFF import, stand-in host scene)"}, {"version", "2.0"}};
    for (const char* list : {"extensionsUsed", "scene", "scenes", "nodes", "meshes", "materials", "textures", "images",
                             "samplers", "skins", "accessors", "bufferViews", "buffers", "extensions"}) {
        doc[list] = nullptr;
    }
    addNodes();
    doc["scene"] = 0;
    Json sceneJson = {{"name", doc["nodes"][0]["name"]}, {"nodes", {0}}};
    sceneJson["extras"] = {{"import", {{"file", latin1ToUtf8(scene.import.file)}, {"result", scene.import.result}}}};
    doc["scenes"] = Json::array({sceneJson});
    if (!bin.empty()) doc["buffers"] = Json::array({{{"byteLength", bin.size()}}});
    for (const auto& [text, count] : noteCounts) {
        report.notes.push_back(count > 1 ? text + " (" + std::to_string(count) + " times)" : text);
    }
    auto size = [&](const char* list) { return doc[list].is_array() ? doc[list].size() : 0; };
    report.nodes = size("nodes");
    report.meshes = size("meshes");
    report.materials = size("materials");
    report.textures = size("textures");
    report.skins = size("skins");
    report.lights = doc["extensions"].is_object() ? doc["extensions"]["KHR_lights_punctual"]["lights"].size() : 0;
    for (auto it = doc.begin(); it != doc.end();) it = it->is_null() ? doc.erase(it) : std::next(it);
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
    for (const std::string& part : options.skipParts) suffixes.push_back(asciiLower(std::string(1, '_').append(part)));
    std::vector<INode*> kept;
    for (INode* node : scene.nodes) {
        bool skip = false;
        for (const INode* n = node; n != nullptr && !skip; n = n->GetParentNode()) {
            const std::string name = asciiLower(n->GetName());
            for (const std::string& suffix : suffixes) skip = skip || name.ends_with(suffix);
        }
        if (skip) {
            ++report.nodesSkipped;
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
        exportedWorld[n] = setTransform(nodes[n], local) * exportedWorld[p];
    }
    for (INode* node : kept) addObject(node, nodeIndex(node));
}

Matrix3 Builder::setTransform(Json& node, const Matrix3& local)
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
    if (determinant(local) != 0.0 && error <= 1e-4 * largest) {
        node["matrix"] = columnMajor(local);
        return local;
    }
    // A shear, or an axis of length zero: the nearest TRS, and the exact
    // transform in the extras.
    node["translation"] = trs.t;
    node["rotation"] = trs.r;
    node["scale"] = trs.s;
    Json rows = Json::array();
    for (int r = 0; r < 4; ++r) rows.push_back(jsonPoint(local.GetRow(r)));
    node["extras"]["localMatrix"] = rows;
    note("a node transform is not made of translation, rotation and scale: it is exported as the nearest such "
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
    doc["nodes"][static_cast<std::size_t>(gltfNode)]["extensions"] = {
        {"KHR_lights_punctual", {{"light", lights.size() - 1}}}};
}

// ---------------------------------------------------------------------------
// Skins

namespace {

// The transforms at which the Skin binds the mesh (its object transform) and
// a bone (its node transform).
Matrix3 skinBindTM(SkinModifier& skin, INode& node)
{
    Matrix3 tm;
    skin.GetSkinInitTM(&node, tm, true);
    return tm;
}

Matrix3 boneBindTM(SkinModifier& skin, INode& bone)
{
    Matrix3 tm;
    skin.GetBoneInitTM(&bone, tm, false);
    return tm;
}

}  // namespace

const SkinExport* Builder::skinFor(SkinModifier& skin, INode& node)
{
    if (const auto found = skins.find(&skin); found != skins.end()) return &found->second;
    SkinExport& out = skins[&skin];

    // Joints: the bone nodes in bone-list order; a bone left out of the
    // export, or whose bind transform cannot be inverted, has none.
    const std::vector<SkinModifier::Bone>& bones = skin.Bones();
    std::vector<int> jointOfBone(bones.size(), -1);
    Json joints = Json::array();
    std::vector<float> inverseBinds;
    const Matrix3 meshBind = skinBindTM(skin, node);
    for (std::size_t b = 0; b < bones.size(); ++b) {
        const int n = nodeIndex(bones[b].node);
        if (n < 0) {
            note("a Skin bone is not exported: it has no joint");
            continue;
        }
        const Matrix3 boneBind = boneBindTM(skin, *bones[b].node);
        const Matrix3 bind = meshBind * Inverse(boneBind);
        if (determinant(boneBind) == 0.0 || !finite(bind)) {
            note("a Skin bone's bind transform cannot be inverted: it has no joint");
            continue;
        }
        jointOfBone[b] = static_cast<int>(joints.size());
        joints.push_back(n);
        for (int r = 0; r < 4; ++r) {
            const Point3 p = bind.GetRow(r);
            inverseBinds.insert(inverseBinds.end(), {p.x, p.y, p.z, r == 3 ? 1.0f : 0.0f});
        }
    }
    if (joints.empty()) {
        note("a Skin modifier has no bone that can be a joint: its mesh is exported without a skin");
        return &out;
    }
    out.jointCount = joints.size();

    // The joint of the mesh's own frame, or the nearest above it, for
    // vertices that name no bone: else the first joint.
    int ownJoint = 0;
    for (const INode* n = &node; n != nullptr; n = n->GetParentNode()) {
        const auto it = std::find_if(bones.begin(), bones.end(), [&](const auto& b) { return b.node == n; });
        if (it != bones.end() && jointOfBone[static_cast<std::size_t>(it - bones.begin())] >= 0) {
            ownJoint = jointOfBone[static_cast<std::size_t>(it - bones.begin())];
            break;
        }
    }

    // Influences: one entry per joint (a bone given twice adds up), weights
    // that are not positive numbers dropped, the four largest kept, scaled to
    // sum 1. A vertex whose weights were all dropped is spread evenly over
    // the joints it names.
    const auto& weights = skin.Weights();
    Json changed = Json::object();
    std::size_t spread = 0, unweighted = 0;
    const auto* tri = dynamic_cast<TriObject*>(node.GetObjectRef());
    out.vertices.resize(tri ? static_cast<std::size_t>(std::max(tri->mesh.getNumVerts(), 0)) : 0);
    std::vector<std::pair<int, double>> pairs;
    std::vector<int> named;
    for (std::size_t v = 0; v < out.vertices.size(); ++v) {
        pairs.clear();
        named.clear();
        bool altered = false;
        for (const auto& [bone, weight] : v < weights.size() ? weights[v] : std::vector<std::pair<int, float>>{}) {
            const int joint = bone >= 0 && static_cast<std::size_t>(bone) < bones.size()
                                  ? jointOfBone[static_cast<std::size_t>(bone)]
                                  : -1;
            if (joint < 0) {
                altered = true;
                continue;
            }
            if (std::find(named.begin(), named.end(), joint) == named.end()) named.push_back(joint);
            if (!(weight > 0.0f) || !std::isfinite(weight)) {
                altered = altered || weight != 0.0f;
                continue;
            }
            auto same = std::find_if(pairs.begin(), pairs.end(), [&](const auto& p) { return p.first == joint; });
            if (same != pairs.end()) {
                same->second += weight;
                altered = true;
            } else {
                pairs.emplace_back(joint, weight);
            }
        }
        VertexSkin& vs = out.vertices[v];
        if (pairs.empty()) {
            if (!named.empty()) ++spread;
            if (named.empty()) ++unweighted, named.push_back(ownJoint);
            named.resize(std::min<std::size_t>(named.size(), 4));
            for (std::size_t k = 0; k < named.size(); ++k) {
                vs.joints[k] = static_cast<std::uint16_t>(named[k]);
                vs.weights[k] = 1.0f / static_cast<float>(named.size());
            }
            vs.weights[0] += 1.0f - (vs.weights[0] + vs.weights[1] + vs.weights[2] + vs.weights[3]);
            continue;
        }
        std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        if (pairs.size() > 4) pairs.resize(4), altered = true;
        double sum = 0.0;
        for (const auto& p : pairs) sum += p.second;
        altered = altered || std::abs(sum - 1.0) > 1e-6;
        float total = 0.0f;
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            vs.joints[k] = static_cast<std::uint16_t>(pairs[k].first);
            vs.weights[k] = static_cast<float>(pairs[k].second / sum);
            total += vs.weights[k];
        }
        vs.weights[0] += 1.0f - total;  // the largest takes the rounding, so that they sum to 1
        if (altered) {
            Json original = Json::array();
            for (const auto& [bone, weight] : weights[v]) original.push_back({bone, tidy(weight)});
            changed[std::to_string(v)] = original;
        }
    }
    report.spreadVertices += spread;
    report.unweightedVertices += unweighted;
    if (!changed.empty()) {
        note("skin weights were normalised, merged or cut to four per vertex: the originals are in the skin's "
             "extras as \"weights\"");
    }

    Json gltfSkin = {{"name", latin1ToUtf8(node.GetName())}, {"joints", joints}};
    gltfSkin["inverseBindMatrices"] =
        addAccessor(inverseBinds.data(), inverseBinds.size() * sizeof(float), kNoTarget, kFloat, "MAT4", joints.size());
    JsonBuilder w;
    w.beginObject();
    w.key("class"), w.string("skin");
    describe::skinBones(w, skin, *this);
    w.endObject();
    Json& extras = gltfSkin["extras"] = std::move(w.result);
    if (spread > 0) extras["spreadVertices"] = spread;
    if (unweighted > 0) extras["unweightedVertices"] = unweighted;
    if (!changed.empty()) extras["weights"] = changed;
    add("skins", std::move(gltfSkin), out.skin);
    return &out;
}

// ---------------------------------------------------------------------------
// Materials and textures

bool Builder::keepParam(ParamID id) const { return id != kColour && id != kAlpha; }

void Builder::texture(JsonBuilder& w, Texmap* t)
{
    auto* bitmap = dynamic_cast<BitmapTex*>(t);
    assert(t == nullptr || bitmap != nullptr);  // the host makes bitmap textures only
    if (bitmap == nullptr) return w.null();
    describe::texture(w, *bitmap, *this);
}

void Builder::controller(JsonBuilder& w, Control* c)
{
    auto* f = dynamic_cast<FloatController*>(c);
    assert(c == nullptr || f != nullptr);  // the host makes float controllers only
    if (f == nullptr) return w.null();
    describe::controller(w, *f);
}

int Builder::materialFor(Mtl* mtl, bool withTexture, const std::string& place)
{
    if (mtl == nullptr) return -1;
    // The host keeps no multi-material inside another.
    assert(dynamic_cast<MultiMtl*>(mtl) == nullptr);
    if (dynamic_cast<MultiMtl*>(mtl) != nullptr) return -1;
    const IParamBlock2* block = dynamic_cast<GameMtl*>(mtl) ? mtl->GetParamBlock(0) : nullptr;
    const IParamBlock2::Param* main = findParam(block, kMainTexture);
    auto* mainBitmap = main && main->type == ParamType::Texmap ? dynamic_cast<BitmapTex*>(main->tex) : nullptr;
    bool imageAlpha = false;
    const int texture = mainBitmap ? textureFor(*mainBitmap, imageAlpha) : -1;
    const bool textured = withTexture && texture >= 0;
    if (!withTexture && texture >= 0) {
        note("a textured material on a mesh without texture coordinates is exported without its texture");
    }
    const auto key = std::make_pair(static_cast<const Mtl*>(mtl), textured);
    if (const auto found = materials.find(key); found != materials.end()) return found->second;

    Json base = {1.0, 1.0, 1.0, 1.0};
    int alpha = 255;
    if (const IParamBlock2::Param* c = findParam(block, kColour); c && c->type == ParamType::Color) {
        for (int i = 0; i < 3; ++i) base[static_cast<std::size_t>(i)] = std::isfinite(c->c[i]) ? tidy(std::clamp(c->c[i], 0.0f, 1.0f)) : 1.0;
    }
    if (const IParamBlock2::Param* a = findParam(block, kAlpha); a && a->type == ParamType::Int) {
        alpha = std::clamp(a->i, 0, 255);
        base[3] = tidy(static_cast<float>(alpha) / 255.0f);
    }
    const IParamBlock2::Param* mask = findParam(block, kMaskTexture);
    const bool hasMask = mask != nullptr && mask->type == ParamType::Texmap && mask->tex != nullptr;
    // The material's name, else its main texture's, else its place.
    std::string name = mtl->GetName();
    if (name.empty() && mainBitmap) name = mainBitmap->GetName();
    if (name.empty()) name = place;
    Json pbr = {{"baseColorFactor", base}, {"metallicFactor", 0.0}, {"roughnessFactor", 1.0}};
    if (textured) pbr["baseColorTexture"] = {{"index", texture}};
    // Translucent colour (or an image known to have alpha) blends; a mask
    // texture cuts out where the image's alpha is low.
    const char* mode = alpha < 255 || (textured && imageAlpha) ? "BLEND" : hasMask ? "MASK" : "OPAQUE";
    Json out = {{"name", latin1ToUtf8(name)}, {"pbrMetallicRoughness", pbr}, {"alphaMode", mode}};
    int index = 0;
    Json& added = add("materials", std::move(out), index);
    materials.emplace(key, index);
    JsonBuilder w;
    describe::material(w, mtl, *this);
    added["extras"] = std::move(w.result);  // `added` stays valid: describing a game material adds no material
    return index;
}

int Builder::textureFor(BitmapTex& tex, bool& hasAlpha)
{
    if (const auto found = textures.find(&tex); found != textures.end()) {
        hasAlpha = found->second.second;
        return found->second.first;
    }
    TextureImage image = imageSource.imageFor(tex);
    int index = -1;
    if (image.problem.empty()) {
        const std::string key = image.origin.empty() ? image.name : image.origin;
        int source = -1;
        if (const auto found = images.find(key); found != images.end()) {
            source = found->second;
        } else {
            std::string kind;
            const std::string mime = mimeType(image.bytes, image.name, kind);
            if (mime.empty()) {
                image.problem = (image.origin.empty() ? std::string() : image.origin + ": ") +
                                (kind.empty() ? std::string("not a PNG or JPEG image") : kind + " image") +
                                ": glTF embeds PNG and JPEG images only";
            } else {
                const int view = addView(image.bytes.data(), image.bytes.size(), kNoTarget);
                add("images", {{"name", latin1ToUtf8(image.name)}, {"mimeType", mime}, {"bufferView", view}}, source);
                images.emplace(key, source);
            }
        }
        if (source >= 0) {
            add("textures", {{"name", latin1ToUtf8(tex.GetName())}, {"sampler", samplerFor(tex)}, {"source", source}},
                index);
        }
    }
    report.textureImages.push_back({tex.GetName(), image.origin, image.problem});
    hasAlpha = index >= 0 && image.hasAlpha;
    textures.emplace(&tex, std::make_pair(index, hasAlpha));
    return index;
}

int Builder::samplerFor(BitmapTex& tex)
{
    StdUVGen* uv = tex.GetUVGen();
    const int wrapS = wrapMode(uv && uv->GetFlag(U_WRAP), uv && uv->GetFlag(U_MIRROR));
    const int wrapT = wrapMode(uv && uv->GetFlag(V_WRAP), uv && uv->GetFlag(V_MIRROR));
    // Pyramidal filtering is mip-mapped, summed-area linear, none nearest.
    int mag = 9729, min = 9987;
    if (tex.GetFilterType() == FILTER_SAT) min = 9729;
    if (tex.GetFilterType() == FILTER_NADA) mag = min = 9728;
    const std::array<int, 4> key{mag, min, wrapS, wrapT};
    if (const auto found = samplers.find(key); found != samplers.end()) return found->second;
    int index = 0;
    add("samplers", {{"magFilter", mag}, {"minFilter", min}, {"wrapS", wrapS}, {"wrapT", wrapT}}, index);
    samplers.emplace(key, index);
    return index;
}

}  // namespace orvik::gltf
