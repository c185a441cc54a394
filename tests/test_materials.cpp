// Materials, textures and material extensions, end to end: material lists
// written with the test writer are imported and the game materials, bitmap
// textures and controllers are read back from the scene dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;
using dffw::Material;
using dffw::namedTexture;
using dffw::Texture;
using nlohmann::json;

dffw::Clump clumpWith(const std::vector<std::vector<Material>>& perGeometry)
{
    dffw::Clump c;
    for (std::size_t g = 0; g < perGeometry.size(); ++g) {
        c.frames.push_back(dffw::namedFrame("part" + std::to_string(g), g > 0 ? 0 : 0xFFFFFFFF));
        dffw::Geometry geometry = g % 2 == 0 ? dffw::makeQuad() : dffw::makeCube();
        geometry.materials = perGeometry[g];
        c.geometries.push_back(geometry);
        c.atomics.push_back(dffw::atomic(static_cast<uint32_t>(g), static_cast<uint32_t>(g)));
    }
    return c;
}

json importMaterials(const std::vector<Material>& materials, const HostOptions& options = {})
{
    return dumpJson(importBytes(dffw::write(clumpWith({materials})), options));
}

Material textured(std::vector<Texture> textures)
{
    Material m;
    m.textures = std::move(textures);
    return m;
}

Material withExtension(std::vector<dffw::MaterialExtItem> items, std::vector<Texture> textures = {})
{
    Material m = textured(std::move(textures));
    m.extension.items = std::move(items);
    return m;
}

std::vector<json> multiMaterials(const json& dump)
{
    std::vector<json> out;
    for (const json& m : dump["materials"])
        if (m["class"] == "multi") out.push_back(m);
    return out;
}

// The game material in slot i of the multi-material of geometry g.
json slot(const json& dump, std::size_t i, std::size_t g = 0)
{
    const std::vector<json> multis = multiMaterials(dump);
    if (g >= multis.size() || i >= multis[g]["subMaterials"].size() || multis[g]["subMaterials"][i].is_null()) {
        ADD_FAILURE() << "no game material in slot " << i << " of geometry " << g;
        return json::object({{"params", json::object()}});
    }
    return dump["materials"][multis[g]["subMaterials"][i].get<std::size_t>()];
}

json params(const json& dump, std::size_t i, std::size_t g = 0)
{
    return slot(dump, i, g)["params"];
}

// The texture a texture parameter names.
json textureParam(const json& dump, const json& p, const std::string& id)
{
    if (!p.contains(id) || p[id]["texture"].is_null()) {
        ADD_FAILURE() << "parameter " << id << " holds no texture";
        return json::object({{"name", "<none>"}});
    }
    return dump["textures"][p[id]["texture"].get<std::size_t>()];
}

