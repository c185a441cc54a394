// glTF export: scenes built through the host API and imports of writer-built
// models and of the real samples are exported, read back with the glTF
// library and compared with the scene, and checked with the Khronos validator.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// The glTF library (tinygltf, header-only) reads the exports back; no image
// decoding, no files beside them read.
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>

#include "anim/IfpImport.h"
#include "fuzz/CorpusModels.h"
#include "gltf/GltfExport.h"
#include "gltf/SkinInfluences.h"
#include "images/FileImages.h"
#include "support/Output.h"
#include "support/Text.h"
#include "host/max.h"
#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "txd/Png.h"
#include "support/Figure.h"
#include "support/Fixtures.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"

namespace fs = std::filesystem;
using nlohmann::json;
using ojson = nlohmann::ordered_json;

namespace {

// ---------------------------------------------------------------------------
// Files, commands and the validator

std::string outputPath(const std::string& name)
{
    const fs::path dir = fs::path(ORVIK_BIN_DIR).parent_path() / "test-gltf";
    fs::create_directories(dir);
    return (dir / name).string();
}

// A program's run, its output kept in the tests' output folder.
ProgramRun runHere(const std::vector<std::string>& argv)
{
    return runProgram(argv, fs::path(outputPath("x")).parent_path());
}

std::string validatorDir()
{
    return (fs::path(ORVIK_BIN_DIR).parent_path() / "gltf-validator").string();
}

// Installs the validator into the build tree once per test process.
bool validatorReady(std::string& why)
{
    static std::once_flag once;
    static bool ready = false;
    static std::string reason;
    std::call_once(once, [] {
        const std::string log = outputPath("validator-install.log");
        const ProgramRun r = runHere(
            {"/bin/bash", std::string(ORVIK_SOURCE_DIR) + "/scripts/install-gltf-validator.sh", validatorDir()});
        std::ofstream(log) << r.out << r.err;
        ready = r.exited && r.status == 0;
        if (!ready) reason = "the glTF validator could not be installed (see " + log + ")";
    });
    why = reason;
    return ready;
}

// At the top of a test that runs the validator: fails when it is missing and
// CI is set, else skips.
#define ORVIK_REQUIRE_VALIDATOR()                 \
    do {                                          \
        std::string why_;                         \
        if (!validatorReady(why_)) {              \
            if (std::getenv("CI")) {              \
                FAIL() << why_ << " (CI is set)"; \
            } else {                              \
                GTEST_SKIP() << why_;             \
            }                                     \
        }                                         \
    } while (0)

struct Validation {
    int errors = -1;
    int warnings = 0;
    std::vector<std::string> messages;
};

std::map<std::string, Validation> validate(const std::vector<std::string>& files)
{
    std::vector<std::string> argv = {"/usr/bin/env", "node",
                                     std::string(ORVIK_SOURCE_DIR) + "/scripts/gltf-validate.js", validatorDir()};
    argv.insert(argv.end(), files.begin(), files.end());
    std::istringstream lines(runHere(argv).out);
    std::map<std::string, Validation> out;
    for (std::string line; std::getline(lines, line);) {
        const json j = json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.contains("file")) continue;
        Validation& v = out[j["file"].get<std::string>()];
        if (j.contains("failure")) {
            v.messages.push_back("validator failure: " + j["failure"].get<std::string>());
            continue;
        }
        v.errors = j["errors"].get<int>();
        v.warnings = j["warnings"].get<int>();
        for (const auto& m : j["messages"]) v.messages.push_back(m.get<std::string>());
    }
    return out;
}

void expectValid(const std::vector<std::string>& files)
{
    const auto results = validate(files);
    for (const std::string& f : files) {
        const auto it = results.find(f);
        ASSERT_NE(it, results.end()) << "no validator report for " << f;
        std::string messages;
        for (const std::string& m : it->second.messages) messages += "\n  " + m;
        EXPECT_EQ(it->second.errors, 0) << f << messages;
    }
}

// ---------------------------------------------------------------------------
// Export and read back

struct Exported {
    bool ok = false;
    std::string path;
    orvik::GltfExportReport report;
    tinygltf::Model model;
};

bool keepImageBytes(tinygltf::Image* image, const int, std::string*, std::string*, int, int, const unsigned char* bytes,
                    int size, void*)
{
    image->image.assign(bytes, bytes + size);
    return true;
}

// Exports with images taken from the folders given (by default the tests'
// output folder, where they write image files, and the model's folder),
// writes the files and reads them back.
Exported exportAndLoad(const Scene& scene, const std::string& name, std::vector<std::string> folders = {},
                       orvik::GltfOptions options = {})
{
    Exported e;
    e.path = outputPath(name);
    options.path = e.path;
    if (folders.empty()) folders = {fs::path(outputPath("x")).parent_path().string(), tempFolder()};
    orvik::FileImageSource images(folders);
    std::vector<orvik::OutputFile> files;
    std::string error;
    if (!orvik::exportGltf(scene, images, options, e.report, files, error) || !orvik::commitOutputs(files, error)) {
        ADD_FAILURE() << "export failed: " << error;
        return e;
    }
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keepImageBytes, nullptr);
    std::string err, warn;
    const bool binary = e.path.size() > 4 && e.path.substr(e.path.size() - 4) == ".glb";
    e.ok = binary ? loader.LoadBinaryFromFile(&e.model, &err, &warn, e.path)
                  : loader.LoadASCIIFromFile(&e.model, &err, &warn, e.path);
    if (!e.ok) ADD_FAILURE() << "cannot read back " << e.path << ": " << err;
    return e;
}

// The extras of the object at a JSON pointer, read from the file as written.
ojson extrasOf(const std::string& path, const std::string& pointer)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text = bytes;
    if (bytes.compare(0, 4, "glTF") == 0) {
        const auto len = static_cast<std::size_t>(static_cast<unsigned char>(bytes[12])) |
                         static_cast<std::size_t>(static_cast<unsigned char>(bytes[13])) << 8 |
                         static_cast<std::size_t>(static_cast<unsigned char>(bytes[14])) << 16;
        text = bytes.substr(20, len);
    }
    const ojson doc = ojson::parse(text);
    const ojson::json_pointer at(pointer + "/extras");
    return doc.contains(at) ? doc[at] : ojson();
}

std::vector<float> floatsOf(const tinygltf::Model& m, int accessor)
{
    const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(accessor));
    EXPECT_EQ(a.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    const tinygltf::BufferView& v = m.bufferViews.at(static_cast<std::size_t>(a.bufferView));
    const std::size_t n = a.count * static_cast<std::size_t>(tinygltf::GetNumComponentsInType(a.type));
    std::vector<float> out(n);
    std::memcpy(out.data(), m.buffers[0].data.data() + v.byteOffset + a.byteOffset, n * sizeof(float));
    return out;
}

std::vector<std::uint32_t> integersOf(const tinygltf::Model& m, int accessor)
{
    const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(accessor));
    const tinygltf::BufferView& v = m.bufferViews.at(static_cast<std::size_t>(a.bufferView));
    const std::size_t n = a.count * static_cast<std::size_t>(tinygltf::GetNumComponentsInType(a.type));
    const unsigned char* p = m.buffers[0].data.data() + v.byteOffset + a.byteOffset;
    std::vector<std::uint32_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        switch (a.componentType) {
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
            out[i] = p[i];
            break;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
            std::uint16_t x;
            std::memcpy(&x, p + 2 * i, 2);
            out[i] = x;
            break;
        }
        default:
            std::memcpy(&out[i], p + 4 * i, 4);
            break;
        }
    }
    return out;
}

// glTF transforms: column-major 4x4, column vectors.
using Mat4 = std::array<double, 16>;

Mat4 identity4()
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Mat4 mul(const Mat4& a, const Mat4& b)
{
    Mat4 out{};
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            double v = 0;
            for (int k = 0; k < 4; ++k)
                v += a[static_cast<std::size_t>(k * 4 + r)] * b[static_cast<std::size_t>(c * 4 + k)];
            out[static_cast<std::size_t>(c * 4 + r)] = v;
        }
    }
    return out;
}

Mat4 localOf(const tinygltf::Node& n)
{
    if (n.matrix.size() == 16) {
        Mat4 m{};
        std::copy(n.matrix.begin(), n.matrix.end(), m.begin());
        return m;
    }
    Mat4 t = identity4(), r = identity4(), s = identity4();
    if (n.translation.size() == 3) t[12] = n.translation[0], t[13] = n.translation[1], t[14] = n.translation[2];
    if (n.rotation.size() == 4) {
        const double x = n.rotation[0], y = n.rotation[1], z = n.rotation[2], w = n.rotation[3];
        r = {1 - 2 * (y * y + z * z),
             2 * (x * y + z * w),
             2 * (x * z - y * w),
             0,
             2 * (x * y - z * w),
             1 - 2 * (x * x + z * z),
             2 * (y * z + x * w),
             0,
             2 * (x * z + y * w),
             2 * (y * z - x * w),
             1 - 2 * (x * x + y * y),
             0,
             0,
             0,
             0,
             1};
    }
    if (n.scale.size() == 3) s[0] = n.scale[0], s[5] = n.scale[1], s[10] = n.scale[2];
    return mul(t, mul(r, s));
}

std::vector<Mat4> worldMatrices(const tinygltf::Model& m)
{
    std::vector<int> parent(m.nodes.size(), -1);
    for (std::size_t i = 0; i < m.nodes.size(); ++i) {
        for (int c : m.nodes[i].children) parent[static_cast<std::size_t>(c)] = static_cast<int>(i);
    }
    std::vector<Mat4> world(m.nodes.size());
    for (std::size_t i = 0; i < m.nodes.size(); ++i) {
        Mat4 w = localOf(m.nodes[i]);
        for (int p = parent[i]; p >= 0; p = parent[static_cast<std::size_t>(p)])
            w = mul(localOf(m.nodes[static_cast<std::size_t>(p)]), w);
        world[i] = w;
    }
    return world;
}

std::array<double, 3> apply(const Mat4& m, const std::array<double, 3>& p)
{
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12], m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

// Where a glTF viewer shows a skinned primitive's vertices: per vertex the
// weighted sum of joint world x inverse bind matrix x position.
std::vector<std::array<double, 3>> skinnedPositions(const tinygltf::Model& m, const tinygltf::Skin& skin,
                                                    const tinygltf::Primitive& prim);

// A host (Z-up) point as glTF (Y-up) sees it.
std::array<double, 3> yUp(const Point3& p)
{
    return {p.x, p.z, -p.y};
}

void expectNear3(const std::array<double, 3>& a, const std::array<double, 3>& b, double tol, const std::string& what)
{
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(a[static_cast<std::size_t>(i)], b[static_cast<std::size_t>(i)], tol) << what << " component " << i;
    }
}

