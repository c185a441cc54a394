// The stand-in host's scene: matrices, node transforms and hierarchy, object
// creation, progress, selection, undo and the plug-in loader's refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "host/loader.h"
#include "host/max.h"
#include "host/scene.h"
#include "importer/Orvik.h"
#include "support/Fixtures.h"

namespace {

Matrix3 transform(Point3 r0, Point3 r1, Point3 r2, Point3 t)
{
    return Matrix3(r0, r1, r2, t);
}

// A rotation about Z by a quarter turn, scaled by 2, moved to t.
Matrix3 turned(const Point3& t)
{
    return transform({0, 2, 0}, {-2, 0, 0}, {0, 0, 2}, t);
}

class HostScene : public testing::Test {
protected:
    void SetUp() override { scene = &resetScene(); }
    Interface* ip = GetCOREInterface();
    Scene* scene = nullptr;
};

// Records the evaluations it is told of.
class CountingModifier : public Modifier {
public:
    SClass_ID SuperClassID() override { return OSM_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(1, 2); }
    void NotifyEvaluated(INode* node, int vertexCount) override { seen.emplace_back(node, vertexCount); }
    std::vector<std::pair<INode*, int>> seen;
};

}  // namespace

TEST(Matrix, RotateXTurnsEveryRowTheTranslationToo)
{
    Matrix3 m;
    m.SetTrans(Point3(0, 1, 0));
    m.RotateX(std::numbers::pi_v<float> / 2);
    expectNear(m.GetRow(0), Point3(1, 0, 0));
    expectNear(m.GetRow(1), Point3(0, 0, 1));
    expectNear(m.GetRow(2), Point3(0, -1, 0));
    expectNear(m.GetTrans(), Point3(0, 0, 1));

    // Multiplying on the right: M.RotateX(a) == M x Rx(a).
    const float a = 0.3f;
    Matrix3 rx;
    rx.RotateX(a);
    expectNear(rx.GetRow(1), Point3(0, std::cos(a), std::sin(a)));
    const Matrix3 base = turned(Point3(1, 2, 3));
    Matrix3 rotated = base;
    rotated.RotateX(a);
    expectNear(rotated, base * rx);
}

TEST(Matrix, RowVectorsProductAndInverse)
{
    const Matrix3 a = turned(Point3(5, 0, 0));
    const Matrix3 b = transform({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 7});
    // p x (A x B) == (p x A) x B: A applies first.
    const Point3 p(1, 1, 1);
    expectNear(p * (a * b), (p * a) * b);
    expectNear(p * a, Point3(3, 2, 2));
    expectNear(a * Inverse(a), Matrix3());
    expectNear(Inverse(a) * a, Matrix3());
    expectNear(Point3(3, 2, 2) * a.Inverse(), p);
}

