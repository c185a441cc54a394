// `orvik col list|export` and `convert` taking a model's collision from a
// .col file beside it or in its archive. Run as the user runs them; judged
// by exit status, the JSON listing and the files written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/CorpusModels.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"
#include "testkit/ColWriter.h"
#include "testkit/DffWriter.h"
#include "testkit/ImgWriter.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kOrvik = std::string(ORVIK_BIN_DIR) + "/orvik";

class ColCommand : public ScratchFolder {
protected:
    ProgramRun run(std::vector<std::string> args)
    {
        args.insert(args.begin(), kOrvik);
        return runProgram(args, dir, dir);
    }
    void putBytes(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        put(name, std::string(bytes.begin(), bytes.end()));
    }
};

// The listing of a .col file with an entry of three versions and of a model
// carrying its own, fixed.
TEST_F(ColCommand, ListGivesEveryEntryOfAFileAndAModel)
{
    putBytes("map.col", colw::writeFile({corpus::collisionEntry(1, "alpha"), corpus::collisionEntry(2, "beta"),
                                         corpus::collisionEntry(4, "gamma")}));
    putBytes("model.dff", dffw::write(corpus::boxWithExtras("model")));
    json listed;
    for (const char* file : {"map.col", "model.dff"}) {
        const ProgramRun r = run({"col", "list", file, "--json"});
        ASSERT_EQ(r.status, 0) << r;
        listed[file] = json::parse(r.out);
    }
    expectGolden("col/list-writer.json", listed.dump(1) + "\n");
}

TEST_F(ColCommand, DamagedEntryListsTheOnesBeforeAndFails)
{
    colw::Entry bad = corpus::collisionEntry(3, "bad");
    bad.sphereCount = 0xFFFF;
    putBytes("map.col", colw::writeFile({corpus::collisionEntry(2, "good"), bad}));
    const ProgramRun r = run({"col", "list", "map.col", "--json"});
    EXPECT_EQ(r.status, 4) << r;
    EXPECT_EQ(json::parse(r.out)["models"].size(), 1u);
    EXPECT_NE(r.err.find("orvik: map.col: entry 1 (\"bad\", COL3) at 0x"), std::string::npos) << r;
    EXPECT_NE(r.err.find("declares 65,535 spheres"), std::string::npos) << r;
    EXPECT_EQ(run({"col", "list", "missing.col"}).status, 2);
}

// Each entry a node named after its model with its collision below: a COLL
// entry (no shadow) and a COL3 one, fixed.
TEST_F(ColCommand, ExportWritesANodePerEntry)
{
    putBytes("map.col", colw::writeFile({corpus::collisionEntry(1, "alpha"), corpus::collisionEntry(3, "beta")}));
    const ProgramRun r = run({"col", "export", "map.col", "--gltf", "map.gltf"});
    ASSERT_EQ(r.status, 0) << r;
    expectGolden("gltf/col-export.gltf", readFile(dir / "map.gltf"));
    EXPECT_EQ(run({"col", "export", "map.col", "--gltf", "map.txt"}).status, 2);
}

// A model holding no collision gets the entry of its name from a .col file
// beside it, or from a .col member of its archive; one that holds its own
// keeps it.
TEST_F(ColCommand, ConvertAddsTheCollisionOfTheSameName)
{
    putBytes("models/crate.dff", dffw::write(dffw::makeBox("crate", 1.0f, "crate")));
    putBytes("models/own.dff", dffw::write(corpus::boxWithExtras("own")));
    putBytes("models/props.col",
             colw::writeFile({corpus::collisionEntry(2, "CRATE"), corpus::collisionEntry(2, "own")}));
    putBytes("other/lone.dff", dffw::write(dffw::makeBox("lone", 1.0f, "lone")));
    const std::vector<std::uint8_t> boxBytes = dffw::write(dffw::makeBox("barrel", 1.0f, "barrel"));
    const std::vector<std::uint8_t> colBytes = colw::writeFile({corpus::collisionEntry(3, "barrel")});
    put("pack.img", [&] {
        const std::vector<unsigned char> img =
            imgw::writeV2({{"barrel.dff", std::vector<unsigned char>(boxBytes.begin(), boxBytes.end())},
                           {"barrel.col", std::vector<unsigned char>(colBytes.begin(), colBytes.end())}});
        return std::string(img.begin(), img.end());
    }());
    const ProgramRun r = run({"convert", "models", "other", "pack.img", "--out", "out", "--json", "-j", "1"});
    ASSERT_EQ(r.status, 0) << r;
    auto versionOf = [&](const std::string& dump) -> std::string {
        const json scene = json::parse(readFile(dir / dump));
        for (const json& n : scene["nodes"])
            if (n["name"] == "collision") return n["userProps"]["version"];
        return "";
    };
    EXPECT_EQ(versionOf("out/crate.json"), "COL2");
    EXPECT_EQ(versionOf("out/own.json"), "COL3");  // its own, not the file's
    EXPECT_EQ(versionOf("out/lone.json"), "");
    EXPECT_EQ(versionOf("out/pack/barrel.json"), "COL3");

    // The game view leaves both models' collision out: the COL2 entry's four
    // nodes (no shadow) and the COL3 one's five.
    const ProgramRun g = run({"convert", "models", "--out", "game", "--game-view", "-j", "1"});
    ASSERT_EQ(g.status, 0) << g;
    EXPECT_NE(g.out.find(", 9 collision nodes left out\n"), std::string::npos) << g;
}

// Every sample collision file and vehicle: the counts and bounds they
// hold, fixed (the vehicles' one entry each).
TEST_F(ColCommand, SamplesListTheirEntries)
{
    ORVIK_REQUIRE_SAMPLES();
    json listed;
    for (const fs::directory_entry& e : fs::directory_iterator(samplesFolder())) {
        const std::string name = e.path().filename().string();
        const bool vehicle =
            e.path().extension() == ".dff" && (name.rfind("car", 0) == 0 || name.rfind("bike", 0) == 0);
        if (e.path().extension() != ".col" && !vehicle) continue;
        const ProgramRun r = run({"col", "list", e.path().string(), "--json"});
        ASSERT_EQ(r.status, 0) << r;
        listed[name] = json::parse(r.out);
    }
    expectGolden("col/list-samples.json", listed.dump(1) + "\n");
}

}  // namespace