std::vector<std::array<double, 3>> skinnedPositions(const tinygltf::Model& m, const tinygltf::Skin& skin,
                                                    const tinygltf::Primitive& prim)
{
    const std::vector<Mat4> world = worldMatrices(m);
    const std::vector<float> ibm = floatsOf(m, skin.inverseBindMatrices);
    const std::vector<float> pos = floatsOf(m, prim.attributes.at("POSITION"));
    const std::vector<std::uint32_t> joints = integersOf(m, prim.attributes.at("JOINTS_0"));
    const std::vector<float> weights = floatsOf(m, prim.attributes.at("WEIGHTS_0"));
    std::vector<Mat4> jointTransform(skin.joints.size());
    for (std::size_t j = 0; j < skin.joints.size(); ++j) {
        Mat4 inv{};
        std::copy(ibm.begin() + static_cast<long>(j * 16), ibm.begin() + static_cast<long>(j * 16 + 16), inv.begin());
        jointTransform[j] = mul(world[static_cast<std::size_t>(skin.joints[j])], inv);
    }
    std::vector<std::array<double, 3>> out(pos.size() / 3, {0, 0, 0});
    for (std::size_t v = 0; v < out.size(); ++v) {
        for (std::size_t c = 0; c < 4; ++c) {
            const auto p = apply(jointTransform.at(joints[v * 4 + c]), {pos[v * 3], pos[v * 3 + 1], pos[v * 3 + 2]});
            for (std::size_t i = 0; i < 3; ++i) out[v][i] += weights[v * 4 + c] * p[i];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Scenes through the host API

Interface* host()
{
    return GetCOREInterface();
}

INode* dummyNode(const char* name, Matrix3 tm, INode* parent = nullptr)
{
    auto* obj = static_cast<DummyObject*>(host()->CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)));
    INode* node = host()->CreateObjectNode(obj);
    node->SetName(name);
    if (parent) parent->AttachChild(node, 0);
    node->SetNodeTM(0, tm);
    return node;
}

Matrix3 rows(Point3 a, Point3 b, Point3 c, Point3 t)
{
    return Matrix3(a, b, c, t);
}

GameMtl* gameMaterial(Point3 colour, int alpha)
{
    auto* m = static_cast<GameMtl*>(host()->CreateInstance(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID));
    m->GetParamBlock(0)->SetValue(3, 0, colour);
    m->GetParamBlock(0)->SetValue(6, 0, alpha);
    m->GetParamBlock(0)->SetValue(0, 0, 0.5f);
    return m;
}

// A PNG of one pixel, from the dictionaries' PNG writer.
std::vector<unsigned char> onePixelPng()
{
    std::vector<std::uint8_t> png;
    std::string why;
    EXPECT_TRUE(txd::encodePng(txd::Image{1, 1, {200, 100, 50, 255}}, png, why)) << why;
    return png;
}

std::string writeFile(const std::string& name, const std::vector<unsigned char>& bytes)
{
    const std::string path = outputPath(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

BitmapTex* bitmap(const char* name, const std::string& file)
{
    BitmapTex* t = NewDefaultBitmapTex();
    t->SetName(name);
    t->SetMapName(file.c_str());
    return t;
}

// ---------------------------------------------------------------------------
// Comparing an export with its scene

// The glTF node showing a scene node's mesh: the node itself or, with an
// object offset, its child made for the offset.
int meshHolder(const tinygltf::Model& m, int node)
{
    const tinygltf::Node& n = m.nodes[static_cast<std::size_t>(node)];
    if (n.mesh >= 0) return node;
    for (int c : n.children) {
        const tinygltf::Node& child = m.nodes[static_cast<std::size_t>(c)];
        if (child.mesh >= 0 && child.name == n.name) return c;
    }
    return -1;
}

bool hasObjectOffset(const INode* n)
{
    const Quat q = n->GetObjOffsetRot();
    return !(n->GetObjOffsetPos() == Point3(0, 0, 0)) || !(n->GetObjOffsetScale().s == Point3(1, 1, 1)) ||
           q.x != 0.0f || q.y != 0.0f || q.z != 0.0f || q.w != 1.0f;
}

// Node count and names, per primitive the triangles of its material id,
// every corner's position, texture coordinates and normal, joints within the
// skin and weights summing to 1.
void expectMatchesScene(const Scene& scene, const tinygltf::Model& m, const std::string& what)
{
    SCOPED_TRACE(what);
    std::size_t offsetHolders = 0;
    for (INode* n : scene.nodes) {
        if (dynamic_cast<TriObject*>(n->GetObjectRef()) && hasObjectOffset(n)) ++offsetHolders;
    }
    ASSERT_EQ(m.nodes.size(), scene.nodes.size() + 1 + offsetHolders);
    for (std::size_t i = 0; i < scene.nodes.size(); ++i) {
        EXPECT_EQ(m.nodes[i + 1].name, orvik::latin1ToUtf8(scene.nodes[i]->GetName())) << "node " << i;
    }
    const std::vector<Mat4> world = worldMatrices(m);
    for (std::size_t i = 0; i < scene.nodes.size(); ++i) {
        INode* node = scene.nodes[i];
        auto* tri = dynamic_cast<TriObject*>(node->GetObjectRef());
        if (tri == nullptr || tri->mesh.getNumFaces() == 0) continue;
        const Mesh& mesh = tri->mesh;
        const int holder = meshHolder(m, static_cast<int>(i + 1));
        ASSERT_GE(holder, 0) << "node " << i << " has no mesh";
        const tinygltf::Node& hn = m.nodes[static_cast<std::size_t>(holder)];
        const tinygltf::Mesh& gm = m.meshes[static_cast<std::size_t>(hn.mesh)];

        std::map<MtlID, std::vector<int>> byId;
        for (int f = 0; f < mesh.getNumFaces(); ++f) byId[mesh.faces[f].getMatID()].push_back(f);
        ASSERT_EQ(gm.primitives.size(), byId.size()) << "node " << i;
        const MeshNormalSpec* spec = mesh.GetSpecifiedNormals();
        const bool normals = spec != nullptr && spec->GetNumNormals() > 0;
        std::size_t p = 0;
        for (const auto& [id, faces] : byId) {
            const tinygltf::Primitive& prim = gm.primitives[p++];
            const std::vector<std::uint32_t> idx = integersOf(m, prim.indices);
            ASSERT_EQ(idx.size(), faces.size() * 3) << "triangles of material id " << id;
            const std::vector<float> pos = floatsOf(m, prim.attributes.at("POSITION"));
            const bool uv = mesh.mapSupport(1);
            ASSERT_EQ(prim.attributes.count("TEXCOORD_0"), uv ? 1u : 0u);
            ASSERT_EQ(prim.attributes.count("NORMAL"), normals ? 1u : 0u);
            const std::vector<float> tex = uv ? floatsOf(m, prim.attributes.at("TEXCOORD_0")) : std::vector<float>();
            const std::vector<float> nrm = normals ? floatsOf(m, prim.attributes.at("NORMAL")) : std::vector<float>();
            for (std::size_t k = 0; k < faces.size(); ++k) {
                const int f = faces[k];
                for (int c = 0; c < 3; ++c) {
                    const std::size_t g = idx[k * 3 + static_cast<std::size_t>(c)];
                    ASSERT_LT(g, pos.size() / 3);
                    const Point3 hv = mesh.verts[mesh.faces[f].v[c]];
                    EXPECT_EQ(pos[g * 3], hv.x);
                    EXPECT_EQ(pos[g * 3 + 1], hv.y);
                    EXPECT_EQ(pos[g * 3 + 2], hv.z);
                    if (uv) {
                        const UVVert t = mesh.Map(1).tv[mesh.Map(1).tf[static_cast<std::size_t>(f)].t[c]];
                        EXPECT_EQ(tex[g * 2], t.x);
                        EXPECT_NEAR(tex[g * 2 + 1], 1.0f - t.y, 1e-6);
                    }
                    if (normals) {
                        const int nid = spec->Face(f).GetNormalID(c);
                        const Point3 n = Normalize(spec->Normal(nid));
                        if (DotProd(n, n) > 0.5f) {
                            EXPECT_NEAR(nrm[g * 3], n.x, 1e-5);
                            EXPECT_NEAR(nrm[g * 3 + 1], n.y, 1e-5);
                            EXPECT_NEAR(nrm[g * 3 + 2], n.z, 1e-5);
                        }
                    }
                }
            }
            if (hn.skin >= 0) {
                const std::size_t joints = m.skins[static_cast<std::size_t>(hn.skin)].joints.size();
                const std::vector<std::uint32_t> j = integersOf(m, prim.attributes.at("JOINTS_0"));
                const std::vector<float> w = floatsOf(m, prim.attributes.at("WEIGHTS_0"));
                ASSERT_EQ(w.size(), pos.size() / 3 * 4);
                for (std::size_t v = 0; v < w.size() / 4; ++v) {
                    EXPECT_NEAR(w[v * 4] + w[v * 4 + 1] + w[v * 4 + 2] + w[v * 4 + 3], 1.0, 1e-6) << "vertex " << v;
                    for (int c = 0; c < 4; ++c) EXPECT_LT(j[v * 4 + static_cast<std::size_t>(c)], joints);
                }
            }
        }
        // The mesh's world placement: glTF node world = root turn x host world.
        const Matrix3 hw = node->GetNodeTM(0);
        const Mat4& gw = world[static_cast<std::size_t>(holder)];
        if (mesh.getNumVerts() > 0) {
            const Point3 v = mesh.verts[0];
            expectNear3(apply(gw, {v.x, v.y, v.z}), yUp(v * hw),
                        1e-3 *
                            (1.0 + std::abs(hw.GetTrans().x) + std::abs(hw.GetTrans().y) + std::abs(hw.GetTrans().z)),
                        "first vertex of node " + std::to_string(i));
        }
    }
    // Skins: one joint per bone, in bone-list order.
    for (SkinModifier* skin : scene.modifiers) {
        const int holder = meshHolder(m, scene.indexOfNode(skin->Node()) + 1);
        ASSERT_GE(holder, 0);
        const int s = m.nodes[static_cast<std::size_t>(holder)].skin;
        ASSERT_GE(s, 0) << "skinned node without a skin";
        const tinygltf::Skin& gs = m.skins[static_cast<std::size_t>(s)];
        ASSERT_EQ(gs.joints.size(), skin->Bones().size());
        // Bind pose: a point of the mesh taken into a joint's space by its
        // inverse bind matrix, then out through the bone's bind transform,
        // lands where the mesh's bind transform puts it.
        const std::vector<float> ibm = floatsOf(m, gs.inverseBindMatrices);
        ASSERT_EQ(ibm.size(), gs.joints.size() * 16);
        Matrix3 meshBind;
        ASSERT_EQ(skin->GetSkinInitTM(skin->Node(), meshBind, true), SKIN_OK);
        for (std::size_t b = 0; b < gs.joints.size(); ++b) {
            EXPECT_EQ(gs.joints[b], scene.indexOfNode(skin->Bones()[b].node) + 1);
            Mat4 inv{};
            std::copy(ibm.begin() + static_cast<long>(b * 16), ibm.begin() + static_cast<long>(b * 16 + 16),
                      inv.begin());
            Matrix3 boneBind;
            ASSERT_EQ(skin->GetBoneInitTM(skin->Bones()[b].node, boneBind, false), SKIN_OK);
            for (const Point3& p : {Point3(0, 0, 0), Point3(1, 0, 0), Point3(0, 1, 0), Point3(0, 0, 1)}) {
                const std::array<double, 3> q = apply(inv, {p.x, p.y, p.z});
                const Point3 bound =
                    Point3(static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2])) * boneBind;
                const Point3 expected = p * meshBind;
                expectNear3({bound.x, bound.y, bound.z}, {expected.x, expected.y, expected.z},
                            1e-4 * (1.0 + std::abs(expected.x) + std::abs(expected.y) + std::abs(expected.z)),
                            "joint " + std::to_string(b));
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Tests

TEST(GltfTransforms, LocalTransformsUnderTheYUpRoot)
{
    resetScene();
    // A frame turned a quarter about X and moved; a child turned about Z; a
    // mirrored grandchild; a sheared node, which glTF cannot hold as a matrix.
    Matrix3 turned(TRUE);
    turned.RotateX(1.5707964f);
    turned.SetTrans(Point3(1, 2, 3));
    INode* parent = dummyNode("parent", turned);
    INode* child = dummyNode("child", rows({0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {4, 5, 6}) * turned, parent);
    INode* mirrored =
        dummyNode("mirrored", rows({-2, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 1}) * child->GetNodeTM(0), child);
    INode* sheared = dummyNode("sheared", rows({1, 0, 0}, {0.5f, 1, 0}, {0, 0, 1}, {7, 0, 0}));
    sheared->SetUserPropString("FrameName", "sheared\xE9");
    sheared->SetUserPropInt("BoneId", 7);

    // The document is fixed by tests/golden/gltf/transforms.gltf: the nodes
    // below the Y-up root as the frames are linked; the mirror a matrix (a
    // translation, rotation and negative scale are no TRS); the shear the
    // nearest TRS with its exact local matrix in the extras, and the user
    // properties as in the dump, in the order set, texts as UTF-8.
    const Exported e = exportAndLoad(currentScene(), "transforms.gltf");
    ASSERT_TRUE(e.ok);
    expectGolden("gltf/transforms.gltf", readFile(e.path));
    const tinygltf::Model& m = e.model;
    ASSERT_EQ(m.nodes.size(), 5u);

    // Host point (0, 1, 0) in the turned frame: (0, 0, 1) + (1, 2, 3) = (1, 2, 4), Z up;
    // glTF, Y up: (1, 4, -2).
    const std::vector<Mat4> world = worldMatrices(m);
    expectNear3(apply(world[1], {0, 1, 0}), {1, 4, -2}, 1e-6, "turned frame");
    const std::vector<INode*> nodes = {parent, child, mirrored};
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        for (const Point3& p : {Point3(0, 0, 0), Point3(1, 0, 0), Point3(0, 1, 0), Point3(0.5f, -2, 3)}) {
            expectNear3(apply(world[i + 1], {p.x, p.y, p.z}), yUp(p * nodes[i]->GetNodeTM(0)), 1e-5,
                        "node " + std::string(nodes[i]->GetName()));
        }
    }
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

// The example's cube is fixed whole by its golden document; here, moved away
// from the origin, that every triangle and normal faces away from its centre.
TEST(GltfMesh, WriterCubeFacesOutward)
{
    dffw::Clump clump = dffw::makeBox("crate", 2.0f, "crate");
    clump.frames[0].position = {10, 20, 30};
    const Scene& scene = importBytes(dffw::write(clump));
    ASSERT_EQ(scene.nodes.size(), 1u);
    const Exported e = exportAndLoad(scene, "cube.glb");
    ASSERT_TRUE(e.ok);
    const tinygltf::Model& m = e.model;
    expectMatchesScene(scene, m, "cube");
    ASSERT_EQ(m.meshes.size(), 1u);
    ASSERT_EQ(m.meshes[0].primitives.size(), 1u);
    const tinygltf::Primitive& prim = m.meshes[0].primitives[0];
    const std::vector<float> pos = floatsOf(m, prim.attributes.at("POSITION"));
    const std::vector<float> nrm = floatsOf(m, prim.attributes.at("NORMAL"));
    const std::vector<std::uint32_t> idx = integersOf(m, prim.indices);
    ASSERT_EQ(idx.size(), 36u);

    // Counter-clockwise seen from outside, in glTF's world.
    const Mat4 world = worldMatrices(m)[1];
    const std::array<double, 3> centre = apply(world, {0, 0, 0});
    expectNear3(centre, {10, 30, -20}, 1e-6, "cube centre");
    for (std::size_t t = 0; t < idx.size(); t += 3) {
        std::array<std::array<double, 3>, 3> c{};
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t v = idx[t + k];
            c[k] = apply(world, {pos[v * 3], pos[v * 3 + 1], pos[v * 3 + 2]});
        }
        const std::array<double, 3> e1{c[1][0] - c[0][0], c[1][1] - c[0][1], c[1][2] - c[0][2]};
        const std::array<double, 3> e2{c[2][0] - c[0][0], c[2][1] - c[0][1], c[2][2] - c[0][2]};
        const std::array<double, 3> n{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                      e1[0] * e2[1] - e1[1] * e2[0]};
        double outward = 0, agree = 0;
        for (std::size_t k = 0; k < 3; ++k) outward += n[k] * ((c[0][k] + c[1][k] + c[2][k]) / 3 - centre[k]);
        const std::size_t v0 = idx[t];
        // The normal attribute, turned to the world too, agrees with the winding.
        const std::array<double, 3> tip = apply(world, {pos[v0 * 3] + nrm[v0 * 3], pos[v0 * 3 + 1] + nrm[v0 * 3 + 1],
                                                        pos[v0 * 3 + 2] + nrm[v0 * 3 + 2]});
        for (std::size_t k = 0; k < 3; ++k) agree += n[k] * (tip[k] - c[0][k]);
        EXPECT_GT(outward, 0.0) << "triangle " << t / 3 << " faces inward";
        EXPECT_GT(agree, 0.0) << "triangle " << t / 3 << " has a normal against its winding";
    }
    EXPECT_EQ(e.report.triangles, 12u);
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

TEST(GltfMesh, CornersSplitWhereTheirIndicesDifferAndPrimitivesFollowMaterialIds)
{
    resetScene();
    // Four faces over a square: face 0 with material id 0, faces 1 to 3 with
    // id 2. In id 2, vertex 0 has another map vertex in face 2 than in face 1,
    // vertex 3 another normal; face 3 agrees with faces 1 and 2 at every corner.
    TriObject* tri = newMesh(4, 4);
    Mesh& mesh = tri->mesh;
    mesh.verts[0] = {0, 0, 0}, mesh.verts[1] = {1, 0, 0}, mesh.verts[2] = {1, 1, 0}, mesh.verts[3] = {0, 1, 0};
    const int corners[4][3] = {{0, 1, 2}, {0, 2, 3}, {0, 1, 3}, {2, 3, 1}};
    const int tverts[4][3] = {{0, 1, 2}, {4, 2, 3}, {0, 1, 3}, {2, 3, 1}};
    const int normals[4][3] = {{0, 1, 2}, {0, 3, 4}, {0, 1, 5}, {3, 4, 1}};
    for (int f = 0; f < 4; ++f) {
        mesh.faces[f].setVerts(corners[f][0], corners[f][1], corners[f][2]);
        mesh.faces[f].setMatID(f == 0 ? 0 : 2);
    }
    mesh.setMapSupport(1);
    mesh.setNumMapVerts(1, 5);
    for (int i = 0; i < 5; ++i) mesh.mapVerts(1)[i] = Point3(0.25f * static_cast<float>(i), 0.125f, 0);
    for (int f = 0; f < 4; ++f) mesh.mapFaces(1)[f].setTVerts(tverts[f][0], tverts[f][1], tverts[f][2]);
    mesh.setMapSupport(0);
    mesh.setNumMapVerts(0, 1);
    mesh.mapVerts(0)[0] = Point3(1, 0.5f, 0.25f);
    mesh.setMapSupport(MAP_ALPHA);
    mesh.setNumMapVerts(MAP_ALPHA, 1);
    mesh.mapVerts(MAP_ALPHA)[0] = Point3(0.5f, 0, 0);
    mesh.SpecifyNormals();
    MeshNormalSpec* spec = mesh.GetSpecifiedNormals();
    spec->SetNumFaces(4);
    spec->SetNumNormals(6);
    for (int i = 0; i < 6; ++i) spec->Normal(i) = Point3(0, 0, 2);  // not of unit length
    for (int f = 0; f < 4; ++f) {
        for (int c = 0; c < 3; ++c) spec->Face(f).SetNormalID(c, normals[f][c]);
    }
    INode* node = host()->CreateObjectNode(tri);
    node->SetName("square");
    auto* multi = static_cast<MultiMtl*>(host()->CreateInstance(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0)));
    multi->SetNumSubMtls(3);
    GameMtl* red = gameMaterial({1, 0, 0}, 255);
    GameMtl* blue = gameMaterial({0, 0, 1}, 255);
    multi->SetSubMtl(0, red);
    multi->SetSubMtl(1, gameMaterial({0, 1, 0}, 255));
    multi->SetSubMtl(2, blue);
    node->SetMtl(multi);

    const Exported e = exportAndLoad(currentScene(), "split.gltf");
    ASSERT_TRUE(e.ok);
    const tinygltf::Model& m = e.model;
    expectMatchesScene(currentScene(), m, "split");
    const tinygltf::Mesh& gm = m.meshes.at(0);
    ASSERT_EQ(gm.primitives.size(), 2u);
    // Id 0: three corners, three vertices. Id 2: nine corners, six vertices.
    EXPECT_EQ(floatsOf(m, gm.primitives[0].attributes.at("POSITION")).size() / 3, 3u);
    EXPECT_EQ(floatsOf(m, gm.primitives[1].attributes.at("POSITION")).size() / 3, 6u);
    EXPECT_EQ(integersOf(m, gm.primitives[1].indices), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 1, 2, 4}));
    // The rest is fixed by tests/golden/gltf/split.gltf: every sub-material
    // exported, untextured and unnamed ones named by their place, primitives
    // on slots 0 and 2; normals of unit length; COLOR_0 from channel 0 with
    // the alpha of channel -2; the multi-material and the material ids in
    // the extras.
    expectGolden("gltf/split.gltf", readFile(e.path));
    expectGolden("gltf/split.bin", readFile(outputPath("split.bin")));
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

TEST(GltfMesh, IndicesTakeTheSmallestTypeWithoutTheRestartValue)
{
    // n separate triangles need 3n vertices; the largest index of a type is
    // glTF's restart value, so 255 vertices fit bytes and 256 do not.
    const std::vector<std::pair<int, int>> cases = {{85, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE},
                                                    {86, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT},
                                                    {21845, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT},
                                                    {21846, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT}};
    std::vector<std::string> files;
    for (const auto& [triangles, type] : cases) {
        resetScene();
        TriObject* tri = newMesh(triangles * 3, triangles);
        for (int f = 0; f < triangles; ++f) {
            const auto x = static_cast<float>(f);
            tri->mesh.verts[3 * f] = {x, 0, 0}, tri->mesh.verts[3 * f + 1] = {x + 1, 0, 0};
            tri->mesh.verts[3 * f + 2] = {x, 1, 0};
            tri->mesh.faces[f].setVerts(3 * f, 3 * f + 1, 3 * f + 2);
        }
        host()->CreateObjectNode(tri)->SetName("strip");
        const Exported e = exportAndLoad(currentScene(), "indices-" + std::to_string(triangles) + ".glb");
        ASSERT_TRUE(e.ok);
        const tinygltf::Primitive& prim = e.model.meshes.at(0).primitives.at(0);
        EXPECT_EQ(e.model.accessors[static_cast<std::size_t>(prim.indices)].componentType, type) << triangles;
        const std::vector<std::uint32_t> idx = integersOf(e.model, prim.indices);
        EXPECT_EQ(idx.back(), static_cast<std::uint32_t>(triangles * 3 - 1));
        files.push_back(e.path);
    }
    ORVIK_REQUIRE_VALIDATOR();
    expectValid(files);
}

TEST(GltfMaterials, ColourAlphaTexturesSamplersAndExtras)
{
    resetScene();
    const std::string png = writeFile("wheel.png", onePixelPng());
    const std::string tga = writeFile("body.tga", {0, 0, 2, 0, 0, 0, 0, 0});
    // Opaque with a PNG main texture: no filtering, U mirrored, V clamped,
    // and a UV animation on its U offset.
    GameMtl* opaque = gameMaterial({1, 128.0f / 255.0f, 0}, 255);
    BitmapTex* wheel = bitmap("wheel", png);
    wheel->SetFilterType(FILTER_NADA);
    wheel->GetUVGen()->SetFlag(U_WRAP, 1), wheel->GetUVGen()->SetFlag(U_MIRROR, 1);
    wheel->GetUVGen()->SetFlag(V_WRAP, 0);
    Control* offset = NewDefaultFloatController();
    wheel->GetUVGen()->SubAnim(0)->AssignController(offset, UVGEN_U_OFFSET);
    AnimateOn();
    float k0 = 0.0f, k1 = -0.25f;
    offset->SetValue(0, &k0);
    offset->SetValue(7200, &k1);
    AnimateOff();
    opaque->GetParamBlock(0)->SetValue(4, 0, wheel);
    opaque->GetParamBlock(0)->SetValue(16, 0, 25.0f);
    // Translucent, with a TGA texture; masked, with a texture that was not found.
    GameMtl* glass = gameMaterial({0.5f, 0.5f, 0.5f}, 128);
    glass->GetParamBlock(0)->SetValue(4, 0, bitmap("body", tga));
    GameMtl* fence = gameMaterial({1, 1, 1}, 255);
    fence->GetParamBlock(0)->SetValue(4, 0, bitmap("fence", "/nonexistent/fence.TGA"));
    fence->GetParamBlock(0)->SetValue(7, 0, bitmap("fencea", "/nonexistent/fencea.TGA"));
    // The textured material on two meshes: with and without texture coordinates.
    auto* multi = static_cast<MultiMtl*>(host()->CreateInstance(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0)));
    multi->SetNumSubMtls(3);
    multi->SetSubMtl(0, opaque), multi->SetSubMtl(1, glass), multi->SetSubMtl(2, fence);
    for (bool uv : {true, false}) {
        TriObject* tri = newMesh(3, 3);
        tri->mesh.verts[1] = {1, 0, 0}, tri->mesh.verts[2] = {0, 1, 0};
        for (int f = 0; f < 3; ++f)
            tri->mesh.faces[f].setVerts(0, 1, 2), tri->mesh.faces[f].setMatID(static_cast<MtlID>(f));
        if (uv) {
            tri->mesh.setMapSupport(1);
            tri->mesh.setNumMapVerts(1, 3);
            for (int f = 0; f < 3; ++f) tri->mesh.mapFaces(1)[f].setTVerts(0, 1, 2);
        }
        INode* node = host()->CreateObjectNode(tri);
        node->SetName(uv ? "with uv" : "without uv");
        node->SetMtl(multi);
    }

    // The document is fixed by tests/golden/gltf/materials.gltf: the opaque
    // material OPAQUE with its colour and the PNG embedded, its sampler
    // nearest, U mirrored and V clamped; the translucent one BLEND with its
    // alpha, the masked one MASK; each named after its main texture; the mesh
    // without texture coordinates on an untextured twin; parameters beyond
    // the colour, the textures and the U offset's keys in the extras, named
    // as in the dump.
    const Exported e = exportAndLoad(currentScene(), "materials.gltf");
    ASSERT_TRUE(e.ok);
    const GoldenPlaces places = {{fs::path(e.path).parent_path().string(), "{out}"}};
    expectGolden("gltf/materials.gltf", readFile(e.path), places);
    expectGolden("gltf/materials.bin", readFile(outputPath("materials.bin")));
    // Every texture's image is accounted for: embedded from its file, or why not.
    std::ostringstream summary;
    orvik::writeGltfSummary(e.report, summary);
    EXPECT_NE(summary.str().find("textures:\n  texture wheel: embedded from " + fs::canonical(png).string() + "\n" +
                                 "  texture body: " + fs::canonical(tga).string() +
                                 ": TGA image: glTF embeds PNG and JPEG images only, not embedded\n" +
                                 "  texture fence: no image file found, not embedded\n"),
              std::string::npos)
        << summary.str();
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

TEST(GltfMaterials, ImportedTextureFoundAlongTheBitmapPathIsEmbedded)
{
    const fs::path dir = fs::path(outputPath("bitmaps"));
    fs::create_directories(dir);
    writeFile("bitmaps/crate.PNG", onePixelPng());
    HostOptions options;
    options.bitmapPaths.push_back(dir.string());
    const Scene& scene = importBytes(dffw::write(dffw::makeBox("crate")), options);
    const Exported e = exportAndLoad(scene, "crate.glb");
    ASSERT_TRUE(e.ok);
    ASSERT_EQ(e.model.images.size(), 1u);
    EXPECT_EQ(e.model.images[0].image, onePixelPng());
    ASSERT_EQ(e.report.textureImages.size(), 1u);
    EXPECT_EQ(e.report.textureImages[0].problem, "");
    // The writer's addressing 0x11 wraps both ways; its filter 6 is mip-mapped.
    const tinygltf::Sampler& s = e.model.samplers.at(0);
    EXPECT_EQ(s.wrapS, TINYGLTF_TEXTURE_WRAP_REPEAT);
    EXPECT_EQ(s.wrapT, TINYGLTF_TEXTURE_WRAP_REPEAT);
    EXPECT_EQ(s.minFilter, TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR);
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

TEST(GltfImages, OnlyFilesInsideTheModelsFoldersAreEmbedded)
{
    // models/ holds the model and an image; private/ beside it holds another,
    // reached by a relative name, an absolute name and a link from models/.
    const fs::path root = fs::path(outputPath("leak"));
    fs::remove_all(root);
    fs::create_directories(root / "models");
    fs::create_directories(root / "private");
    writeFile("leak/models/inside.png", onePixelPng());
    writeFile("leak/private/x.png", onePixelPng());
    fs::create_symlink(root / "private" / "x.png", root / "models" / "link.png");
    const std::string model = (root / "models" / "car.dff").string();
    const std::string outside = "found outside the model's folders";
    const struct {
        std::string texture;
        std::vector<std::string> bitmapPaths;
        std::string problem;
    } cases[] = {
        {"inside", {}, ""},
        {"../private/x", {}, outside},
        {(root / "private" / "x").string(), {}, outside},
        {"link", {}, outside},
        {"link", {(root / "private").string()}, ""},  // the folder it points into is a bitmap path
        {"../models/inside", {}, ""},                 // `..` that stays inside
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.texture);
        const std::vector<std::uint8_t> bytes = dffw::write(dffw::makeBox(c.texture));
        std::ofstream(model, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        HostOptions options;
        options.bitmapPaths = c.bitmapPaths;
        const Scene& scene = importFile(model, options);
        ASSERT_TRUE(scene.textures.at(0)->MapFileFound()) << "the host finds every one of them";
        const Exported e = exportAndLoad(scene, "leak.glb", orvik::imageFolders(model, c.bitmapPaths));
        ASSERT_TRUE(e.ok);
        ASSERT_EQ(e.report.textureImages.size(), 1u);
        EXPECT_EQ(e.report.textureImages[0].problem, c.problem);
        EXPECT_EQ(e.model.images.size(), c.problem.empty() ? 1u : 0u);
        std::ostringstream summary;
        orvik::writeGltfSummary(e.report, summary);
        if (!c.problem.empty()) {
            EXPECT_NE(summary.str().find("  texture " + c.texture + ": " + outside + ", not embedded\n"),
                      std::string::npos)
                << summary.str();
        }
    }
}

TEST(GltfImages, ImageFilesAreReadOnceAsRegularFilesOfBoundedSize)
{
    const fs::path dir = fs::path(outputPath("irregular"));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string png = writeFile("irregular/small.png", onePixelPng());
    const std::string fifo = (dir / "fifo.png").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(png, dir / "link.png");
    const std::size_t size = onePixelPng().size();
    const struct {
        std::string path;
        std::uint64_t maxBytes;
        std::string problem;  // the start of it; "" when read
    } cases[] = {
        {png, size, ""},
        {png, size - 1, "file of " + std::to_string(size) + " bytes is larger than"},
        {fifo, size, "not a regular file"},  // opened without waiting for a writer
        {"/dev/zero", size, "not a regular file"},
        {dir.string(), size, "not a regular file"},
        {(dir / "link.png").string(), size, "a symbolic link"},
        {(dir / "none.png").string(), size, "cannot be read: no such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string bytes, problem;
        EXPECT_EQ(orvik::readRegularFile(c.path, c.maxBytes, bytes, problem), c.problem.empty());
        EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem);
        EXPECT_EQ(bytes.size(), c.problem.empty() ? size : 0u);
    }

    // A file found at import time and swapped for a FIFO before the export is
    // refused; two textures naming one file read it once.
    resetScene();
    const std::string swapped = writeFile("irregular/swapped.png", onePixelPng());
    BitmapTex* first = bitmap("first", swapped);
    BitmapTex* second = bitmap("second", swapped);
    BitmapTex* third = bitmap("third", png);
    ASSERT_TRUE(first->MapFileFound());
    fs::remove(swapped);
    ASSERT_EQ(::mkfifo(swapped.c_str(), 0600), 0);
    orvik::FileImageSource source({dir.string()});
    EXPECT_EQ(source.imageFor(*first).problem, fs::canonical(swapped).string() + ": not a regular file");
    EXPECT_EQ(source.imageFor(*second).problem, source.imageFor(*first).problem);
    const orvik::TextureImage image = source.imageFor(*third);
    EXPECT_EQ(image.problem, "");
    EXPECT_EQ(image.origin, fs::canonical(png).string());
    EXPECT_EQ(image.bytes.size(), size);
    writeFile("irregular/small.png", {1, 2, 3});
    EXPECT_EQ(source.imageFor(*third).bytes.size(), size) << "the file is read once";
}

TEST(GltfSkin, JointsWeightsAndInverseBindMatrices)
{
    resetScene();
    Matrix3 rootTm(TRUE);
    rootTm.RotateX(1.5707964f);
    INode* root = dummyNode("root", rootTm);
    INode* b1 = dummyNode("b1", rows({0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, 2}) * rootTm, root);
    INode* b2 = dummyNode("b2", rows({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 3, 2}) * rootTm, b1);
    TriObject* tri = newMesh(7, 3);
    for (int v = 0; v < 7; ++v) tri->mesh.verts[v] = {static_cast<float>(v), static_cast<float>(v % 2), 0};
    tri->mesh.faces[0].setVerts(0, 1, 2), tri->mesh.faces[1].setVerts(2, 3, 4), tri->mesh.faces[2].setVerts(4, 5, 6);
    INode* body = host()->CreateObjectNode(tri);
    body->SetName("body");
    b1->AttachChild(body, 0);  // the mesh's frame hangs below bone b1
    Matrix3 bodyTm(TRUE);
    bodyTm.SetTrans(Point3(0, 0, 1));
    body->SetNodeTM(0, bodyTm);
    auto* skin = static_cast<SkinModifier*>(host()->CreateInstance(OSM_CLASS_ID, SKIN_CLASSID));
    GetCOREInterface12()->AddModifier(*body, *skin, 0);
    body->EvalWorldState(0);
    for (INode* b : {root, b1, b2}) skin->AddBoneEx(b, 0);
    auto give = [&](int v, std::vector<std::pair<INode*, float>> pairs) {
        Tab<INode*> nodes;
        Tab<float> weights;
        for (auto& [n, w] : pairs) nodes.Append(1, &n), weights.Append(1, &w);
        ASSERT_TRUE(skin->AddWeights(body, v, nodes, weights));
    };
    give(0, {{b1, 0.5f}, {b2, 0.5f}});
    give(1, {{root, 0.25f}, {b1, 0.0f}, {b2, 0.25f}});            // a zero pair, sum 0.5
    give(2, {{root, 0.1f}, {b1, 0.2f}, {b2, 0.3f}, {b1, 0.4f}});  // b1 twice
    give(3, {{b2, 1.0f}, {root, 0.0f}, {b1, 0.0f}, {root, 0.0f}, {b1, 0.0f}});
    // vertex 4: no weights at all
    give(5, {{b1, 0.0f}, {b2, 0.0f}, {b1, -1.0f}});         // no usable weight: spread over b1 and b2
    give(6, {{root, std::nanf("")}, {b2, std::nanf("")}});  // weights that are not numbers
    // Moved after binding: the inverse bind matrices keep the bind pose.
    Matrix3 moved = b2->GetNodeTM(0);
    moved.SetTrans(moved.GetTrans() + Point3(0, 0, 5));
    b2->SetNodeTM(0, moved);

    // The document and its buffer are fixed by tests/golden/gltf/skin.gltf:
    // per vertex its joints and weights, zero weights dropped: vertex 0 half
    // on b1 and b2; 1 scaled to sum 1; 2 with b1 added up; 3 wholly on b2; 4,
    // naming no bone, on b1, the bone above the mesh's frame; 5 and 6 spread
    // over the bones they name. The host's pairs of the vertices that
    // changed, and the envelopes, in the skin's extras.
    const Exported e = exportAndLoad(currentScene(), "skin.gltf");
    ASSERT_TRUE(e.ok);
    expectMatchesScene(currentScene(), e.model, "skin");
    expectGolden("gltf/skin.gltf", readFile(e.path));
    expectGolden("gltf/skin.bin", readFile(outputPath("skin.bin")));
    EXPECT_EQ(e.report.spreadVertices, 2u);
    EXPECT_EQ(e.report.unweightedVertices, 1u);
    std::ostringstream summary;
    orvik::writeGltfSummary(e.report, summary);
    EXPECT_NE(summary.str().find("2 skinned vertices without a usable weight spread evenly over the bones they name\n"
                                 "1 skinned vertex naming no bone bound to the bone of the mesh's frame\n"),
              std::string::npos)
        << summary.str();
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

TEST(GltfSkin, InfluencesOfOneVertex)
{
    // Bones 0, 1, 3, 4, 5 are joints 0..4; bone 2 has no joint. A vertex
    // naming no joint goes to joint 1.
    const std::vector<int> jointOfBone{0, 1, -1, 2, 3, 4};
    using orvik::gltf::Influence;
    const float nan = std::nanf("");
    const struct {
        const char* what;
        std::vector<std::pair<int, float>> pairs;
        std::vector<std::pair<int, float>> expected;  // joint, weight, largest first
        Influence how;
    } cases[] = {
        {"sorted by weight", {{0, 0.25f}, {1, 0.75f}}, {{1, 0.75f}, {0, 0.25f}}, Influence::Kept},
        {"a zero pair is not a change", {{0, 1.0f}, {1, 0.0f}}, {{0, 1.0f}}, Influence::Kept},
        {"scaled to sum 1", {{0, 0.5f}, {1, 0.25f}}, {{0, 2.0f / 3}, {1, 1.0f / 3}}, Influence::Changed},
        {"a bone given twice adds up",
         {{1, 0.5f}, {0, 0.25f}, {1, 0.25f}},
         {{1, 0.75f}, {0, 0.25f}},
         Influence::Changed},
        {"the four largest, the first among equals",
         {{0, 0.1f}, {1, 0.3f}, {3, 0.2f}, {4, 0.3f}, {5, 0.1f}},
         {{1, 1.0f / 3}, {3, 1.0f / 3}, {2, 2.0f / 9}, {0, 1.0f / 9}},
         Influence::Changed},
        {"a bone without a joint dropped", {{2, 0.5f}, {0, 0.5f}}, {{0, 1.0f}}, Influence::Changed},
        {"a bone past the list dropped", {{9, 1.0f}, {-1, 1.0f}, {3, 1.0f}}, {{2, 1.0f}}, Influence::Changed},
        {"negative and not a number dropped", {{0, -1.0f}, {1, nan}, {3, 0.5f}}, {{2, 1.0f}}, Influence::Changed},
        {"only zeros: spread", {{0, 0.0f}, {3, 0.0f}}, {{0, 0.5f}, {2, 0.5f}}, Influence::Spread},
        {"unusable weights: spread", {{0, -1.0f}, {3, nan}, {0, 0.0f}}, {{0, 0.5f}, {2, 0.5f}}, Influence::Spread},
        {"spread over the first four named",
         {{5, 0.0f}, {4, 0.0f}, {3, 0.0f}, {1, 0.0f}, {0, 0.0f}},
         {{4, 0.25f}, {3, 0.25f}, {2, 0.25f}, {1, 0.25f}},
         Influence::Spread},
        {"no pairs: the mesh's own joint", {}, {{1, 1.0f}}, Influence::Unweighted},
        {"no joint named: the mesh's own joint", {{2, 1.0f}}, {{1, 1.0f}}, Influence::Unweighted},
    };
    for (const auto& c : cases) {
        const orvik::gltf::VertexInfluences got = orvik::gltf::vertexInfluences(c.pairs, jointOfBone, 1);
        EXPECT_EQ(got.how, c.how) << c.what;
        float sum = 0.0f;
        for (std::size_t k = 0; k < 4; ++k) {
            sum += got.skin.weights[k];
            if (k >= c.expected.size()) {
                EXPECT_EQ(got.skin.weights[k], 0.0f) << c.what << ", influence " << k;
                continue;
            }
            EXPECT_EQ(got.skin.joints[k], c.expected[k].first) << c.what << ", influence " << k;
            EXPECT_NEAR(got.skin.weights[k], c.expected[k].second, 1e-6) << c.what << ", influence " << k;
        }
        EXPECT_NEAR(sum, 1.0f, 1e-6) << c.what;
    }
}

TEST(GltfSkin, PosedSkinDeformsAsItsFramesGive)
{
    // Bone b0 stands a quarter turn about Z from where the skin was bound,
    // b1 below it is moved: the frames are posed away from the bind pose.
    dffw::Clump clump;
    dffw::Frame root, b0, b1;
    root.name = "root";
    b0.name = "b0", b0.parent = 0, b0.position = {0, 0, 4}, b0.right = {0, 1, 0}, b0.up = {-1, 0, 0};
    b1.name = "b1", b1.parent = 1, b1.position = {0, 3, 1};
    b0.hAnim = dffw::HAnim{}, b0.hAnim->boneId = 1;
    b1.hAnim = dffw::HAnim{}, b1.hAnim->boneId = 2;
    b0.hAnim->nodes = {dffw::HAnimNode{1, 0, 0}, dffw::HAnimNode{2, 1, 0}};
    clump.frames = {root, b0, b1};
    dffw::Geometry quad = dffw::makeQuad(2.0f);
    dffw::Skin skin;
    skin.usedBones = {0, 1};
    skin.boneIndices = {{0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}};
    skin.weights = {{1, 0, 0, 0}, {1, 0, 0, 0}, {0.25f, 0.75f, 0, 0}, {1, 0, 0, 0}};
    // Bound with b0 at (0,0,1) and b1 at (1,0,1) of the mesh, unturned.
    skin.inverseMatrices = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -1, 1},
                            {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -1, 0, -1, 1}};
    quad.extension.items.push_back(skin);
    clump.geometries = {quad};
    clump.atomics = {dffw::Atomic{}};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());
    ASSERT_EQ(scene.modifiers.size(), 1u);
    SkinModifier& hostSkin = *scene.modifiers[0];
    ASSERT_EQ(hostSkin.GetNumBones(), 2);

    // Where the frames put each file vertex: the weighted sum of vertex x
    // inverse bind matrix x the bone's world transform, in host space.
    const Mesh& mesh = dynamic_cast<TriObject*>(hostSkin.Node()->GetObjectRef())->mesh;
    std::map<std::array<float, 3>, Point3> expected;
    for (std::size_t v = 0; v < 4; ++v) {
        const Point3 p = mesh.verts[static_cast<int>(v)];
        Point3 posed(0, 0, 0);
        for (std::size_t k = 0; k < 4; ++k) {
            const auto& m = skin.inverseMatrices[skin.boneIndices[v][k]];
            const Matrix3 inverseBind(Point3(m[0], m[1], m[2]), Point3(m[4], m[5], m[6]), Point3(m[8], m[9], m[10]),
                                      Point3(m[12], m[13], m[14]));
            posed =
                posed + (p * inverseBind * hostSkin.GetBone(skin.boneIndices[v][k])->GetNodeTM(0)) * skin.weights[v][k];
        }
        expected[{p.x, p.y, p.z}] = posed;
    }

    const Exported e = exportAndLoad(scene, "posed-skin.glb");
    ASSERT_TRUE(e.ok);
    const tinygltf::Model& m = e.model;
    expectMatchesScene(scene, m, "posed skin");
    std::size_t checked = 0;
    for (const tinygltf::Primitive& prim : m.meshes.at(0).primitives) {
        const std::vector<float> pos = floatsOf(m, prim.attributes.at("POSITION"));
        const std::vector<std::array<double, 3>> skinned = skinnedPositions(m, m.skins.at(0), prim);
        for (std::size_t v = 0; v < pos.size() / 3; ++v) {
            const auto found = expected.find({pos[v * 3], pos[v * 3 + 1], pos[v * 3 + 2]});
            ASSERT_NE(found, expected.end());
            expectNear3(skinned[v], yUp(found->second), 1e-4, "vertex " + std::to_string(v));
            ++checked;
        }
    }
    EXPECT_GE(checked, 4u);
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

TEST(GltfScene, SkipPartsLeavesOutDamagedAndLowDetailVariants)
{
    resetScene();
    INode* chassis = dummyNode("chassis", Matrix3(TRUE));
    dummyNode("door_lf_ok", Matrix3(TRUE), chassis);
    INode* damaged = dummyNode("door_lf_dam", Matrix3(TRUE), chassis);
    dummyNode("handle", Matrix3(TRUE), damaged);  // below a damaged part: left out with it
    dummyNode("bonnet_VLO", Matrix3(TRUE), chassis);
    dummyNode("wheel_dummy", Matrix3(TRUE), chassis);
    const struct {
        std::vector<std::string> parts;
        std::vector<std::string> names;
    } cases[] = {
        {{}, {"chassis", "door_lf_ok", "door_lf_dam", "handle", "bonnet_VLO", "wheel_dummy"}},
        {{"dam"}, {"chassis", "door_lf_ok", "bonnet_VLO", "wheel_dummy"}},
        {{"dam", "vlo"}, {"chassis", "door_lf_ok", "wheel_dummy"}},
    };
    for (const auto& c : cases) {
        orvik::GltfOptions options;
        options.skipParts = c.parts;
        const Exported e = exportAndLoad(currentScene(), "parts.glb", {}, options);
        ASSERT_TRUE(e.ok);
        std::vector<std::string> names;
        for (std::size_t n = 1; n < e.model.nodes.size(); ++n) names.push_back(e.model.nodes[n].name);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(e.model.nodes[1].children.size(), c.names.size() - 1 - (c.parts.empty() ? 1 : 0));
        EXPECT_EQ(e.report.nodesSkipped, 6 - c.names.size());
    }
}

// A model's collision: its nodes under the one node "collision", each
// surface kind a translucent material of its own, the shapes' values in the
// extras; the 2d effects' lights point lights with their range (a fixed
// document). --game-view leaves the collision out.
TEST(GltfScene, CollisionTranslucentPerSurfaceAndEffectLightsWithRange)
{
    const Scene& scene = importBytes(dffw::write(corpus::boxWithExtras("model")));
    const Exported e = exportAndLoad(scene, "extras.gltf");
    ASSERT_TRUE(e.ok);
    expectGolden("gltf/extras.gltf", readFile(e.path), {{tempFolder(), "{temp}"}});
    orvik::GltfOptions gameView;
    gameView.gameView = true;
    const Exported g = exportAndLoad(scene, "game.glb", {}, gameView);
    ASSERT_TRUE(g.ok);
    for (const tinygltf::Node& n : g.model.nodes) EXPECT_EQ(n.name.rfind("collision", 0), std::string::npos) << n.name;
    EXPECT_EQ(g.report.nodesNotRendered, 5u);
    EXPECT_EQ(g.model.nodes.size() + 5, e.model.nodes.size());
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path, g.path});
}

// A .gltf's buffer beside it is fixed by the example's golden document.
TEST(GltfFiles, TargetsAreGlbOrGltfFilesWithTheBinBeside)
{
    EXPECT_EQ(orvik::checkGltfPath("out.GLB"), "");
    EXPECT_NE(orvik::checkGltfPath("out.obj"), "");
    EXPECT_NE(orvik::checkGltfPath("dir/.glb"), "");
    EXPECT_EQ(orvik::gltfBinPath("a/b.c/x.GLTF"), "a/b.c/x.bin");
}

// orvik import as a user runs it.
ProgramRun orvik(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {std::string(ORVIK_BIN_DIR) + "/orvik", "import", "--no-progress"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runHere(argv);
}

const std::string kExample = std::string(ORVIK_SOURCE_DIR) + "/examples/example.dff";

// The example's whole document and its buffer beside it, fixed, and valid.
TEST(GltfCommand, ExampleExportsItsFixedDocument)
{
    const std::string gltf = outputPath("example.gltf");
    const ProgramRun r = orvik({kExample, "--gltf", gltf});
    ASSERT_TRUE(r.exited && r.status == 0) << r;
    expectGolden("gltf/example.gltf", readFile(gltf), {kSourcePlace});
    expectGolden("gltf/example.bin", readFile(outputPath("example.bin")));
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({gltf});
}

TEST(GltfCommand, ImportWritesTheExportBesideTheDump)
{
    const std::string glb = outputPath("example-cli.glb");
    fs::remove(glb);
    // With the dump on standard output the export's summary goes to standard error.
    ProgramRun r = orvik({kExample, "--json", "-", "--gltf", glb});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_FALSE(json::parse(r.out, nullptr, false).is_discarded()) << "standard output is not the dump alone";
    EXPECT_NE(r.err.find(glb + ": glTF 2.0, "), std::string::npos) << r;
    r = orvik({kExample, "--gltf", glb});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find(glb + ": glTF 2.0, "), std::string::npos) << r;
    const std::string same = outputPath("same.glb");
    fs::remove(same);
    const std::vector<std::vector<std::string>> refused = {
        {"--gltf", outputPath("x.obj")},
        {"--json", same, "--gltf", same},  // the export would overwrite the dump
        {"--gltf", glb, "--skip-parts", "wheels"},
        {"--skip-parts", "dam"},  // goes with --gltf only
        {"--gltf", outputPath("missing/out.gltf")},
    };
    for (const auto& args : refused) {
        std::vector<std::string> all = {kExample};
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(orvik(all).status, 2) << args.back();
    }
    EXPECT_FALSE(fs::exists(outputPath("missing"))) << "nothing left behind";
    EXPECT_EQ(orvik({kExample, "--gltf", glb, "--skip-parts", "dam,vlo"}).status, 0);
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({glb});
}

// ---------------------------------------------------------------------------
// Animations: `import --ifp` as a user runs it, the export sampled as glTF
// viewers sample it and compared with the host's animated scene.

// Every node's world transform at time t under an animation: its channels
// sampled (linearly, rotations spherically), the node's own translation,
// rotation and scale where no channel moves them.
std::vector<Mat4> animatedWorlds(const tinygltf::Model& m, const tinygltf::Animation& a, double t)
{
    std::vector<tinygltf::Node> nodes = m.nodes;
    for (const tinygltf::AnimationChannel& c : a.channels) {
        tinygltf::Node& n = nodes[static_cast<std::size_t>(c.target_node)];
        EXPECT_TRUE(n.matrix.empty()) << "an animated node has a matrix";
        const tinygltf::AnimationSampler& s = a.samplers[static_cast<std::size_t>(c.sampler)];
        EXPECT_EQ(s.interpolation, "LINEAR");
        const std::vector<float> in = floatsOf(m, s.input), out = floatsOf(m, s.output);
        const std::size_t width = out.size() / in.size();
        std::size_t k = 0;
        while (k + 1 < in.size() && t >= in[k + 1]) ++k;
        const std::size_t k1 = std::min(k + 1, in.size() - 1);
        const double u = k1 == k ? 0.0 : std::clamp((t - in[k]) / (in[k1] - in[k]), 0.0, 1.0);
        double wa = 1 - u, wb = u, dot = 0;
        for (std::size_t i = 0; width == 4 && i < 4; ++i) dot += double(out[k * 4 + i]) * out[k1 * 4 + i];
        if (const double angle = std::acos(std::clamp(dot, -1.0, 1.0)); width == 4 && angle > 1e-9) {
            wa = std::sin((1 - u) * angle) / std::sin(angle), wb = std::sin(u * angle) / std::sin(angle);
        }
        std::vector<double> v(width);
        for (std::size_t i = 0; i < width; ++i) v[i] = wa * out[k * width + i] + wb * out[k1 * width + i];
        (c.target_path == "rotation" ? n.rotation : c.target_path == "translation" ? n.translation : n.scale) = v;
    }
    tinygltf::Model posed = m;
    posed.nodes = nodes;
    return worldMatrices(posed);
}

// The writer's figure and its packages, as files.
struct FigureFiles {
    std::string model = outputPath("figure.dff"), anpk = outputPath("figure-anpk.ifp"),
                anp3 = outputPath("figure-anp3.ifp");
};

const FigureFiles& figureFiles()
{
    static const FigureFiles f = [] {
        FigureFiles files;
        dffw::saveFile(files.model, dffw::write(figure::model()));
        dffw::saveFile(files.anpk, ifpw::write(figure::package(ifp::Layout::Anpk)));
        dffw::saveFile(files.anp3, ifpw::write(figure::package(ifp::Layout::Anp3)));
        return files;
    }();
    return f;
}

// The figure's whole animated document and its buffer, fixed, and valid.
TEST(GltfCommand, AnimatedFigureExportsItsFixedDocument)
{
    const std::string gltf = outputPath("figure-walk.gltf");
    const ProgramRun r = orvik({figureFiles().model, "--gltf", gltf, "--ifp", figureFiles().anpk});
    ASSERT_TRUE(r.exited && r.status == 0) << r;
    EXPECT_NE(r.out.find("1 skin, 0 lights, 2 animations\n"), std::string::npos) << r.out;
    expectGolden("gltf/figure-walk.gltf", readFile(gltf), {{fs::path(gltf).parent_path().string(), "{out}"}});
    expectGolden("gltf/figure-walk.bin", readFile(outputPath("figure-walk.bin")));
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({gltf});
}

// Every animation chosen becomes one glTF animation of its name; at each key
// time and between keys each node stands where the host's scene, animated
// by the importer, puts it; translation is animated only where the keys
// carry it, and times start at 0 s (an animation with earlier keys moved
// whole).
TEST(GltfAnimation, NodesFollowTheHostAtEveryTime)
{
    const FigureFiles& f = figureFiles();
    struct Case {
        std::string package;
        std::vector<std::string> args;   // --animation choices
        std::vector<std::string> names;  // the export's animations
    };
    const Case cases[] = {
        {f.anpk, {}, {"Walk", "Wave"}},
        {f.anp3, {"--animation", "wave", "--animation", "WALK", "--animation", "Wave"}, {"Wave", "Walk"}},
        {f.anp3, {"--animation", "Early"}, {"Early"}},  // keys from -1/6 s
    };
    std::vector<std::string> exports;
    for (const Case& c : cases) {
        const std::string glb = outputPath("figure-" + std::to_string(exports.size()) + ".glb");
        exports.push_back(glb);
        std::vector<std::string> args = {f.model, "--gltf", glb, "--ifp", c.package};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(orvik(args).status, 0) << glb;
        tinygltf::Model m;
        std::string err, warn;
        ASSERT_TRUE(tinygltf::TinyGLTF().LoadBinaryFromFile(&m, &err, &warn, glb)) << err;
        std::vector<std::string> names;
        for (const tinygltf::Animation& a : m.animations) names.push_back(a.name);
        ASSERT_EQ(names, c.names) << glb;
        for (const tinygltf::Animation& a : m.animations) {
            SCOPED_TRACE(glb + " " + a.name);
            const Scene& scene = importFile(f.model, quietHost());
            auto* options = static_cast<IfpImportOptions*>(GetIfpImportDesc()->GetInterface(IFP_IMPORT_OPTIONS_ID));
            options->SetAnimationName(a.name.c_str());
            ASSERT_EQ(runImport(*GetIfpImportDesc(), c.package).result, 1);
            options->SetAnimationName("");
            std::set<int> translated;
            for (const tinygltf::AnimationChannel& ch : a.channels) {
                const int input = a.samplers.at(static_cast<std::size_t>(ch.sampler)).input;
                const std::vector<float> times = floatsOf(m, input);
                EXPECT_EQ(times.front(), 0.0f);
                EXPECT_EQ(static_cast<float>(m.accessors.at(static_cast<std::size_t>(input)).maxValues.at(0)),
                          times.back());
                if (ch.target_path == "translation") translated.insert(ch.target_node);
            }
            EXPECT_EQ(translated, a.name == "Walk" ? std::set<int>{2} : std::set<int>{}) << "the top bone only";
            const double start = std::min(0, GetCOREInterface()->GetAnimRange().Start()) / 4800.0;
            for (double t = start; t <= 1.25; t += 0.125) {
                const std::vector<Mat4> world = animatedWorlds(m, a, t - start);
                for (std::size_t i = 0; i < scene.nodes.size(); ++i) {
                    const Matrix3 host = scene.nodes[i]->GetNodeTM(static_cast<TimeValue>(std::lround(t * 4800)));
                    for (const Point3 p : {Point3(0, 0, 0), Point3(1, 0, 0), Point3(0, 1, 0)}) {
                        expectNear3(apply(world[i + 1], {p.x, p.y, p.z}), yUp(p * host), 1e-4,
                                    std::string(scene.nodes[i]->GetName()) + " at " + std::to_string(t) + " s");
                    }
                }
            }
        }
    }
    ORVIK_REQUIRE_VALIDATOR();
    expectValid(exports);
}

// Names the package lacks, --animation without --ifp, --ifp without --gltf,
// a package that cannot be read: one line, exit status 2, nothing written.
// A model without a skin exports without animations and says so.
TEST(GltfCommand, AnimationOptionsRefusedInOneLine)
{
    const FigureFiles& f = figureFiles();
    const std::string glb = outputPath("refused.glb");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--ifp", f.anpk, "--animation", "Walk", "--animation", "run"},
         "figure-anpk.ifp: no animation named \"run\" (it holds 2: Walk, Wave)"},
        {{"--animation", "Walk"}, "--animation"},
        {{"--ifp", outputPath("missing.ifp")}, "missing.ifp: cannot be opened"},
        {{"--ifp", f.model}, "figure.dff: an animation package's file name ends in .ifp"},
    };
    for (const auto& [args, says] : cases) {
        fs::remove(glb);
        std::vector<std::string> all = {f.model, "--gltf", glb};
        all.insert(all.end(), args.begin(), args.end());
        const ProgramRun r = orvik(all);
        EXPECT_EQ(r.status, 2) << r;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(glb));
    }
    EXPECT_EQ(orvik({f.model, "--ifp", f.anpk}).status, 2) << "--ifp goes with --gltf";
    const ProgramRun r = orvik({kExample, "--gltf", glb, "--ifp", f.anpk});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_NE(r.err.find("example.dff: no skinned mesh: the animations are not applied"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(glb).find("\"animations\""), std::string::npos);
}

