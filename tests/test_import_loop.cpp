// The import loop: which top-level units are read, where it stops, progress,
// and that bad input never leaves the buffer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/scene.h"
#include "importer/Orvik.h"
#include "testkit/DffWriter.h"
#include "support/ImportHarness.h"

namespace {

dffw::Clump namedClump(const std::string& name)
{
    dffw::Clump clump;
    clump.frames.push_back(dffw::namedFrame(name));
    return clump;
}

std::vector<std::string> nodeNames(const Scene& scene)
{
    std::vector<std::string> names;
    for (const INode* node : scene.nodes) names.emplace_back(node->GetName());
    return names;
}

void expectNothingImported(const Scene& scene)
{
    EXPECT_TRUE(scene.nodes.empty());
    EXPECT_EQ(scene.import.result, 1);
    EXPECT_TRUE(scene.progress.opened);
    EXPECT_TRUE(scene.progress.closed);
}

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(ImportLoop, EmptyAndShortFilesImportNothing)
{
    expectNothingImported(importBytes({}));
    expectNothingImported(importBytes({0x10, 0, 0, 0, 4}));
    const auto bytes = dffw::write(namedClump("a"));
    expectNothingImported(importBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 11)));
}

TEST(ImportLoop, UnreadableFileNeverOpensProgress)
{
    resetScene();
    const ImportOutcome outcome = runImport(*GetOrvikDesc(), "/nonexistent/folder/model.dff");
    const Scene& scene = currentScene();
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_FALSE(scene.progress.opened);
    EXPECT_TRUE(scene.nodes.empty());
}

TEST(ImportLoop, FirstChunkMustBeClumpOrDictionaryWithAcceptedStamp)
{
    dffw::File notClump;
    notClump.units.push_back(dffw::Chunk(dffw::ChunkType::Texture));
    notClump.units.push_back(namedClump("never"));
    expectNothingImported(importBytes(dffw::write(notClump)));

    dffw::Clump badStamp = namedClump("never");
    badStamp.head.stamp = 0x1803FFFE;
    expectNothingImported(importBytes(dffw::write(badStamp)));

    for (std::uint32_t stamp : {0x00000310u, 0x0003FFFFu, 0x0800FFFFu, 0x0C02FFFFu, 0x1003FFFFu, 0x1803FFFFu}) {
        dffw::Clump clump = namedClump("ok");
        clump.stamp = stamp;
        const Scene& scene = importBytes(dffw::write(clump));
        EXPECT_EQ(nodeNames(scene), std::vector<std::string>{"ok"}) << std::hex << stamp;
    }
}

TEST(ImportLoop, SeveralClumpsImportInFileOrder)
{
    dffw::File file;
    file.units.push_back(namedClump("first"));
    file.units.push_back(namedClump("second"));
    file.units.push_back(namedClump("third"));
    EXPECT_EQ(nodeNames(importBytes(dffw::write(file))), (std::vector<std::string>{"first", "second", "third"}));
}

TEST(ImportLoop, TrailingBytesAfterTheLastClump)
{
    const auto clump = dffw::write(namedClump("only"));
    Orvik importer;
    resetScene();
    // Twelve bytes or fewer after a clump: the loop stops there.
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("orvik-loop-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto importWith = [&](const std::vector<std::uint8_t>& bytes) {
        const auto path = (dir / "m.dff").string();
        dffw::saveFile(path, bytes);
        resetScene();
        importer.DoImport(path.c_str(), nullptr, GetCOREInterface(), FALSE);
        return nodeNames(currentScene());
    };
    EXPECT_EQ(importWith(concat(clump, std::vector<std::uint8_t>(12, 0))), std::vector<std::string>{"only"});
    EXPECT_FALSE(importer.moreChunks);
    // Thirteen: the next twelve are taken as a header, and an unknown one ends the import quietly.
    EXPECT_EQ(importWith(concat(clump, std::vector<std::uint8_t>(13, 0xAB))), std::vector<std::string>{"only"});
    EXPECT_TRUE(importer.moreChunks);
    // A real trailing chunk that is no clump, as several community files have.
    dffw::File file;
    file.units.push_back(namedClump("only"));
    file.units.push_back(dffw::rawChunk(0x253F2F3, std::vector<std::uint8_t>(40, 1)));
    EXPECT_EQ(importWith(dffw::write(file)), std::vector<std::string>{"only"});
    std::filesystem::remove_all(dir);
}

