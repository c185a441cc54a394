// Skinned models: the stand-in's Skin modifier and MAXScript rules, the
// skeleton the skinned build makes, its Skin setup and envelope script, and
// the real pedestrian models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/Fixtures.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"

namespace {

using dffw::atomic;

// ---------------------------------------------------------------------------
// Stand-in host fixtures

struct SkinnedMesh {
    INode* node = nullptr;
    SkinModifier* skin = nullptr;
};

INode* newMeshNode(int vertexCount)
{
    return GetCOREInterface()->CreateObjectNode(newMesh(vertexCount));
}

SkinnedMesh newSkinnedMesh(int vertexCount)
{
    SkinnedMesh m;
    m.node = newMeshNode(vertexCount);
    m.skin = static_cast<SkinModifier*>(GetCOREInterface()->CreateInstance(OSM_CLASS_ID, SKIN_CLASSID));
    GetCOREInterface12()->AddModifier(*m.node, *m.skin, 0);
    return m;
}

INode* newBoneNode()
{
    Interface* ip = GetCOREInterface();
    return ip->CreateObjectNode(static_cast<Object*>(
        static_cast<DummyObject*>(ip->CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)))));
}

template <class T>
Tab<T> tab(std::initializer_list<T> items)
{
    Tab<T> t;
    t.SetCount(static_cast<int>(items.size()));
    int i = 0;
    for (const T& item : items) t[i++] = item;
    return t;
}

using Pairs = std::vector<std::pair<int, float>>;

// Binds leSkin to the skin of a mesh that is the whole selection in the Modify panel.
void bindLeSkin(const SkinnedMesh& m)
{
    GetCOREInterface()->SelectNode(m.node, 1);
    GetCOREInterface()->SetCommandPanelTaskMode(TASK_MODE_MODIFY);
    ASSERT_TRUE(ExecuteMAXScriptScript("leSkin= modPanel.GetCurrentObject()"));
}

// ---------------------------------------------------------------------------
// Skinned model fixtures

struct BoneFrame {
    std::string name;
    std::int32_t id = 0;
    std::uint32_t parent = 0;
    dffw::Vec3 position{0, 0, 0};
};

// Frame 0 is the root "root"; frames 1.. are the bones, each with its HAnim
// ID; the first bone carries the HAnim node array, as real models do.
dffw::Clump skeleton(const std::vector<BoneFrame>& bones, const std::vector<dffw::HAnimNode>& nodes,
                     dffw::Vec3 rootPosition = {0, 0, 0})
{
    dffw::Clump clump;
    dffw::Frame root;
    root.name = "root";
    root.position = rootPosition;
    clump.frames.push_back(root);
    for (const BoneFrame& b : bones) {
        dffw::Frame f;
        f.name = b.name;
        f.parent = b.parent;
        f.position = b.position;
        dffw::HAnim h;
        h.boneId = b.id;
        f.hAnim = h;
        clump.frames.push_back(f);
    }
    dffw::Frame& holder = clump.frames.size() > 1 ? clump.frames[1] : clump.frames[0];
    if (!holder.hAnim) holder.hAnim = dffw::HAnim{};
    holder.hAnim->nodes = nodes;
    return clump;
}

// Bones with IDs 10, 20, ... in frame order, all under the root, and the
// HAnim array in the same order.
dffw::Clump straightSkeleton(int boneCount)
{
    std::vector<BoneFrame> bones;
    std::vector<dffw::HAnimNode> nodes;
    for (int i = 0; i < boneCount; ++i) {
        bones.push_back(BoneFrame{"bone" + std::to_string(i), 10 * (i + 1), 0, {0, 0, float(i)}});
        nodes.push_back(dffw::HAnimNode{10 * (i + 1), i, 0});
    }
    return skeleton(bones, nodes);
}