// Imports each model, exports it, compares the export with the scene and
// validates every export in one validator run.
void exportModelsAndCheck(const std::vector<std::string>& models, const std::string& prefix)
{
    std::vector<std::string> files;
    for (const std::string& model : models) {
        HostOptions options;
        options.bitmapPaths.push_back(fs::path(model).parent_path().string());
        const Scene& scene = importFile(model, options);
        ASSERT_FALSE(scene.nodes.empty()) << model;
        const std::string name = fs::path(model).stem().string();
        const Exported e = exportAndLoad(scene, prefix + name + ".glb");
        ASSERT_TRUE(e.ok) << model;
        expectMatchesScene(scene, e.model, name);
        files.push_back(e.path);
    }
    ORVIK_REQUIRE_VALIDATOR();
    expectValid(files);
}

// A vehicle as the writer makes it: a body in the primary placeholder, a
// bonnet in the secondary, a lamp, a trim in an ordinary colour and a grille
// one step off the primary; the wheel stored once, 0.1 outward of
// wheel_rf_dummy (unless storesWheel is false: the game then takes it from
// a wheel model); a damaged door and a low-detail boot.
dffw::Clump makeVehicle(bool storesWheel = true)
{
    dffw::Clump clump;
    auto part = [&](const std::string& name, std::uint32_t parent, dffw::Vec3 at, std::optional<dffw::Rgba> colour) {
        dffw::Frame f;
        f.name = name, f.parent = parent, f.position = at;
        clump.frames.push_back(f);
        const auto frame = static_cast<std::uint32_t>(clump.frames.size() - 1);
        if (colour) {
            dffw::Geometry g = dffw::makeCube(0.2f);
            g.materials[0].colour = *colour;
            clump.geometries.push_back(g);
            clump.atomics.push_back({frame, static_cast<std::uint32_t>(clump.geometries.size() - 1)});
        }
        return frame;
    };
    const std::uint32_t car = part("car", 0xFFFFFFFF, {0, 0, 0}, std::nullopt);
    part("chassis", car, {0, 0, 0.5f}, dffw::Rgba{60, 255, 0, 255});
    part("bonnet", car, {0, 1, 0.5f}, dffw::Rgba{255, 0, 175, 255});
    part("light_front", car, {0, 2, 0.5f}, dffw::Rgba{255, 175, 0, 255});
    part("trim", car, {0, -1, 0.5f}, dffw::Rgba{200, 200, 200, 255});
    part("grille", car, {0, 2, 0.2f}, dffw::Rgba{60, 255, 1, 255});
    const std::uint32_t rf = part("wheel_rf_dummy", car, {1, 1, 0}, std::nullopt);
    if (storesWheel) part("wheel", rf, {0.1f, 0, 0}, dffw::Rgba{20, 20, 20, 255});
    part("WHEEL_LF_DUMMY", car, {-1, 1, 0}, std::nullopt);
    part("wheel_rb_dummy", car, {1, -1, 0}, std::nullopt);
    part("wheel_lb_dummy", car, {-1, -1, 0}, std::nullopt);
    part("door_lf_dam", car, {-1, 0, 0.5f}, dffw::Rgba{60, 255, 0, 255});
    part("boot_vlo", car, {0, -2, 0.5f}, dffw::Rgba{60, 255, 0, 255});
    return clump;
}

