// Materials, textures and material extensions, end to end: material lists
// written with the test writer are imported and the game materials, bitmap
// textures and controllers are read back from the scene dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using dffw::Material;
using dffw::Texture;
using dffw::namedTexture;

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

json params(const json& dump, std::size_t i, std::size_t g = 0) { return slot(dump, i, g)["params"]; }

// The texture a texture parameter names.
json textureParam(const json& dump, const json& p, const std::string& id)
{
    if (!p.contains(id) || p[id]["texture"].is_null()) {
        ADD_FAILURE() << "parameter " << id << " holds no texture";
        return json::object({{"name", "<none>"}});
    }
    return dump["textures"][p[id]["texture"].get<std::size_t>()];
}

float num(const json& v) { return v.get<float>(); }

TEST(Materials, ColourFactorsAndSlots)
{
    Material a;
    a.colour = {255, 128, 0, 64};
    a.ambient = 0.25f, a.specular = 0.5f, a.diffuse = 0.75f;
    Material b;
    b.colour = {10, 20, 30, 255};
    Material c;
    const json dump = importMaterials({a, b, c});

    const std::vector<json> multis = multiMaterials(dump);
    ASSERT_EQ(multis.size(), 1u);
    ASSERT_EQ(multis[0]["subMaterials"].size(), 3u);
    const json pa = params(dump, 0);
    EXPECT_EQ(num(pa["3"]["color"][0]), 1.0f);
    EXPECT_EQ(num(pa["3"]["color"][1]), 128.0f / 255.0f);
    EXPECT_EQ(num(pa["3"]["color"][2]), 0.0f);
    EXPECT_EQ(pa["6"]["int"], 64);
    EXPECT_EQ(num(pa["0"]["float"]), 0.25f);
    EXPECT_EQ(num(pa["1"]["float"]), 0.5f);
    EXPECT_EQ(num(pa["2"]["float"]), 0.75f);
    // No textures: only the colour and the factors are written.
    std::set<std::string> written;
    for (const auto& [id, value] : pa.items()) written.insert(id);
    EXPECT_EQ(written, (std::set<std::string>{"0", "1", "2", "3", "6"}));
    EXPECT_EQ(slot(dump, 0)["flags"], 0x100008);
    EXPECT_EQ(num(params(dump, 1)["3"]["color"][2]), 30.0f / 255.0f);  // slot 1 is the second chunk
    EXPECT_EQ(params(dump, 2)["6"]["int"], 255);
    EXPECT_TRUE(dump["textures"].empty());
}

TEST(Materials, EmptyListGivesAnEmptyMultiMaterial)
{
    const json dump = importMaterials({});
    ASSERT_EQ(multiMaterials(dump).size(), 1u);
    EXPECT_TRUE(multiMaterials(dump)[0]["subMaterials"].empty());
    EXPECT_EQ(dump["meshes"].size(), 1u);
}

