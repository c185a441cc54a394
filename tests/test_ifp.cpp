// The animation package reader: what it keeps of each layout, the units and
// the rotation convention of each, and where a damaged package ends.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ifp/Package.h"
#include "support/ImportHarness.h"
#include "testkit/IfpWriter.h"

namespace {

using ifp::KeyType;
using ifp::Layout;

ifp::Package readBytes(const std::vector<std::uint8_t>& bytes) { return ifp::readPackage(bytes.data(), bytes.size()); }

ifpw::Key key(float time, std::array<float, 4> rotation, std::array<float, 3> translation = {0, 0, 0},
              std::array<float, 3> scale = {1, 1, 1})
{
    return ifpw::Key{time, rotation, translation, scale};
}

// One bone of each key type, with a name that keeps its leading space.
ifpw::Package everyKeyType(Layout layout)
{
    ifpw::Package p;
    p.layout = layout;
    p.name = "peds";
    ifpw::Bone r{" Spine", 2, KeyType::R, {key(0.0f, {0.25f, -0.5f, 0.125f, 0.75f}), key(0.5f, {0, 0, 0, 1})}};
    ifpw::Bone rt{"Root", 0, KeyType::RT, {key(1.0f, {0, 0, 0.5f, 0.5f}, {0.5f, -1.25f, 2.0f})}};
    ifpw::Bone rts{"Thumb", -1, KeyType::RTS, {key(0.25f, {0, 0, 0, 1}, {1, 2, 3}, {2, 3, 4})}};
    std::vector<ifpw::Bone> bones{r, rt};
    if (layout == Layout::Anpk) bones.push_back(rts);
    p.animations = {ifpw::Animation{"walk_civi", bones}, ifpw::Animation{"idle", {r}}};
    return p;
}

TEST(IfpReader, KeepsEveryAnimationBoneAndKeyOfBothLayouts)
{
    for (Layout layout : {Layout::Anpk, Layout::Anp3}) {
        SCOPED_TRACE(ifp::layoutName(layout));
        const ifp::Package p = readBytes(ifpw::write(everyKeyType(layout)));
        EXPECT_EQ(p.damage, "");
        EXPECT_EQ(p.layout, layout);
        EXPECT_EQ(p.name, "peds");
        ASSERT_EQ(p.animations.size(), 2u);
        const ifp::Animation& walk = p.animations[0];
        EXPECT_EQ(walk.name, "walk_civi");
        ASSERT_EQ(walk.bones.size(), layout == Layout::Anpk ? 3u : 2u);
        EXPECT_EQ(walk.bones[0].name, " Spine");
        EXPECT_EQ(walk.bones[0].keyType, KeyType::R);
        EXPECT_EQ(walk.bones[0].keys.size(), 2u);
        EXPECT_EQ(walk.bones[1].keyType, KeyType::RT);
        // ANPK writes ids only in the 44-byte bone record, ANP3 always.
        EXPECT_EQ(walk.bones[0].id, 2);
        EXPECT_EQ(walk.bones[1].id, 0);
        EXPECT_FLOAT_EQ(walk.startTime(), 0.0f);
        EXPECT_FLOAT_EQ(walk.endTime(), 1.0f);
        EXPECT_EQ(p.animations[1].bones.size(), 1u);
    }
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
        const ifp::Key& k = p.animations[0].bones[0].keys[0];
        EXPECT_NEAR(k.rotation[0], c.sign * 0.25f, c.tolerance);
        EXPECT_NEAR(k.rotation[1], c.sign * -0.5f, c.tolerance);
        EXPECT_NEAR(k.rotation[2], c.sign * 0.125f, c.tolerance);
        EXPECT_NEAR(k.rotation[3], 0.75f, c.tolerance);
        EXPECT_NEAR(p.animations[0].bones[0].keys[1].time, 0.5f, 1.0f / 120);
        const ifp::Key& rt = p.animations[0].bones[1].keys[0];
        EXPECT_NEAR(rt.translation[0], 0.5f, c.tolerance);
        EXPECT_NEAR(rt.translation[1], -1.25f, c.tolerance);
        EXPECT_NEAR(rt.translation[2], 2.0f, c.tolerance);
    }
    const ifp::Package anpk = readBytes(ifpw::write(everyKeyType(Layout::Anpk)));
    const ifp::Key& rts = anpk.animations[0].bones[2].keys[0];
    EXPECT_EQ(anpk.animations[0].bones[2].keyType, KeyType::RTS);
    EXPECT_FLOAT_EQ(rts.scale[2], 4.0f);
    EXPECT_FLOAT_EQ(rts.translation[2], 3.0f);
}