TEST(GltfGameView, WriterVehicleOnFourWheelsInItsPaint)
{
    const Scene& scene = importBytes(dffw::write(makeVehicle()));
    orvik::GltfOptions options;
    options.gameView = true;
    options.paint = {{255, 0, 0}};  // the primary only: the secondary keeps its default
    const Exported e = exportAndLoad(scene, "vehicle-game-view.glb", {}, options);
    ASSERT_TRUE(e.ok);
    const tinygltf::Model& m = e.model;
    const std::vector<Mat4> world = worldMatrices(m);
    auto nodeNamed = [&](const std::string& name) {
        for (std::size_t n = 0; n < m.nodes.size(); ++n) {
            if (m.nodes[n].name == name) return static_cast<int>(n);
        }
        return -1;
    };
    EXPECT_LT(nodeNamed("door_lf_dam"), 0);
    EXPECT_LT(nodeNamed("boot_vlo"), 0);

    // Every wheel dummy holds the one wheel mesh, 0.1 outward of its dummy
    // (host x is glTF x), its x axis pointing out of the car's side.
    const int wheelMesh = m.nodes.at(static_cast<std::size_t>(nodeNamed("wheel"))).mesh;
    ASSERT_GE(wheelMesh, 0);
    const struct {
        const char* dummy;
        double outward;  // +1 right, -1 left
    } wheels[] = {{"wheel_rf_dummy", 1}, {"WHEEL_LF_DUMMY", -1}, {"wheel_rb_dummy", 1}, {"wheel_lb_dummy", -1}};
    for (const auto& w : wheels) {
        const int dummy = nodeNamed(w.dummy);
        ASSERT_GE(dummy, 0) << w.dummy;
        const std::vector<int>& children = m.nodes[static_cast<std::size_t>(dummy)].children;
        ASSERT_EQ(children.size(), 1u) << w.dummy;
        const auto wheel = static_cast<std::size_t>(children[0]);
        EXPECT_EQ(m.nodes[wheel].mesh, wheelMesh) << w.dummy << ": the same glTF mesh, not a copy";
        const std::array<double, 3> hub = apply(world[wheel], {0, 0, 0}), axis = apply(world[wheel], {1, 0, 0});
        EXPECT_NEAR(hub[0] - apply(world[static_cast<std::size_t>(dummy)], {0, 0, 0})[0], 0.1 * w.outward, 1e-6)
            << w.dummy;
        expectNear3({axis[0] - hub[0], axis[1] - hub[1], axis[2] - hub[2]}, {w.outward, 0, 0}, 1e-6, w.dummy);
        // Turned, not mirrored: its forward axis (host y, glTF -z) turns too.
        EXPECT_NEAR(apply(world[wheel], {0, 1, 0})[2] - hub[2], -w.outward, 1e-6) << w.dummy;
    }

    // Only exact placeholders change; the file's colour stays in the extras.
    const struct {
        const char* node;
        std::array<double, 3> colour;
        const char* kind;  // the extras' game view key, "" for none
        std::array<int, 3> fileColour;
    } colours[] = {
        {"chassis", {1, 0, 0}, "paint", {60, 255, 0}},
        {"bonnet", {43 / 255.0, 46 / 255.0, 51 / 255.0}, "paint", {255, 0, 175}},
        {"light_front", {1, 1, 1}, "unlitLamp", {255, 175, 0}},
        {"trim", {200 / 255.0, 200 / 255.0, 200 / 255.0}, "", {}},
        {"grille", {60 / 255.0, 1, 1 / 255.0}, "", {}},
    };
    for (const auto& c : colours) {
        const int node = nodeNamed(c.node);
        ASSERT_GE(node, 0) << c.node;
        const int mesh = m.nodes[static_cast<std::size_t>(node)].mesh;
        const auto material =
            static_cast<std::size_t>(m.meshes.at(static_cast<std::size_t>(mesh)).primitives.at(0).material);
        const std::vector<double>& base = m.materials.at(material).pbrMetallicRoughness.baseColorFactor;
        for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(base[i], c.colour[i], 1e-6) << c.node << " channel " << i;
        const ojson extras = extrasOf(e.path, "/materials/" + std::to_string(material));
        if (*c.kind == '\0') {
            EXPECT_FALSE(extras.contains("gameView")) << c.node;
            continue;
        }
        EXPECT_EQ(extras["gameView"][c.kind], true) << c.node;
        EXPECT_EQ(extras["gameView"]["fileColour"], (ojson{c.fileColour[0], c.fileColour[1], c.fileColour[2]}))
            << c.node;
    }
    EXPECT_EQ(e.report.wheelsPlaced, 3u);
    EXPECT_EQ(e.report.materialsPainted, 2u);
    EXPECT_EQ(e.report.lampsUnlit, 1u);
    EXPECT_EQ(e.report.nodesSkipped, 2u);
    ORVIK_REQUIRE_VALIDATOR();
    expectValid({e.path});
}

