// Batch commands as a user runs them: `orvik convert` over a folder and IMG
// archives of both versions written by the project's writer from the
// samples, and `orvik img list|extract`. Judged by exit status, messages, the
// files written (and not written) and the JSON report; the worker pool on its
// own for a worker that dies mid-job.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/Plugin.h"
#include "support/Figure.h"
#include "support/WorkerPool.h"
#include "testkit/DffWriter.h"
#include "testkit/ImgWriter.h"
#include "testkit/IfpWriter.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"

extern char** environ;

namespace {

// "c12.dff" and the like, made by appending (GCC 12's -Wrestrict misreads
// the same made with operator+ at -O2).
std::string memberName(const char* prefix, std::size_t i)
{
    std::string name = prefix;
    name += std::to_string(i);
    name += ".dff";
    return name;
}

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kOrvik = std::string(ORVIK_BIN_DIR) + "/orvik";

class Batch : public ScratchFolder {
protected:
    ProgramRun run(std::vector<std::string> args)
    {
        args.insert(args.begin(), kOrvik);
        return runProgram(args, dir, dir);
    }

    void put(const std::string& name, const std::vector<unsigned char>& bytes)
    {
        ScratchFolder::put(name, std::string(bytes.begin(), bytes.end()));
    }

    // Every file below the test folder, relative, the tool's own output files left out.
    std::vector<std::string> files()
    {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            const std::string rel = e.path().lexically_relative(dir).generic_string();
            if (e.is_regular_file() && rel[0] != '.') out.push_back(rel);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

imgw::Member sample(const std::string& name, const std::string& as = "")
{
    return {as.empty() ? name : as, imgw::readFile(samplePath(name))};
}

// One folder and an archive of each version in one command: what converts is
// written under DIR with its relative path, each damaged member fails alone
// with its reason, and nothing lands outside DIR.
TEST_F(Batch, convertsAFolderAndArchivesOfBothVersions)
{
    ORVIK_REQUIRE_SAMPLES();
    put("models/box-big.dff", imgw::readFile(samplePath("box-big.dff")));
    put("models/sub/PROP.DFF", imgw::readFile(samplePath("prop.dff")));
    put("models/sub/prop.txd", imgw::readFile(samplePath("prop.txd")));
    put("models/notes.txt", {'x'});
    const auto v1 = imgw::writeV1({sample("cbl-slhandbf.dff"), sample("box-small.dff", "BOX.DFF"),
                                   sample("car4.txd", "box.txd"), sample("prop.dff"), sample("prop.txd", "PROP.TXD")});
    put("gta3.img", v1.img);
    put("gta3.dir", v1.dir);
    imgw::Member far{"far.dff", {1, 2, 3}, 100000u};
    imgw::Member evil = sample("box-small.dff", "../evil.dff");
    imgw::Member junk{"junk.dff", std::vector<unsigned char>(100, 0x55)};
    put("sa.img", imgw::writeV2({sample("box-small.dff"), far, evil, junk, sample("box-big.dff", "readme.txt")}));

    const ProgramRun r = run(
        {"convert", "models", "gta3.img", "sa.img", "--out", "out", "--json", "-j", "2", "--report", "report.json"});
    EXPECT_EQ(r.status, 4) << r;

    const std::vector<std::string> expected = {"gta3.dir",
                                               "gta3.img",
                                               "models/box-big.dff",
                                               "models/notes.txt",
                                               "models/sub/PROP.DFF",
                                               "models/sub/prop.txd",
                                               "out/box-big.glb",
                                               "out/box-big.json",
                                               "out/gta3/BOX.glb",
                                               "out/gta3/BOX.json",
                                               "out/gta3/cbl-slhandbf.glb",
                                               "out/gta3/cbl-slhandbf.json",
                                               "out/gta3/prop.glb",
                                               "out/gta3/prop.json",
                                               "out/sa/box-small.glb",
                                               "out/sa/box-small.json",
                                               "out/sub/PROP.glb",
                                               "out/sub/PROP.json",
                                               "report.json",
                                               "sa.img"};
    EXPECT_EQ(files(), expected) << r;

    // One line per failure, naming the member and why; entries pointing
    // outside the archive are counted in one line and are no models.
    std::map<std::string, std::string> reasons = {{"sa.img", "1 entry points outside the archive; passed over"},
                                                  {"sa.img/../evil.dff", "path separator"},
                                                  {"sa.img/junk.dff", "no model that could be read"}};
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r;
    for (const auto& [member, reason] : reasons) {
        EXPECT_NE(r.err.find("orvik: " + member + ": "), std::string::npos) << member << "\n" << r;
        EXPECT_NE(r.err.find(reason), std::string::npos) << reason << "\n" << r;
    }
    EXPECT_NE(r.out.find("models converted           6"), std::string::npos) << r;
    EXPECT_NE(r.out.find("failed                     2"), std::string::npos) << r;

    const json report = json::parse(readFile(dir / "report.json"));
    EXPECT_EQ(report["models"], 8);
    EXPECT_EQ(report["converted"], 6);
    EXPECT_EQ(report["failed"], 2);
    EXPECT_EQ(report["entriesOutside"], 1);
    EXPECT_EQ(report["workers"], 2);
    ASSERT_EQ(report["results"].size(), 8u);
    std::map<std::string, std::size_t> missing;
    for (const json& m : report["results"]) {
        const bool shouldFail = reasons.count(m["input"].get<std::string>()) > 0;
        EXPECT_EQ(m["status"], shouldFail ? "failed" : "converted") << m.dump();
        EXPECT_EQ(m["reason"].is_string(), shouldFail) << m.dump();
        missing[m["input"]] = m["missingTextures"].size();
    }
    // The dictionary of the same name beside a model or in its archive
    // gives its textures; a box with no dictionary of its name has none.
    EXPECT_EQ(missing["models/sub/PROP.DFF"], 0u);
    EXPECT_EQ(missing["gta3.img/prop.dff"], 0u);
    EXPECT_GT(missing["models/box-big.dff"], 0u);

    // A member converts as the same model read from a file does.
    const json member = json::parse(readFile(dir / "out/sa/box-small.json"));
    const json direct = dumpJson(importFile(samplePath("box-small.dff")));
    EXPECT_EQ(member["import"]["file"], "sa.img/box-small.dff");
    EXPECT_EQ(member["nodes"], direct["nodes"]);
    EXPECT_EQ(member["meshes"], direct["meshes"]);
}

TEST_F(Batch, usageErrorsWriteNothing)
{
    put("empty/readme.txt", {'x'});
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"convert", "missing.dff", "--out", "out"}, "missing.dff: no such file or folder"},
        {{"convert", "empty", "--out", "out"}, "no .dff models found"},
        {{"convert", "empty", "--out", "out", "-j", "0"}, "--jobs"},
        {{"convert", "empty", "--out", "out", "--gltf", "--glb"}, "excludes"},
        {{"convert", "empty"}, "--out"},
        {{"img", "list", "empty/readme.txt"}, "no VER2 header and no .dir"},
    };
    for (const auto& [args, message] : cases) {
        const ProgramRun r = run(args);
        EXPECT_EQ(r.status, 2) << r;
        EXPECT_NE(r.err.find(message), std::string::npos) << message << "\n" << r;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

// --ifp gives every skinned model of the batch the package's animations and
// leaves the others untouched, counted; a name the package lacks ends the
// command before any model.
TEST_F(Batch, animationsGoToEverySkinnedModel)
{
    put("m/figure.dff", dffw::write(figure::model()));
    put("m/box.dff", dffw::write(dffw::makeBox()));
    put("figure.ifp", ifpw::write(figure::package(ifp::Layout::Anpk)));
    ProgramRun r =
        run({"convert", "m", "--out", "out", "--ifp", "figure.ifp", "--animation", "wave", "--report", "r.json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find("without skeleton           1\n"), std::string::npos) << r.out;
    const auto report = nlohmann::json::parse(readFile(dir / "r.json"));
    EXPECT_EQ(report["withoutSkeleton"], 1);
    for (const auto& m : report["results"]) EXPECT_EQ(m["animations"], m["input"] == "m/box.dff" ? json() : json(1));
    const std::string glb = readFile(dir / "out/figure.glb");
    EXPECT_NE(glb.find(R"("animations":[{"name":"Wave")"), std::string::npos);
    EXPECT_EQ(readFile(dir / "out/box.glb").find("\"animations\""), std::string::npos);
    fs::remove_all(dir / "out");
    r = run({"convert", "m", "--out", "out", "--ifp", "figure.ifp", "--animation", "Run"});
    EXPECT_EQ(r.status, 2) << r;
    EXPECT_NE(r.err.find("figure.ifp: no animation named \"Run\""), std::string::npos) << r;
    EXPECT_FALSE(fs::exists(dir / "out"));
}

// The scene dump of a model would replace the dictionary given with --txd
// (named as a dump would be):
// that model fails, the other converts.
TEST_F(Batch, anOutputNeverReplacesAnInput)
{
    ORVIK_REQUIRE_SAMPLES();
    put("m/a.dff", imgw::readFile(samplePath("box-big.dff")));
    put("m/b.dff", imgw::readFile(samplePath("box-small.dff")));
    const auto dictionary = imgw::readFile(samplePath("prop.txd"));
    put("m/a.json", dictionary);  // a dictionary, whatever its name
    const ProgramRun r = run({"convert", "m", "--out", "m", "--json", "--txd", "m/a.json", "-j", "1"});
    EXPECT_EQ(r.status, 4) << r;
    EXPECT_NE(r.err.find("a.json would replace an input"), std::string::npos) << r;
    EXPECT_EQ(imgw::readFile((dir / "m/a.json").string()), dictionary);
    EXPECT_TRUE(fs::exists(dir / "m/b.glb"));
    EXPECT_FALSE(fs::exists(dir / "m/a.glb"));
}

// Image files are found in the --bitmap-path folders for every model, as
// `import` finds them; a folder that is none is a usage error.
TEST_F(Batch, bitmapPathsGiveEveryModelItsImages)
{
    ORVIK_REQUIRE_SAMPLES();
    put("m/box.dff", imgw::readFile(samplePath("box-big.dff")));  // its one texture: brickred2
    const std::string png = "\x89PNG\r\n\x1A\n";
    put("maps/BRICKRED2.PNG", std::vector<unsigned char>(png.begin(), png.end()));
    for (const bool withPath : {false, true}) {
        std::vector<std::string> args = {"convert", "m", "--out", "out", "--report", "r.json"};
        if (withPath) args.insert(args.end(), {"--bitmap-path", "maps"});
        const ProgramRun r = run(args);
        ASSERT_EQ(r.status, 0) << r;
        const auto report = nlohmann::json::parse(readFile(dir / "r.json"));
        EXPECT_EQ(report["texturesMissing"], withPath ? 0 : 1) << r;
    }
    const ProgramRun r = run({"convert", "m", "--out", "out", "--bitmap-path", "m/box.dff"});
    EXPECT_EQ(r.status, 2) << r;
    EXPECT_NE(r.err.find("--bitmap-path is not a folder"), std::string::npos) << r;
}

// A worker decodes and encodes a texture of a shared dictionary once for all
// the models that use it, and reads an image file once; the report says so
// and splits the textures' time.
TEST_F(Batch, aWorkerMakesEachSharedTextureOnce)
{
    ORVIK_REQUIRE_SAMPLES();
    for (const char* name : {"m/a.dff", "m/b.dff", "m/c.dff"}) put(name, imgw::readFile(samplePath("car4.dff")));
    put("shared/cars.txd", imgw::readFile(samplePath("car4.txd")));
    put("n/box1.dff", imgw::readFile(samplePath("box-big.dff")));  // its one texture: brickred2
    put("n/box2.dff", imgw::readFile(samplePath("box-big.dff")));
    const std::string png = "\x89PNG\r\n\x1A\n";
    put("maps/BRICKRED2.PNG", std::vector<unsigned char>(png.begin(), png.end()));
    struct Case {
        std::vector<std::string> args;
        std::size_t models;
    };
    const Case cases[] = {
        {{"convert", "m", "--txd", "shared/cars.txd", "--out", "out", "-j", "1", "--report", "r.json"}, 3},
        {{"convert", "n", "--bitmap-path", "maps", "--out", "out2", "-j", "1", "--report", "r.json"}, 2},
    };
    for (const Case& c : cases) {
        const ProgramRun r = run(c.args);
        ASSERT_EQ(r.status, 0) << r;
        const json report = json::parse(readFile(dir / "r.json"));
        ASSERT_EQ(report["results"].size(), c.models);
        const json& first = report["results"][0];
        const std::size_t perModel =
            first["textureImages"]["made"].get<std::size_t>() + first["textureImages"]["read"].get<std::size_t>();
        EXPECT_EQ(first["textureImages"]["fromCache"], 0);
        ASSERT_GT(perModel, 0u) << report.dump();
        for (std::size_t i = 1; i < c.models; ++i) {
            EXPECT_EQ(report["results"][i]["textureImages"]["made"], 0) << report.dump();
            EXPECT_EQ(report["results"][i]["textureImages"]["read"], 0) << report.dump();
            EXPECT_EQ(report["results"][i]["textureImages"]["fromCache"], perModel) << report.dump();
            EXPECT_EQ(report["results"][i]["missingTextures"], first["missingTextures"]);
        }
        EXPECT_EQ(report["textureImages"]["fromCache"], perModel * (c.models - 1));
        EXPECT_EQ(report["textureImages"]["made"], first["textureImages"]["made"]);
        EXPECT_EQ(report["textureImages"]["read"], first["textureImages"]["read"]);
        const json& ws = report["workerSeconds"];
        EXPECT_LE(ws["texturesDecode"].get<double>() + ws["texturesEncode"].get<double>(),
                  ws["textures"].get<double>());
        EXPECT_NE(r.out.find(" from the cache)"), std::string::npos) << r;
    }
}

// A FIFO, device or folder named where a file is expected (an archive, its
// index beside it, a model, a dictionary) ends the command at once with one
// line and exit status 2; none is waited on (`timeout` ends a hang).
TEST_F(Batch, whatIsNoRegularFileEndsTheCommandAtOnce)
{
    const auto v1 = imgw::writeV1({{"a.dff", {1, 2, 3}}});
    put("v1/a.img", v1.img);
    put("m.dff", {1});
    for (const char* fifo : {"v1/a.dir", "pipe.img", "pipe.dff", "pipe.txd"}) {
        ASSERT_EQ(mkfifo((dir / fifo).c_str(), 0600), 0) << fifo;
    }
    fs::create_directory(dir / "folder.img");
    fs::create_directory(dir / "folder.txd");
    const struct {
        std::vector<std::string> args;
        std::string line;  // how the one line starts, after "orvik: "
    } cases[] = {
        {{"img", "list", "pipe.img"}, "pipe.img: not a regular file"},
        {{"img", "extract", "pipe.img", "out"}, "pipe.img: not a regular file"},
        {{"convert", "pipe.img", "--out", "out"}, "pipe.img: not a regular file"},
        {{"img", "list", "v1/a.img"}, "v1/a.dir: not a regular file"},
        {{"convert", "v1/a.img", "--out", "out"}, "v1/a.dir: not a regular file"},
        {{"img", "list", "folder.img"}, "folder.img: not a regular file"},
        {{"img", "list", "/dev/zero"}, "/dev/zero: not a regular file"},
        {{"convert", "pipe.dff", "--out", "out"}, "pipe.dff: not a regular file"},
        {{"convert", "m.dff", "--out", "out", "--txd", "pipe.txd"}, "--txd pipe.txd: not a regular file"},
        {{"import", "m.dff", "--gltf", "out.glb", "--txd", "pipe.txd"}, "pipe.txd: not a regular file"},
        {{"txd", "list", "pipe.txd"}, "pipe.txd: not a regular file"},
        {{"txd", "extract", "folder.txd", "out"}, "folder.txd: is a folder"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {"/usr/bin/timeout", "20", kOrvik};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProgramRun r = runProgram(argv, dir, dir);
        EXPECT_EQ(r.status, 2) << r;
        EXPECT_EQ(r.err.rfind("orvik: " + c.line, 0), 0u) << r;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r;
        EXPECT_FALSE(fs::exists(dir / "out")) << r;
    }
}

TEST_F(Batch, imgListAndExtract)
{
    ORVIK_REQUIRE_SAMPLES();
    const auto v1 = imgw::writeV1({sample("box-big.dff"),
                                   sample("box-small.dff", "Box.DFF"),
                                   {"far.dff", {1}, 9999u},
                                   sample("prop.dff", "../up.dff"),
                                   sample("box-small.dff", "box.dff")});
    put("a.img", v1.img);
    put("a.dir", v1.dir);

    ProgramRun r = run({"img", "list", "a.dir"});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find("a.img: version 1, 5 entries"), std::string::npos) << r;
    EXPECT_NE(r.out.find("        2048  box-big.dff\n"), std::string::npos) << r;
    EXPECT_NE(r.out.find("far.dff  (unreadable: starts at byte 20477952"), std::string::npos) << r;
    EXPECT_NE(r.out.find("../up.dff  (not extracted: the name holds a path separator)"), std::string::npos) << r;

    // Names are matched in any case; one not in the archive writes nothing.
    r = run({"img", "extract", "a.img", "x", "BOX-BIG.dff", "nothere.dff"});
    EXPECT_EQ(r.status, 2) << r;
    EXPECT_NE(r.err.find("no member named nothere.dff"), std::string::npos) << r;
    EXPECT_FALSE(fs::exists(dir / "x"));

    r = run({"img", "extract", "a.img", "x/y"});
    EXPECT_EQ(r.status, 4) << r;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r;
    EXPECT_NE(r.err.find("box.dff: a member of the same name was extracted before it"), std::string::npos) << r;
    const std::vector<std::string> expected = {"a.dir", "a.img", "x/y/Box.DFF", "x/y/box-big.dff"};
    EXPECT_EQ(files(), expected) << r;
    const auto original = imgw::readFile(samplePath("box-big.dff"));
    const auto extracted = imgw::readFile((dir / "x/y/box-big.dff").string());
    ASSERT_GE(extracted.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), extracted.begin()));
}

// Every output of a run is checked before the first model converts: the
// report and the models' files are regular files or nothing, never an input,
// another output of the run or an unrelated .bin; a refused report ends the
// run before any model converts.
TEST_F(Batch, everyOutputIsCheckedBeforeTheFirstModelConverts)
{
    ORVIK_REQUIRE_SAMPLES();
    put("m/car.dff", imgw::readFile(samplePath("box-big.dff")));
    const struct {
        std::vector<std::string> extra;  // after convert m --out o
        std::string prepare;             // "fifo", "bin", "folder": made at o/<name>
        std::string name;
        int status;
        std::string message;
        bool converted;  // o/car.glb (or .gltf) written
    } cases[] = {
        {{"--report", "node"}, "fifo", "../node", 2, "node: is not a regular file", false},
        {{"--report", "o/car.glb"}, "", "", 2, "the report would replace the output of m/car.dff", false},
        {{"--report", "nodir/r.json"}, "", "", 2, "nodir/r.json: the folder nodir does not exist", false},
        {{"--report", "m"}, "", "", 2, "m: is a folder", false},
        {{"--gltf"}, "bin", "car.bin", 4, "o/car.bin exists and is not the buffer file of o/car.gltf", false},
        {{}, "fifo", "car.glb", 4, "its output o/car.glb is not a regular file", false},
        {{"--json"}, "folder", "car.json", 4, "its output o/car.json is a folder", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        fs::remove_all(dir / "o");
        fs::remove(dir / "node");
        fs::create_directory(dir / "o");
        const fs::path made = dir / "o" / c.name;
        if (c.prepare == "fifo") {
            ASSERT_EQ(mkfifo(made.c_str(), 0600), 0);
        }
        if (c.prepare == "bin") put("o/" + c.name, {'x'});
        if (c.prepare == "folder") fs::create_directory(made);
        std::vector<std::string> args = {"convert", "m", "--out", "o", "-j", "1"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ProgramRun r = run(args);
        EXPECT_EQ(r.status, c.status) << r;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r;
        EXPECT_EQ(fs::is_regular_file(dir / "o/car.glb") || fs::is_regular_file(dir / "o/car.gltf"), c.converted) << r;
        if (c.prepare == "fifo") {
            EXPECT_TRUE(fs::is_fifo(made));
        }
        if (c.prepare == "bin") {
            EXPECT_EQ(imgw::readFile(made.string()), std::vector<unsigned char>{'x'});
        }
    }
}

// Which model fails, and why, is settled before the run: the same with one
// worker as with two. An unreadable folder met on the way is one line and
// exit status 4.
TEST_F(Batch, outcomesDoNotDependOnTheWorkers)
{
    ORVIK_REQUIRE_SAMPLES();
    put("G/x.dff", imgw::readFile(samplePath("box-big.dff")));
    put("G/x.glb/y.dff", imgw::readFile(samplePath("box-small.dff")));
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        fs::remove_all(dir / "o");
        const ProgramRun r = run({"convert", "G", "--out", "o", "-j", jobs});
        EXPECT_EQ(r.status, 4) << r;
        EXPECT_NE(r.err.find("y.dff: its outputs' folder would be the output x.glb of G/x.dff"), std::string::npos)
            << r;
        EXPECT_TRUE(fs::is_regular_file(dir / "o/x.glb")) << r;
    }
    if (::geteuid() != 0) {  // root lists any folder
        put("G/locked/z.dff", imgw::readFile(samplePath("box-small.dff")));
        fs::permissions(dir / "G/locked", fs::perms::none);
        fs::remove_all(dir / "o");
        const ProgramRun r = run({"convert", "G", "--out", "o"});
        fs::permissions(dir / "G/locked", fs::perms::owner_all);
        EXPECT_EQ(r.status, 4) << r;
        EXPECT_NE(r.err.find("G/locked: cannot be listed: permission denied"), std::string::npos) << r;
    }
}

// An archive never makes orvik write more than a small multiple of its size:
// members overlapping an earlier one are passed over naming it, entries
// pointing outside the archive are counted in one line, a member that failed
// does not keep a good one of its name out; big members are copied whole.
TEST_F(Batch, archivesNeverMultiplyTheirBytes)
{
    ORVIK_REQUIRE_SAMPLES();
    const auto model = imgw::readFile(samplePath("box-big.dff"));
    const auto sectors = static_cast<std::uint32_t>((model.size() + 2047) / 2048);
    std::vector<imgw::Member> members = {{"far.dff", {}, 0xFFFFFFFFu, 1u}, {"box.dff", model}};
    for (std::size_t i = 0; i < 400; ++i) members.push_back({memberName("c", i), {}, 0u, sectors});
    for (std::size_t i = 0; i < 300; ++i) members.push_back({memberName("o", i), {}, 99999u, 1u});
    members.push_back({"FAR.DFF", model});
    members.push_back({"big.bin", std::vector<unsigned char>((3u << 20) + 5, 0x5A)});
    const auto v1 = imgw::writeV1(members);
    put("a.img", v1.img);
    put("a.dir", v1.dir);

    ProgramRun r = run({"img", "list", "a.img"});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find(" 8796093020160         2048  far.dff"), std::string::npos) << r.out.substr(0, 400);

    r = run({"img", "extract", "a.img", "x"});
    EXPECT_EQ(r.status, 4) << r.err.substr(0, 400);
    EXPECT_NE(r.err.find("c0.dff: its bytes overlap those of box.dff"), std::string::npos) << r.err.substr(0, 400);
    EXPECT_NE(r.err.find("a.img: 301 entries point outside the archive; passed over"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 401) << r.err.substr(0, 400);
    std::uintmax_t written = 0;
    for (const auto& e : fs::directory_iterator(dir / "x")) written += fs::file_size(e.path());
    EXPECT_LE(written, 2 * v1.img.size());
    EXPECT_TRUE(fs::exists(dir / "x/FAR.DFF"));
    EXPECT_EQ(fs::file_size(dir / "x/big.bin"), ((3u << 20) + 5 + 2047) / 2048 * 2048);  // whole sectors

    r = run({"convert", "a.img", "--out", "o", "--report", "r.json"});
    EXPECT_EQ(r.status, 4) << r.err.substr(0, 400);
    EXPECT_NE(r.err.find("a.img: 301 entries point outside the archive; passed over"), std::string::npos);
    const auto report = json::parse(readFile(dir / "r.json"));
    EXPECT_NE(r.err.find("a.img/c399.dff: its bytes overlap those of box.dff"), std::string::npos);
    EXPECT_EQ(report["entriesOutside"], 301);
    EXPECT_EQ(report["membersOverlapping"], 400);
    EXPECT_EQ(report["converted"], 2);
    EXPECT_EQ(report["results"].size(), 2u);  // overlapping members are counted, not recorded
}

// An index costs a small constant per entry, measured through the program:
// a command's peak memory over the same command on the archive's one real
// member alone stays within kBytesPerEntry per entry (an entry is 32 bytes
// on disk), whether the entries point outside the archive or are empty.
// What is passed over is one line per archive; empty members write no file,
// make no model and fail nothing, and `img list` still lists them.
TEST_F(Batch, bigIndexesCostASmallConstantPerEntry)
{
    ORVIK_REQUIRE_SAMPLES();
    constexpr std::size_t kEntries = 250000;
    constexpr long kBytesPerEntry = 100;
#ifdef __SANITIZE_ADDRESS__
    // Freed blocks held back by the sanitizer are no part of what orvik keeps.
    const char* options = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", ((options ? std::string(options) + ":" : "") + "quarantine_size_mb=1").c_str(), 1);
#endif
    std::vector<imgw::Member> outside = {sample("box-big.dff", "box.dff")};
    std::vector<imgw::Member> empty = outside;
    std::vector<imgw::Member> overlapping = outside;
    const auto one = imgw::writeV1(outside);
    for (std::size_t i = 0; i < kEntries; ++i) {
        outside.push_back({memberName("o", i), {}, static_cast<std::uint32_t>(100000 + i), 1u});
        empty.push_back({memberName("e", i), {}});
        overlapping.push_back({memberName("c", i), {}, 0u, 1u});
    }
    const std::vector<std::pair<std::string, imgw::V1Archive>> archives = {{"one", one},
                                                                           {"outside", imgw::writeV1(outside)},
                                                                           {"empty", imgw::writeV1(empty)},
                                                                           {"overlapping", imgw::writeV1(overlapping)}};
    for (const auto& [name, archive] : archives) {
        put(name + ".img", archive.img);
        put(name + ".dir", archive.dir);
    }
    const std::string outsideLine = "outside.img: 250000 entries point outside the archive; passed over\n";
    const std::string emptyLine = "empty.img: 250000 members are empty; passed over\n";
    const struct {
        std::string archive;
        std::vector<std::string> args;  // ARCHIVE goes where "A" is
        int status;
        std::string err;                // all standard error says, after "orvik: "
        std::vector<std::string> made;  // the files written below x/ or o/
    } cases[] = {
        {"outside", {"img", "list", "A"}, 0, "", {}},
        {"empty", {"img", "list", "A"}, 0, "", {}},
        {"outside", {"img", "extract", "A", "x"}, 4, outsideLine, {"x/box.dff"}},
        {"empty", {"img", "extract", "A", "x"}, 0, emptyLine, {"x/box.dff"}},
        {"empty", {"img", "extract", "A", "x", "E7.dff"}, 0, "empty.img: 1 member is empty; passed over\n", {}},
        {"outside",
         {"convert", "A", "--out", "o", "-j", "1", "--report", "r.json"},
         4,
         outsideLine,
         {"o/outside/box.glb"}},
        {"empty",
         {"convert", "A", "--out", "o", "-j", "1", "--report", "r.json"},
         0,
         "empty.img: 250000 .dff members are empty; passed over\n",
         {"o/empty/box.glb"}},
        // One line each, checked by its first and its count.
        {"overlapping",
         {"convert", "A", "--out", "o", "-j", "1", "--report", "r.json"},
         4,
         "overlapping.img/c0.dff: its bytes overlap those of box.dff (entry 1); passed over\n",
         {"o/overlapping/box.glb"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive + ": " + c.args[0] + " " + c.args[1]);
        const auto runOn = [&](const std::string& archive) {
            std::vector<std::string> args = c.args;
            std::replace(args.begin(), args.end(), std::string("A"), archive + ".img");
            fs::remove_all(dir / "x");
            fs::remove_all(dir / "o");
            args.insert(args.begin(), kOrvik);
            return runMeasured(args, dir, dir);
        };
        const ProgramRun base = runOn("one");
        const ProgramRun r = runOn(c.archive);
        ASSERT_GT(base.peakKilobytes, 0) << "no peak measured";
        EXPECT_EQ(r.status, c.status) << r.err.substr(0, 400);
        if (c.archive == "overlapping") {
            EXPECT_EQ(r.err.substr(0, c.err.size() + 7), "orvik: " + c.err);
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), long{kEntries});
        } else {
            EXPECT_EQ(r.err, c.err.empty() ? "" : "orvik: " + c.err);
        }
        EXPECT_LE((r.peakKilobytes - base.peakKilobytes) * 1024, kBytesPerEntry * long{kEntries})
            << r.peakKilobytes << " KB at the peak, " << base.peakKilobytes << " KB for the one member";
        std::vector<std::string> made;
        for (const std::string& f : files()) {
            if (f.rfind("x/", 0) == 0 || f.rfind("o/", 0) == 0) made.push_back(f);
        }
        EXPECT_EQ(made, c.made);
        if (c.args[1] == "list") {
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), long{kEntries} + 3);
        }
        if (c.args[0] == "convert") {
            const auto report = json::parse(readFile(dir / "r.json"));
            EXPECT_EQ(report["results"].size(), 1u);
            EXPECT_EQ(report["entriesOutside"], c.archive == "outside" ? kEntries : 0);
            EXPECT_EQ(report["emptyMembers"], c.archive == "empty" ? kEntries : 0);
            EXPECT_EQ(report["membersOverlapping"], c.archive == "overlapping" ? kEntries : 0);
        }
    }
}