TEST(ImportLoop, DictionaryUnits)
{
    dffw::UvAnimDictionary dictionary;
    dffw::UvAnimation animation;
    animation.name = "scroll";
    animation.keyFrames.resize(2);
    dictionary.animations.push_back(animation);

    // A dictionary with no clump after it builds nothing.
    dffw::File alone;
    alone.units.push_back(dictionary);
    expectNothingImported(importBytes(dffw::write(alone)));

    // Two dictionaries in a row and their clump form one unit; the next clump follows.
    dffw::File file;
    file.units.push_back(dictionary);
    file.units.push_back(dictionary);
    file.units.push_back(namedClump("animated"));
    file.units.push_back(namedClump("plain"));
    EXPECT_EQ(nodeNames(importBytes(dffw::write(file))), (std::vector<std::string>{"animated", "plain"}));
}

TEST(ImportLoop, MissingFrameListEndsTheImport)
{
    dffw::File file;
    file.units.push_back(namedClump("kept"));
    dffw::Clump broken = namedClump("broken");
    broken.frameListHead.type = 0x0D;
    file.units.push_back(broken);
    file.units.push_back(namedClump("never"));
    EXPECT_EQ(nodeNames(importBytes(dffw::write(file))), std::vector<std::string>{"kept"});

    dffw::Clump badStamp = namedClump("broken");
    badStamp.frameListHead.stamp = 0x12345678;
    expectNothingImported(importBytes(dffw::write(badStamp)));
}

TEST(ImportLoop, ClumpSizePastTheFileStillBuildsTheClump)
{
    dffw::Clump clump = namedClump("whole");
    clump.head.size = 0xFFFFFFFF;
    EXPECT_EQ(nodeNames(importBytes(dffw::write(clump))), std::vector<std::string>{"whole"});
}

TEST(ImportLoop, ProgressFollowsTheCursor)
{
    Orvik importer;
    resetScene();
    importer.coreInterface = GetCOREInterface();
    importer.fileSize = 1000;
    importer.cursor = 333;
    importer.ReportProgress();
    importer.cursor = 1000;
    importer.ReportProgress();
    importer.fileSize = 0;  // an empty file reports 0, never divides by zero
    importer.cursor = 0;
    importer.ReportProgress();
    EXPECT_EQ(currentScene().progress.updates, (std::vector<int>{33, 100, 0}));

    dffw::File file;
    file.units.push_back(dffw::makeBox("a", 1.0f, "a"));
    file.units.push_back(dffw::makeBox("b", 1.0f, "b"));
    const Scene& scene = importBytes(dffw::write(file));
    ASSERT_TRUE(scene.progress.hasTitle);
    EXPECT_EQ(scene.progress.title, "Importing DFF");
    ASSERT_GE(scene.progress.updates.size(), 4u);
    EXPECT_EQ(scene.progress.updates.front(), 0);
    for (std::size_t i = 1; i < scene.progress.updates.size(); ++i) {
        EXPECT_LE(scene.progress.updates[i - 1], scene.progress.updates[i]);
        EXPECT_LE(scene.progress.updates[i], 100);
    }
    EXPECT_GT(scene.progress.updates.back(), 50);
}

TEST(ImportLoop, EveryPrefixOfAModelStaysInTheBuffer)
{
    dffw::File file;
    file.units.push_back(dffw::makeBox("t", 1.0f, "first"));
    file.units.push_back(dffw::makeBox("t", 1.0f, "second"));
    const auto bytes = dffw::write(file);
    const auto firstSize = dffw::write(dffw::makeBox("t", 1.0f, "first")).size();
    // Every length through the first box, then a stride through the second.
    for (std::size_t length = 0; length <= bytes.size(); length += length < firstSize + 16 ? 1 : 5) {
        const Scene& scene =
            importBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(length)));
        ASSERT_EQ(scene.import.result, 1);
        ASSERT_TRUE(scene.progress.closed);
        // The first box is built once it lies wholly in the file.
        if (length >= firstSize) {
            ASSERT_GE(scene.nodes.size(), 1u) << length;
            EXPECT_STREQ(scene.nodes[0]->GetName(), "first");
        }
    }
}

