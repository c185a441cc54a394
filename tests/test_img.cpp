// IMG archive reader: archives of both versions written by the project's own
// writer from the sample models read back byte for byte, and damaged indexes
// whose entries keep their place with the reason they cannot be read.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "img/ImgArchive.h"
#include "testkit/ImgWriter.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;
using orvik::img::Archive;
using orvik::img::Version;

class Img : public ScratchFolder {
protected:
    std::string put(const std::string& name, const std::vector<unsigned char>& bytes)
    {
        return ScratchFolder::put(name, std::string(bytes.begin(), bytes.end())).string();
    }
};

std::vector<imgw::Member> sampleMembers()
{
    std::vector<imgw::Member> members;
    for (const char* name : {"box-big.dff", "car1.dff", "car1.txd", "ped1.dff", "cbl-slhandbf.dff"}) {
        members.push_back({name, imgw::readFile(samplePath(name))});
    }
    return members;
}

void expectSameMembers(const Archive& archive, const std::vector<imgw::Member>& members)
{
    ASSERT_EQ(archive.index().entries.size(), members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        const auto& e = archive.index().entries[i];
        EXPECT_EQ(e.name(), members[i].name);
        EXPECT_TRUE(e.readable());
        EXPECT_EQ(e.offset % orvik::img::kSectorSize, 0u);
        std::vector<unsigned char> bytes;
        std::string error;
        ASSERT_TRUE(archive.read(e, bytes, error)) << error;
        // The member comes back padded to whole sectors.
        ASSERT_GE(bytes.size(), members[i].bytes.size());
        EXPECT_LT(bytes.size() - members[i].bytes.size(), orvik::img::kSectorSize);
        EXPECT_TRUE(std::equal(members[i].bytes.begin(), members[i].bytes.end(), bytes.begin())) << e.name();
    }
}

TEST_F(Img, bothVersionsReadBackTheSamples)
{
    ORVIK_REQUIRE_SAMPLES();
    const auto members = sampleMembers();

    Archive v2;
    std::string error;
    ASSERT_TRUE(v2.open(put("sa.img", imgw::writeV2(members)), error)) << error;
    EXPECT_EQ(v2.index().version, Version::v2);
    expectSameMembers(v2, members);

    // Version 1, opened by its .img and by its .dir; the index's extension in
    // another case is found too.
    const auto v1 = imgw::writeV1(members);
    const std::string img = put("gta3.img", v1.img);
    put("GTA3.DIR", v1.dir);
    for (const std::string& path : {img, (dir / "GTA3.DIR").string()}) {
        Archive a;
        ASSERT_TRUE(a.open(path, error)) << error;
        EXPECT_EQ(a.index().version, Version::v1);
        EXPECT_EQ(a.dataPath(), img);
        expectSameMembers(a, members);
    }
}

TEST_F(Img, openingRefusesWhatHoldsNoIndex)
{
    std::string error;
    Archive a;
    EXPECT_FALSE(a.open((dir / "missing.img").string(), error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
    EXPECT_FALSE(a.open(put("lone.img", std::vector<unsigned char>(4096, 0)), error));
    EXPECT_NE(error.find("no VER2 header and no .dir"), std::string::npos) << error;
    EXPECT_FALSE(a.open(put("alone.dir", std::vector<unsigned char>(64, 0)), error));
    EXPECT_NE(error.find("no .img archive"), std::string::npos) << error;
    // A count larger than the archive can hold is refused before anything is sized from it.
    EXPECT_FALSE(a.open(put("big.img", imgw::writeV2({{"a.dff", {1, 2, 3}}}, 0xFFFFFFFFu)), error));
    EXPECT_NE(error.find("claims 4294967295 entries"), std::string::npos) << error;
}

// One damaged member between two good ones, in each version: the damaged
// entry is listed with its reason, the others read as written.
TEST_F(Img, damagedEntriesKeepTheirPlaceWithAReason)
{
    const std::vector<unsigned char> payload(5000, 0xAB);  // three sectors
    struct Case {
        const char* what;
        imgw::Member damaged;
        const char* reason;  // "" when the entry stays readable
        std::uint64_t size;  // the size read then
    };
    const std::vector<Case> cases = {
        {"past the end", {"far.dff", payload, 100000u}, "past the archive's end", 0},
        {"too long", {"long.dff", payload, std::nullopt, 500u}, "the archive has", 0},
        {"at offset 0", {"zero.dff", payload, 0u}, "", 3 * 2048},
        {"overlapping the next", {"over.dff", payload, std::nullopt, 4u}, "", 4 * 2048},
        {"empty", {"empty.dff", {}}, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<imgw::Member> members = {{"a.dff", payload}, c.damaged, {"b.dff", {7, 7, 7}}};
        const auto v1 = imgw::writeV1(members);
        put("v1.img", v1.img);
        put("v1.dir", v1.dir);
        for (const std::string& path : {(dir / "v1.img").string(), put("v2.img", imgw::writeV2(members))}) {
            Archive a;
            std::string error;
            ASSERT_TRUE(a.open(path, error)) << error;
            const auto& entries = a.index().entries;
            ASSERT_EQ(entries.size(), 3u);
            const auto problem = [&](std::size_t i) { return a.index().problemText(entries[i]); };
            std::vector<unsigned char> bytes;
            // In a version 2 archive offset 0 is the index itself; in
            // version 1 it is the first member's, and the later entry is
            // passed over.
            const bool atZero = std::string(c.what) == "at offset 0";
            const bool overlapsNext = std::string(c.what) == "overlapping the next";
            if (atZero && a.index().version == Version::v2) {
                EXPECT_NE(problem(1).find("inside the archive's index"), std::string::npos);
            } else if (atZero) {
                EXPECT_NE(problem(1).find("its bytes overlap those of a.dff (entry 1)"), std::string::npos)
                    << problem(1);
            } else if (*c.reason != 0) {
                EXPECT_NE(problem(1).find(c.reason), std::string::npos) << problem(1);
                EXPECT_FALSE(a.read(entries[1], bytes, error));
            } else {
                EXPECT_EQ(problem(1), "");
                ASSERT_TRUE(a.read(entries[1], bytes, error)) << error;
                EXPECT_EQ(bytes.size(), c.size);
            }
            if (overlapsNext) {
                EXPECT_NE(problem(2).find("overlap those of over.dff"), std::string::npos) << problem(2);
                continue;
            }
            ASSERT_TRUE(a.read(entries[2], bytes, error)) << error;
            EXPECT_EQ(bytes[0], 7);
        }
    }
}

// A member is copied in pieces of bounded size that add up to its bytes.
TEST_F(Img, membersAreCopiedInBoundedPieces)
{
    std::vector<unsigned char> payload((2u << 20) + 3000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i * 7 + i / 4096);
    Archive a;
    std::string error;
    ASSERT_TRUE(a.open(put("p.img", imgw::writeV2({{"p.bin", payload}})), error)) << error;
    std::vector<unsigned char> copied;
    std::size_t pieces = 0;
    ASSERT_TRUE(a.copy(
        a.index().entries[0],
        [&](const unsigned char* piece, std::size_t n) {
            EXPECT_LE(n, orvik::img::kCopyPiece);
            copied.insert(copied.end(), piece, piece + n);
            return ++pieces < 100;
        },
        error))
        << error;
    EXPECT_EQ(pieces, 3u);
    ASSERT_EQ(copied.size(), a.index().entries[0].size);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), copied.begin()));
    // A sink that stops ends the copy.
    EXPECT_FALSE(a.copy(
        a.index().entries[0], [](const unsigned char*, std::size_t) { return false; }, error));
}