TEST(Materials, TexturesAndMasks)
{
    Texture exact = namedTexture("first");
    exact.nameStyle = dffw::NameStyle::Exact;  // a name without NUL ends at its chunk's end
    const json dump =
        importMaterials({textured({namedTexture("body", "bodym")}), textured({exact, namedTexture("second")})});

    const json pa = params(dump, 0);
    EXPECT_EQ(textureParam(dump, pa, "4")["name"], "body");
    EXPECT_EQ(textureParam(dump, pa, "7")["name"], "bodym");
    EXPECT_FALSE(pa.contains("8"));
    const json pb = params(dump, 1);
    EXPECT_EQ(textureParam(dump, pb, "4")["name"], "second");  // the last texture read stays
    EXPECT_EQ(pb["8"]["int"], 0);
    EXPECT_FALSE(pb.contains("7"));
    std::vector<std::string> names;
    for (const json& t : dump["textures"]) names.push_back(t["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"body", "bodym", "first", "second"}));
}

TEST(Materials, FilterModes)
{
    std::vector<Material> materials;
    for (uint8_t mode = 0; mode <= 6; ++mode) materials.push_back(textured({namedTexture("t", "m", 0x11, mode)}));
    const json dump = importMaterials(materials);
    const int expected[7] = {0, 2, 1, 0, 0, 0, 0};
    for (std::size_t mode = 0; mode <= 6; ++mode) {
        SCOPED_TRACE(mode);
        const json p = params(dump, mode);
        EXPECT_EQ(textureParam(dump, p, "4")["filterType"], expected[mode]);
        EXPECT_EQ(textureParam(dump, p, "7")["filterType"], expected[mode]);  // the mask takes the main's
    }
}

TEST(Materials, AddressingFlags)
{
    const uint8_t modes[] = {0x11, 0x01, 0x00, 0x22, 0x33};
    // uWrap, uMirror, vWrap, vMirror
    const std::array<bool, 4> expected[] = {
        {true, false, true, false}, {true, false, true, false}, {false, false, true, false},
        {false, true, false, true}, {true, true, true, true}};
    std::vector<Material> materials;
    for (uint8_t a : modes) materials.push_back(textured({namedTexture("t", "m", a, 6)}));
    const json dump = importMaterials(materials);
    for (std::size_t k = 0; k < std::size(modes); ++k) {
        SCOPED_TRACE(k);
        for (const char* id : {"4", "7"}) {
            const json flags = textureParam(dump, params(dump, k), id)["uvGen"]["flags"];
            EXPECT_EQ((std::array<bool, 4>{flags["uWrap"], flags["uMirror"], flags["vWrap"], flags["vMirror"]}),
                      expected[k]);
        }
    }
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
    const json dump = import({textured({namedTexture("wheel")}), textured({namedTexture("rim")}),
                              textured({namedTexture("none")}), textured({namedTexture("cap.png")}),
                              textured({namedTexture("hub.png")})});
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

TEST(MaterialExtension, MaterialEffects)
{
    dffw::MaterialEffects withTexture;
    withTexture.coefficient = 0.5f;
    withTexture.envTexture = namedTexture("chrome", "unused", 0x22, 2);
    dffw::MaterialEffects noTexture;
    noTexture.coefficient = 0.25f;
    dffw::MaterialEffects bump;
    bump.firstEffect = 1;
    const json dump = importMaterials({
        withExtension({withTexture, dffw::ReflectionMaterial{}}, {namedTexture("paint")}),
        withExtension({noTexture}),
        withExtension({bump}),
    });

    const json p0 = params(dump, 0);
    EXPECT_EQ(p0["19"]["int"], 1);
    EXPECT_EQ(num(p0["9"]["float"]), 50.0f);
    EXPECT_EQ(p0["11"]["int"], 1);
    const json env = textureParam(dump, p0, "10");
    EXPECT_EQ(env["name"], "chrome");
    EXPECT_EQ(env["filterType"], 1);
    EXPECT_EQ(env["uvGen"]["flags"]["uMirror"], true);
    EXPECT_EQ(env["uvGen"]["flags"]["uWrap"], false);
    EXPECT_EQ(textureParam(dump, p0, "4")["name"], "paint");
    EXPECT_FALSE(p0.contains("7"));
    EXPECT_EQ(p0["20"]["int"], 1);  // the walk went on after the effects
    for (const json& t : dump["textures"]) EXPECT_NE(t["name"], "unused");

    const json p1 = params(dump, 1);
    EXPECT_EQ(num(p1["9"]["float"]), 25.0f);
    EXPECT_EQ(p1["11"]["int"], 1);
    EXPECT_FALSE(p1.contains("10"));

    const json p2 = params(dump, 2);
    EXPECT_EQ(p2["19"]["int"], 1);
    EXPECT_FALSE(p2.contains("9") || p2.contains("10") || p2.contains("11"));
}

TEST(MaterialExtension, SpecularMaterial)
{
    dffw::SpecularMaterial plain;
    plain.level = 0.25f;
    dffw::SpecularMaterial named;
    named.level = 0.5f;
    named.texture = "spec";
    dffw::SpecularMaterial shortForm;
    shortForm.level = 0.125f;
    shortForm.texture = "ABCDEFGHIJKLMNOP";  // fills the 16 bytes, no NUL
    shortForm.shortForm = true;
    const json dump = importMaterials({withExtension({plain}), withExtension({named}),
                                       withExtension({shortForm, dffw::ReflectionMaterial{}})});

    const json p0 = params(dump, 0);
    EXPECT_EQ(p0["21"]["int"], 1);
    EXPECT_EQ(num(p0["16"]["float"]), 25.0f);
    EXPECT_FALSE(p0.contains("13"));
    EXPECT_EQ(textureParam(dump, params(dump, 1), "13")["name"], "spec");
    EXPECT_EQ(num(params(dump, 1)["16"]["float"]), 50.0f);
    const json p2 = params(dump, 2);
    EXPECT_EQ(textureParam(dump, p2, "13")["name"], "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(num(p2["16"]["float"]), 12.5f);
    EXPECT_EQ(p2["20"]["int"], 1);
    EXPECT_EQ(dump["textures"].size(), 2u);
}

TEST(MaterialExtension, ReflectionMaterial)
{
    dffw::ReflectionMaterial r;
    r.colour = {0.1f, 0.2f, 0.3f, 0.5f};
    r.intensity = 0.75f;
    dffw::ReflectionMaterial full;
    full.colour = {1, 1, 1, 1};
    const json dump = importMaterials({withExtension({r}), withExtension({full})});
    const json p = params(dump, 0);
    EXPECT_EQ(num(p["12"]["color"][0]), 0.1f);
    EXPECT_EQ(num(p["12"]["color"][1]), 0.2f);
    EXPECT_EQ(num(p["12"]["color"][2]), 0.3f);
    EXPECT_EQ(p["15"]["int"], 127);
    EXPECT_EQ(num(p["17"]["float"]), 0.75f);
    EXPECT_EQ(p["20"]["int"], 1);
    EXPECT_EQ(params(dump, 1)["15"]["int"], 255);
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

TEST(MaterialExtension, UvAnimationKeysTheMainTexture)
{
    dffw::UvAnimation scroll;
    scroll.name = "scroll";
    scroll.keyFrames = {
        {0.0f, {0.9f, 1.5f, 2.5f, 0.8f, 0.25f, 0.125f}, -1},
        {static_cast<float>(2.5 / 4800.0), {0, 5, 6, 0, 1, 2}, 0},  // 2.5 ticks: truncated to 2
        {1.5f, {0, 3, 4, 0, 6, 7}, 1},
    };
    dffw::UvAnimDictionary dictionary;
    dictionary.animations = {scroll};

    dffw::UvAnimationRef ref;
    ref.name = "scroll";
    dffw::UvAnimationRef wrongCase;
    wrongCase.name = "SCROLL";
    const dffw::Clump clump = clumpWith({{withExtension({ref}, {namedTexture("water")}),
                                          withExtension({wrongCase}, {namedTexture("lava")}), withExtension({ref})}});
    dffw::File file;
    file.units = {dictionary, clump};
    Scene& scene = importBytes(dffw::write(file));
    EXPECT_FALSE(scene.animateMode);
    EXPECT_TRUE(scene.animateSaved.empty());
    const json dump = dumpJson(scene);

    const json water = textureParam(dump, params(dump, 0), "4");
    const json expected = {
        {"uOffset", {{0, -0.25f}, {2, -1.0f}, {7200, -6.0f}}},
        {"vOffset", {{0, 0.125f}, {2, 2.0f}, {7200, 7.0f}}},
        {"uTiling", {{0, 1.5f}, {2, 5.0f}, {7200, 3.0f}}},
        {"vTiling", {{0, 2.5f}, {2, 6.0f}, {7200, 4.0f}}},
    };
    std::set<std::size_t> used;
    for (const auto& [sub, keys] : expected.items()) {
        SCOPED_TRACE(sub);
        const json index = water["uvGen"]["controllers"][sub];
        ASSERT_TRUE(index.is_number());
        used.insert(index.get<std::size_t>());
        EXPECT_EQ(dump["controllers"][index.get<std::size_t>()]["keys"], keys);
    }
    EXPECT_EQ(used.size(), 4u);

    // A name of another case, and a material without a main texture: no keys anywhere else.
    const json lava = textureParam(dump, params(dump, 1), "4");
    for (const auto& [sub, index] : lava["uvGen"]["controllers"].items()) EXPECT_TRUE(index.is_null()) << sub;
    std::size_t keyed = 0;
    for (const json& c : dump["controllers"]) keyed += c["keys"].empty() ? 0 : 1;
    EXPECT_EQ(keyed, 4u);
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
    const std::size_t from = list->offset, to = std::min<std::size_t>(bytes.size(), list->offset + 12 + list->size + 12);
    for (std::size_t n = from; n <= to; ++n) {
        SCOPED_TRACE(n);
        const json dump = dumpJson(importBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n))));
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

// ---- The real sample models ----

// What a sample's material chunks hold, read by walking chunks by their sizes.
struct FileMaterial {
    std::array<uint8_t, 4> rgba{};
    std::vector<std::string> textures;
    std::set<uint32_t> extensionTypes;
    std::string specularName;
};

class SampleWalker {
public:
    explicit SampleWalker(std::vector<uint8_t> data) : b(std::move(data)) {}
    std::vector<std::vector<FileMaterial>> lists;

    void walk()
    {
        children(0, b.size(), [&](uint32_t type, std::size_t body, std::size_t end) {
            if (type == 0x10) clump(body, end);
        });
    }

private:
    uint32_t u32(std::size_t o) const
    {
        return static_cast<uint32_t>(b[o] | (b[o + 1] << 8) | (b[o + 2] << 16)) | (static_cast<uint32_t>(b[o + 3]) << 24);
    }
    std::string text(std::size_t o, std::size_t n) const
    {
        std::string s;
        for (std::size_t i = 0; i < n && b[o + i] != 0; ++i) s += static_cast<char>(b[o + i]);
        return s;
    }
    template <class F>
    void children(std::size_t at, std::size_t end, F f) const
    {
        while (end - at >= 12) {
            const uint32_t type = u32(at), size = u32(at + 4);
            const std::size_t body = at + 12, stop = std::min<std::size_t>(body + size, end);
            f(type, body, stop);
            at = stop;
        }
    }
    void clump(std::size_t body, std::size_t end)
    {
        children(body, end, [&](uint32_t type, std::size_t lb, std::size_t le) {
            if (type != 0x1A) return;
            children(lb, le, [&](uint32_t gt, std::size_t gb, std::size_t ge) {
                if (gt != 0x0F) return;
                children(gb, ge, [&](uint32_t mt, std::size_t mb, std::size_t me) {
                    if (mt == 0x08) materialList(mb, me);
                });
            });
        });
    }
    void materialList(std::size_t body, std::size_t end)
    {
        std::vector<FileMaterial> list;
        children(body, end, [&](uint32_t type, std::size_t mb, std::size_t me) {
            if (type == 0x07) list.push_back(material(mb, me));
        });
        lists.push_back(list);
    }
    FileMaterial material(std::size_t body, std::size_t end) const
    {
        FileMaterial m;
        children(body, end, [&](uint32_t type, std::size_t cb, std::size_t ce) {
            if (type == 0x01) {
                for (int k = 0; k < 4; ++k) m.rgba[static_cast<std::size_t>(k)] = b[cb + 4 + static_cast<std::size_t>(k)];
            } else if (type == 0x06) {
                bool first = true;
                children(cb, ce, [&](uint32_t st, std::size_t sb, std::size_t se) {
                    if (st == 0x02 && first) m.textures.push_back(text(sb, se - sb)), first = false;
                });
            } else if (type == 0x03) {
                children(cb, ce, [&](uint32_t et, std::size_t eb, std::size_t ee) {
                    m.extensionTypes.insert(et);
                    if (et == 0x253F2F6 && ee - eb > 4) m.specularName = text(eb + 4, std::min<std::size_t>(24, ee - eb - 4));
                });
            }
        });
        return m;
    }
    std::vector<uint8_t> b;
};

TEST(SampleMaterials, MaterialsMatchTheFiles)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::vector<std::string> files = sampleDffFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const std::string bytes = readFile(path);
        SampleWalker walker(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        walker.walk();
        const json dump = dumpJson(importFile(path));
        const std::vector<json> multis = multiMaterials(dump);
        ASSERT_EQ(multis.size(), walker.lists.size());
        for (std::size_t g = 0; g < multis.size(); ++g) {
            const std::vector<FileMaterial>& list = walker.lists[g];
            ASSERT_EQ(multis[g]["subMaterials"].size(), list.size()) << "geometry " << g;
            for (std::size_t i = 0; i < list.size(); ++i) {
                SCOPED_TRACE("geometry " + std::to_string(g) + " material " + std::to_string(i));
                const FileMaterial& fm = list[i];
                const json p = params(dump, i, g);
                for (std::size_t k = 0; k < 3; ++k)
                    EXPECT_EQ(num(p["3"]["color"][k]), static_cast<float>(fm.rgba[k]) / 255.0f);
                EXPECT_EQ(p["6"]["int"], fm.rgba[3]);
                if (fm.textures.empty()) {
                    EXPECT_FALSE(p.contains("4"));
                } else {
                    EXPECT_EQ(textureParam(dump, p, "4")["name"], fm.textures.back());
                }
                EXPECT_EQ(p.contains("19"), fm.extensionTypes.count(0x120) == 1);
                EXPECT_EQ(p.contains("20"), fm.extensionTypes.count(0x253F2FC) == 1);
                EXPECT_EQ(p.contains("21"), fm.extensionTypes.count(0x253F2F6) == 1);
                if (!fm.specularName.empty()) {
                    EXPECT_EQ(textureParam(dump, p, "13")["name"], fm.specularName);
                }
            }
        }
    }
}

TEST(SampleMaterials, ShortSpecularChunkOfCar6)
{
    ORVIK_REQUIRE_SAMPLES();
    const json dump = dumpJson(importFile(samplePath("car6.dff")));
    std::size_t scanner = 0;
    for (const json& m : dump["materials"]) {
        if (m["class"] != "game" || !m["params"].contains("13")) continue;
        const json t = textureParam(dump, m["params"], "13");
        if (t["name"] == "SCANNER!") {
            ++scanner;
            EXPECT_NEAR(num(m["params"]["16"]["float"]), 0.1f, 1e-4f);
        }
    }
    EXPECT_EQ(scanner, 1u);
}

}  // namespace
