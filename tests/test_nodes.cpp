// The plain build: one node per frame (dummy, omni light or mesh), named and
// placed by its frame, linked as the frames are.
#include <gtest/gtest.h>

#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/Fixtures.h"
#include "support/ImportHarness.h"

namespace {

using dffw::atomic;
using dffw::namedFrame;

const nlohmann::json& dumpedNode(const nlohmann::json& dump, const std::string& name)
{
    for (const nlohmann::json& node : dump["nodes"])
        if (node["name"] == name) return node;
    static const nlohmann::json none;
    ADD_FAILURE() << "no dumped node named " << name;
    return none;
}

}  // namespace

TEST(PlainBuild, EmptyFrameBecomesScaledDummyAtFrameMatrix)
{
    dffw::Clump clump;
    dffw::Frame f = namedFrame("helper", 0xFFFFFFFF, {4, 5, 6});
    f.right = {0, 1, 0};
    f.up = {-1, 0, 0};
    clump.frames.push_back(f);
    const Scene& scene = importBytes(dffw::write(clump));

    ASSERT_EQ(scene.nodes.size(), 1u);
    const nlohmann::json dump = dumpJson(scene);
    const nlohmann::json& node = dump["nodes"][0];
    EXPECT_EQ(node["name"], "helper");
    EXPECT_EQ(node["object"]["kind"], "dummy");
    EXPECT_TRUE(node["parent"].is_null());
    EXPECT_EQ(node["tm"], nlohmann::json::parse("[[0,1,0],[-1,0,0],[0,0,1],[4,5,6]]"));
    // The object offset grows the dummy tenfold about its own pivot.
    EXPECT_EQ(node["objectOffset"]["scale"], nlohmann::json::parse("[10,10,10]"));
    EXPECT_EQ(node["objectOffset"]["position"], nlohmann::json::parse("[0,0,0]"));
    EXPECT_TRUE(node["material"].is_null());
    EXPECT_TRUE(node["boneDisplay"].is_null());
}

TEST(PlainBuild, LightsBecomeOmniLightsWithScaledColour)
{
    dffw::Clump clump;
    clump.frames = {namedFrame("root"), namedFrame("lamp", 0, {1, 2, 3}), namedFrame("spot", 0)};
    dffw::Light point;
    point.frameIndex = 1;
    point.radius = 7.5f;
    point.colour = {0.5f, 0.25f, 1.0f};
    point.minusCosAngle = 0.75f;
    dffw::Light spot = point;
    spot.frameIndex = 2;
    spot.typeAndFlags = 0x00810003;  // a spot light in the file
    clump.lights = {point, spot};
    const nlohmann::json dump = dumpJson(importBytes(dffw::write(clump)));

    for (const char* name : {"lamp", "spot"}) {
        SCOPED_TRACE(name);
        const nlohmann::json& light = dumpedNode(dump, name)["object"];
        EXPECT_EQ(light["kind"], "light");
        EXPECT_EQ(light["type"], "omni");
        EXPECT_FLOAT_EQ(light["atten"][0].get<float>(), 7.5f);
        EXPECT_FLOAT_EQ(light["color"][0].get<float>(), 127.5f);
        EXPECT_FLOAT_EQ(light["color"][1].get<float>(), 63.75f);
        EXPECT_FLOAT_EQ(light["color"][2].get<float>(), 255.0f);
        EXPECT_FLOAT_EQ(light["fallsize"].get<float>(), 0.75f);
        EXPECT_TRUE(light["enabled"].get<bool>());
        EXPECT_FALSE(light["coneDisplay"].get<bool>());
    }
    EXPECT_EQ(dumpedNode(dump, "lamp")["tm"][3], nlohmann::json::parse("[1,2,3]"));
    EXPECT_EQ(dumpedNode(dump, "root")["object"]["kind"], "dummy");
}

TEST(PlainBuild, MeshesStandOnTheirAtomicsFramesOnly)
{
    dffw::Clump clump;
    clump.frames = {namedFrame("root"), namedFrame("body", 0, {0, 0, 1}), namedFrame("lit", 0), namedFrame("spare", 0)};
    clump.geometries = {dffw::makeQuad(), dffw::makeCube(), dffw::makeQuad(2.0f)};
    // Geometry 0 is named by no atomic; geometry 2 shares its frame with a light,
    // which wins; frame 3 names a geometry the clump does not hold.
    clump.atomics = {atomic(1, 1), atomic(2, 2), atomic(3, 7)};
    dffw::Light light;
    light.frameIndex = 2;
    clump.lights = {light};
    const Scene& scene = importBytes(dffw::write(clump));
    const nlohmann::json dump = dumpJson(scene);

    ASSERT_EQ(scene.nodes.size(), 4u);
    ASSERT_EQ(scene.meshes.size(), 3u);
    const nlohmann::json& body = dumpedNode(dump, "body");
    EXPECT_EQ(body["object"]["kind"], "mesh");
    EXPECT_EQ(body["object"]["mesh"], 1);
    EXPECT_EQ(body["modifiers"], nlohmann::json::array());
    ASSERT_FALSE(body["material"].is_null());
    EXPECT_EQ(dump["materials"][body["material"].get<int>()]["class"], "multi");
    EXPECT_EQ(dumpedNode(dump, "lit")["object"]["kind"], "light");
    EXPECT_EQ(dumpedNode(dump, "spare")["object"]["kind"], "dummy");
    int meshNodes = 0;
    for (const nlohmann::json& node : dump["nodes"])
        if (node["object"]["kind"] == "mesh") ++meshNodes;
    EXPECT_EQ(meshNodes, 1);
}