TEST_F(Img, lastMemberCutShortWithinItsSectorIsRead)
{
    // An unpadded last member: the archive ends inside its last sector.
    auto img = imgw::writeV2({{"a.dff", std::vector<unsigned char>(3000, 1)}});
    img.erase(img.end() - 1000, img.end());
    Archive a;
    std::string error;
    ASSERT_TRUE(a.open(put("cut.img", img), error)) << error;
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(a.read(a.index().entries[0], bytes, error)) << error;
    EXPECT_EQ(bytes.size(), 3096u);
}

TEST_F(Img, sizeInTheArchiveWordAndTrailingIndexBytes)
{
    imgw::Member m{"s.dff", std::vector<unsigned char>(2100, 2)};
    m.sizeInArchiveWord = true;
    Archive a;
    std::string error;
    ASSERT_TRUE(a.open(put("w.img", imgw::writeV2({m})), error)) << error;
    EXPECT_EQ(a.index().entries[0].size, 4096u);

    auto v1 = imgw::writeV1({m});
    v1.dir.resize(v1.dir.size() + 5, 0xFF);
    put("t.img", v1.img);
    put("t.dir", v1.dir);
    ASSERT_TRUE(a.open((dir / "t.img").string(), error)) << error;
    EXPECT_EQ(a.index().entries.size(), 1u);
    ASSERT_EQ(a.index().notes.size(), 1u);
    EXPECT_NE(a.index().notes[0].find("5 bytes"), std::string::npos);
}

TEST(ImgNames, namesThatCannotNameAFile)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"car.dff", true}, {"CAR 2.DFF", true},     {"", false},         {".", false},
        {"..", false},     {"../x.dff", false},     {"a\\b.dff", false}, {std::string("a\x01.dff"), false},
        {"a\x7f", false},  {"\xe9t\xe9.dff", true},
    };
    for (const auto& [name, usable] : cases) {
        EXPECT_EQ(orvik::img::nameProblem(name).empty(), usable) << name;
    }
    // A name of 24 bytes has no NUL: all 24 are the name.
    std::array<char, 24> full{};
    full.fill('x');
    std::vector<imgw::Member> members = {{"", {1}}};
    members[0].rawName = full;
    const auto bytes = imgw::writeV2(members);
    orvik::img::Index index;
    std::string error;
    ASSERT_TRUE(orvik::img::parseIndex(bytes.data(), bytes.size(), Version::v2, bytes.size(), index, error));
    EXPECT_EQ(index.entries[0].name(), std::string(24, 'x'));
    EXPECT_TRUE(orvik::img::sameName("Car.DFF", "car.dff"));
    EXPECT_FALSE(orvik::img::sameName("car.dff", "car.dfx"));
    EXPECT_EQ(orvik::img::nameHash("Car.DFF"), orvik::img::nameHash("car.dff"));
    EXPECT_NE(orvik::img::nameHash("car.dff"), orvik::img::nameHash("car.dfx"));
}

}  // namespace
