// Animation packages: what the reader keeps of each layout (through
// `orvik ifp list` against golden files), the units and rotation convention of
// each, where a damaged package ends, the command's exit statuses, and the
// sample packages listed whole, checked against their own structure.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <sstream>

#include "format/Binary.h"
#include "ifp/Package.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"
#include "testkit/IfpWriter.h"

namespace {

namespace fs = std::filesystem;
using ifp::KeyType;
using ifp::Layout;
using Bytes = std::vector<std::uint8_t>;

ifp::Package readBytes(const Bytes& bytes)
{
    return ifp::readPackage(bytes.data(), bytes.size());
}

// Every key type (ANP3 keeps RTS bones as RT), a name with a leading space,
// a bone without id, an animation without bones; ANP3 also a time below 0
// and padding after the end.
ifpw::Package everyKeyType(Layout layout)
{
    ifpw::Package p;
    p.layout = layout;
    p.name = "peds";
    const ifpw::Key k{0.0f, {0.25f, -0.5f, 0.125f, 0.75f}, {0.5f, -1.25f, 2.0f}, {2, 3, 4}};
    const ifpw::Key late{0.5f, {0, 0, 0, 1}, {0, 0, 0}, {1, 1, 1}};
    const ifpw::Key early{layout == Layout::Anp3 ? -0.5f : 0.0f, {0, 0, 0, 1}, {0, 0, 0}, {1, 1, 1}};
    p.animations = {ifpw::Animation{"walk_civi",
                                    {{" Spine", 2, KeyType::R, {k, late}},
                                     {"Root", 0, KeyType::RT, {k, late, late}},
                                     {"Thumb", -1, KeyType::RTS, {k}}}},
                    ifpw::Animation{"idle", {{"Head", 5, KeyType::R, {early, late}}}}, ifpw::Animation{"empty", {}}};
    p.padding = layout == Layout::Anp3 ? 2048 : 0;
    return p;
}

TEST(IfpReader, RotationConventionAndUnitsOfEachLayout)
{
    struct Case {
        Layout layout;
        float sign;       // ANPK stores the conjugate
        float tolerance;  // ANP3 keeps 1/4096 of rotation, 1/1024 of translation
    };
    for (const Case c : {Case{Layout::Anpk, -1.0f, 0.0f}, Case{Layout::Anp3, 1.0f, 1.0f / 2048}}) {
        SCOPED_TRACE(ifp::layoutName(c.layout));
        const ifp::Package p = readBytes(ifpw::write(everyKeyType(c.layout)));
        ASSERT_EQ(p.damage, "");
        const ifp::Bone& rts = p.animations[0].bones[2];
        const float expected[] = {c.sign * 0.25f, c.sign * -0.5f, c.sign * 0.125f, 0.75f, 0.5f, -1.25f, 2.0f};
        const float read[] = {rts.keys[0].rotation[0],   rts.keys[0].rotation[1],    rts.keys[0].rotation[2],
                              rts.keys[0].rotation[3],   rts.keys[0].translation[0], rts.keys[0].translation[1],
                              rts.keys[0].translation[2]};
        for (std::size_t i = 0; i < std::size(read); ++i) EXPECT_NEAR(read[i], expected[i], c.tolerance) << i;
        EXPECT_NEAR(p.animations[0].bones[0].keys[1].time, 0.5f, 1.0f / 120);
        EXPECT_FLOAT_EQ(rts.keys[0].scale[2], c.layout == Layout::Anpk ? 4.0f : 1.0f);
    }
}

// A package whose second animation is damaged keeps the first and says where
// and why it stopped.
TEST(IfpReader, DamageKeepsTheAnimationsBeforeIt)
{
    struct Case {
        Layout layout;
        void (*damage)(ifpw::Package&);
        std::size_t kept;
        const char* says;
    };
    const Case cases[] = {
        {Layout::Anpk, [](ifpw::Package& p) { p.animationCount = 0x40000000; }, 0,
         "package declares 1073741824 animations"},
        {Layout::Anpk, [](ifpw::Package& p) { p.animations[1].boneCount = 0x7FFFFFFF; }, 1,
         "animation 1 \"second\" declares 2147483647 bones"},
        {Layout::Anpk, [](ifpw::Package& p) { p.animations[1].bones[0].keyCount = 1000; }, 1, "declares 1000 keys"},
        {Layout::Anpk, [](ifpw::Package& p) { p.animations[1].bones[0].keyTag = "KRQ0"; }, 1, "unknown kind \"KRQ0\""},
        {Layout::Anpk, [](ifpw::Package& p) { p.animationCount = 3; }, 2, "animation 2 needs 8 bytes"},
        {Layout::Anp3, [](ifpw::Package& p) { p.animationCount = 0xFFFFFFFF; }, 0, "declares 4294967295 animations"},
        {Layout::Anp3, [](ifpw::Package& p) { p.animations[1].bones[0].keyCount = 0x10000000; }, 1,
         "declares 268435456 keys"},
        {Layout::Anp3, [](ifpw::Package& p) { p.animations[1].bones[0].anp3KeyType = 7; }, 1, "has key type 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        ifpw::Package p;
        p.layout = c.layout;
        p.animations = {ifpw::Animation{"first", {ifpw::Bone{}}}, ifpw::Animation{"second", {ifpw::Bone{}}}};
        c.damage(p);
        const ifp::Package read = readBytes(ifpw::write(p));
        ASSERT_EQ(read.animations.size(), c.kept);
        EXPECT_EQ(c.kept > 0 ? read.animations[0].name : "first", "first");
        EXPECT_NE(read.damage.find(c.says), std::string::npos) << read.damage;
        EXPECT_EQ(read.damage.find('\n'), std::string::npos);
        EXPECT_EQ(read.damage.rfind("offset 0x", 0), 0u) << read.damage;
    }
    // Every prefix, as an exact-size copy so that the sanitizers see a read past it.
    for (Layout layout : {Layout::Anpk, Layout::Anp3}) {
        const Bytes whole = ifpw::write(everyKeyType(layout));
        for (std::size_t n = 0; n < whole.size() - everyKeyType(layout).padding; ++n) {
            const ifp::Package p = readBytes(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
            EXPECT_FALSE(p.damage.empty()) << n;
            EXPECT_LE(p.animations.size(), 2u) << n;
        }
    }
}

class IfpList : public ScratchFolder {
protected:
    ProgramRun orvik(const std::string& args)
    {
        std::vector<std::string> argv = {std::string(ORVIK_BIN_DIR) + "/orvik"};
        std::istringstream words(args);
        for (std::string w; words >> w;) argv.push_back(w);
        return runProgram(argv, dir, dir);
    }
    // The text and the JSON listing against tests/golden/ifp/NAME.txt and .json.
    void expectListed(const std::string& file, const std::string& golden, const GoldenPlaces& places = {})
    {
        const ProgramRun text = orvik("ifp list " + file);
        EXPECT_EQ(text.status, 0) << text;
        EXPECT_EQ(text.err, "");  // read whole: no damage line
        expectGolden("ifp/" + golden + ".txt", text.out, places);
        const ProgramRun json = orvik("ifp list " + file + " --json");
        EXPECT_EQ(json.status, 0) << json;
        expectGolden("ifp/" + golden + ".json", json.out, places);
    }
    void save(const std::string& name, const Bytes& bytes) { put(name, std::string(bytes.begin(), bytes.end())); }
};

TEST_F(IfpList, WriterPackagesOfBothLayouts)
{
    for (Layout layout : {Layout::Anpk, Layout::Anp3}) {
        const std::string name = layout == Layout::Anpk ? "writer-anpk" : "writer-anp3";
        save(name + ".ifp", ifpw::write(everyKeyType(layout)));
        expectListed(name + ".ifp", name);
    }
}

TEST_F(IfpList, ExitStatusesAndDamage)
{
    ifpw::Package damaged = everyKeyType(Layout::Anpk);
    damaged.animations[1].bones[0].keyCount = 1000;
    ifpw::Package nothing = damaged;
    nothing.animationCount = 1000;
    save("damaged.ifp", ifpw::write(damaged));
    save("nothing.ifp", ifpw::write(nothing));
    save("model.dff", {'A', 'N', 'P', 'X'});
    fs::create_directory(dir / "folder.ifp");
    ASSERT_EQ(mkfifo((dir / "pipe.ifp").c_str(), 0600), 0);
    struct Case {
        std::string args;
        int status;
        std::string out;  // the start of standard output
        std::string err;
    };
    for (const Case& c : std::vector<Case>{
             {"ifp list missing.ifp", 2, "", "orvik: missing.ifp: no such file\n"},
             {"ifp list folder.ifp", 2, "", "orvik: folder.ifp: not a regular file (a folder)\n"},
             {"ifp list pipe.ifp", 2, "", "orvik: pipe.ifp: not a regular file\n"},
             {"ifp list model.dff", 2, "", "orvik: model.dff: not an animation package\n"},
             {"ifp list damaged.ifp --json damaged.ifp", 2, "",
              "orvik: damaged.ifp: would overwrite the animation package damaged.ifp\n"},
             {"ifp list damaged.ifp", 0,
              "damaged.ifp: ANPK package \"peds\", 1 animation\nwalk_civi: 0.500 s, 3 bones\n",
              "damaged.ifp: offset 0x238: animation 1 \"idle\" bone 0 \"Head\" declares 1000 keys, 40 bytes are "
              "left\n"},
             {"ifp list nothing.ifp --json", 3,
              "{\n  \"format\": \"ANPK\",\n  \"name\": \"peds\",\n  \"animations\": []\n}\n",
              "nothing.ifp: offset 0x1C: package declares 1000 animations, 620 bytes are left\n"},
         }) {
        SCOPED_TRACE(c.args);
        const ProgramRun r = orvik(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(r.err, c.err);
    }
    // A JSON file gets what standard output would; a full standard output fails in one line.
    EXPECT_EQ(orvik("ifp list damaged.ifp --json listing.json").status, 0);
    EXPECT_EQ(readFile(dir / "listing.json"), orvik("ifp list damaged.ifp --json -").out);
    const ProgramRun full =
        runProgram({"/bin/sh", "-c", "exec '" + std::string(ORVIK_BIN_DIR) + "/orvik' ifp list damaged.ifp >/dev/full"},
                   dir, dir);
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err.rfind("orvik: standard output: cannot be written", 0), 0u) << full.err;
}

// Per animation, the bones and the bytes of keys the file's own structure
// gives, found without the reader: ANPK by walking its sections (CPAN per bone,
// the key sections' sizes), ANP3 by each animation's declared key bytes.
struct Tally {
    std::size_t bones = 0;
    std::size_t keyBytes = 0;
};

void walkAnpk(const Bytes& b, std::size_t pos, std::size_t end, std::vector<Tally>& out)
{
    while (pos + 8 <= end) {
        const std::string tag(b.begin() + static_cast<std::ptrdiff_t>(pos),
                              b.begin() + static_cast<std::ptrdiff_t>(pos + 4));
        const std::size_t size = loadU32(&b[pos + 4]), body = pos + 8;
        if (tag == "DGAN") out.emplace_back();
        if (tag == "CPAN") ++out.back().bones;
        if (tag.rfind("KR", 0) == 0) out.back().keyBytes += size;
        if (tag == "DGAN" || tag == "CPAN") walkAnpk(b, body, body + size, out);
        pos = body + (tag == "NAME" || tag == "INFO" ? (size + 3) / 4 * 4 : size);
    }
}

std::vector<Tally> tally(const Bytes& b)
{
    std::vector<Tally> out;
    if (std::memcmp(b.data(), "ANPK", 4) == 0) {
        walkAnpk(b, 8, b.size(), out);
        return out;
    }
    std::size_t pos = 36;
    for (std::uint32_t a = loadU32(&b[32]); a > 0; --a, pos += 36) {
        out.push_back({loadU32(&b[pos + 24]), loadU32(&b[pos + 28])});
        pos += 36 * out.back().bones + out.back().keyBytes;
    }
    return out;
}

TEST_F(IfpList, SamplePackagesListWhole)
{
    ORVIK_REQUIRE_SAMPLES();
    const GoldenPlaces places{{samplePath(""), "{samples}/"}};
    for (const char* name : {"anpk-iii-ped", "anp3-ghands", "anp3-sport"}) {
        SCOPED_TRACE(name);
        const std::string file = samplePath(std::string(name) + ".ifp");
        expectListed(file, name, places);
        const std::string bytes = readFile(file);
        const std::vector<Tally> expected = tally(Bytes(bytes.begin(), bytes.end()));
        const nlohmann::json j = nlohmann::json::parse(orvik("ifp list " + file + " --json").out);
        const bool anp3 = j["format"] == "ANP3";
        const std::map<std::string, std::size_t> keySize = {{"R", anp3 ? 10 : 20}, {"RT", anp3 ? 16 : 32}, {"RTS", 44}};
        ASSERT_EQ(j["animations"].size(), expected.size());
        for (std::size_t a = 0; a < expected.size(); ++a) {
            const nlohmann::json& bones = j["animations"][a]["bones"];
            std::size_t keyBytes = 0;
            for (const nlohmann::json& b : bones) keyBytes += b["keys"].get<std::size_t>() * keySize.at(b["keyType"]);
            EXPECT_EQ(bones.size(), expected[a].bones) << a;
            EXPECT_EQ(keyBytes, expected[a].keyBytes) << a;
        }
    }
}

}  // namespace