TEST(PlainBuild, FrameWithoutNameIsNoName)
{
    dffw::Clump clump;
    clump.frames = {namedFrame("root"), dffw::Frame{}};
    clump.frames[1].parent = 0;
    const Scene& scene = importBytes(dffw::write(clump));
    ASSERT_EQ(scene.nodes.size(), 2u);
    EXPECT_STREQ(scene.nodes[1]->GetName(), "NoName");
    EXPECT_EQ(scene.nodes[1]->GetParentNode(), scene.nodes[0]);
}

TEST(PlainBuild, HierarchyComposesWorldTransformsWhateverTheListOrder)
{
    // Listed child first: hand (parent arm), root, arm (parent root).
    dffw::Clump clump;
    dffw::Frame root = namedFrame("root", 0xFFFFFFFF, {5, 0, 0});
    root.right = {0, 1, 0};  // a quarter turn about Z
    root.up = {-1, 0, 0};
    clump.frames = {namedFrame("hand", 2, {0, 2, 0}), root, namedFrame("arm", 1, {1, 0, 0})};
    const Scene& scene = importBytes(dffw::write(clump));

    INode* hand = nodeNamed(scene, "hand");
    INode* arm = nodeNamed(scene, "arm");
    INode* top = nodeNamed(scene, "root");
    ASSERT_TRUE(hand && arm && top);
    EXPECT_EQ(hand->GetParentNode(), arm);
    EXPECT_EQ(arm->GetParentNode(), top);
    EXPECT_EQ(top->GetParentNode(), nullptr);
    ASSERT_EQ(top->NumberOfChildren(), 1);
    EXPECT_EQ(top->GetChildNode(0), arm);

    // arm: (1,0,0) turned to (0,1,0), then moved by (5,0,0).
    expectNear(arm->GetNodeTM(0).GetTrans(), 5, 1, 0);
    // hand: (0,2,0) in arm's axes, which are root's: (-2,0,0) from arm.
    expectNear(hand->GetNodeTM(0).GetTrans(), 3, 1, 0);
    expectNear(hand->GetNodeTM(0).GetRow(0), 0, 1, 0);
}

TEST(PlainBuild, ParentOutOfRangeStaysTopLevel)
{
    dffw::Clump clump;
    clump.frames = {namedFrame("a"), namedFrame("b", 9, {1, 1, 1})};
    const Scene& scene = importBytes(dffw::write(clump));
    ASSERT_EQ(scene.nodes.size(), 2u);
    EXPECT_EQ(scene.nodes[0]->NumberOfChildren(), 0);
    EXPECT_EQ(scene.nodes[1]->GetParentNode(), nullptr);
    expectNear(scene.nodes[1]->GetNodeTM(0).GetTrans(), 1, 1, 1);
}

TEST(PlainBuild, EachClumpOfAFileIsBuiltFromItsOwnTables)
{
    dffw::Clump first;
    first.frames = {namedFrame("car"), namedFrame("wheel", 0, {1, 0, 0})};
    first.geometries = {dffw::makeCube()};
    first.atomics = {atomic(1, 0)};
    dffw::Clump second;
    second.frames = {namedFrame("sign", 0xFFFFFFFF, {0, 0, 3})};
    second.geometries = {dffw::makeQuad()};
    second.atomics = {atomic(0, 0)};
    dffw::File file;
    file.units = {first, second};
    const Scene& scene = importBytes(dffw::write(file));
    const nlohmann::json dump = dumpJson(scene);

    ASSERT_EQ(scene.nodes.size(), 3u);
    EXPECT_EQ(dumpedNode(dump, "wheel")["object"]["mesh"], 0);
    EXPECT_EQ(dumpedNode(dump, "sign")["object"]["mesh"], 1);
    EXPECT_TRUE(dumpedNode(dump, "sign")["parent"].is_null());
    EXPECT_EQ(dumpedNode(dump, "sign")["tm"][3], nlohmann::json::parse("[0,0,3]"));
}
