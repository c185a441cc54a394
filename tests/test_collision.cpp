// The collision and 2d effect readers (col/): what each version of an entry
// holds comes back field by field, and every lie in a count, offset or size
// ends the reading with the entries before it and one line naming the entry.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "col/Collision.h"
#include "col/Effects.h"
#include "testkit/ColWriter.h"

namespace {

namespace col = orvik::col;
using Bytes = std::vector<std::uint8_t>;

// An entry of the version with a sphere, a box, a closed box mesh of two
// surfaces, and, where the version has them, face groups and a shadow mesh.
colw::Entry fullEntry(int version, const std::string& name)
{
    colw::Entry e;
    e.version = version;
    e.name = name;
    e.modelId = static_cast<uint16_t>(400 + version);
    e.min = {-2, -3, -1}, e.max = {2, 3, 1}, e.center = {0, 0.5f, 0}, e.radius = 3.75f;
    e.spheres.push_back({{0.5f, -1.25f, 0.25f}, 0.75f, {12, 3, 200, 0x4F}});
    e.boxes.push_back({{-1, -1, -0.5f}, {1, 2, 0.5f}, {7, 1, 150, 0x22}});
    colw::addBoxMesh(e, {-1, -2, -1}, {1, 2, 0.5f}, 9);
    e.faces[3].material = 31, e.faces[3].light = 0xA5;
    if (version >= 2) e.faceGroups.push_back({{-1, -2, -1}, {1, 2, 0.5f}, 0, 11});
    if (version >= 3) {
        e.shadowVertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
        e.shadowFaces = {{0, 1, 2, 4, 0x10}, {1, 3, 2, 4, 0x20}};
    }
    return e;
}

col::ReadResult readBytes(const Bytes& bytes) { return col::readCollision(bytes); }

void expectVec(const col::Vec3& v, float x, float y, float z, const std::string& where)
{
    EXPECT_FLOAT_EQ(v.x, x) << where;
    EXPECT_FLOAT_EQ(v.y, y) << where;
    EXPECT_FLOAT_EQ(v.z, z) << where;
}

TEST(CollisionReader, EveryVersionGivesBackWhatItHolds)
{
    for (int version = 1; version <= 4; ++version) {
        const std::string where = col::versionTag(version);
        const col::ReadResult r = readBytes(colw::writeFile({fullEntry(version, "first"), fullEntry(version, "second")}, 24));
        EXPECT_EQ(r.error, "") << where;
        ASSERT_EQ(r.models.size(), 2u) << where;
        const col::Model& m = r.models[1];
        EXPECT_EQ(m.version, version);
        EXPECT_EQ(m.name, "second");
        EXPECT_EQ(m.modelId, 400 + version) << where;
        EXPECT_EQ(m.offset, r.models[0].size) << where;
        expectVec(m.bounds.min, -2, -3, -1, where);
        expectVec(m.bounds.max, 2, 3, 1, where);
        expectVec(m.bounds.center, 0, 0.5f, 0, where);
        EXPECT_FLOAT_EQ(m.bounds.radius, 3.75f) << where;
        ASSERT_EQ(m.spheres.size(), 1u) << where;
        expectVec(m.spheres[0].center, 0.5f, -1.25f, 0.25f, where);
        EXPECT_FLOAT_EQ(m.spheres[0].radius, 0.75f) << where;
        EXPECT_EQ(m.spheres[0].surface.material, 12) << where;
        EXPECT_EQ(m.spheres[0].surface.piece, 3) << where;
        EXPECT_EQ(m.spheres[0].surface.brightness, 200) << where;
        EXPECT_EQ(m.spheres[0].surface.light, 0x4F) << where;
        ASSERT_EQ(m.boxes.size(), 1u) << where;
        expectVec(m.boxes[0].max, 1, 2, 0.5f, where);
        EXPECT_EQ(m.boxes[0].surface.material, 7) << where;
        ASSERT_EQ(m.vertices.size(), 8u) << where;
        expectVec(m.vertices[7], 1, 2, 0.5f, where);  // on the 1/128 grid, so exact in every version
        ASSERT_EQ(m.faces.size(), 12u) << where;
        EXPECT_EQ(m.faces[3].material, 31) << where;
        EXPECT_EQ(m.faces[3].light, 0xA5) << where;
        EXPECT_EQ(m.faces[0].material, 9) << where;
        EXPECT_EQ(m.faceGroups.size(), version >= 2 ? 1u : 0u) << where;
        if (version >= 2) {
            EXPECT_EQ(m.faceGroups[0].lastFace, 11) << where;
        }
        EXPECT_EQ(m.shadowFaces.size(), version >= 3 ? 2u : 0u) << where;
        EXPECT_EQ(m.shadowVertices.size(), version >= 3 ? 4u : 0u) << where;
        if (version >= 3) {
            EXPECT_EQ(m.shadowFaces[1].light, 0x20) << where;
        }
    }
}

// Later versions store no vertex count: it is one more than the largest
// index a face names, whatever else lies between vertices and faces.
TEST(CollisionReader, VertexCountComesFromTheFaces)
{
    colw::Entry e = fullEntry(3, "unused tail");
    e.vertices.push_back({5, 5, 5});  // named by no face
    const col::ReadResult r = readBytes(colw::writeFile({e}));
    ASSERT_EQ(r.models.size(), 1u) << r.error;
    EXPECT_EQ(r.models[0].vertices.size(), 8u);
}

struct Damage {
    const char* what;
    std::function<void(std::vector<colw::Entry>&)> lie;
    std::size_t kept;      // whole entries before the damage
    const char* message;   // part of the one line
};

TEST(CollisionReader, DamagedEntryKeepsTheOnesBefore)
{
    const std::vector<Damage> cases = {
        {"size past the end", [](auto& es) { es[1].size = 100000; }, 1, "entry 1 (\"b\", COL3) at 0x"},
        {"size past the end says the numbers", [](auto& es) { es[1].size = 100000; }, 1, "declares 100,000 bytes"},
        {"COLL sphere count", [](auto& es) { es[1].version = 1, es[1].sphereCount = 5000; }, 1, "declares 5,000 spheres"},
        {"COLL face naming a missing vertex", [](auto& es) { es[0].version = 1, es[0].faces[2].c = 8; }, 0,
         "has face 2 naming vertex 8 of 8"},
        {"COLL vertex count", [](auto& es) { es[2].version = 1, es[2].vertexCount = 0x7FFFFFFF; }, 2,
         "declares 2,147,483,647 vertices"},
        {"sphere offset past the entry", [](auto& es) { es[1].spheresAt = 0xFFFFFF00; }, 1, "puts its spheres at"},
        {"box count beyond its block", [](auto& es) { es[1].boxCount = 0xFFFF; }, 1, "declares 65,535 boxes"},
        {"faces offset past the entry", [](auto& es) { es[2].facesAt = 0x10000; }, 2, "puts its faces at"},
        {"face naming a vertex past the entry", [](auto& es) { es[1].faces[0].a = 60000; }, 1,
         "declares 60,001 vertices"},
        {"face group count", [](auto& es) { es[1].faceGroupCount = 1000; }, 1, "declares 1,000 face groups"},
        {"shadow face count", [](auto& es) { es[0].shadowFaceCount = 0x10000000; }, 0,
         "declares 268,435,456 shadow faces"},
        {"entry shorter than its header", [](auto& es) { es[1].size = 60; }, 1, "its name and bounds alone need 72"},
        {"COL2 entry without its offsets", [](auto& es) { es[1].version = 2, es[1].size = 80; }, 1,
         "its header alone needs 108"},
        {"unknown tag", [](auto& es) { es[2].tag = std::string("COLX"); }, 2, "entry 2 at 0x"},
    };
    for (const Damage& c : cases) {
        std::vector<colw::Entry> entries = {fullEntry(3, "a"), fullEntry(3, "b"), fullEntry(3, "c")};
        c.lie(entries);
        const col::ReadResult r = readBytes(colw::writeFile(entries));
        EXPECT_EQ(r.models.size(), c.kept) << c.what << ": " << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << c.what;
    }
}

TEST(CollisionReader, PaddingAfterTheEntriesIsNoDamageButOtherBytesAre)
{
    Bytes bytes = colw::writeFile({fullEntry(2, "a")}, 2048);
    EXPECT_EQ(readBytes(bytes).error, "");
    bytes[bytes.size() - 7] = 1;
    const col::ReadResult r = readBytes(bytes);
    EXPECT_EQ(r.models.size(), 1u);
    EXPECT_NE(r.error.find("no collision tag"), std::string::npos) << r.error;
}

// ---------------------------------------------------------------------------
// 2d effects

Bytes effectsBody(const std::vector<colw::Effect>& effects, std::optional<uint32_t> count = std::nullopt)
{
    const Bytes chunk = colw::effectsChunk(effects, count).bytes();
    return Bytes(chunk.begin() + 12, chunk.end());
}

const col::EffectValue* valueNamed(const col::Effect& e, const std::string& key)
{
    for (const col::EffectValue& v : e.values)
        if (v.key == key) return &v;
    return nullptr;
}

TEST(EffectsReader, EachKindWithItsValues)
{
    colw::LightEffect shortLight;
    shortLight.position = {1, 2, 3};
    shortLight.colour = {255, 128, 0, 200};
    shortLight.range = 12.5f;
    shortLight.coronaTexture = "coronastar";
    colw::LightEffect longLight = shortLight;
    longLight.look = std::array<int8_t, 3>{-5, 0, 127};
    const Bytes body = effectsBody({colw::lightEffect(shortLight), colw::lightEffect(longLight),
                                    colw::particleEffect({0, 0, 4}, "prt_smoke"), colw::rawEffect({0, 0, 5}, 4),
                                    colw::rawEffect({0, 0, 6}, 77, Bytes(12, 1))});
    const col::EffectsResult r = col::readEffects(body);
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.effects.size(), 5u);
    const col::Effect& light = r.effects[0];
    EXPECT_EQ(light.kind, "light");
    EXPECT_FLOAT_EQ(light.position.z, 3);
    EXPECT_FLOAT_EQ(light.colour[1], 128);
    EXPECT_FLOAT_EQ(light.range, 12.5f);
    ASSERT_NE(valueNamed(light, "coronaTexture"), nullptr);
    EXPECT_EQ(valueNamed(light, "coronaTexture")->text, "coronastar");
    EXPECT_EQ(valueNamed(light, "lookX"), nullptr);  // the 76-byte form has none
    ASSERT_NE(valueNamed(r.effects[1], "lookX"), nullptr);
    EXPECT_EQ(valueNamed(r.effects[1], "lookX")->intValue, -5);
    EXPECT_EQ(valueNamed(r.effects[1], "lookZ")->intValue, 127);
    EXPECT_EQ(r.effects[2].kind, "particle");
    EXPECT_EQ(valueNamed(r.effects[2], "effectName")->text, "prt_smoke");
    EXPECT_EQ(r.effects[3].kind, "sun glare");
    EXPECT_TRUE(r.effects[3].values.empty());
    EXPECT_EQ(r.effects[4].kind, "effect 77");
    EXPECT_EQ(r.effects[4].dataSize, 12u);
}

TEST(EffectsReader, DamageKeepsTheEntriesBefore)
{
    colw::Effect lying = colw::particleEffect({0, 0, 0}, "x");
    lying.dataSize = 5000;
    struct Case {
        const char* what;
        Bytes body;
        std::size_t kept;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"count beyond the body", effectsBody({colw::rawEffect({0, 0, 0}, 4)}, 0x10000000), 0,
         "declares 268,435,456 entries"},
        {"data size beyond the body", effectsBody({colw::rawEffect({0, 0, 0}, 4), lying}), 1,
         "entry 1 (particle) at 0x18 declares 5,000 bytes"},
        {"count one more than the entries", effectsBody({colw::rawEffect({0, 0, 0}, 4), colw::rawEffect({0, 0, 0}, 4)}, 3),
         0, "declares 3 entries"},
        {"no count", Bytes{1, 2}, 0, "holds no entry count"},
    };
    for (const Case& c : cases) {
        const col::EffectsResult r = col::readEffects(c.body);
        EXPECT_EQ(r.effects.size(), c.kept) << c.what << ": " << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
    }
}

}  // namespace
