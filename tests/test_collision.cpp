// The collision and 2d effect readers (col/): what each version of an entry
// and each kind of effect holds comes back whole (a fixed document of every
// field), and every lie in a count, offset or size ends the reading with the
// entries before it and one line naming the entry.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "col/Collision.h"
#include "col/Effects.h"
#include "fuzz/CorpusModels.h"
#include "support/Golden.h"
#include "testkit/ColWriter.h"

namespace {

namespace col = orvik::col;
using Bytes = std::vector<std::uint8_t>;
using Json = nlohmann::ordered_json;

Json vec(const col::Vec3& v)
{
    return {v.x, v.y, v.z};
}

Json faces(const std::vector<col::Face>& faces)
{
    Json out = Json::array();
    for (const col::Face& f : faces) out.push_back({f.a, f.b, f.c, f.material, f.light});
    return out;
}

Json modelJson(const col::Model& m)
{
    Json spheres = Json::array(), boxes = Json::array(), vertices = Json::array(), groups = Json::array(),
         shadow = Json::array();
    auto surface = [](const col::Surface& s) { return Json{s.material, s.piece, s.brightness, s.light}; };
    for (const col::Sphere& s : m.spheres) spheres.push_back({vec(s.center), s.radius, surface(s.surface)});
    for (const col::Box& b : m.boxes) boxes.push_back({vec(b.min), vec(b.max), surface(b.surface)});
    for (const col::Vec3& v : m.vertices) vertices.push_back(vec(v));
    for (const col::FaceGroup& g : m.faceGroups) groups.push_back({vec(g.min), vec(g.max), g.firstFace, g.lastFace});
    for (const col::Vec3& v : m.shadowVertices) shadow.push_back(vec(v));
    return {{"tag", col::versionTag(m.version)},
            {"name", m.name},
            {"modelId", m.modelId},
            {"offset", m.offset},
            {"size", m.size},
            {"bounds", {vec(m.bounds.min), vec(m.bounds.max), vec(m.bounds.center), m.bounds.radius}},
            {"spheres", spheres},
            {"boxes", boxes},
            {"vertices", vertices},
            {"faces", faces(m.faces)},
            {"faceGroups", groups},
            {"shadowVertices", shadow},
            {"shadowFaces", faces(m.shadowFaces)}};
}

// An entry of every version, bounds and model ids apart; the COL3 entry has
// a vertex no face names, which is not read (later versions store no vertex
// count: it is one more than the largest index a face names).
TEST(CollisionReader, EveryVersionGivesBackWhatItHolds)
{
    std::vector<colw::Entry> entries;
    for (int version = 1; version <= 4; ++version) {
        colw::Entry e = corpus::collisionEntry(version, "entry" + std::to_string(version));
        e.modelId = static_cast<uint16_t>(400 + version);
        e.min = {-2, -3, -1}, e.max = {2, 3, 1}, e.center = {0, 0.5f, 0}, e.radius = 3.75f;
        entries.push_back(e);
    }
    entries[2].vertices.push_back({5, 5, 5});
    const col::ReadResult r = col::readCollision(colw::writeFile(entries, 24));
    EXPECT_EQ(r.error, "");
    Json doc = Json::array();
    for (const col::Model& m : r.models) doc.push_back(modelJson(m));
    expectGolden("col/reader-versions.json", doc.dump(1) + "\n");
}

struct Damage {
    const char* what;
    std::function<void(std::vector<colw::Entry>&)> lie;
    std::size_t kept;     // whole entries before the damage
    const char* message;  // part of the one line
};

TEST(CollisionReader, DamagedEntryKeepsTheOnesBefore)
{
    const std::vector<Damage> cases = {
        {"size past the end", [](auto& es) { es[1].size = 100000; }, 1,
         "entry 1 (\"b\", COL3) at 0x174 declares 100,000 bytes"},
        {"COLL sphere count", [](auto& es) { es[1].version = 1, es[1].sphereCount = 5000; }, 1,
         "declares 5,000 spheres"},
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
        std::vector<colw::Entry> entries;
        for (const char* name : {"a", "b", "c"}) entries.push_back(corpus::collisionEntry(3, name));
        c.lie(entries);
        const col::ReadResult r = col::readCollision(colw::writeFile(entries));
        EXPECT_EQ(r.models.size(), c.kept) << c.what << ": " << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << c.what;
    }
    // Zero bytes after the entries are padding; anything else there is damage.
    Bytes bytes = colw::writeFile({corpus::collisionEntry(2, "a")}, 2048);
    EXPECT_EQ(col::readCollision(bytes).error, "");
    bytes[bytes.size() - 7] = 1;
    const col::ReadResult r = col::readCollision(bytes);
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

// A light of each form (76 bytes without a look direction, 80 with), a
// particle, a sun glare (no data) and a kind not known.
TEST(EffectsReader, EachKindWithItsValues)
{
    colw::LightEffect shortLight;
    shortLight.position = {1, 2, 3};
    shortLight.colour = {255, 128, 0, 200};
    shortLight.range = 12.5f;
    colw::LightEffect longLight = shortLight;
    longLight.look = std::array<int8_t, 3>{-5, 0, 127};
    const col::EffectsResult r = col::readEffects(effectsBody(
        {colw::lightEffect(shortLight), colw::lightEffect(longLight), colw::particleEffect({0, 0, 4}, "prt_smoke"),
         colw::rawEffect({0, 0, 5}, 4), colw::rawEffect({0, 0, 6}, 77, Bytes(12, 1))}));
    EXPECT_EQ(r.error, "");
    Json doc = Json::array();
    for (const col::Effect& e : r.effects) {
        Json values = Json::object();
        for (const col::EffectValue& v : e.values) {
            using Kind = col::EffectValue::Kind;
            values[v.key] = v.kind == Kind::Int     ? Json(v.intValue)
                            : v.kind == Kind::Float ? Json(v.floatValue)
                                                    : Json(v.text);
        }
        doc.push_back({{"kind", e.kind},
                       {"type", e.type},
                       {"dataSize", e.dataSize},
                       {"position", vec(e.position)},
                       {"colour", {e.colour[0], e.colour[1], e.colour[2]}},
                       {"range", e.range},
                       {"values", values}});
    }
    expectGolden("col/effects.json", doc.dump(1) + "\n");
}

TEST(EffectsReader, DamageKeepsTheEntriesBefore)
{
    colw::Effect lying = colw::particleEffect({0, 0, 0}, "x");
    lying.dataSize = 5000;
    const colw::Effect glare = colw::rawEffect({0, 0, 0}, 4);
    struct Case {
        const char* what;
        Bytes body;
        std::size_t kept;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"count beyond the body", effectsBody({glare}, 0x10000000), 0, "declares 268,435,456 entries"},
        {"data size beyond the body", effectsBody({glare, lying}), 1,
         "entry 1 (particle) at 0x18 declares 5,000 bytes"},
        {"count one more than the entries", effectsBody({glare, glare}, 3), 0, "declares 3 entries"},
        {"no count", Bytes{1, 2}, 0, "holds no entry count"},
    };
    for (const Case& c : cases) {
        const col::EffectsResult r = col::readEffects(c.body);
        EXPECT_EQ(r.effects.size(), c.kept) << c.what << ": " << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
    }
}

}  // namespace