// Paths and names are UTF-8 where they are valid UTF-8, once, in files, the
// report and every message.
TEST_F(Batch, pathsAreUtf8Once)
{
    ORVIK_REQUIRE_SAMPLES();
    put("donn\xC3\xA9"
        "es/caf\xC3\xA9.dff",
        imgw::readFile(samplePath("box-big.dff")));
    put("donn\xC3\xA9"
        "es/cass\xC3\xA9.dff",
        {1, 2, 3});
    const ProgramRun r = run({"convert",
                              "donn\xC3\xA9"
                              "es",
                              "--out", "sortie_\xC3\xA9", "--report", "r.json"});
    EXPECT_EQ(r.status, 4) << r;
    EXPECT_TRUE(fs::exists(dir / "sortie_\xC3\xA9/caf\xC3\xA9.glb"));
    EXPECT_NE(r.err.find("orvik: donn\xC3\xA9"
                         "es/cass\xC3\xA9.dff: "),
              std::string::npos)
        << r;
    const auto report = json::parse(readFile(dir / "r.json"));
    EXPECT_EQ(report["out"], "sortie_\xC3\xA9");
    EXPECT_EQ(report["results"][0]["input"],
              "donn\xC3\xA9"
              "es/caf\xC3\xA9.dff");
    EXPECT_EQ(report["results"][0]["outputs"][0], "sortie_\xC3\xA9/caf\xC3\xA9.glb");

    put("caf\xC3\xA9.txd", imgw::readFile(samplePath("prop.txd")));
    const ProgramRun list = run({"txd", "list", "caf\xC3\xA9.txd"});
    EXPECT_EQ(list.out.rfind("caf\xC3\xA9.txd: ", 0), 0u) << list;
}