TEST(GltfGameView, AVehicleThatStoresNoWheelGetsOneAtEveryDummy)
{
    // The wheel comes from another model read into a scene of its own (a
    // vehicle's, or a wheel model's as the games' generic wheels are, with
    // a low-detail copy beside it), else it is generated.
    dffw::Clump wheelModel = dffw::makeBox("wheel", 0.6f, "wheel_saloon");
    wheelModel.frames.push_back(dffw::namedFrame("wheel_saloon_vlo"));
    wheelModel.geometries.push_back(wheelModel.geometries[0]);
    wheelModel.atomics.push_back({1, 1});
    const struct {
        const char* name;
        std::optional<dffw::Clump> wheels;
        const char* problem;  // findWheel's answer
        const char* mesh;     // the glTF mesh at every dummy
        double outward;       // the mesh's offset from its dummy, out of the car's side
        double scale;
    } cases[] = {
        {"generated", std::nullopt, "", "generated wheel", 0, 1},
        {"from a vehicle", makeVehicle(), "", "wheel", 0.1, 1},
        {"from a wheel model", wheelModel, "", "wheel_saloon", 0, orvik::kDefaultWheelScale},
        {"from a vehicle without one", makeVehicle(false), "its wheel dummies hold no wheel", "", 0, 1},
        {"from a model without meshes", dffw::Clump{}, "it holds no mesh to take as a wheel", "", 0, 1},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Scene> kept;
        orvik::BorrowedWheel borrowed;
        borrowed.file = "wheels.dff";
        orvik::GltfOptions options;
        options.gameView = true;
        if (c.wheels) {
            dffw::Clump clump = *c.wheels;
            if (clump.frames.empty()) clump.frames.push_back(dffw::Frame{});
            importBytes(dffw::write(clump));
            kept = takeScene();
            EXPECT_EQ(orvik::findWheel(*kept, borrowed), c.problem);
            if (*c.problem != '\0') continue;
            EXPECT_EQ(borrowed.parts.size(), 1u) << "the wheel, not its low-detail copy";
            options.wheels = &borrowed;
        }
        const Scene& scene = importBytes(dffw::write(makeVehicle(false)));
        const Exported e = exportAndLoad(scene, std::string("vehicle-wheels-") + c.name + ".glb", {}, options);
        ASSERT_TRUE(e.ok);
        const tinygltf::Model& m = e.model;
        const std::vector<Mat4> world = worldMatrices(m);
        int wheelMesh = -1;
        for (std::size_t n = 0; n < m.nodes.size(); ++n) {
            const std::string name = orvik::asciiLower(m.nodes[n].name);
            if (!name.starts_with("wheel_") || !name.ends_with("_dummy")) continue;
            const double outward = name[6] == 'l' ? -1 : 1;
            ASSERT_EQ(m.nodes[n].children.size(), 1u) << name;
            const auto wheel = static_cast<std::size_t>(m.nodes[n].children[0]);
            if (wheelMesh < 0) wheelMesh = m.nodes[wheel].mesh;
            EXPECT_EQ(m.nodes[wheel].mesh, wheelMesh) << name << ": the same glTF mesh, not a copy";
            const std::array<double, 3> hub = apply(world[wheel], {0, 0, 0}), axis = apply(world[wheel], {1, 0, 0});
            EXPECT_NEAR(hub[0] - apply(world[n], {0, 0, 0})[0], c.outward * outward, 1e-6) << name;
            expectNear3({axis[0] - hub[0], axis[1] - hub[1], axis[2] - hub[2]}, {outward * c.scale, 0, 0}, 1e-6, name);
        }
        ASSERT_GE(wheelMesh, 0);
        EXPECT_EQ(m.meshes[static_cast<std::size_t>(wheelMesh)].name, c.mesh);
        EXPECT_EQ(e.report.wheelsPlaced, 4u);
        EXPECT_EQ(e.report.wheelsSupplied, 4u);
        if (!c.wheels) {
            // A tyre and a rim, the wheel's size across its axle (host x).
            const tinygltf::Mesh& mesh = m.meshes[static_cast<std::size_t>(wheelMesh)];
            ASSERT_EQ(mesh.primitives.size(), 2u);
            std::array<double, 3> lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
            for (const tinygltf::Primitive& p : mesh.primitives) {
                const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(p.attributes.at("POSITION")));
                for (std::size_t k = 0; k < 3; ++k)
                    lo[k] = std::min(lo[k], a.minValues[k]), hi[k] = std::max(hi[k], a.maxValues[k]);
            }
            EXPECT_NEAR(hi[1] - lo[1], orvik::kGeneratedWheelDiameter, 1e-3);
            EXPECT_NEAR(hi[2] - lo[2], orvik::kGeneratedWheelDiameter, 1e-3);
            EXPECT_NEAR(hi[0] - lo[0], orvik::kGeneratedWheelWidth, 1e-3);
        }
        paths.push_back(e.path);
    }
    ORVIK_REQUIRE_VALIDATOR();
    expectValid(paths);
}