// Every material field the importer reads, fixed by
// tests/golden/dump/materials.json (the dump's materials, textures and
// controllers), slot by slot:
//  0-2   colour, alpha and the ambient, specular and diffuse factors; an
//        untextured material writes only those;
//  3-4   a main texture and its mask; two textures, the first named without
//        NUL: the last read stays, the names in file order;
//  5-11  filter modes 0 to 6 (1 and 2 swap, the rest none; the mask takes
//        the main texture's);
//  12-16 addressing 0x11, 0x01, 0x00, 0x22, 0x33 (wrap and mirror per axis);
//  17-19 material effects: an environment texture (not its mask) beside a
//        reflection chunk read after it, a coefficient without a texture, a
//        bump effect that sets only its flag;
//  20-22 specular level alone, with a texture, and the short form whose
//        16-byte name has no NUL;
//  23-24 reflection colour, alpha and intensity;
//  25-27 a UV animation on its material's main texture (key times in ticks,
//        2.5 truncated to 2); a name of another case and a material without
//        a main texture key nothing.
TEST(Materials, EveryFieldAsFixed)
{
    std::vector<Material> m(3);
    m[0].colour = {255, 128, 0, 64};
    m[0].ambient = 0.25f, m[0].specular = 0.5f, m[0].diffuse = 0.75f;
    m[1].colour = {10, 20, 30, 255};
    Texture exact = namedTexture("first");
    exact.nameStyle = dffw::NameStyle::Exact;
    m.push_back(textured({namedTexture("body", "bodym")}));
    m.push_back(textured({exact, namedTexture("second")}));
    for (uint8_t mode = 0; mode <= 6; ++mode) m.push_back(textured({namedTexture("t", "m", 0x11, mode)}));
    for (const uint8_t a : std::array<uint8_t, 5>{0x11, 0x01, 0x00, 0x22, 0x33})
        m.push_back(textured({namedTexture("t", "m", a, 6)}));

    dffw::MaterialEffects chrome{.coefficient = 0.5f, .envTexture = namedTexture("chrome", "unused", 0x22, 2)};
    m.push_back(withExtension({chrome, dffw::ReflectionMaterial{}}, {namedTexture("paint")}));
    m.push_back(withExtension({dffw::MaterialEffects{.coefficient = 0.25f}}));
    m.push_back(withExtension({dffw::MaterialEffects{.firstEffect = 1}}));
    m.push_back(withExtension({dffw::SpecularMaterial{.level = 0.25f}}));
    m.push_back(withExtension({dffw::SpecularMaterial{.level = 0.5f, .texture = "spec"}}));
    m.push_back(
        withExtension({dffw::SpecularMaterial{.level = 0.125f, .texture = "ABCDEFGHIJKLMNOP", .shortForm = true},
                       dffw::ReflectionMaterial{}}));
    m.push_back(withExtension({dffw::ReflectionMaterial{.colour = {0.1f, 0.2f, 0.3f, 0.5f}, .intensity = 0.75f}}));
    m.push_back(withExtension({dffw::ReflectionMaterial{.colour = {1, 1, 1, 1}}}));

    dffw::UvAnimation scroll{.name = "scroll",
                             .keyFrames = {{0.0f, {0.9f, 1.5f, 2.5f, 0.8f, 0.25f, 0.125f}, -1},
                                           {static_cast<float>(2.5 / 4800.0), {0, 5, 6, 0, 1, 2}, 0},
                                           {1.5f, {0, 3, 4, 0, 6, 7}, 1}}};
    m.push_back(withExtension({dffw::UvAnimationRef{.name = "scroll"}}, {namedTexture("water")}));
    m.push_back(withExtension({dffw::UvAnimationRef{.name = "SCROLL"}}, {namedTexture("lava")}));
    m.push_back(withExtension({dffw::UvAnimationRef{.name = "scroll"}}));
    dffw::File file;
    file.units = {dffw::UvAnimDictionary{.animations = {scroll}}, clumpWith({m})};
    Scene& scene = importBytes(dffw::write(file));
    EXPECT_FALSE(scene.animateMode) << "the keys were set in animate mode, and it was left as it was";
    EXPECT_TRUE(scene.animateSaved.empty());
    const nlohmann::ordered_json dump = dumpOrderedJson(scene);
    expectGolden("dump/materials.json", nlohmann::ordered_json{{"materials", dump["materials"]},
                                                               {"textures", dump["textures"]},
                                                               {"controllers", dump["controllers"]}}
                                            .dump(1));
}

TEST(Materials, EmptyListGivesAnEmptyMultiMaterial)
{
    const json dump = importMaterials({});
    ASSERT_EQ(multiMaterials(dump).size(), 1u);
    EXPECT_TRUE(multiMaterials(dump)[0]["subMaterials"].empty());
    EXPECT_EQ(dump["meshes"].size(), 1u);
}

TEST(Materials, TextureWithoutExtensionLeavesTheNextChunkInPlace)
{
    Texture bare = namedTexture("bare");
    bare.extension.present = false;
    Material after;
    after.colour = {9, 9, 9, 9};
    const json dump =
        importMaterials({withExtension({dffw::ReflectionMaterial{}}, {bare, namedTexture("next")}), after});
    EXPECT_EQ(textureParam(dump, params(dump, 0), "4")["name"], "next");
    EXPECT_EQ(params(dump, 0)["20"]["int"], 1);
    EXPECT_EQ(params(dump, 1)["6"]["int"], 9);
}