TEST_F(HostScene, SetNodeTMSetsTheWorldTransformUnderAnyParent)
{
    INode* parent = ip->CreateObjectNode(nullptr);
    INode* child = ip->CreateObjectNode(nullptr);
    Matrix3 pw = turned(Point3(1, 2, 3));
    parent->SetNodeTM(0, pw);
    parent->AttachChild(child, 0);
    Matrix3 cw = transform({1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {4, 5, 6});
    child->SetNodeTM(0, cw);
    expectNear(child->GetNodeTM(0), cw);
    expectNear(child->LocalTM() * parent->GetNodeTM(0), cw);
    // Moving the parent carries the child along.
    Matrix3 moved = turned(Point3(0, 0, 10));
    parent->SetNodeTM(0, moved);
    expectNear(child->GetNodeTM(0), child->LocalTM() * moved);
}

TEST_F(HostScene, AttachChildKeepsTheLocalOrTheWorldTransform)
{
    // Three levels, each frame matrix set as a world transform before linking.
    INode* root = ip->CreateObjectNode(nullptr);
    INode* mid = ip->CreateObjectNode(nullptr);
    INode* leaf = ip->CreateObjectNode(nullptr);
    Matrix3 r = turned(Point3(1, 0, 0));
    Matrix3 m = transform({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 3, 0});
    Matrix3 l = transform({1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {0, 0, 2});
    root->SetNodeTM(0, r);
    mid->SetNodeTM(0, m);
    leaf->SetNodeTM(0, l);
    // Linked child first: the order does not change the result.
    mid->AttachChild(leaf, 0);
    root->AttachChild(mid, 0);
    expectNear(leaf->GetNodeTM(0), l * (m * r));
    expectNear(mid->GetNodeTM(0), m * r);
    EXPECT_EQ(leaf->GetParentNode(), mid);
    ASSERT_EQ(root->NumberOfChildren(), 1);
    EXPECT_EQ(root->GetChildNode(0), mid);

    // keepPos 1: the world transform stays, moved from mid to root.
    const Matrix3 before = leaf->GetNodeTM(0);
    root->AttachChild(leaf, 1);
    expectNear(leaf->GetNodeTM(0), before);
    EXPECT_EQ(mid->NumberOfChildren(), 0);
    EXPECT_EQ(root->NumberOfChildren(), 2);

    // A link that would make a loop is refused.
    leaf->AttachChild(root, 0);
    EXPECT_EQ(root->GetParentNode(), nullptr);
    EXPECT_EQ(leaf->NumberOfChildren(), 0);
}

TEST_F(HostScene, CreatedObjectsAreOwnedByTheSceneAndListedByKind)
{
    auto* mesh = static_cast<TriObject*>(ip->CreateInstance(GEOMOBJECT_CLASS_ID, Class_ID(EDITTRIOBJ_CLASS_ID, 0)));
    auto* multi = static_cast<Mtl*>(ip->CreateInstance(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0)));
    auto* game = static_cast<Mtl*>(ip->CreateInstance(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID));
    auto* light = static_cast<Object*>(ip->CreateInstance(LIGHT_CLASS_ID, Class_ID(OMNI_LIGHT_CLASS_ID, 0)));
    auto* dummy = static_cast<Object*>(ip->CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)));
    auto* skin = static_cast<Modifier*>(ip->CreateInstance(OSM_CLASS_ID, SKIN_CLASSID));
    // A texture's coordinate generator and a material's parameter block are
    // owned but listed nowhere.
    BitmapTex* texture = NewDefaultBitmapTex();
    auto* controller = static_cast<FloatController*>(NewDefaultFloatController());
    EXPECT_EQ(scene->textures, std::vector<BitmapTex*>{texture});
    EXPECT_EQ(scene->controllers, std::vector<FloatController*>{controller});
    EXPECT_EQ(scene->meshes, std::vector<TriObject*>{mesh});
    EXPECT_EQ(scene->materials, (std::vector<Mtl*>{multi, game}));
    EXPECT_EQ(scene->indexOfMaterial(game), 1);
    ASSERT_EQ(scene->modifiers.size(), 1u);
    EXPECT_EQ(scene->indexOfModifier(skin), 0);
    EXPECT_EQ(scene->otherObjects, (std::vector<Object*>{light, dummy}));

    // Anything else, also a known class under another super class, is null.
    EXPECT_EQ(ip->CreateInstance(MATERIAL_CLASS_ID, Class_ID(EDITTRIOBJ_CLASS_ID, 0)), nullptr);
    EXPECT_EQ(ip->CreateInstance(GEOMOBJECT_CLASS_ID, Class_ID(EDITTRIOBJ_CLASS_ID, 1)), nullptr);
    EXPECT_EQ(ip->CreateInstance(LIGHT_CLASS_ID, Class_ID(0x1012, 0)), nullptr);
    EXPECT_EQ(ip->CreateInstance(TEXMAP_CLASS_ID, Class_ID(0x240, 0)), nullptr);
    EXPECT_EQ(scene->materials.size() + scene->meshes.size() + scene->otherObjects.size(), 5u);
}

TEST_F(HostScene, WithoutTheGameMaterialItsClassIsUnknown)
{
    HostOptions options;
    options.withoutGameMaterial = true;
    scene = &resetScene(options);
    EXPECT_EQ(ip->CreateInstance(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID), nullptr);
    EXPECT_NE(ip->CreateInstance(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0)), nullptr);
    EXPECT_EQ(scene->materials.size(), 1u);
    // The next scene has it again.
    scene = &resetScene();
    EXPECT_NE(ip->CreateInstance(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID), nullptr);
}