TEST(IfpReader, Anp3TimesMayStartBelowZeroAndPaddingIsIgnored)
{
    ifpw::Package p;
    p.layout = Layout::Anp3;
    p.padding = 2048;
    p.animations[0].bones[0].keys = {key(-0.5f, {0, 0, 0, 1}), key(2.0f, {0, 0, 0, 1})};
    const ifp::Package read = readBytes(ifpw::write(p));
    EXPECT_EQ(read.damage, "");
    ASSERT_EQ(read.animations.size(), 1u);
    EXPECT_FLOAT_EQ(read.animations[0].startTime(), -0.5f);
    EXPECT_FLOAT_EQ(read.animations[0].endTime(), 2.0f);
}

// A package whose second animation is damaged keeps the first and says where
// and why it stopped.
TEST(IfpReader, DamageKeepsTheAnimationsBeforeIt)
{
    struct Case {
        const char* what;
        Layout layout;
        void (*damage)(ifpw::Package&);
        std::size_t kept;
        const char* says;
    };
    const Case cases[] = {
        {"animation count beyond the file", Layout::Anpk,
         [](ifpw::Package& p) { p.animationCount = 0x40000000; }, 0, "declares 1073741824"},
        {"bone count beyond the file", Layout::Anpk,
         [](ifpw::Package& p) { p.animations[1].boneCount = 0x7FFFFFFF; }, 1, "animation 1 \"second\": 2147483647 bones"},
        {"key count beyond the section", Layout::Anpk,
         [](ifpw::Package& p) { p.animations[1].bones[0].keyCount = 1000; }, 1, "declares 1000"},
        {"unknown key tag", Layout::Anpk,
         [](ifpw::Package& p) { p.animations[1].bones[0].keyTag = "KRQ0"; }, 1, "unknown kind \"KRQ0\""},
        {"more animations than written", Layout::Anpk, [](ifpw::Package& p) { p.animationCount = 3; }, 2,
         "animation 2 needs 8 bytes"},
        {"ANP3 animation count beyond the file", Layout::Anp3,
         [](ifpw::Package& p) { p.animationCount = 0xFFFFFFFF; }, 0, "4294967295 animations"},
        {"ANP3 key count beyond the file", Layout::Anp3,
         [](ifpw::Package& p) { p.animations[1].bones[0].keyCount = 0x10000000; }, 1, "268435456 keys"},
        {"ANP3 unknown key type", Layout::Anp3,
         [](ifpw::Package& p) { p.animations[1].bones[0].anp3KeyType = 7; }, 1, "has key type 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ifpw::Package p;
        p.layout = c.layout;
        p.animations = {ifpw::Animation{"first", {ifpw::Bone{}}}, ifpw::Animation{"second", {ifpw::Bone{}}}};
        c.damage(p);
        const ifp::Package read = readBytes(ifpw::write(p));
        EXPECT_EQ(read.animations.size(), c.kept);
        if (c.kept > 0) {
            EXPECT_EQ(read.animations[0].name, "first");
        }
        EXPECT_NE(read.damage.find(c.says), std::string::npos) << read.damage;
        EXPECT_EQ(read.damage.find('\n'), std::string::npos);
        EXPECT_EQ(read.damage.rfind("offset 0x", 0), 0u) << read.damage;
    }
}

TEST(IfpReader, EveryPrefixReadsWithoutFault)
{
    for (Layout layout : {Layout::Anpk, Layout::Anp3}) {
        const std::vector<std::uint8_t> whole = ifpw::write(everyKeyType(layout));
        for (std::size_t n = 0; n < whole.size(); ++n) {
            // An exact-size copy, so that the sanitizers see any read past it.
            const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            const ifp::Package p = ifp::readPackage(cut.data(), cut.size());
            EXPECT_FALSE(p.damage.empty()) << n;
            EXPECT_LE(p.animations.size(), 1u) << n;
        }
    }
}

std::vector<std::uint8_t> readSample(const std::string& name)
{
    std::ifstream in(samplePath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every sample package reads whole: its animation count, and the totals of
// bones and keys taken from the files' own headers.
TEST(IfpSamples, EveryPackageReadsWhole)
{
    ORVIK_REQUIRE_SAMPLES();
    struct Case {
        const char* file;
        Layout layout;
        std::size_t animations;
        std::size_t bones;
        std::size_t keys;
    };
    for (const Case c : {Case{"anpk-iii-ped.ifp", Layout::Anpk, 236, 3746, 84851},
                         Case{"anp3-ghands.ifp", Layout::Anp3, 20, 309, 5657},
                         Case{"anp3-sport.ifp", Layout::Anp3, 15, 480, 4322}}) {
        SCOPED_TRACE(c.file);
        const ifp::Package p = readBytes(readSample(c.file));
        EXPECT_EQ(p.damage, "");
        EXPECT_EQ(p.layout, c.layout);
        std::size_t bones = 0, keys = 0;
        for (const ifp::Animation& a : p.animations) {
            bones += a.bones.size();
            for (const ifp::Bone& b : a.bones) keys += b.keys.size();
        }
        EXPECT_EQ(p.animations.size(), c.animations);
        EXPECT_EQ(bones, c.bones);
        EXPECT_EQ(keys, c.keys);
    }
}

}  // namespace