// A model written into a folder of its own, with image files beside it.
class TextureSearch : public ScratchFolder {
protected:
    fs::path touch(const std::string& folder, const std::string& name) { return put(folder + "/" + name, "image"); }
    json import(const std::vector<Material>& materials, const HostOptions& options = {})
    {
        const fs::path file = put("model/model.dff", "");
        EXPECT_TRUE(dffw::saveFile(file.string(), dffw::write(clumpWith({materials}))));
        return dumpJson(importFile(file.string(), options));
    }
    json mapOf(const json& dump, std::size_t slotIndex, const std::string& id)
    {
        const json t = textureParam(dump, params(dump, slotIndex), id);
        return json::array({t["mapName"], t["found"]});
    }
};

TEST_F(TextureSearch, ExtensionsAreTriedInOrderBesideTheModel)
{
    const fs::path wheelTga = touch("model", "wheel.TGA");
    touch("model", "wheel.DDS");
    const fs::path rim = touch("model", "rim.DDS");
    touch("model", "cap.png");
    const fs::path hub = touch("model", "HUB.PNG.jpg");
    const json dump =
        import({textured({namedTexture("wheel")}), textured({namedTexture("rim")}), textured({namedTexture("none")}),
                textured({namedTexture("cap.png")}), textured({namedTexture("hub.png")})});
    EXPECT_EQ(mapOf(dump, 0, "4"), json::array({wheelTga.string(), true}));
    EXPECT_EQ(mapOf(dump, 1, "4"), json::array({rim.string(), true}));
    EXPECT_EQ(mapOf(dump, 2, "4"), json::array({"none.TGA", false}));
    EXPECT_EQ(mapOf(dump, 3, "4"), json::array({"cap.png.TGA", false}));  // the extension is always appended
    EXPECT_EQ(mapOf(dump, 4, "4"), json::array({hub.string(), true}));    // names compared ignoring case
}

TEST_F(TextureSearch, BitmapPathsAreSearchedInOrder)
{
    touch("a", "door.PNG");
    const fs::path doorTga = touch("b", "door.tga");
    const fs::path seatA = touch("a", "seat.dds");
    touch("b", "seat.dds");
    const fs::path mask = touch("b", "SEATM.BMP");
    touch("model", "seat.jpg");
    HostOptions options;
    options.bitmapPaths = {(dir / "a").string(), (dir / "b").string()};
    const json dump = import({textured({namedTexture("door")}), textured({namedTexture("seat", "seatm")})}, options);
    EXPECT_EQ(mapOf(dump, 0, "4"), json::array({doorTga.string(), true}));  // extension order comes first
    EXPECT_EQ(mapOf(dump, 1, "4"), json::array({seatA.string(), true}));
    EXPECT_EQ(mapOf(dump, 1, "7"), json::array({mask.string(), true}));
}

TEST(MaterialExtension, UnknownAndOversizedSubChunksArePassedOver)
{
    dffw::ReflectionMaterial oversized;
    oversized.head.size = 5000;  // claims more than the extension holds
    Material last;
    last.colour = {1, 2, 3, 4};
    const json dump = importMaterials({
        withExtension({dffw::rawChunk(0x12345, {1, 2, 3, 4, 5, 6, 7, 8}), dffw::ReflectionMaterial{}}),
        withExtension({oversized}),
        last,
    });
    EXPECT_EQ(params(dump, 0)["20"]["int"], 1);
    EXPECT_EQ(params(dump, 1)["20"]["int"], 1);
    EXPECT_EQ(params(dump, 2)["6"]["int"], 4);  // the next material was found where it starts
    EXPECT_EQ(dump["nodes"].size(), 1u);
}