TEST_F(HostScene, ResetSceneDropsEverything)
{
    ip->CreateObjectNode(static_cast<Object*>(ip->CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0))));
    ip->SelectNode(scene->nodes[0]);
    ip->SetCommandPanelTaskMode(TASK_MODE_MODIFY);
    theHold.Begin();
    Scene& fresh = resetScene();
    EXPECT_EQ(&fresh, &currentScene());
    EXPECT_TRUE(fresh.nodes.empty());
    EXPECT_TRUE(fresh.otherObjects.empty());
    EXPECT_EQ(ip->GetSelNodeCount(), 0);
    EXPECT_EQ(ip->GetCommandPanelTaskMode(), TASK_MODE_CREATE);
    EXPECT_FALSE(theHold.Holding());
}

TEST_F(HostScene, ProgressIsRecordedAndTheWorkerRunsOnce)
{
    struct Worker {
        static DWORD run(LPVOID arg)
        {
            auto* calls = static_cast<int*>(arg);
            ++*calls;
            GetCOREInterface()->ProgressUpdate(*calls * 10);
            return 0;
        }
    };
    int calls = 0;
    EXPECT_TRUE(ip->ProgressStart("Importing DFF", TRUE, &Worker::run, &calls));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(scene->progress.opened);
    EXPECT_FALSE(scene->progress.closed);
    ip->ProgressUpdate(33);
    ip->ProgressUpdate(33);
    ip->ProgressUpdate(100, TRUE, nullptr);
    ip->ProgressEnd();
    EXPECT_TRUE(scene->progress.hasTitle);
    EXPECT_EQ(scene->progress.title, "Importing DFF");
    EXPECT_EQ(scene->progress.updates, (std::vector<int>{10, 33, 33, 100}));
    EXPECT_TRUE(scene->progress.closed);
    EXPECT_EQ(calls, 1);
}