namespace {

struct EndCase {
    const char* what;
    std::vector<std::uint8_t> bytes;
    // The log's entries as "warning: text" / "info: text", in order.
    std::vector<std::string> log;
};

std::vector<std::string> logLines(const Scene& scene)
{
    std::vector<std::string> lines;
    const nlohmann::json dump = dumpJson(scene);
    for (const auto& entry : dump["log"])
        lines.push_back(entry["type"].get<std::string>() + ": " + entry["text"].get<std::string>());
    return lines;
}

dffw::Clump quadClump()
{
    dffw::Clump clump = namedClump("quad");
    clump.geometries.push_back(dffw::makeQuad());
    clump.atomics.push_back(dffw::Atomic{});
    return clump;
}

}  // namespace

TEST(ImportLoop, WhyTheImportEndedIsLogged)
{
    const auto quad = dffw::write(quadClump());
    dffw::Clump manyVertices = quadClump();
    manyVertices.geometries[0].vertexCountOverride = 4000;
    dffw::Clump manyFrames = quadClump();
    manyFrames.frameCountOverride = 1000000;
    dffw::Clump noFrameList = quadClump();
    noFrameList.frameListHead.type = 0x0D;
    dffw::Clump longExtension = quadClump();
    longExtension.geometries[0].extension.head.size = 0x10000;
    dffw::Clump missingVertex = quadClump();
    missingVertex.geometries[0].triangles[1] = dffw::Triangle::corners(0, 2, 9);
    dffw::File twoClumps;
    twoClumps.units.push_back(quadClump());
    twoClumps.units.push_back(manyVertices);
    dffw::File trailing;
    trailing.units.push_back(quadClump());
    trailing.units.push_back(dffw::rawChunk(0x253F2F3, std::vector<std::uint8_t>(40, 1)));
    dffw::File notAClump;
    notAClump.units.push_back(dffw::rawChunk(0x253F2F3, std::vector<std::uint8_t>(40, 1)));

    const std::vector<EndCase> cases = {
        {"a clean file", quad, {}},
        {"zero padding after the model", concat(quad, std::vector<std::uint8_t>(2048 - quad.size(), 0)), {}},
        {"an empty file",
         {},
         {"warning: the import ended at 0x0: a chunk header at 0x0 needs 12 bytes, 0 are left; no clump imported"}},
        {"a file cut short",
         std::vector<std::uint8_t>(quad.begin(), quad.begin() + 200),
         {"warning: the import ended at 0x0: the clump declares 544 bytes, 188 are left; 0 of 1 clumps imported"}},
        {"a vertex count past the file",
         dffw::write(manyVertices),
         {"warning: the import ended at 0xD8: geometry 0 at 0xB0 needs 32,000 bytes for its texture coordinates, "
          "340 are left; 0 of 1 clumps imported"}},
        {"a frame count past the file",
         dffw::write(manyFrames),
         {"warning: the import ended at 0x40: the frame list at 0x24 declares 1,000,000 frames, 492 bytes are left; "
          "0 of 1 clumps imported"}},
        {"no frame list",
         dffw::write(noFrameList),
         {"warning: the import ended at 0x24: clump 0 has no frame list: chunk 0xD with stamp 0x1803FFFF stands in "
          "its place; 0 of 1 clumps imported"}},
        {"an extension past the file",
         dffw::write(longExtension),
         {"warning: the import ended at 0x1E0: the extension of geometry 0 at 0x1E0 declares 65,536 bytes, 64 are "
          "left; 0 of 1 clumps imported"}},
        {"a face naming a missing vertex",
         dffw::write(missingVertex),
         {"info: 1 face naming a vertex the mesh lacks left out"}},
        {"the second clump damaged",
         dffw::write(twoClumps),
         {"warning: the import ended at 0x304: geometry 0 at 0x2DC needs 32,000 bytes for its texture coordinates, "
          "340 are left; 1 of 2 clumps imported"}},
        {"a chunk after the model",
         dffw::write(trailing),
         {"info: the rest of the file from 0x22C is not read: chunk 0x253F2F3 with stamp 0x1803FFFF is no clump and "
          "no UV animation dictionary"}},
        {"no clump",
         dffw::write(notAClump),
         {"warning: the import ended at 0x0: chunk 0x253F2F3 with stamp 0x1803FFFF is no clump and no UV animation "
          "dictionary; no clump imported"}},
    };
    for (const EndCase& c : cases) EXPECT_EQ(logLines(importBytes(c.bytes)), c.log) << c.what;
}