// A standard output that cannot be written fails every command with exit
// status 2 and one line.
TEST_F(Batch, aFullStandardOutputFailsEveryCommand)
{
    ORVIK_REQUIRE_SAMPLES();
    put("m/box.dff", imgw::readFile(samplePath("box-big.dff")));
    put("p.txd", imgw::readFile(samplePath("prop.txd")));
    const auto v2 = imgw::writeV2({sample("box-big.dff")});
    put("a.img", v2);
    for (const std::string command : {"img list a.img", "img extract a.img x", "txd list p.txd", "txd extract p.txd t",
                                      "txd list p.txd --json -", "convert m --out o"}) {
        SCOPED_TRACE(command);
        const ProgramRun r =
            runProgram({"/bin/sh", "-c", "exec '" + kOrvik + "' " + command + " >/dev/full"}, dir, dir);
        EXPECT_EQ(r.status, 2) << r;
        EXPECT_EQ(r.err.rfind("orvik: standard output: cannot be written", 0), 0u) << r;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r;
    }
}

// The heaps' huge pages are added to the tunables the user gave, and a
// choice the user made either way stays.
TEST(HugePageHeaps, addedToTheGivenTunablesUnlessChosen)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {nullptr, "glibc.malloc.hugetlb=1"},
        {"", "glibc.malloc.hugetlb=1"},
        {"glibc.malloc.arena_max=2", "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"},
        {"glibc.malloc.hugetlb=0", ""},
        {"glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1", ""},
    };
    for (const auto& [given, expected] : cases)
        EXPECT_EQ(orvik::tunablesWithHugePageHeaps(given), expected) << (given ? given : "(none)");
}

// A worker that dies mid-job fails that job only; a new worker takes the
// rest, and every job ends once.
TEST(WorkerPool, aWorkerThatDiesFailsOnlyItsJob)
{
    std::vector<int> answered(6, 0);
    std::vector<std::string> answers(6);
    orvik::WorkerPoolHandlers h;
    h.work = [](std::size_t i) {
        if (i == 2) ::raise(SIGKILL);  // a signal no sanitizer catches
        if (i == 4) ::_exit(3);
        return "job " + std::to_string(i) + "\nok";
    };
    h.done = [&](std::size_t i, bool ok, const std::string& a) {
        answered[i] += ok ? 1 : 100;
        answers[i] = a;
    };
    std::string why;
    ASSERT_TRUE(orvik::runWorkerPool(answered.size(), 2, h, why)) << why;
    EXPECT_EQ(answered, (std::vector<int>{1, 1, 100, 1, 100, 1}));
    EXPECT_EQ(answers[0], "job 0 ok");
    EXPECT_NE(answers[2].find("signal 9"), std::string::npos) << answers[2];
    EXPECT_EQ(answers[4], "the worker exited with status 3");
}

}  // namespace