TEST(GltfGameView, SampleVehiclesStandOnEveryWheelWithoutPlaceholders)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::set<std::vector<int>> placeholders = {{60, 255, 0},  {255, 0, 175}, {0, 255, 255}, {255, 0, 255},
                                                     {255, 175, 0}, {0, 255, 200}, {185, 255, 0}, {255, 60, 0}};
    std::vector<std::string> paths;
    std::size_t vehicles = 0;
    for (const std::string& file : sampleDffFiles()) {
        SCOPED_TRACE(file);
        const Scene& scene = importFile(file);
        std::vector<INode*> dummies;
        for (INode* n : scene.nodes) {
            if (orvik::asciiLower(n->GetName()).starts_with("wheel_") &&
                orvik::asciiLower(n->GetName()).ends_with("_dummy")) {
                dummies.push_back(n);
            }
        }
        if (dummies.empty()) continue;
        ++vehicles;
        orvik::GltfOptions options;
        options.gameView = true;
        const Exported e = exportAndLoad(scene, "game-view-" + fs::path(file).stem().string() + ".glb", {}, options);
        ASSERT_TRUE(e.ok);
        const tinygltf::Model& m = e.model;
        // Each wheel dummy's nodes with a mesh, and the x axis of the first
        // along the dummy's own (car5's dummies are turned every way).
        std::map<std::string, std::pair<int, double>> wheels;
        const std::vector<Mat4> world = worldMatrices(m);
        for (std::size_t n = 0; n < m.nodes.size(); ++n) {
            const std::string name = orvik::asciiLower(m.nodes[n].name);
            EXPECT_FALSE(name.ends_with("_dam") || name.ends_with("_vlo")) << m.nodes[n].name;
            if (!name.starts_with("wheel_") || !name.ends_with("_dummy")) continue;
            auto& [count, facing] = wheels[name];
            std::vector<int> below = m.nodes[n].children;
            for (std::size_t k = 0; k < below.size(); ++k) {
                const tinygltf::Node& c = m.nodes[static_cast<std::size_t>(below[k])];
                below.insert(below.end(), c.children.begin(), c.children.end());
                if (c.mesh < 0) continue;
                if (count++ == 0) {
                    const Mat4& w = world[static_cast<std::size_t>(below[k])];
                    const std::array<double, 3> o = apply(w, {0, 0, 0}), x = apply(w, {1, 0, 0});
                    const std::array<double, 3> d = apply(world[n], {0, 0, 0}), dx = apply(world[n], {1, 0, 0});
                    facing = 0;
                    for (std::size_t i = 0; i < 3; ++i) facing += (x[i] - o[i]) * (dx[i] - d[i]);
                }
            }
        }
        // A wheel at every dummy, turned on the left: the one the model
        // stores, else (car5, ucl-kuruma: the game takes it from a wheel
        // model) a generated one.
        std::set<int> rightFacing, leftFacing;  // the sign of each wheel's x axis along its dummy's
        for (const auto& [name, wheel] : wheels) {
            EXPECT_GT(wheel.first, 0) << name << " has no wheel";
            (name[6] == 'l' ? leftFacing : rightFacing).insert(wheel.second > 0 ? 1 : -1);
        }
        const bool storesNone = file.ends_with("car5.dff") || file.ends_with("ucl-kuruma.dff");
        EXPECT_EQ(e.report.wheelsSupplied, storesNone ? wheels.size() : 0u);
        if (e.report.wheelsPlaced > 0) {
            ASSERT_EQ(rightFacing.size(), 1u);
            EXPECT_EQ(leftFacing, std::set<int>{-*rightFacing.begin()}) << "left wheels face the other way";
        }
        for (const tinygltf::Material& mat : m.materials) {
            const std::vector<double>& base = mat.pbrMetallicRoughness.baseColorFactor;
            const std::vector<int> rgb{static_cast<int>(std::lround(base[0] * 255)),
                                       static_cast<int>(std::lround(base[1] * 255)),
                                       static_cast<int>(std::lround(base[2] * 255))};
            EXPECT_EQ(placeholders.count(rgb), 0u) << mat.name << " keeps a placeholder colour";
        }
        paths.push_back(e.path);
    }
    EXPECT_GE(vehicles, 8u) << "car1 to car7 and ucl-kuruma";
    ORVIK_REQUIRE_VALIDATOR();
    expectValid(paths);
}