TEST(Materials, WithoutGameMaterialSlotsStayEmpty)
{
    dffw::MaterialEffects fx;
    fx.envTexture = namedTexture("env");
    dffw::SpecularMaterial spec;
    spec.texture = "spec";
    dffw::UvAnimationRef ref;
    ref.name = "anim";
    dffw::UvAnimation anim;
    anim.name = "anim";
    anim.keyFrames = {{}, {}};
    dffw::UvAnimDictionary dictionary;
    dictionary.animations = {anim};
    const Material rich =
        withExtension({fx, spec, dffw::ReflectionMaterial{}, ref}, {namedTexture("a", "am"), namedTexture("b")});
    dffw::File file;
    file.units = {dictionary, clumpWith({{rich, rich}, {rich, rich, rich}})};
    HostOptions options;
    options.withoutGameMaterial = true;
    const json dump = dumpJson(importBytes(dffw::write(file), options));

    const std::vector<json> multis = multiMaterials(dump);
    ASSERT_EQ(multis.size(), 2u);
    EXPECT_EQ(multis[0]["subMaterials"], json::array({nullptr, nullptr}));
    EXPECT_EQ(multis[1]["subMaterials"], json::array({nullptr, nullptr, nullptr}));
    EXPECT_TRUE(dump["textures"].empty());
    EXPECT_TRUE(dump["controllers"].empty());
    // The geometry after the materials was read in place: both meshes and nodes are there.
    ASSERT_EQ(dump["meshes"].size(), 2u);
    EXPECT_EQ(dump["meshes"][1]["vertices"].size(), 24u);
    EXPECT_EQ(dump["nodes"].size(), 2u);
}

TEST(MaterialBounds, CountsTheFileCannotHoldEndTheImport)
{
    dffw::Clump manyMaterials = clumpWith({{Material{}}});
    manyMaterials.geometries[0].materialCountOverride = 0x10000000;
    json dump = dumpJson(importBytes(dffw::write(manyMaterials)));
    EXPECT_EQ(dump["import"]["result"], 1);
    EXPECT_TRUE(dump["materials"].empty());
    EXPECT_TRUE(dump["nodes"].empty());

    Material manyTextures = textured({namedTexture("t")});
    manyTextures.textureCountOverride = 0x10000000;
    dump = importMaterials({manyTextures});
    EXPECT_TRUE(dump["textures"].empty());
    EXPECT_TRUE(dump["nodes"].empty());

    Texture longName = namedTexture("t");
    longName.nameHead.size = 0x7FFFFFF0;
    dump = importMaterials({textured({longName})});
    EXPECT_TRUE(dump["textures"].empty());
    EXPECT_TRUE(dump["nodes"].empty());
}

TEST(MaterialBounds, EveryCutThroughTheMaterialsStaysInTheBuffer)
{
    dffw::MaterialEffects fx;
    fx.envTexture = namedTexture("env");
    dffw::SpecularMaterial spec;
    spec.texture = "spec";
    dffw::UvAnimationRef ref;
    ref.name = "anim";
    const Material rich =
        withExtension({fx, spec, dffw::ReflectionMaterial{}, ref}, {namedTexture("a", "am"), namedTexture("b")});
    dffw::UvAnimation anim;
    anim.name = "anim";
    anim.keyFrames = {{}, {}};
    dffw::UvAnimDictionary dictionary;
    dictionary.animations = {anim};
    dffw::File file;
    file.units = {dictionary, clumpWith({{rich}})};
    std::vector<dffw::ChunkOffset> offsets;
    const std::vector<uint8_t> bytes = dffw::write(file, &offsets);
    const auto list = std::find_if(offsets.begin(), offsets.end(),
                                   [](const dffw::ChunkOffset& o) { return o.type == dffw::ChunkType::MaterialList; });
    ASSERT_NE(list, offsets.end());

    // Files cut anywhere from the material list's header to the geometry's extension header.
    const std::size_t from = list->offset,
                      to = std::min<std::size_t>(bytes.size(), list->offset + 12 + list->size + 12);
    for (std::size_t n = from; n <= to; ++n) {
        SCOPED_TRACE(n);
        const json dump =
            dumpJson(importBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n))));
        ASSERT_EQ(dump["import"]["result"], 1);
        // Whatever was made refers only to objects that exist.
        for (const json& m : dump["materials"]) {
            if (!m.contains("params")) continue;
            for (const json& v : m["params"]) {
                if (v.contains("texture") && !v["texture"].is_null()) {
                    ASSERT_LT(v["texture"].get<std::size_t>(), dump["textures"].size());
                }
            }
        }
    }
    const json whole = dumpJson(importBytes(bytes));
    EXPECT_EQ(whole["textures"].size(), 5u);  // a, am, b, env, spec
    EXPECT_EQ(whole["controllers"].size(), 4u);
    EXPECT_EQ(whole["nodes"].size(), 1u);
}

}  // namespace
