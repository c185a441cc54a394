// What a model carries beyond its meshes, through the import: the clump's
// collision under its root, the 2d effects under their geometry's nodes, and
// one information entry per kind of extension chunk passed over. Checked
// through the scene dump, whole where it is fixed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fuzz/CorpusModels.h"
#include "support/Fixtures.h"
#include "support/Golden.h"
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

// The whole scene of a box that carries a COL3 collision, a light, a
// particle and a sun glare, and two kinds of chunks passed over: the
// collision's nodes (hidden, not rendered, values as user properties), the
// effects under the box's node and one information entry per kind.
TEST(ModelExtras, BoxWithExtrasDumpsItsFixedScene)
{
    const Scene& scene = importBytes(dffw::write(corpus::boxWithExtras("crate")));
    expectGolden("dump/extras.json", dumpText(scene), {{tempFolder(), "{temp}"}});
}

// The collision adds nodes after the model's own; these come out as without it.
TEST(ModelCollision, MeshesAndNodesOfTheModelUnchanged)
{
    const dffw::Clump plain = dffw::makeBox("crate", 1.0f, "root");
    dffw::Clump withCollision = plain;
    withCollision.extension.items.push_back(colw::collisionChunk(corpus::collisionEntry(3, "crate_col")));
    const json before = dumpJson(importBytes(dffw::write(plain)));
    json after = dumpJson(importBytes(dffw::write(withCollision)));
    ASSERT_EQ(after["meshes"].size(), 5u);  // the box, faces, shadow, sphere, box
    after["nodes"][0]["children"] = json::array();
    EXPECT_EQ((json{after["meshes"][0], after["nodes"][0], after["materials"]}),
              (json{before["meshes"][0], before["nodes"][0], before["materials"]}));
}

// A damaged collision or effects chunk: the entries before the damage, one
// warning, the model itself.
TEST(ModelExtras, DamagedChunkLogsOneWarningAndKeepsTheEntriesBefore)
{
    colw::Entry badEntry = corpus::collisionEntry(3, "crate_col");
    badEntry.faceCount = 0xFFFF;
    colw::Effect lying = colw::particleEffect({0, 0, 0}, "x");
    lying.dataSize = 9999;
    struct Case {
        dffw::Chunk chunk;
        bool inGeometry;
        std::vector<std::string> children;  // of the root
        std::vector<const char*> warning;
    };
    const std::vector<Case> cases = {
        {colw::collisionChunk(badEntry),
         false,
         {},
         {"the collision at 0x", "declares 65,535 faces", "; 0 entries before it imported"}},
        {colw::effectsChunk({colw::rawEffect({0, 0, 0}, 4), lying}),
         true,
         {"sun glare"},
         {"the 2d effects of geometry 0 at 0x", "; 1 of 2 entries imported"}},
    };
    for (const Case& c : cases) {
        dffw::Clump clump = dffw::makeBox("crate", 1.0f, "root");
        if (c.inGeometry)
            clump.geometries[0].extension.items.push_back(c.chunk);
        else
            clump.extension.items.push_back(c.chunk);
        const json dump = dumpJson(importBytes(dffw::write(clump)));
        EXPECT_EQ(childNames(dump, node(dump, "root")), c.children);
        const std::vector<std::string> warnings = logOf(dump, "warning");
        ASSERT_EQ(warnings.size(), 1u);
        for (const char* part : c.warning) EXPECT_NE(warnings[0].find(part), std::string::npos) << warnings[0];
    }
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
             c.geometries[0].materials[0].extension.items.push_back(
                 dffw::rawChunk(0x253F2F3, std::vector<uint8_t>(4, 0)));
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