TEST(GltfSamples, EverySampleExportsValidAndMatchesItsScene)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::vector<std::string> models = sampleDffFiles();
    ASSERT_FALSE(models.empty());
    exportModelsAndCheck(models, "sample-");
}

TEST(GltfSamples, PosedPedestriansStandWithTheirSkeletons)
{
    // Their frames are posed away from the skins' bind pose: bound to the
    // frames as they stand, the mesh would lie a quarter turn across its
    // skeleton. Bound at the bind pose it fills the skeleton's box.
    ORVIK_REQUIRE_SAMPLES();
    for (const char* file : {"ped1.dff", "ped3.dff", "alp-skin-105.dff"}) {
        SCOPED_TRACE(file);
        const Scene& scene = importFile(samplePath(file));
        const Exported e = exportAndLoad(scene, std::string("standing-") + file + ".glb");
        ASSERT_TRUE(e.ok);
        const tinygltf::Model& m = e.model;
        ASSERT_EQ(m.skins.size(), 1u);
        // Extents of the skinned vertices as a viewer shows them, and of the joints.
        std::array<double, 3> lo{1e30, 1e30, 1e30}, hi{-1e30, -1e30, -1e30}, jlo = lo, jhi = hi;
        const std::vector<Mat4> world = worldMatrices(m);
        for (int j : m.skins[0].joints) {
            const Mat4& w = world[static_cast<std::size_t>(j)];
            for (std::size_t i = 0; i < 3; ++i)
                jlo[i] = std::min(jlo[i], w[12 + i]), jhi[i] = std::max(jhi[i], w[12 + i]);
        }
        for (const tinygltf::Node& n : m.nodes) {
            if (n.skin < 0 || n.mesh < 0) continue;
            for (const tinygltf::Primitive& prim : m.meshes[static_cast<std::size_t>(n.mesh)].primitives)
                for (const auto& p : skinnedPositions(m, m.skins[static_cast<std::size_t>(n.skin)], prim))
                    for (std::size_t i = 0; i < 3; ++i) lo[i] = std::min(lo[i], p[i]), hi[i] = std::max(hi[i], p[i]);
        }
        // The mesh's longest side lies along the skeleton's, about as long,
        // and both boxes share their middle.
        auto longest = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
            std::size_t axis = 0;
            for (std::size_t i = 1; i < 3; ++i)
                if (b[i] - a[i] > b[axis] - a[axis]) axis = i;
            return axis;
        };
        const std::size_t axis = longest(jlo, jhi);
        const double length = jhi[axis] - jlo[axis];
        ASSERT_GT(length, 0.0);
        EXPECT_EQ(longest(lo, hi), axis);
        EXPECT_GT(hi[axis] - lo[axis], 0.9 * length);
        EXPECT_LT(hi[axis] - lo[axis], 1.3 * length);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_NEAR((hi[i] + lo[i]) / 2, (jhi[i] + jlo[i]) / 2, 0.1 * length) << "axis " << i;
    }
}

