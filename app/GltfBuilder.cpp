// glTF export: the node tree, transforms, lights, skins and the extras of
// nodes; the shared helpers of the builder.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <set>

#include "app/GltfBuilder.h"
#include "app/Text.h"

namespace orvik::gltf {

// ---------------------------------------------------------------------------
// Helpers

Affine Affine::identity()
{
    Affine a;
    a.m[0] = {1, 0, 0};
    a.m[1] = {0, 1, 0};
    a.m[2] = {0, 0, 1};
    a.m[3] = {0, 0, 0};
    return a;
}

Affine Affine::from(const Matrix3& tm)
{
    Affine a;
    for (int r = 0; r < 4; ++r) {
        const Point3 row = tm.GetRow(r);
        a.m[static_cast<std::size_t>(r)] = {row.x, row.y, row.z};
    }
    return a;
}

Affine Affine::operator*(const Affine& b) const
{
    Affine out;
    for (std::size_t r = 0; r < 4; ++r) {
        for (std::size_t c = 0; c < 3; ++c) {
            double v = r == 3 ? b.m[3][c] : 0.0;
            for (std::size_t k = 0; k < 3; ++k) v += m[r][k] * b.m[k][c];
            out.m[r][c] = v;
        }
    }
    return out;
}

double Affine::determinant() const
{
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

bool Affine::inverse(Affine& out) const
{
    const double det = determinant();
    if (det == 0.0 || !std::isfinite(det)) return false;
    Affine inv;
    inv.m[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    inv.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    inv.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    inv.m[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    inv.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    inv.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    inv.m[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    inv.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    inv.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    // The translation row: -t x inverse(3x3).
    for (std::size_t c = 0; c < 3; ++c) {
        double v = 0.0;
        for (std::size_t k = 0; k < 3; ++k) v -= m[3][k] * inv.m[k][c];
        inv.m[3][c] = v;
    }
    out = inv;
    return true;
}

bool Affine::isIdentity() const
{
    const Affine id = identity();
    return m == id.m;
}

std::array<double, 3> Affine::apply(const std::array<double, 3>& p) const
{
    std::array<double, 3> out{};
    for (std::size_t c = 0; c < 3; ++c) out[c] = p[0] * m[0][c] + p[1] * m[1][c] + p[2] * m[2][c] + m[3][c];
    return out;
}

std::vector<double> Affine::columnMajor() const
{
    std::vector<double> out;
    out.reserve(16);
    for (std::size_t r = 0; r < 4; ++r) {
        out.push_back(m[r][0]);
        out.push_back(m[r][1]);
        out.push_back(m[r][2]);
        out.push_back(r == 3 ? 1.0 : 0.0);
    }
    return out;
}

double tidy(float f)
{
    if (!std::isfinite(f)) return static_cast<double>(f);
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, f);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

Json jsonPoint(const Point3& p) { return Json::array({tidy(p.x), tidy(p.y), tidy(p.z)}); }

std::string utf8(const char* text) { return latin1ToUtf8(text); }

Json jsonText(const char* text) { return Json(latin1ToUtf8(text)); }

namespace {

// The root's transform: host (x, y, z), Z up, becomes glTF (x, z, -y), Y up.
Affine zUpToYUp()
{
    Affine a;
    a.m[0] = {1, 0, 0};
    a.m[1] = {0, 0, -1};
    a.m[2] = {0, 1, 0};
    a.m[3] = {0, 0, 0};
    return a;
}

std::string fileStem(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

// Splits the upper 3x3 into rotation (a unit quaternion, x y z w) and scale,
// the way glTF composes T * R * S. The rotation is made orthonormal, so a
// shear is lost; the caller compares the recomposition with the original.
struct Trs {
    std::array<double, 3> translation{};
    std::array<double, 4> rotation{0, 0, 0, 1};
    std::array<double, 3> scale{1, 1, 1};
};

double length(const std::array<double, 3>& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

std::array<double, 3> scaled(const std::array<double, 3>& v, double f) { return {v[0] * f, v[1] * f, v[2] * f}; }

double dot(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

std::array<double, 3> cross(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Trs decompose(const Affine& a)
{
    Trs t;
    t.translation = a.m[3];
    std::array<double, 3> axis[3] = {a.m[0], a.m[1], a.m[2]};
    t.scale = {length(axis[0]), length(axis[1]), length(axis[2])};
    if (a.determinant() < 0.0) t.scale[0] = -t.scale[0];
    // Gram-Schmidt on the axes; a degenerate axis falls back to a default.
    std::array<double, 3> x = t.scale[0] != 0.0 ? scaled(axis[0], 1.0 / t.scale[0]) : std::array<double, 3>{1, 0, 0};
    std::array<double, 3> y = axis[1];
    const double along = dot(y, x);
    y = {y[0] - along * x[0], y[1] - along * x[1], y[2] - along * x[2]};
    const double ylen = length(y);
    if (ylen > 0.0) {
        y = scaled(y, 1.0 / ylen);
    } else {
        y = std::abs(x[2]) < 0.9 ? cross({0, 0, 1}, x) : cross({0, 1, 0}, x);
        y = scaled(y, 1.0 / length(y));
    }
    const std::array<double, 3> z = cross(x, y);
    // Rows x, y, z are the rotated axes: the column-vector rotation matrix has
    // them as its columns.
    const double r00 = x[0], r10 = x[1], r20 = x[2];
    const double r01 = y[0], r11 = y[1], r21 = y[2];
    const double r02 = z[0], r12 = z[1], r22 = z[2];
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
    const double qlen = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& c : q) c /= qlen;
    t.rotation = q;
    return t;
}

Affine compose(const Trs& t)
{
    const double x = t.rotation[0], y = t.rotation[1], z = t.rotation[2], w = t.rotation[3];
    // Column-vector rotation matrix; the host's rows are its columns.
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    Affine a;
    for (std::size_t row = 0; row < 3; ++row) {
        for (std::size_t c = 0; c < 3; ++c) a.m[row][c] = r[c][row] * t.scale[row];
    }
    a.m[3] = t.translation;
    return a;
}

bool finite(const Affine& a)
{
    for (const auto& row : a.m) {
        for (double v : row) {
            if (!std::isfinite(v)) return false;
        }
    }
    return true;
}

// The object-offset transform: scale, then rotation, then translation. The
// quaternion is read as the host's Matrix3 would be built from it.
Affine objectOffset(const INode& node)
{
    const Point3 pos = node.GetObjOffsetPos();
    const Quat q = node.GetObjOffsetRot();
    const Point3 s = node.GetObjOffsetScale().s;
    Trs t;
    t.translation = {pos.x, pos.y, pos.z};
    const double len = std::sqrt(double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w);
    if (len > 0.0 && std::isfinite(len)) t.rotation = {q.x / len, q.y / len, q.z / len, q.w / len};
    t.scale = {s.x, s.y, s.z};
    return compose(t);
}

bool offsetIsIdentity(const INode& node)
{
    const Point3 pos = node.GetObjOffsetPos();
    const Quat q = node.GetObjOffsetRot();
    const Point3 s = node.GetObjOffsetScale().s;
    return pos == Point3(0, 0, 0) && q.x == 0.0f && q.y == 0.0f && q.z == 0.0f && q.w == 1.0f &&
           s == Point3(1, 1, 1);
}

Json describeObject(Object* obj)
{
    Json o = Json::object();
    if (dynamic_cast<TriObject*>(obj)) {
        o["kind"] = "mesh";
    } else if (auto* light = dynamic_cast<GenLight*>(obj)) {
        o["kind"] = "light";
        o["type"] = "omni";
        Json atten = Json::array();
        for (int i = 0; i < 4; ++i) atten.push_back(tidy(light->GetAtten(0, i)));
        o["atten"] = atten;
        o["color"] = jsonPoint(light->GetRGBColor(0));
        o["fallsize"] = tidy(light->GetFallsize(0));
        o["enabled"] = light->GetUseLight() != 0;
        o["coneDisplay"] = light->GetConeDisplay() != 0;
    } else if (dynamic_cast<DummyObject*>(obj)) {
        o["kind"] = "dummy";
    } else {
        o["kind"] = "other";
    }
    return o;
}

}  // namespace

// ---------------------------------------------------------------------------
// Builder

Builder::Builder(const Scene& s, ImageSource& i, GltfExportReport& r) : scene(s), imageSource(i), report(r) {}

void Builder::note(const std::string& text) { ++noteCounts[text]; }

int Builder::nodeIndex(const INode* node) const
{
    const auto it = nodeIndices.find(node);
    return it == nodeIndices.end() ? -1 : it->second;
}

void Builder::build()
{
    model.asset.version = "2.0";
    model.asset.generator = "orvik (Orvik DFF import, stand-in host scene)";
    addNodes();

    tinygltf::Scene gltfScene;
    gltfScene.name = model.nodes.empty() ? std::string() : model.nodes[0].name;
    gltfScene.nodes.push_back(0);
    model.scenes.push_back(gltfScene);
    model.defaultScene = 0;
    Json sceneExtras = Json::object();
    sceneExtras["import"] = {{"file", utf8(scene.import.file.c_str())}, {"result", scene.import.result}};
    extras["/scenes/0"] = sceneExtras;

    if (!buffer.empty()) {
        tinygltf::Buffer b;
        model.buffers.push_back(b);  // its data is written by the caller, from `buffer`
    }

    for (const auto& [text, count] : noteCounts) {
        report.notes.push_back(count > 1 ? text + " (" + std::to_string(count) + " times)" : text);
    }
    report.nodes = model.nodes.size();
    report.meshes = model.meshes.size();
    report.materials = model.materials.size();
    report.textures = model.textures.size();
    report.skins = model.skins.size();
    report.lights = model.lights.size();
    for (const tinygltf::Mesh& m : model.meshes) report.primitives += m.primitives.size();
}

void Builder::addNodes()
{
    // Node 0 is the root; scene node i is glTF node i + 1.
    tinygltf::Node root;
    root.name = utf8(fileStem(scene.import.file).c_str());
    if (root.name.empty()) root.name = "scene";
    root.matrix = zUpToYUp().columnMajor();
    model.nodes.push_back(root);
    extras["/nodes/0"] = Json{{"axes", "host Z-up turned to glTF Y-up"}};

    const std::size_t count = scene.nodes.size();
    for (std::size_t i = 0; i < count; ++i) nodeIndices.emplace(scene.nodes[i], static_cast<int>(i + 1));

    // Parents: a parent outside the scene, or a chain that loops, puts the
    // node at the top (the host should never give either).
    std::vector<int> parentOf(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const INode* p = scene.nodes[i]->GetParentNode();
        if (p == nullptr) continue;
        if (nodeIndex(p) < 0) {
            note("a node's parent is not in the scene: the node is placed at the top");
            continue;
        }
        std::set<const INode*> seen{scene.nodes[i]};
        bool loops = false;
        for (const INode* q = p; q != nullptr; q = q->GetParentNode()) {
            if (!seen.insert(q).second) {
                loops = true;
                break;
            }
        }
        if (loops) {
            note("a node's parent chain loops: the node is placed at the top");
            continue;
        }
        parentOf[i] = nodeIndex(p);
    }

    std::vector<Json> nodeExtras(count, Json::object());
    for (std::size_t i = 0; i < count; ++i) {
        tinygltf::Node out;
        out.name = utf8(scene.nodes[i]->GetName());
        model.nodes.push_back(out);
    }
    // Children in the host's attachment order.
    for (std::size_t i = 0; i < count; ++i) {
        if (parentOf[i] == 0) model.nodes[0].children.push_back(static_cast<int>(i + 1));
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<int>& children = model.nodes[i + 1].children;
        for (const INode* c : scene.nodes[i]->Children()) {
            const int ci = nodeIndex(c);
            if (ci > 0 && parentOf[static_cast<std::size_t>(ci - 1)] == static_cast<int>(i + 1) &&
                std::find(children.begin(), children.end(), ci) == children.end()) {
                children.push_back(ci);
            }
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int p = parentOf[i];
        if (p == 0) continue;
        std::vector<int>& siblings = model.nodes[static_cast<std::size_t>(p)].children;
        if (std::find(siblings.begin(), siblings.end(), static_cast<int>(i + 1)) == siblings.end()) {
            siblings.push_back(static_cast<int>(i + 1));
        }
    }


    // Transforms, parents first: local = world x inverse(parent's world as
    // exported), so that a parent that glTF can only approximate does not
    // carry its error into its children.
    exportedWorld.assign(model.nodes.size(), Affine::identity());
    std::vector<int> order{0};
    for (std::size_t k = 0; k < order.size(); ++k) {
        for (int c : model.nodes[static_cast<std::size_t>(order[k])].children) order.push_back(c);
    }
    for (std::size_t k = 1; k < order.size(); ++k) {
        const auto n = static_cast<std::size_t>(order[k]);
        INode* node = scene.nodes[n - 1];
        const Affine world = Affine::from(node->GetNodeTM(0));
        const auto parent = static_cast<std::size_t>(parentOf[n - 1]);
        Affine local = world;
        Affine parentInverse;
        if (parent > 0) {
            local = exportedWorld[parent].inverse(parentInverse) ? world * parentInverse : Affine::from(node->LocalTM());
        }
        exportedWorld[n] = setTransform(model.nodes[n], local, nodeExtras[n - 1]) * exportedWorld[parent];
    }

    for (std::size_t i = 0; i < count; ++i) {
        INode* node = scene.nodes[i];
        Json& e = nodeExtras[i];
        e["object"] = node->GetObjectRef() ? describeObject(node->GetObjectRef()) : Json();
        if (!offsetIsIdentity(*node)) {
            const Quat q = node->GetObjOffsetRot();
            e["objectOffset"] = {{"position", jsonPoint(node->GetObjOffsetPos())},
                                 {"rotation", Json::array({tidy(q.x), tidy(q.y), tidy(q.z), tidy(q.w)})},
                                 {"scale", jsonPoint(node->GetObjOffsetScale().s)}};
        }
        if (node->HasBoneDisplay()) e["boneDisplay"] = node->BoneDisplay();
        if (!node->UserProps().empty()) {
            Json props = Json::object();
            for (const INode::UserProp& p : node->UserProps()) {
                props[utf8(p.key.c_str())] = p.isInt ? Json(p.intValue) : jsonText(p.text.c_str());
            }
            e["userProps"] = props;
        }
        addObject(node, static_cast<int>(i + 1), e);
    }
    for (std::size_t i = 0; i < count; ++i) extras["/nodes/" + std::to_string(i + 1)] = nodeExtras[i];
}

Affine Builder::setTransform(tinygltf::Node& out, const Affine& local, Json& nodeExtras)
{
    if (local.isIdentity()) return local;
    if (!finite(local)) {
        note("a node transform holds a value that is not a number: it is exported as the identity");
        return Affine::identity();
    }
    const Trs trs = decompose(local);
    const Affine back = compose(trs);
    double largest = 1.0, error = 0.0;
    for (std::size_t r = 0; r < 3; ++r) {
        for (std::size_t c = 0; c < 3; ++c) {
            largest = std::max(largest, std::abs(local.m[r][c]));
            error = std::max(error, std::abs(back.m[r][c] - local.m[r][c]));
        }
    }
    // Axes orthogonal to within 1e-4 (the file's rounding) count as a
    // rotation and scale.
    if (local.determinant() != 0.0 && error <= 1e-4 * largest) {
        out.matrix = local.columnMajor();
        return local;
    }
    // Not a translation, rotation and scale (a shear, or an axis of length
    // zero): the closest TRS, and the exact transform in the extras.
    out.translation.assign(trs.translation.begin(), trs.translation.end());
    out.rotation.assign(trs.rotation.begin(), trs.rotation.end());
    out.scale.assign(trs.scale.begin(), trs.scale.end());
    Json rows = Json::array();
    for (const auto& row : local.m) rows.push_back(Json::array({row[0], row[1], row[2]}));
    nodeExtras["localMatrix"] = rows;
    note("a node transform is not made of translation, rotation and scale: it is exported as the nearest such "
         "transform, with the exact one in the node's extras as \"localMatrix\"");
    return back;
}

void Builder::addObject(INode* node, int gltfNode, Json& nodeExtras)
{
    Object* obj = node->GetObjectRef();
    if (auto* light = dynamic_cast<GenLight*>(obj)) {
        addLight(*light, node, gltfNode);
        return;
    }
    auto* tri = dynamic_cast<TriObject*>(obj);
    if (tri == nullptr) return;

    // The mesh's space as exported: the object offset (on a child node of its
    // own, below) in the node's exported world.
    const bool offset = !offsetIsIdentity(*node);
    tinygltf::Node holderNode;
    Json holderExtras = Json::object();
    const Affine offsetTM = offset ? setTransform(holderNode, objectOffset(*node), holderExtras) : Affine::identity();
    const Affine objectTM = offsetTM * exportedWorld[static_cast<std::size_t>(gltfNode)];
    SkinModifier* skin = nullptr;
    for (Modifier* mod : node->Modifiers()) {
        if (auto* s = dynamic_cast<SkinModifier*>(mod)) {
            if (skin == nullptr) {
                skin = s;
            } else {
                note("a node has more than one Skin modifier: the top one is exported");
            }
        }
    }
    const SkinExport* skinned = skin ? skinFor(skin, objectTM, tri->mesh.getNumVerts()) : nullptr;
    if (skinned != nullptr && skinned->skin < 0) skinned = nullptr;
    const int mesh = meshFor(node, *tri, skin, skinned);
    if (mesh < 0) return;

    int holder = gltfNode;
    if (offset) {
        // The mesh sits in the node's object-offset space: a child node of
        // its own carries it, so the node's children do not inherit the offset.
        holderNode.name = utf8(node->GetName());
        holderExtras["objectOffsetOf"] = gltfNode;
        holder = static_cast<int>(model.nodes.size());
        model.nodes.push_back(holderNode);
        model.nodes[static_cast<std::size_t>(gltfNode)].children.push_back(holder);
        exportedWorld.push_back(objectTM);
        extras["/nodes/" + std::to_string(holder)] = holderExtras;
    }
    tinygltf::Node& out = model.nodes[static_cast<std::size_t>(holder)];
    out.mesh = mesh;
    if (skinned != nullptr) {
        out.skin = skinned->skin;
        nodeExtras["skin"] = skinned->skin;
    }
}

void Builder::addLight(GenLight& light, INode* node, int gltfNode)
{
    tinygltf::Light out;
    out.name = utf8(node->GetName());
    out.type = "point";
    out.intensity = 1.0;
    const Point3 c = light.GetRGBColor(0);
    // glTF colours are 0..1; the import gives the file's colour times 255.
    const float largest = std::max({c.x, c.y, c.z});
    const double scale = largest > 1.0f ? 1.0 / 255.0 : 1.0;
    for (float v : {c.x, c.y, c.z}) {
        double x = std::isfinite(v) ? static_cast<double>(v) * scale : 0.0;
        x = std::clamp(x, 0.0, 1.0);
        out.color.push_back(scale == 1.0 ? tidy(static_cast<float>(x)) : x);
    }
    const int index = static_cast<int>(model.lights.size());
    model.lights.push_back(out);
    tinygltf::Value::Object ref;
    ref["light"] = tinygltf::Value(index);
    model.nodes[static_cast<std::size_t>(gltfNode)].extensions["KHR_lights_punctual"] =
        tinygltf::Value(std::move(ref));
    if (std::find(model.extensionsUsed.begin(), model.extensionsUsed.end(), "KHR_lights_punctual") ==
        model.extensionsUsed.end()) {
        model.extensionsUsed.push_back("KHR_lights_punctual");
    }
}

const SkinExport* Builder::skinFor(SkinModifier* skin, const Affine& objectTM, int vertexCount)
{
    const auto found = skins.find(skin);
    if (found != skins.end()) return &found->second;
    SkinExport& out = skins[skin];

    // Joints: the bone nodes in bone-list order; an entry without a node in
    // the scene has no joint.
    const std::vector<SkinModifier::Bone>& bones = skin->Bones();
    std::vector<int> jointOfBone(bones.size(), -1);
    tinygltf::Skin gltfSkin;
    std::vector<float> inverseBind;
    for (std::size_t b = 0; b < bones.size(); ++b) {
        const int n = nodeIndex(bones[b].node);
        if (n < 0 || std::find(gltfSkin.joints.begin(), gltfSkin.joints.end(), n) != gltfSkin.joints.end()) {
            note("a Skin bone is not a node of the scene (or is listed twice): it has no joint");
            continue;
        }
        // The bind pose is the scene as imported: mesh-to-world times the
        // inverse of the bone's world transform (both as exported).
        Affine boneInverse;
        if (!exportedWorld[static_cast<std::size_t>(n)].inverse(boneInverse)) {
            note("a Skin bone's transform cannot be inverted: it has no joint");
            continue;
        }
        const Affine bind = objectTM * boneInverse;
        if (!finite(bind)) {
            note("a Skin bone's bind matrix is not finite: it has no joint");
            continue;
        }
        jointOfBone[b] = static_cast<int>(gltfSkin.joints.size());
        gltfSkin.joints.push_back(n);
        for (double v : bind.columnMajor()) inverseBind.push_back(static_cast<float>(v));
    }
    if (gltfSkin.joints.empty()) {
        note("a Skin modifier has no bone that can be a joint: its mesh is exported without a skin");
        return &out;
    }
    out.jointCount = gltfSkin.joints.size();
    const int view = addView(inverseBind.data(), inverseBind.size() * sizeof(float), 0);
    gltfSkin.inverseBindMatrices =
        addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_MAT4, gltfSkin.joints.size());
    if (const INode* node = skin->Node()) gltfSkin.name = utf8(node->GetName());

    // Influences: zero and negative weights dropped, one entry per joint (a
    // bone given twice adds up), the four largest kept, normalised to sum 1.
    const auto& weights = skin->Weights();
    Json changed = Json::object();
    std::size_t unweighted = 0;
    out.vertices.resize(static_cast<std::size_t>(std::max(vertexCount, 0)));
    for (std::size_t v = 0; v < out.vertices.size(); ++v) {
        std::vector<std::pair<int, double>> pairs;
        bool altered = false;
        if (v < weights.size()) {
            for (const auto& [bone, weight] : weights[v]) {
                const bool known = bone >= 0 && static_cast<std::size_t>(bone) < bones.size() &&
                                   jointOfBone[static_cast<std::size_t>(bone)] >= 0;
                if (!known || !std::isfinite(weight) || weight < 0.0f) {
                    altered = true;
                    continue;
                }
                if (weight == 0.0f) continue;
                const int joint = jointOfBone[static_cast<std::size_t>(bone)];
                auto same = std::find_if(pairs.begin(), pairs.end(), [&](const auto& p) { return p.first == joint; });
                if (same != pairs.end()) {
                    same->second += weight;
                    altered = true;
                } else {
                    pairs.emplace_back(joint, weight);
                }
            }
        }
        std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        if (pairs.size() > 4) {
            pairs.resize(4);
            altered = true;
        }
        double sum = 0.0;
        for (const auto& p : pairs) sum += p.second;
        VertexSkin& vs = out.vertices[v];
        if (pairs.empty() || !(sum > 0.0)) {
            // glTF has no unskinned vertex: it follows the first joint.
            vs.joints = {0, 0, 0, 0};
            vs.weights = {1.0f, 0.0f, 0.0f, 0.0f};
            ++unweighted;
            continue;
        }
        if (std::abs(sum - 1.0) > 1e-6) altered = true;
        float total = 0.0f;
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            vs.joints[k] = static_cast<std::uint16_t>(pairs[k].first);
            vs.weights[k] = static_cast<float>(pairs[k].second / sum);
            total += vs.weights[k];
        }
        // The largest weight takes the rounding, so the floats sum to 1.
        vs.weights[0] += 1.0f - total;
        if (altered && v < weights.size()) {
            Json original = Json::array();
            for (const auto& [bone, weight] : weights[v]) original.push_back(Json::array({bone, tidy(weight)}));
            changed[std::to_string(v)] = original;
        }
    }
    if (unweighted > 0) {
        note("skinned vertices without any weight follow the skin's first joint");
    }
    if (!changed.empty()) {
        note("skin weights were normalised, merged or cut to four per vertex: the originals are in the skin's "
             "extras as \"weights\"");
    }

    out.skin = static_cast<int>(model.skins.size());
    model.skins.push_back(gltfSkin);
    Json skinExtras = Json::object();
    skinExtras["class"] = "skin";
    Json bonesJson = Json::array();
    for (const SkinModifier::Bone& b : bones) {
        const int n = nodeIndex(b.node);
        bonesJson.push_back(n < 0 ? Json() : Json(n));
    }
    skinExtras["bones"] = bonesJson;
    Json envelopes = Json::array();
    for (const SkinModifier::Bone& b : bones) {
        Json sections = Json::array();
        for (const SkinModifier::CrossSection& cs : b.envelope.sections) {
            sections.push_back({{"inner", tidy(cs.inner)}, {"outer", tidy(cs.outer)}});
        }
        envelopes.push_back(
            {{"start", jsonPoint(b.envelope.start)}, {"end", jsonPoint(b.envelope.end)}, {"crossSections", sections}});
    }
    skinExtras["envelopes"] = envelopes;
    if (unweighted > 0) skinExtras["unweightedVertices"] = unweighted;
    if (!changed.empty()) skinExtras["weights"] = changed;
    extras["/skins/" + std::to_string(out.skin)] = skinExtras;
    return &out;
}

// ---------------------------------------------------------------------------
// Buffer

int Builder::addView(const void* data, std::size_t bytes, int target)
{
    while (buffer.size() % 4 != 0) buffer.push_back(0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buffer.size();
    view.byteLength = bytes;
    view.target = target;
    const auto* p = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), p, p + bytes);
    while (buffer.size() % 4 != 0) buffer.push_back(0);
    model.bufferViews.push_back(view);
    return static_cast<int>(model.bufferViews.size() - 1);
}

int Builder::addAccessor(int view, int componentType, int type, std::size_t count)
{
    tinygltf::Accessor a;
    a.bufferView = view;
    a.componentType = componentType;
    a.type = type;
    a.count = count;
    model.accessors.push_back(a);
    return static_cast<int>(model.accessors.size() - 1);
}

}  // namespace orvik::gltf