// A quad (4 vertices) with the given per-vertex bone indices and weights.
dffw::Geometry skinnedQuad(const std::vector<std::array<std::uint8_t, 4>>& indices,
                           const std::vector<std::array<float, 4>>& weights, std::size_t usedBoneCount,
                           std::size_t boneCount)
{
    dffw::Geometry g = dffw::makeQuad();
    dffw::Skin skin;
    for (std::size_t i = 0; i < usedBoneCount; ++i) skin.usedBones.push_back(static_cast<std::uint8_t>(i));
    skin.boneIndices = indices;
    skin.weights = weights;
    skin.inverseMatrices.assign(boneCount, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    g.extension.items.push_back(skin);
    return g;
}

// Every vertex fully on bone 0.
dffw::Geometry quadOnFirstBone(std::size_t boneCount)
{
    return skinnedQuad(std::vector<std::array<std::uint8_t, 4>>(4, {0, 0, 0, 0}),
                       std::vector<std::array<float, 4>>(4, {1, 0, 0, 0}), boneCount, boneCount);
}

std::vector<INode*> boneNodes(const SkinModifier& skin)
{
    std::vector<INode*> nodes;
    for (const SkinModifier::Bone& b : skin.Bones()) nodes.push_back(b.node);
    return nodes;
}

std::vector<std::string> scriptTexts(const Scene& scene)
{
    std::vector<std::string> texts;
    for (const ScriptRecord& r : scene.script) texts.push_back(r.text);
    return texts;
}

void expectEveryStatementOk(const Scene& scene)
{
    for (const ScriptRecord& r : scene.script) EXPECT_TRUE(r.ok) << r.text << ": " << r.error;
}

void expectFlattened(const SkinModifier& skin)
{
    for (const SkinModifier::Bone& b : skin.Bones()) {
        EXPECT_EQ(b.envelope.start, Point3(0, 0, 0));
        EXPECT_EQ(b.envelope.end, Point3(0, 0, 0));
        for (const SkinModifier::CrossSection& c : b.envelope.sections) {
            EXPECT_EQ(c.inner, 0.0f);
            EXPECT_EQ(c.outer, 0.0f);
        }
    }
}

// The statements of the script that begin with prefix, in order.
std::vector<std::string> statementsStarting(const Scene& scene, const std::string& prefix)
{
    std::vector<std::string> texts;
    for (const ScriptRecord& r : scene.script)
        if (r.text.rfind(prefix, 0) == 0) texts.push_back(r.text);
    return texts;
}

// The system log's information entries, in order.
std::vector<std::string> infoEntries(const Scene& scene)
{
    std::vector<std::string> texts;
    for (const LogRecord& r : scene.log)
        if (r.type == SYSLOG_INFO) texts.push_back(r.text);
    return texts;
}

bool hasInfoEntry(const Scene& scene, const std::string& text)
{
    const std::vector<std::string> texts = infoEntries(scene);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A 4x4 inverse bone matrix of the file (rows right, up, at, position).
std::array<float, 16> matrix16(const Matrix3& m)
{
    std::array<float, 16> out{};
    for (std::size_t r = 0; r < 4; ++r) {
        const Point3 p = m.GetRow(static_cast<int>(r));
        out[4 * r] = p.x, out[4 * r + 1] = p.y, out[4 * r + 2] = p.z, out[4 * r + 3] = r == 3 ? 1.0f : 0.0f;
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// The stand-in's Skin modifier

TEST(SkinModifierHost, InterfacesAndBoneList)
{
    resetScene(quietHost());
    SkinnedMesh m = newSkinnedMesh(3);
    EXPECT_EQ(m.skin->GetInterface(I_SKINIMPORTDATA), static_cast<ISkinImportData*>(m.skin));
    EXPECT_EQ(m.skin->GetInterface(I_SKIN), static_cast<ISkin*>(m.skin));
    EXPECT_EQ(m.skin->GetInterface(0x12345), nullptr);

    INode* a = newBoneNode();
    INode* b = newBoneNode();
    EXPECT_TRUE(m.skin->AddBoneEx(a, FALSE));
    EXPECT_FALSE(m.skin->AddBoneEx(a, TRUE));
    EXPECT_FALSE(m.skin->AddBoneEx(nullptr, FALSE));
    EXPECT_TRUE(m.skin->AddBoneEx(b, FALSE));
    EXPECT_EQ(m.skin->GetNumBones(), 2);
    EXPECT_EQ(m.skin->GetBone(0), a);
    EXPECT_EQ(m.skin->GetBone(1), b);
    EXPECT_EQ(m.skin->GetBone(2), nullptr);
    EXPECT_EQ(m.skin->GetBone(-1), nullptr);

    // A new bone's envelope is not flat, so flattening is visible.
    const SkinModifier::Envelope& e = m.skin->Bones()[0].envelope;
    EXPECT_FALSE(e.start == e.end);
    EXPECT_GT(e.sections[0].inner, 0.0f);
    EXPECT_GT(e.sections[1].outer, 0.0f);
}

TEST(SkinModifierHost, WeightsNeedEvaluationAndKnownBones)
{
    resetScene(quietHost());
    SkinnedMesh m = newSkinnedMesh(2);
    INode* a = newBoneNode();
    INode* b = newBoneNode();
    INode* stranger = newBoneNode();
    m.skin->AddBoneEx(a, FALSE);
    m.skin->AddBoneEx(b, FALSE);
    Tab<INode*> bones = tab<INode*>({b, a});
    Tab<float> weights = tab<float>({0.25f, 0.0f});

    EXPECT_FALSE(m.skin->AddWeights(m.node, 0, bones, weights)) << "before evaluation";
    EXPECT_FALSE(m.skin->Evaluated());
    m.node->EvalWorldState(0, TRUE);
    EXPECT_TRUE(m.skin->Evaluated());
    ASSERT_EQ(m.skin->Weights().size(), 2u);

    EXPECT_TRUE(m.skin->AddWeights(m.node, 1, bones, weights));
    EXPECT_EQ(m.skin->Weights()[1], (Pairs{{1, 0.25f}, {0, 0.0f}}));
    EXPECT_TRUE(m.skin->Weights()[0].empty());

    Tab<INode*> unknown = tab<INode*>({a, stranger});
    Tab<INode*> withNull = tab<INode*>({a, nullptr});
    Tab<float> one = tab<float>({1.0f});
    EXPECT_FALSE(m.skin->AddWeights(m.node, 1, unknown, weights));
    EXPECT_FALSE(m.skin->AddWeights(m.node, 1, withNull, weights));
    EXPECT_FALSE(m.skin->AddWeights(m.node, 1, bones, one)) << "lists of different lengths";
    EXPECT_FALSE(m.skin->AddWeights(m.node, 2, bones, weights)) << "vertex not below the count";
    EXPECT_FALSE(m.skin->AddWeights(m.node, -1, bones, weights));
    EXPECT_FALSE(m.skin->AddWeights(stranger, 1, bones, weights)) << "not the skinned node";
    EXPECT_EQ(m.skin->Weights()[1], (Pairs{{1, 0.25f}, {0, 0.0f}})) << "failures change nothing";

    // A later call replaces the vertex's pairs.
    Tab<INode*> single = tab<INode*>({a});
    EXPECT_TRUE(m.skin->AddWeights(m.node, 1, single, one));
    EXPECT_EQ(m.skin->Weights()[1], (Pairs{{0, 1.0f}}));
}

// ---------------------------------------------------------------------------
// The stand-in's MAXScript

TEST(MaxScriptHost, CurrentObjectNeedsModifyPanelAndOneSelectedNode)
{
    Scene& scene = resetScene(quietHost());
    SkinnedMesh first = newSkinnedMesh(1);
    SkinnedMesh second = newSkinnedMesh(1);
    Interface* ip = GetCOREInterface();
    const char* bind = "leSkin= modPanel.GetCurrentObject()";

    ip->SelectNode(first.node, 1);
    EXPECT_TRUE(ExecuteMAXScriptScript(bind));  // create panel: undefined, not an error
    ASSERT_EQ(scene.globals.count("leSkin"), 1u);
    EXPECT_EQ(scene.globals["leSkin"], nullptr);

    ip->SetCommandPanelTaskMode(TASK_MODE_MODIFY);
    EXPECT_TRUE(ExecuteMAXScriptScript(bind));
    EXPECT_EQ(scene.globals["leSkin"], first.skin);

    ip->SelectNode(second.node, 0);
    EXPECT_TRUE(ExecuteMAXScriptScript(bind));
    EXPECT_EQ(scene.globals["leSkin"], nullptr) << "two nodes selected";

    ip->SelectNode(second.node, 1);
    EXPECT_TRUE(ExecuteMAXScriptScript("other = modPanel.GetCurrentObject()"));
    EXPECT_EQ(scene.globals["other"], second.skin);

    ip->SelectNode(newMeshNode(1), 1);
    EXPECT_TRUE(ExecuteMAXScriptScript(bind));
    EXPECT_EQ(scene.globals["leSkin"], nullptr) << "no modifier on the node";
    for (const ScriptRecord& r : scene.script) EXPECT_TRUE(r.ok && r.error.empty()) << r.text;
}

TEST(MaxScriptHost, SkinOpsSetTheAddressedBoneAndCrossSection)
{
    Scene& scene = resetScene(quietHost());
    SkinnedMesh m = newSkinnedMesh(1);
    INode* a = newBoneNode();
    INode* b = newBoneNode();
    m.skin->AddBoneEx(a, FALSE);
    m.skin->AddBoneEx(b, FALSE);
    bindLeSkin(m);
    const SkinModifier::Envelope untouched = m.skin->Bones()[0].envelope;

    EXPECT_TRUE(ExecuteMAXScriptScript("skinops.SetStartPoint leSkin 2 [1.5,-2,3]"));
    EXPECT_TRUE(ExecuteMAXScriptScript("skinops.SetEndPoint leSkin 2 [4, 5, 6e1]"));
    EXPECT_TRUE(ExecuteMAXScriptScript("skinops.SetInnerRadius leSkin 2 1 0.5"));
    EXPECT_TRUE(ExecuteMAXScriptScript("skinops.SetOuterRadius leSkin 2 2 7"));
    const SkinModifier::Envelope& e = m.skin->Bones()[1].envelope;
    EXPECT_EQ(e.start, Point3(1.5f, -2.0f, 3.0f));
    EXPECT_EQ(e.end, Point3(4.0f, 5.0f, 60.0f));
    EXPECT_EQ(e.sections[0].inner, 0.5f);
    EXPECT_EQ(e.sections[1].outer, 7.0f);
    EXPECT_EQ(e.sections[1].inner, untouched.sections[1].inner);
    EXPECT_EQ(e.sections[0].outer, untouched.sections[0].outer);
    const SkinModifier::Envelope& first = m.skin->Bones()[0].envelope;
    EXPECT_EQ(first.start, untouched.start);
    EXPECT_EQ(first.sections[0].inner, untouched.sections[0].inner);
    ASSERT_EQ(scene.script.size(), 5u);
    EXPECT_EQ(scene.script[1].text, "skinops.SetStartPoint leSkin 2 [1.5,-2,3]");
    expectEveryStatementOk(scene);
}

TEST(MaxScriptHost, ErrorsAreRecordedAndChangeNothing)
{
    Scene& scene = resetScene(quietHost());
    SkinnedMesh m = newSkinnedMesh(1);
    m.skin->AddBoneEx(newBoneNode(), FALSE);
    bindLeSkin(m);
    const SkinModifier::Envelope before = m.skin->Bones()[0].envelope;
    const std::vector<std::string> bad = {
        "skinops.SetStartPoint leSkin 0 [0,0,0]",  // bones count from 1
        "skinops.SetEndPoint leSkin 2 [0,0,0]",    // one bone only
        "skinops.SetInnerRadius leSkin 1 3 0",     // two cross sections
        "skinops.SetOuterRadius leSkin 1 0 0",
        "skinops.SetStartPoint nobody 1 [0,0,0]",  // never bound
        "skinops.SetStartPoint leSkin 1 [0,0]",    // malformed
        "skinops.SetInnerRadius leSkin 1 1 0 extra",
        "skinops.SetBoneName leSkin 1 \"x\"",  // not a statement the host knows
        "print 3",
        "",
    };
    for (const std::string& text : bad) EXPECT_FALSE(ExecuteMAXScriptScript(text.c_str())) << text;

    // A global bound to undefined.
    GetCOREInterface()->ClearNodeSelection();
    EXPECT_TRUE(ExecuteMAXScriptScript("leSkin= modPanel.GetCurrentObject()"));
    EXPECT_FALSE(ExecuteMAXScriptScript("skinops.SetStartPoint leSkin 1 [0,0,0]"));

    const SkinModifier::Envelope& after = m.skin->Bones()[0].envelope;
    EXPECT_EQ(after.start, before.start);
    EXPECT_EQ(after.end, before.end);
    EXPECT_EQ(after.sections[0].inner, before.sections[0].inner);
    EXPECT_EQ(after.sections[1].outer, before.sections[1].outer);
    ASSERT_EQ(scene.script.size(), bad.size() + 3);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        const ScriptRecord& r = scene.script[i + 1];
        EXPECT_EQ(r.text, bad[i]);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty()) << r.text;
    }
    EXPECT_FALSE(scene.script.back().ok);
}

TEST(MaxScriptHost, ErrorsArePrintedUnlessQuietOrSwitchedOff)
{
    resetScene();
    testing::internal::CaptureStderr();
    ExecuteMAXScriptScript("skinops.SetStartPoint leSkin 1 [0,0,0]", FALSE);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("skinops.SetStartPoint leSkin 1 [0,0,0]"), std::string::npos);

    testing::internal::CaptureStderr();
    ExecuteMAXScriptScript("skinops.SetStartPoint leSkin 1 [0,0,0]", TRUE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    resetScene(quietHost());
    testing::internal::CaptureStderr();
    ExecuteMAXScriptScript("skinops.SetStartPoint leSkin 1 [0,0,0]", FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(currentScene().script.size(), 1u);
    EXPECT_FALSE(currentScene().script[0].ok);
}

// ---------------------------------------------------------------------------
// The skinned build

TEST(SkinnedBuild, BonesFollowTheHAnimArrayNotTheFrameOrder)
{
    // Frames list the bones 30, 10, 20; the HAnim array lists 10, 20, 30.
    dffw::Clump clump = skeleton({{"c", 30, 0}, {"a", 10, 0}, {"b", 20, 0}}, {{10, 0, 2}, {20, 1, 0}, {30, 2, 1}});
    clump.geometries = {skinnedQuad({{0, 1, 2, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, {0, 0, 0, 0}},
                                    {{0.5f, 0.25f, 0.25f, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}}, 3, 3)};
    clump.atomics = {atomic(0, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.modifiers.size(), 1u);
    const SkinModifier& skin = *scene.modifiers[0];
    INode* a = nodeNamed(scene, "a");
    INode* b = nodeNamed(scene, "b");
    INode* c = nodeNamed(scene, "c");
    EXPECT_EQ(boneNodes(skin), (std::vector<INode*>{a, b, c}));
    // Per-vertex indices name HAnim entries, so they name the same bones.
    ASSERT_EQ(skin.Weights().size(), 4u);
    EXPECT_EQ(skin.Weights()[0], (Pairs{{0, 0.5f}, {1, 0.25f}, {2, 0.25f}, {0, 0.0f}}));
    EXPECT_EQ(skin.Weights()[2][0], (std::pair<int, float>{2, 1.0f}));

    // User properties, in order, from the bone's HAnim entry.
    const nlohmann::ordered_json dump = dumpOrderedJson(scene);
    const nlohmann::ordered_json& props = dump["nodes"][a->SceneIndex()]["userProps"];
    EXPECT_EQ(props.dump(), R"({"BoneId":10,"BoneType":2,"BoneIndex":0,"FrameName":"a","SPunknown":3})");
    EXPECT_EQ(dump["nodes"][c->SceneIndex()]["userProps"].dump(),
              R"({"BoneId":30,"BoneType":1,"BoneIndex":2,"FrameName":"c","SPunknown":3})");
    EXPECT_TRUE(nodeNamed(scene, "root")->UserProps().empty());
    for (INode* n : {a, b, c, nodeNamed(scene, "root")}) EXPECT_EQ(n->BoneDisplay(), 2);
}

TEST(SkinnedBuild, RootTurnsAndMeshesStandApartAtTheirFrames)
{
    // The atomic stands on bone "tip", a child of the root at (0,0,4).
    dffw::Clump clump = skeleton({{"tip", 1, 0, {0, 0, 4}}}, {{1, 0, 0}}, {1, 2, 3});
    clump.geometries = {quadOnFirstBone(1)};
    clump.atomics = {atomic(1, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.nodes.size(), 3u);
    INode* root = nodeNamed(scene, "root");
    INode* tip = nodeNamed(scene, "tip");
    INode* mesh = scene.nodes[2];
    // A quarter turn about X: y goes to z, z to -y, the position turning too.
    const Matrix3 r = root->GetNodeTM(0);
    expectNear(r.GetRow(0), 1, 0, 0);
    expectNear(r.GetRow(1), 0, 0, 1);
    expectNear(r.GetRow(2), 0, -1, 0);
    expectNear(r.GetTrans(), 1, -3, 2);
    expectNear(tip->GetNodeTM(0).GetTrans(), 1, -7, 2);
    EXPECT_EQ(tip->GetParentNode(), root);

    // Frames with atomics are dummies too; the mesh is a top-level node of its own.
    EXPECT_NE(dynamic_cast<DummyObject*>(tip->GetObjectRef()), nullptr);
    EXPECT_EQ(mesh->GetParentNode(), nullptr);
    EXPECT_EQ(mesh->NumberOfChildren(), 0);
    EXPECT_TRUE(mesh->GetNodeTM(0) == tip->GetNodeTM(0));
    EXPECT_NE(mesh->GetMtl(), nullptr);
    ASSERT_EQ(mesh->Modifiers().size(), 1u);
    EXPECT_EQ(mesh->Modifiers()[0], scene.modifiers[0]);
    EXPECT_EQ(scene.modifiers[0]->Node(), mesh);
}

TEST(SkinnedBuild, WeightsByPositionKeepZerosUnnormalised)
{
    dffw::Clump clump = straightSkeleton(3);
    clump.geometries = {skinnedQuad({{0, 1, 0, 0}, {2, 0, 0, 0}, {1, 2, 0, 0}, {0, 0, 0, 0}},
                                    {{0.75f, 0.25f, 0, 0}, {1, 0, 0, 0}, {0.5f, 0.2f, 0, 0}, {0, 0, 0, 0}}, 3, 3)};
    clump.atomics = {atomic(0, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.modifiers.size(), 1u);
    const auto& w = scene.modifiers[0]->Weights();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0], (Pairs{{0, 0.75f}, {1, 0.25f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[1], (Pairs{{2, 1.0f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[2], (Pairs{{1, 0.5f}, {2, 0.2f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[3], (Pairs{{0, 0.0f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
}

TEST(SkinnedBuild, WeightsThatAreNotNumbersAreGivenAsZero)
{
    const float nan = std::nanf(""), inf = INFINITY;
    dffw::Clump clump = straightSkeleton(2);
    clump.geometries = {skinnedQuad({{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 0}},
                                    {{nan, 1, 0, 0}, {-inf, nan, 0, 0}, {0.5f, inf, 0, 0}, {1, 0, 0, 0}}, 2, 2)};
    clump.atomics = {atomic(0, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.modifiers.size(), 1u);
    const auto& w = scene.modifiers[0]->Weights();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0], (Pairs{{0, 0.0f}, {1, 1.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[1], (Pairs{{1, 0.0f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[2], (Pairs{{0, 0.5f}, {1, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_TRUE(hasInfoEntry(scene, "4 weights that were not numbers given as 0"));
}

TEST(SkinnedBuild, BonesAreBoundAtTheFilesBindPoseInBothLayouts)
{
    // The mesh stands on the turned root. Bone 0's inverse bind matrix puts
    // it at (1,0,0) of the mesh, away from its frame at (0,0,4); bone 1's
    // matrix cannot be inverted; bone 2's is where its frame stands.
    dffw::Clump clump = skeleton({{"b0", 1, 0, {0, 0, 4}}, {"b1", 2, 0, {0, 2, 0}}, {"b2", 3, 0, {5, 0, 0}}},
                                 {{1, 0, 0}, {2, 1, 0}, {3, 2, 0}});
    dffw::Geometry g = quadOnFirstBone(3);
    auto& skin = std::get<dffw::Skin>(g.extension.items[0]);
    skin.inverseMatrices = {matrix16(Matrix3(Point3(1, 0, 0), Point3(0, 1, 0), Point3(0, 0, 1), Point3(-1, 0, 0))),
                            matrix16(Matrix3(Point3(1, 0, 0), Point3(2, 0, 0), Point3(0, 0, 1), Point3(0, 0, 0))),
                            matrix16(Matrix3(Point3(1, 0, 0), Point3(0, 1, 0), Point3(0, 0, 1), Point3(-5, 0, 0)))};
    skin.inverseMatrices[0][3] = 2.0f;  // the fourth column is not read
    clump.geometries = {g};
    clump.atomics = {atomic(0, 0)};
    for (const bool marked : {false, true}) {
        SCOPED_TRACE(marked ? "marker before each matrix" : "plain matrices");
        auto& s = std::get<dffw::Skin>(clump.geometries[0].extension.items[0]);
        if (marked) s.matrixMarker = 0xDEADDEAD, s.maxWeights = 0;
        const Scene& scene = importBytes(dffw::write(clump), quietHost());
        ASSERT_EQ(scene.modifiers.size(), 1u);
        SkinModifier* sk = scene.modifiers[0];
        INode* mesh = sk->Node();
        const Matrix3 meshTm = mesh->GetNodeTM(0);
        Matrix3 tm;
        ASSERT_EQ(sk->GetSkinInitTM(mesh, tm), SKIN_OK);
        expectNear(tm, meshTm);
        ASSERT_EQ(sk->GetNumBones(), 3);
        const Matrix3 turned(Point3(1, 0, 0), Point3(0, 0, 1), Point3(0, -1, 0), Point3(0, 0, 0));
        ASSERT_EQ(sk->GetBoneInitTM(sk->GetBone(0), tm), SKIN_OK);
        expectNear(tm, Matrix3(turned.GetRow(0), turned.GetRow(1), turned.GetRow(2), Point3(1, 0, 0)));
        ASSERT_EQ(sk->GetBoneInitTM(sk->GetBone(1), tm), SKIN_OK);
        expectNear(tm, sk->GetBone(1)->GetNodeTM(0));
        ASSERT_EQ(sk->GetBoneInitTM(sk->GetBone(2), tm), SKIN_OK);
        expectNear(tm, sk->GetBone(2)->GetNodeTM(0));
        // The dump gives the same bind pose.
        const nlohmann::json d = dumpJson(scene);
        EXPECT_NEAR(d["modifiers"][0]["boneInitTms"][0][3][0].get<double>(), 1.0, 1e-5);
        EXPECT_EQ(d["modifiers"][0]["boneInitTms"].size(), 3u);
        EXPECT_EQ(infoEntries(scene),
                  (std::vector<std::string>{
                      "1 bone bound at the skin's bind pose, away from where its frame stands",
                      "1 inverse bone matrix that cannot be inverted: its bone is bound where its frame stands"}));
    }
}

TEST(SkinnedBuild, WeightsStayOnTheirVertexWhenUnusedVerticesAreRemoved)
{
    // File vertex 1 is used by no face: the mesh drops it, and the weights of
    // file vertices 2.. must move down with their vertices.
    dffw::Clump clump = straightSkeleton(3);
    dffw::Geometry g = skinnedQuad({{0, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}},
                                   {{1, 0, 0, 0}, {1, 0, 0, 0}, {0.5f, 0, 0, 0}, {0.25f, 0, 0, 0}}, 3, 3);
    g.positions.insert(g.positions.begin() + 1, dffw::Vec3{9, 9, 9});
    g.normals.insert(g.normals.begin() + 1, dffw::Vec3{0, 0, 1});
    for (auto& set : g.texCoords) set.insert(set.begin() + 1, {0, 0});
    for (auto& t : g.triangles)
        for (std::uint16_t* v : {&t.v0, &t.v1, &t.v2})
            if (*v >= 1) ++*v;
    auto& skin = std::get<dffw::Skin>(g.extension.items[0]);
    skin.boneIndices = {{0, 0, 0, 0}, {2, 2, 2, 2}, {1, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}};
    skin.weights = {{1, 0, 0, 0}, {0.9f, 0, 0, 0}, {1, 0, 0, 0}, {0.5f, 0, 0, 0}, {0.25f, 0, 0, 0}};
    clump.geometries = {g};
    clump.atomics = {atomic(0, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.meshes.size(), 1u);
    ASSERT_EQ(scene.meshes[0]->mesh.numVerts, 4);
    ASSERT_EQ(scene.modifiers.size(), 1u);
    const auto& w = scene.modifiers[0]->Weights();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0], (Pairs{{0, 1.0f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[1], (Pairs{{1, 1.0f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[2], (Pairs{{1, 0.5f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(w[3], (Pairs{{2, 0.25f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
}

// The whole dump of a three-bone skin, fixed: the bone dummies and their
// properties, the Skin's bones, flattened envelopes, weights and bind pose,
// the envelope script bone by bone, the selection, panel and undo it leaves.
TEST(SkinnedBuild, DumpOfAThreeBoneSkin)
{
    dffw::Clump clump = straightSkeleton(3);
    clump.geometries = {skinnedQuad({{0, 1, 0, 0}, {1, 2, 0, 0}, {2, 0, 0, 0}, {0, 0, 0, 0}},
                                    {{0.75f, 0.25f, 0, 0}, {0.5f, 0.5f, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}}, 3, 3)};
    clump.atomics = {atomic(0, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());
    expectEveryStatementOk(scene);
    expectGolden("dump/skin-three-bones.json", dumpText(scene), {{tempFolder(), "{temp}"}});
}

TEST(SkinnedBuild, OneFrameSkeletonAddsNoBones)
{
    dffw::Clump clump = skeleton({}, {});
    clump.geometries = {quadOnFirstBone(1)};
    clump.atomics = {atomic(0, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.nodes.size(), 2u);
    ASSERT_EQ(scene.modifiers.size(), 1u);
    EXPECT_EQ(scene.modifiers[0]->GetNumBones(), 0);
    EXPECT_EQ(scriptTexts(scene), (std::vector<std::string>{"leSkin= modPanel.GetCurrentObject()"}));
    // Bone index 0 names no bone: no pair is given.
    for (const auto& pairs : scene.modifiers[0]->Weights()) EXPECT_TRUE(pairs.empty());
    EXPECT_TRUE(scene.nodes[0]->UserProps().empty());
}

TEST(SkinnedBuild, EachMeshBindsItsOwnSkin)
{
    dffw::Clump clump = straightSkeleton(2);
    dffw::Geometry first = quadOnFirstBone(2);
    dffw::Geometry second = skinnedQuad(std::vector<std::array<std::uint8_t, 4>>(4, {1, 0, 0, 0}),
                                        std::vector<std::array<float, 4>>(4, {1, 0, 0, 0}), 1, 2);
    clump.geometries = {first, dffw::makeCube(), second};
    // The cube carries no skin: a mesh node without a Skin.
    clump.atomics = {atomic(0, 0), atomic(1, 1), atomic(2, 2)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.nodes.size(), 6u);
    ASSERT_EQ(scene.modifiers.size(), 2u);
    INode* firstMesh = scene.nodes[3];
    INode* cube = scene.nodes[4];
    INode* secondMesh = scene.nodes[5];
    EXPECT_EQ(scene.modifiers[0]->Node(), firstMesh);
    EXPECT_EQ(scene.modifiers[1]->Node(), secondMesh);
    EXPECT_TRUE(cube->Modifiers().empty());
    // The unskinned cube is a rigid part riding on its frame's bone, where
    // the frame stands; the skinned meshes stay unlinked.
    INode* bone0 = nodeNamed(scene, "bone0");
    EXPECT_EQ(cube->GetParentNode(), bone0);
    expectNear(cube->GetNodeTM(0), bone0->GetNodeTM(0));
    EXPECT_EQ(firstMesh->GetParentNode(), nullptr);
    EXPECT_EQ(secondMesh->GetParentNode(), nullptr);
    EXPECT_TRUE(hasInfoEntry(scene, "1 rigid part of a skinned model linked to its frame"));
    expectEveryStatementOk(scene);
    for (SkinModifier* skin : scene.modifiers) {
        EXPECT_EQ(skin->GetNumBones(), 2);
        expectFlattened(*skin);
    }
    EXPECT_EQ(scene.modifiers[1]->Weights()[0], (Pairs{{1, 1.0f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));

    // One binding and both bones' flattening per skinned mesh.
    EXPECT_EQ(statementsStarting(scene, "leSkin="),
              (std::vector<std::string>(2, "leSkin= modPanel.GetCurrentObject()")));
    EXPECT_EQ(scene.script.size(), 2u * (1u + 2u * 8u));
    EXPECT_EQ(scene.selection, (std::vector<INode*>{secondMesh}));
    EXPECT_EQ(scene.undo, (std::vector<std::string>{"Selection", "Selection"}));
    EXPECT_EQ(scene.globals.at("leSkin"), scene.modifiers[1]);
    // The bones carry the used-bone count of the last mesh set up.
    int used = 0;
    EXPECT_TRUE(nodeNamed(scene, "bone0")->GetUserPropInt("SPunknown", used));
    EXPECT_EQ(used, 1);
}

TEST(SkinnedBuild, ShortOrUnmappedHAnimEntriesAreSkipped)
{
    // Four bones; the HAnim array has three entries, the second naming an ID
    // no frame carries. The per-vertex indices name entries 0 to 3.
    dffw::Clump clump =
        skeleton({{"a", 1, 0}, {"b", 2, 0}, {"c", 3, 0}, {"d", 4, 0}}, {{1, 0, 0}, {99, 1, 0}, {3, 2, 0}});
    clump.geometries = {skinnedQuad({{0, 1, 2, 3}, {2, 0, 0, 0}, {3, 1, 0, 0}, {0, 0, 0, 0}},
                                    {{0.25f, 0.25f, 0.25f, 0.25f}, {1, 0, 0, 0}, {0.5f, 0.5f, 0, 0}, {1, 0, 0, 0}}, 4,
                                    4)};
    clump.atomics = {atomic(0, 0)};
    const Scene& scene = importBytes(dffw::write(clump), quietHost());

    ASSERT_EQ(scene.modifiers.size(), 1u);
    const SkinModifier& skin = *scene.modifiers[0];
    EXPECT_EQ(boneNodes(skin), (std::vector<INode*>{nodeNamed(scene, "a"), nodeNamed(scene, "c")}));
    // Statements address the bones by their place in the modifier's list:
    // the host refuses a statement naming a bone beyond it.
    EXPECT_EQ(scene.script.size(), 1u + 2u * 8u);
    expectEveryStatementOk(scene);
    expectFlattened(skin);
    // Pairs naming a skipped entry are left out; entry 2 is list bone 1.
    ASSERT_EQ(skin.Weights().size(), 4u);
    EXPECT_EQ(skin.Weights()[0], (Pairs{{0, 0.25f}, {1, 0.25f}}));
    EXPECT_EQ(skin.Weights()[1], (Pairs{{1, 1.0f}, {0, 0.0f}, {0, 0.0f}, {0, 0.0f}}));
    EXPECT_EQ(skin.Weights()[2], (Pairs{{0, 0.0f}, {0, 0.0f}}));
    EXPECT_TRUE(nodeNamed(scene, "b")->UserProps().empty());
    EXPECT_TRUE(nodeNamed(scene, "d")->UserProps().empty());
    EXPECT_FALSE(nodeNamed(scene, "c")->UserProps().empty());
}

TEST(SkinnedBuild, PlainClumpThenSkinnedClump)
{
    dffw::Clump plain;
    dffw::Frame frame;
    frame.name = "static";
    plain.frames = {frame};
    plain.geometries = {dffw::makeCube()};
    plain.atomics = {atomic(0, 0)};
    dffw::Clump skinned = straightSkeleton(2);
    skinned.geometries = {quadOnFirstBone(2)};
    skinned.atomics = {atomic(0, 0)};
    dffw::File file;
    file.units = {plain, skinned};
    const Scene& scene = importBytes(dffw::write(file), quietHost());
    const nlohmann::json dump = dumpJson(scene);

    // The first clump is built plain: its mesh stands on its frame's node.
    ASSERT_EQ(scene.nodes.size(), 5u);
    EXPECT_EQ(dump["nodes"][0]["name"], "static");
    EXPECT_EQ(dump["nodes"][0]["object"]["kind"], "mesh");
    EXPECT_TRUE(dump["nodes"][0]["boneDisplay"].is_null());
    ASSERT_EQ(scene.modifiers.size(), 1u);
    EXPECT_EQ(scene.modifiers[0]->Node(), scene.nodes[4]);
    EXPECT_EQ(scene.modifiers[0]->GetNumBones(), 2);
    expectEveryStatementOk(scene);
}

TEST(SkinnedBuild, ClumpAfterASkinnedOneMeetsNoOldSkinData)
{
    dffw::Clump skinned = straightSkeleton(2);
    skinned.geometries = {quadOnFirstBone(2)};
    skinned.atomics = {atomic(0, 0)};
    // Geometry 0 of the second clump has no skin; the first clump's record
    // for geometry 0 must not be taken for it, nor its bones.
    dffw::Clump plain = straightSkeleton(1);
    plain.frames[1].hAnim->nodes.clear();
    plain.geometries = {dffw::makeCube()};
    plain.atomics = {atomic(1, 0)};
    dffw::File file;
    file.units = {skinned, plain};
    const Scene& scene = importBytes(dffw::write(file), quietHost());

    // Both clumps go through the skinned build: all frames are bone dummies.
    ASSERT_EQ(scene.nodes.size(), 4u + 3u);
    for (int i : {4, 5}) EXPECT_EQ(scene.nodes[static_cast<std::size_t>(i)]->BoneDisplay(), 2);
    INode* cube = scene.nodes[6];
    EXPECT_TRUE(cube->Modifiers().empty());
    ASSERT_EQ(scene.modifiers.size(), 1u);
    EXPECT_EQ(scene.script.size(), 1u + 2u * 8u);
    expectEveryStatementOk(scene);
    EXPECT_TRUE(scene.nodes[5]->UserProps().empty());
}

TEST(SkinnedBuild, FileWithSeveralSkinnedClumps)
{
    dffw::Clump first = straightSkeleton(1);
    first.geometries = {quadOnFirstBone(1)};
    first.atomics = {atomic(0, 0)};
    // The second clump (clothing) carries an early stamp throughout, and its
    // struct declares a size that is not its real one, as protected files do.
    dffw::Clump second = straightSkeleton(2);
    second.stamp = 0x310;
    second.structHead.size = 0x7F;
    second.geometries = {quadOnFirstBone(2), quadOnFirstBone(2)};
    second.atomics = {atomic(0, 0), atomic(0, 1)};
    dffw::File file;
    file.units = {first, second};
    const Scene& scene = importBytes(dffw::write(file), quietHost());

    ASSERT_EQ(scene.modifiers.size(), 3u);
    EXPECT_EQ(scene.modifiers[0]->GetNumBones(), 1);
    // The second clump's bones are its own frames, not the first clump's.
    for (std::size_t m : {1u, 2u}) {
        ASSERT_EQ(scene.modifiers[m]->GetNumBones(), 2);
        EXPECT_STREQ(scene.modifiers[m]->GetBone(0)->GetName(), "bone0");
        EXPECT_GT(scene.modifiers[m]->GetBone(0)->SceneIndex(), 3);
        // Each mesh is bound where its own clump puts it.
        Matrix3 tm;
        ASSERT_EQ(scene.modifiers[m]->GetSkinInitTM(scene.modifiers[m]->Node(), tm), SKIN_OK);
        expectNear(tm, scene.modifiers[m]->Node()->GetNodeTM(0));
    }
    expectEveryStatementOk(scene);
    for (const SkinModifier* skin : scene.modifiers) expectFlattened(*skin);
}

// ---------------------------------------------------------------------------
// The real pedestrian models

TEST(SkinnedSamples, PedsGetOneWeightedSkinPerSkinnedAtomic)
{
    ORVIK_REQUIRE_SAMPLES();
    struct Expectation {
        const char* file;
        std::size_t frames;
        int bones;
        std::size_t meshes;
        std::size_t skins;
    };
    // ped-c02 has 20 frames but only 16 HAnim nodes, and four atomics of
    // which one is skinned.
    for (const Expectation& e : {Expectation{"ped1.dff", 33, 32, 1, 1}, Expectation{"ped2.dff", 33, 32, 1, 1},
                                 Expectation{"ped3.dff", 33, 32, 1, 1}, Expectation{"ped-c02.dff", 20, 16, 4, 1}}) {
        SCOPED_TRACE(e.file);
        const Scene& scene = importFile(samplePath(e.file), quietHost());
        ASSERT_EQ(scene.nodes.size(), e.frames + e.meshes);
        ASSERT_EQ(scene.modifiers.size(), e.skins);
        std::set<const INode*> skinnedNodes;
        for (SkinModifier* skin : scene.modifiers) {
            EXPECT_TRUE(skinnedNodes.insert(skin->Node()).second) << "two Skins on one node";
            ASSERT_NE(skin->Node(), nullptr);
            EXPECT_EQ(skin->Node()->Modifiers().size(), 1u);
            EXPECT_EQ(skin->GetNumBones(), e.bones);
            expectFlattened(*skin);
            const auto* mesh = dynamic_cast<TriObject*>(skin->Node()->GetObjectRef());
            ASSERT_NE(mesh, nullptr);
            ASSERT_EQ(static_cast<int>(skin->Weights().size()), mesh->mesh.getNumVerts());
            std::size_t unweighted = 0;
            for (const auto& pairs : skin->Weights()) {
                if (pairs.empty()) ++unweighted;
                float sum = 0;
                for (const auto& [bone, weight] : pairs) {
                    EXPECT_LT(bone, e.bones);
                    sum += weight;
                }
                EXPECT_GT(sum, 0.0f);
            }
            EXPECT_EQ(unweighted, 0u);
        }
        EXPECT_EQ(scene.script.size(), e.skins * (1 + 8 * static_cast<std::size_t>(e.bones)));
        expectEveryStatementOk(scene);
        // Every bone node carries the five properties.
        for (const SkinModifier* skin : scene.modifiers)
            for (const SkinModifier::Bone& b : skin->Bones()) {
                ASSERT_EQ(b.node->UserProps().size(), 5u);
                EXPECT_EQ(b.node->UserProps()[3].text, b.node->GetName());
            }
    }
}

TEST(SkinnedSamples, RealFilesImportWithTheirMends)
{
    ORVIK_REQUIRE_SAMPLES();
    // What each file needs mended, as the counts of the system log's entries
    // name it (0: no entry of that kind).
    struct Expectation {
        const char* file;
        bool derivedSets;
        bool posedBones;
        std::size_t rigidParts;
        bool nonFiniteWeights;
    };
    for (const Expectation& e :
         {Expectation{"ucl-kuruma.dff", true, false, 0, false},
          Expectation{"aday-bankvault.dff", true, false, 0, false}, Expectation{"ped1.dff", false, true, 0, false},
          Expectation{"ped3.dff", false, true, 0, false}, Expectation{"alp-skin-105.dff", false, true, 0, false},
          Expectation{"ped-c02.dff", false, false, 3, false}, Expectation{"cbl-slhandbf.dff", false, false, 0, true},
          Expectation{"ped2.dff", false, true, 0, false}}) {  // its root bone only
        SCOPED_TRACE(e.file);
        const Scene& scene = importFile(samplePath(e.file), quietHost());
        ASSERT_FALSE(scene.meshes.empty());
        auto entryWith = [&](const std::string& words) {
            for (const std::string& t : infoEntries(scene))
                if (t.find(words) != std::string::npos) return t;
            return std::string();
        };
        EXPECT_EQ(!entryWith("given the texture sets").empty(), e.derivedSets);
        EXPECT_EQ(!entryWith("bound at the skin's bind pose").empty(), e.posedBones);
        EXPECT_EQ(!entryWith("not a number").empty() || !entryWith("not numbers").empty(), e.nonFiniteWeights);
        if (e.rigidParts > 0) {
            EXPECT_EQ(entryWith("rigid part"),
                      std::to_string(e.rigidParts) + " rigid parts of skinned models linked to their frames");
        }
        for (const TriObject* tri : scene.meshes) {
            const Mesh& mesh = tri->mesh;
            EXPECT_GT(mesh.numFaces, 0);
            for (int v = 0; v < mesh.numVerts; ++v)
                ASSERT_TRUE(std::isfinite(mesh.verts[v].x) && std::isfinite(mesh.verts[v].y) &&
                            std::isfinite(mesh.verts[v].z));
            // Textured geometries of the 3.1 library now carry their coordinates.
            if (e.derivedSets) {
                EXPECT_TRUE(mesh.mapSupport(1));
            }
        }
        for (const SkinModifier* skin : scene.modifiers)
            for (const auto& pairs : skin->Weights())
                for (const auto& [bone, weight] : pairs) ASSERT_TRUE(std::isfinite(weight));
        // Unskinned meshes of a skinned model ride on a bone; skinned ones stand apart.
        for (const INode* node : scene.nodes) {
            if (!dynamic_cast<TriObject*>(node->GetObjectRef()) || scene.modifiers.empty()) continue;
            EXPECT_EQ(node->GetParentNode() != nullptr, node->Modifiers().empty()) << node->GetName();
        }
    }
}