// The textures taken from the dictionaries beside the models are embedded as
// PNG images the validator reads (it checks their signature and header).
TEST(GltfSamples, DictionaryTexturesEmbedValidImages)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::string orvik = std::string(ORVIK_BIN_DIR) + "/orvik";
    std::vector<std::string> files;
    for (const char* model : {"car5", "prop", "ucl-kuruma", "alp-skin-105"}) {
        const std::string glb = outputPath(std::string("dictionary-") + model + ".glb");
        fs::remove(glb);
        const ProgramRun r =
            runHere({orvik, "import", samplePath(std::string(model) + ".dff"), "--no-progress", "--gltf", glb});
        EXPECT_TRUE(r.exited && r.status == 0) << model << ": " << r.err;
        tinygltf::Model m;
        tinygltf::TinyGLTF loader;
        loader.SetImageLoader(keepImageBytes, nullptr);
        std::string err, warn;
        ASSERT_TRUE(loader.LoadBinaryFromFile(&m, &err, &warn, glb)) << model << ": " << err;
        EXPECT_FALSE(m.images.empty()) << model;
        for (const tinygltf::Image& image : m.images) EXPECT_EQ(image.mimeType, "image/png") << model;
        files.push_back(glb);
    }
    ORVIK_REQUIRE_VALIDATOR();
    expectValid(files);
}

TEST(GltfSamples, BundledExamplesExportValidAndMatchTheirScenes)
{
    std::vector<std::string> models;
    for (const auto& entry : fs::directory_iterator(std::string(ORVIK_SOURCE_DIR) + "/examples")) {
        if (entry.path().extension() == ".dff") models.push_back(entry.path().string());
    }
    ASSERT_FALSE(models.empty());
    exportModelsAndCheck(models, "example-");
}

}  // namespace