TEST_F(HostScene, ProgressBarIsDrawnOnlyWhenAsked)
{
    testing::internal::CaptureStderr();
    ip->ProgressStart("Quiet", TRUE, nullptr, nullptr);
    ip->ProgressUpdate(50);
    ip->ProgressEnd();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    HostOptions options;
    options.drawProgress = true;
    scene = &resetScene(options);
    testing::internal::CaptureStderr();
    ip->ProgressStart("Importing DFF", TRUE, nullptr, nullptr);
    ip->ProgressUpdate(50);
    ip->ProgressEnd();
    const std::string drawn = testing::internal::GetCapturedStderr();
    EXPECT_NE(drawn.find("Importing DFF"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("50%"), std::string::npos) << drawn;
    EXPECT_EQ(drawn.back(), '\n');
}

TEST_F(HostScene, SelectionAddsOrReplacesAndTaskModeAndHoldAreRecorded)
{
    INode* a = ip->CreateObjectNode(nullptr);
    INode* b = ip->CreateObjectNode(nullptr);
    INode* c = ip->CreateObjectNode(nullptr);
    ip->SelectNode(a);
    ip->SelectNode(b, 0);
    ip->SelectNode(a, 0);  // already selected: no second entry
    EXPECT_EQ(scene->selection, (std::vector<INode*>{a, b}));
    EXPECT_EQ(ip->GetSelNode(1), b);
    EXPECT_EQ(ip->GetSelNode(2), nullptr);
    ip->SelectNode(c, 1);
    EXPECT_EQ(scene->selection, std::vector<INode*>{c});
    ip->ClearNodeSelection();
    EXPECT_EQ(ip->GetSelNodeCount(), 0);

    ip->SetCommandPanelTaskMode(TASK_MODE_MODIFY);
    EXPECT_EQ(ip->GetCommandPanelTaskMode(), TASK_MODE_MODIFY);
    ip->SetCommandPanelTaskMode(9);  // not a panel
    EXPECT_EQ(ip->GetCommandPanelTaskMode(), TASK_MODE_MODIFY);

    theHold.Accept("nothing held");
    theHold.Begin();
    EXPECT_TRUE(theHold.Holding());
    theHold.Accept("Skin");
    theHold.Begin();
    theHold.Cancel();
    EXPECT_EQ(scene->undo, std::vector<std::string>{"Skin"});
    EXPECT_EQ(GetCOREInterface12(), GetCOREInterface());
}

TEST_F(HostScene, UserPropertiesKeepTheOrderFirstSet)
{
    INode* n = ip->CreateObjectNode(nullptr);
    n->SetUserPropInt("tag", 5);
    n->SetUserPropString("name", "bone");
    n->SetUserPropInt("tag", 6);
    n->SetUserPropString("count", "12");
    ASSERT_EQ(n->UserProps().size(), 3u);
    EXPECT_EQ(n->UserProps()[0].key, "tag");
    EXPECT_EQ(n->UserProps()[1].key, "name");
    int v = 0;
    EXPECT_TRUE(n->GetUserPropInt("tag", v));
    EXPECT_EQ(v, 6);
    EXPECT_TRUE(n->GetUserPropInt("count", v));
    EXPECT_EQ(v, 12);
    EXPECT_FALSE(n->GetUserPropInt("name", v));
    MSTR s;
    EXPECT_TRUE(n->GetUserPropString("tag", s));
    EXPECT_STREQ(s, "6");
    EXPECT_FALSE(n->GetUserPropString("missing", s));
}

TEST_F(HostScene, ObjectOnlyMoveAndScaleChangeOnlyTheObjectOffset)
{
    INode* parent = ip->CreateObjectNode(nullptr);
    INode* n = ip->CreateObjectNode(nullptr);
    INode* kid = ip->CreateObjectNode(nullptr);
    Matrix3 tm = turned(Point3(1, 2, 3));
    n->SetNodeTM(0, tm);
    parent->AttachChild(n, 1);
    n->AttachChild(kid, 0);
    const Matrix3 kidBefore = kid->GetNodeTM(0);

    n->Scale(0, tm, Point3(10, 10, 10), TRUE, FALSE, PIV_OBJECT_ONLY, TRUE);
    n->Scale(0, tm, Point3(1, 2, 3), TRUE, FALSE, PIV_OBJECT_ONLY, TRUE);
    EXPECT_EQ(n->GetObjOffsetScale().s, Point3(10, 20, 30));
    EXPECT_EQ(n->GetObjOffsetPos(), Point3());

    // The move is taken in the axis system's directions.
    n->Move(0, tm, Point3(1, 0, 0), TRUE, FALSE, PIV_OBJECT_ONLY, TRUE);
    expectNear(n->GetObjOffsetPos(), Point3(0, 2, 0));

    expectNear(n->GetNodeTM(0), tm);
    expectNear(kid->GetNodeTM(0), kidBefore);
}

TEST_F(HostScene, EvaluationTellsEachModifierTheMeshVertexCount)
{
    TriObject* tri = newMesh(42);
    INode* meshNode = ip->CreateObjectNode(tri);
    INode* empty = ip->CreateObjectNode(nullptr);
    CountingModifier lower, upper;
    GetCOREInterface12()->AddModifier(*meshNode, lower);
    GetCOREInterface12()->AddModifier(*meshNode, upper);
    ASSERT_EQ(meshNode->Modifiers().size(), 2u);
    EXPECT_EQ(meshNode->Modifiers()[0], &upper);  // top of the stack first

    const ObjectState os = meshNode->EvalWorldState(0);
    EXPECT_EQ(os.obj, tri);
    EXPECT_EQ(upper.seen, (std::vector<std::pair<INode*, int>>{{meshNode, 42}}));
    EXPECT_EQ(lower.seen.size(), 1u);

    GetCOREInterface12()->AddModifier(*empty, lower);
    empty->EvalWorldState(0);
    EXPECT_EQ(lower.seen.back(), (std::pair<INode*, int>{empty, 0}));
}

TEST_F(HostScene, SkinBindPoseDefaultsToWhereNodesStoodAndIsSetPerNode)
{
    INode* meshNode = ip->CreateObjectNode(newMesh());
    INode* bone = ip->CreateObjectNode(nullptr);
    INode* other = ip->CreateObjectNode(nullptr);
    auto* skin = static_cast<SkinModifier*>(ip->CreateInstance(OSM_CLASS_ID, SKIN_CLASSID));
    ISkin* iskin = static_cast<ISkin*>(skin->GetInterface(I_SKIN));
    auto* data = static_cast<ISkinImportData*>(skin->GetInterface(I_SKINIMPORTDATA));
    Matrix3 meshAt = turned(Point3(1, 2, 3));
    Matrix3 boneAt = turned(Point3(4, 5, 6));
    meshNode->SetNodeTM(0, meshAt);
    bone->SetNodeTM(0, boneAt);
    meshNode->Move(0, Matrix3(), Point3(1, 0, 0), TRUE, FALSE, PIV_OBJECT_ONLY, TRUE);
    GetCOREInterface12()->AddModifier(*meshNode, *skin);
    meshNode->EvalWorldState(0);
    ASSERT_TRUE(data->AddBoneEx(bone, FALSE));

    // Nodes moved afterwards leave the defaults where the nodes stood.
    Matrix3 elsewhere = turned(Point3(9, 9, 9));
    meshNode->SetNodeTM(0, elsewhere);
    bone->SetNodeTM(0, elsewhere);
    Matrix3 tm;
    ASSERT_EQ(iskin->GetSkinInitTM(meshNode, tm), SKIN_OK);
    expectNear(tm, meshAt);
    ASSERT_EQ(iskin->GetSkinInitTM(meshNode, tm, true), SKIN_OK);
    expectNear(tm.GetTrans(), Point3(1, 4, 3));  // the offset (1,0,0) turned and scaled by 2
    ASSERT_EQ(iskin->GetBoneInitTM(bone, tm), SKIN_OK);
    expectNear(tm, boneAt);

    const Matrix3 objectTm = transform({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {7, 7, 7});
    const Matrix3 nodeTm = transform({0, 0, 1}, {0, 1, 0}, {-1, 0, 0}, {8, 8, 8});
    EXPECT_TRUE(data->SetSkinTm(meshNode, objectTm, nodeTm));
    EXPECT_TRUE(data->SetBoneTm(bone, objectTm, nodeTm));
    EXPECT_FALSE(data->SetBoneTm(other, objectTm, nodeTm));
    EXPECT_FALSE(data->SetSkinTm(other, objectTm, nodeTm));
    for (INode* n : {meshNode, bone}) {
        SCOPED_TRACE(n == bone ? "bone" : "mesh");
        auto get = [&](bool objOffset) {
            Matrix3 m;
            const int r = n == bone ? iskin->GetBoneInitTM(n, m, objOffset) : iskin->GetSkinInitTM(n, m, objOffset);
            EXPECT_EQ(r, SKIN_OK);
            return m;
        };
        EXPECT_EQ(get(false), nodeTm);
        EXPECT_EQ(get(true), objectTm);
    }
    EXPECT_EQ(iskin->GetBoneInitTM(other, tm), SKIN_INVALID_NODE_PTR);
    EXPECT_EQ(iskin->GetSkinInitTM(bone, tm), SKIN_INVALID_NODE_PTR);
}

TEST(Loader, RefusalsCarryTheReason)
{
    PluginLibrary lib;
    std::string error;
    EXPECT_FALSE(lib.open("/nonexistent/Orvik.dli", error));
    EXPECT_EQ(error.rfind("cannot load plug-in /nonexistent/Orvik.dli: ", 0), 0u) << error;

    // The host library itself loads but exports no plug-in entry points.
    const std::string host = std::string(ORVIK_BIN_DIR) + "/libOrvikHost.so";
    EXPECT_FALSE(lib.open(host, error));
    EXPECT_EQ(error, host + ": export LibDescription missing");
    EXPECT_TRUE(lib.importers().empty());

    resetScene();
    const ImportOutcome wrongExt = runImport(*GetOrvikDesc(), "/tmp/model.xyz");
    EXPECT_FALSE(wrongExt.ran);
    EXPECT_EQ(wrongExt.error, "no importer for extension .xyz");
    const ImportOutcome noExt = runImport(*GetOrvikDesc(), "/tmp/dff.dir/model");
    EXPECT_FALSE(noExt.ran);
    EXPECT_EQ(currentScene().import.file, "");
    EXPECT_FALSE(runImport(lib, "/tmp/model.dff").ran);  // nothing open
}

TEST(Loader, ExtensionsMatchWhateverTheCase)
{
    resetScene();
    const ImportOutcome outcome = runImport(*GetOrvikDesc(), "/nonexistent/MODEL.Dff");
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.result, currentScene().import.result);
    EXPECT_EQ(currentScene().import.file, "/nonexistent/MODEL.Dff");
    EXPECT_EQ(currentScene().importFile, "/nonexistent/MODEL.Dff");
    EXPECT_TRUE(currentScene().import.zoomExtents);
}
