// What a model carries beyond its meshes, through the import: the clump's
// collision under its root, the 2d effects under their geometry's nodes, and
// one information entry per kind of extension chunk passed over. Checked
// through the scene dump.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/ImportHarness.h"
#include "testkit/ColWriter.h"
#include "testkit/DffWriter.h"

namespace {

using nlohmann::json;

const json& node(const json& dump, const std::string& name)
{
    for (const json& n : dump["nodes"])
        if (n["name"] == name) return n;
    ADD_FAILURE() << "no node " << name;
    static const json none;
    return none;
}

std::vector<std::string> childNames(const json& dump, const json& parent)
{
    std::vector<std::string> names;
    for (const json& c : parent["children"]) names.push_back(dump["nodes"][c.get<std::size_t>()]["name"]);
    return names;
}

std::vector<std::string> logOf(const json& dump, const std::string& type)
{
    std::vector<std::string> lines;
    for (const json& e : dump["log"])
        if (e["type"] == type) lines.push_back(e["text"]);
    return lines;
}

// A box model whose root frame stands at (10, 0, 0).
dffw::Clump boxAt10()
{
    dffw::Clump c = dffw::makeBox("crate", 1.0f, "root");
    c.frames[0].position = {10, 0, 0};
    return c;
}

colw::Entry collisionEntry(int version)
{
    colw::Entry e;
    e.version = version;
    e.name = "crate_col";
    e.modelId = 77;
    e.spheres.push_back({{0, 1, 2}, 0.5f, {4, 2, 180, 0x33}});
    e.boxes.push_back({{-1, -1, 0}, {1, 3, 2}, {6, 1, 90, 0x44}});
    colw::addBoxMesh(e, {-1, -1, -1}, {1, 1, 1}, 9);
    e.faces[5].material = 12;
    if (version >= 3) {
        e.shadowVertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        e.shadowFaces = {{0, 1, 2, 4, 0x80}};
    }
    return e;
}

TEST(ModelCollision, EveryVersionBecomesAHiddenDummyUnderTheRoot)
{
    for (int version = 1; version <= 4; ++version) {
        SCOPED_TRACE(version);
        dffw::Clump c = boxAt10();
        c.extension.items.push_back(colw::collisionChunk(collisionEntry(version)));
        const json dump = dumpJson(importBytes(dffw::write(c)));

        const json& holder = node(dump, "collision");
        EXPECT_EQ(dump["nodes"][holder["parent"].get<std::size_t>()]["name"], "root");
        EXPECT_EQ(holder["object"]["kind"], "dummy");
        EXPECT_EQ(holder["tm"][3], json::parse("[10,0,0]"));  // the root's space
        EXPECT_EQ(holder["userProps"]["model"], "crate_col");
        EXPECT_EQ(holder["userProps"]["modelId"], 77);
        std::vector<std::string> expected = {"collision faces"};
        if (version >= 3) expected.push_back("collision shadow");
        expected.insert(expected.end(), {"collision sphere 0", "collision box 0"});
        EXPECT_EQ(childNames(dump, holder), expected);
        for (const std::string& name : expected) {
            EXPECT_TRUE(node(dump, name)["hidden"].get<bool>()) << name;
            EXPECT_FALSE(node(dump, name)["renderable"].get<bool>()) << name;
        }
        EXPECT_TRUE(holder["hidden"].get<bool>());
        EXPECT_FALSE(holder["renderable"].get<bool>());

        // The faces: one material id per surface kind, lights in the illumination channel.
        const json& mesh = dump["meshes"][node(dump, "collision faces")["object"]["mesh"].get<std::size_t>()];
        EXPECT_EQ(mesh["vertices"].size(), 8u);
        EXPECT_EQ(mesh["faces"].size(), 12u);
        std::set<int> ids;
        for (const json& id : mesh["matIds"]) ids.insert(id.get<int>());
        EXPECT_EQ(ids, (std::set<int>{9, 12}));
        EXPECT_TRUE(mesh["maps"].contains("-1"));

        const json& sphere = node(dump, "collision sphere 0");
        EXPECT_EQ(sphere["tm"][3], json::parse("[10,1,2]"));
        EXPECT_EQ(sphere["userProps"], json::parse(R"({"material":4,"piece":2,"brightness":180,"light":51,"radius":0.5})"));
        const json& box = node(dump, "collision box 0");
        EXPECT_EQ(box["tm"][3], json::parse("[10,1,1]"));  // the box's centre
        EXPECT_EQ(box["userProps"]["light"], 0x44);
        const json& boxMesh = dump["meshes"][box["object"]["mesh"].get<std::size_t>()];
        EXPECT_EQ(boxMesh["vertices"].size(), 8u);
        EXPECT_EQ(boxMesh["faces"].size(), 12u);
    }
}

// The collision adds nodes after the model's own; these come out as without it.
TEST(ModelCollision, MeshesAndNodesOfTheModelUnchanged)
{
    dffw::Clump plain = boxAt10();
    dffw::Clump withCollision = plain;
    withCollision.extension.items.push_back(colw::collisionChunk(collisionEntry(3)));
    json before = dumpJson(importBytes(dffw::write(plain)));
    json after = dumpJson(importBytes(dffw::write(withCollision)));
    ASSERT_EQ(before["nodes"].size(), 1u);
    ASSERT_EQ(after["meshes"].size(), 5u);  // the box, faces, shadow, sphere, box
    EXPECT_EQ(after["meshes"][0], before["meshes"][0]);
    after["nodes"][0]["children"] = json::array();
    EXPECT_EQ(after["nodes"][0], before["nodes"][0]);
    EXPECT_EQ(after["materials"], before["materials"]);
}

TEST(ModelCollision, DamagedChunkLogsOneWarningAndTheModelStays)
{
    colw::Entry e = collisionEntry(3);
    e.faceCount = 0xFFFF;
    dffw::Clump c = boxAt10();
    c.extension.items.push_back(colw::collisionChunk(e));
    const json dump = dumpJson(importBytes(dffw::write(c)));
    ASSERT_EQ(dump["nodes"].size(), 1u);
    const std::vector<std::string> warnings = logOf(dump, "warning");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("the collision at 0x"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("declares 65,535 faces"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("; 0 entries before it imported"), std::string::npos) << warnings[0];
}

TEST(ModelEffects, LightsAndOtherKindsUnderTheirGeometrysNode)
{
    dffw::Clump c = boxAt10();
    colw::LightEffect lamp;
    lamp.position = {0, 0, 2};
    lamp.colour = {255, 128, 0, 200};
    lamp.range = 14.0f;
    lamp.coronaTexture = "coronaringa";
    c.geometries[0].extension.items.push_back(colw::effectsChunk(
        {colw::lightEffect(lamp), colw::particleEffect({1, 0, 0}, "prt_spark"), colw::rawEffect({0, 1, 0}, 4)}));
    const json dump = dumpJson(importBytes(dffw::write(c)));

    EXPECT_EQ(childNames(dump, node(dump, "root")), (std::vector<std::string>{"light", "particle", "sun glare"}));
    const json& light = node(dump, "light");
    EXPECT_EQ(light["object"]["kind"], "light");
    EXPECT_EQ(light["object"]["color"], json::parse("[255,128,0]"));
    EXPECT_FLOAT_EQ(light["object"]["atten"][3].get<float>(), 14.0f);
    EXPECT_EQ(light["tm"][3], json::parse("[10,0,2]"));
    EXPECT_EQ(light["userProps"]["coronaTexture"], "coronaringa");
    EXPECT_EQ(light["userProps"]["alpha"], 200);
    EXPECT_FALSE(light["hidden"].get<bool>());
    const json& particle = node(dump, "particle");
    EXPECT_EQ(particle["object"]["kind"], "dummy");
    EXPECT_EQ(particle["userProps"]["effectName"], "prt_spark");
    EXPECT_EQ(particle["tm"][3], json::parse("[11,0,0]"));
    EXPECT_EQ(node(dump, "sun glare")["userProps"]["effect"], 4);
    EXPECT_TRUE(logOf(dump, "warning").empty());
}

TEST(ModelEffects, DamagedChunkKeepsTheEntriesBefore)
{
    dffw::Clump c = boxAt10();
    colw::Effect lying = colw::particleEffect({0, 0, 0}, "x");
    lying.dataSize = 9999;
    c.geometries[0].extension.items.push_back(colw::effectsChunk({colw::rawEffect({0, 0, 0}, 4), lying}));
    const json dump = dumpJson(importBytes(dffw::write(c)));
    EXPECT_EQ(childNames(dump, node(dump, "root")), (std::vector<std::string>{"sun glare"}));
    const std::vector<std::string> warnings = logOf(dump, "warning");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("the 2d effects of geometry 0 at 0x"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("; 1 of 2 entries imported"), std::string::npos) << warnings[0];
}

// Every extension sub-chunk that builds nothing is counted, once per kind,
// wherever it stands.
TEST(SkippedChunks, OneInformationEntryPerKind)
{
    struct Case {
        const char* what;
        std::function<void(dffw::Clump&)> add;
        std::vector<std::string> info;
    };
    const std::vector<Case> cases = {
        {"nothing unknown", [](dffw::Clump&) {}, {}},
        {"atomic: right-to-render twice",
         [](dffw::Clump& c) {
             c.atomics[0].extension.items = {dffw::rawChunk(0x1F, std::vector<uint8_t>(8, 0)),
                                             dffw::rawChunk(0x1F, std::vector<uint8_t>(8, 0))};
         },
         {"2 right-to-render chunks (type 0x1F, 16 bytes) not imported"}},
        {"geometry: breakable and morph",
         [](dffw::Clump& c) {
             c.geometries[0].extension.items.push_back(dffw::rawChunk(dffw::ChunkType::Breakable, {0, 0, 0, 0}));
             c.geometries[0].extension.items.push_back(dffw::rawChunk(dffw::ChunkType::Morph, {0, 0, 0, 0}));
         },
         {"1 morph chunk (type 0x105, 4 bytes) not imported",
          "1 breakable chunk (type 0x253F2FD, 4 bytes) not imported"}},
        {"frame, texture and clump: an unknown kind in each",
         [](dffw::Clump& c) {
             c.frames[0].extension.items.push_back(dffw::rawChunk(0x7777, {1}));
             c.geometries[0].materials[0].textures[0].extension.items.push_back(dffw::rawChunk(0x7777, {1, 2}));
             c.extension.items.push_back(dffw::rawChunk(0x7777, {1, 2, 3}));
         },
         {"3 chunks (type 0x7777, 6 bytes) not imported"}},
        {"material: an unknown kind beside the known ones",
         [](dffw::Clump& c) {
             c.geometries[0].materials[0].extension.items.push_back(dffw::rawChunk(0x253F2F3, std::vector<uint8_t>(4, 0)));
         },
         {"1 pipeline set chunk (type 0x253F2F3, 4 bytes) not imported"}},
    };
    for (const Case& c : cases) {
        dffw::Clump clump = dffw::makeBox("crate");
        c.add(clump);
        const json dump = dumpJson(importBytes(dffw::write(clump)));
        EXPECT_EQ(logOf(dump, "info"), c.info) << c.what;
        EXPECT_TRUE(logOf(dump, "warning").empty()) << c.what;
    }
}

}  // namespace
