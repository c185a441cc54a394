// glTF export: materials, their textures with the embedded images, and
// samplers.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "gltf/GltfDocument.h"
#include "host/describe.h"
#include "support/Text.h"

namespace orvik::gltf {
namespace {

// The image type of a file's first bytes: "image/png", "image/jpeg", or ""
// with the kind named where it is recognised.
std::string mimeType(const std::string& bytes, const std::string& name, std::string& kind)
{
    auto starts = [&](std::string_view magic) { return bytes.compare(0, magic.size(), magic) == 0; };
    if (starts("\x89PNG\r\n\x1A\n")) return "image/png";
    if (starts("\xFF\xD8\xFF")) return "image/jpeg";
    if (starts("DDS ")) {
        kind = "DDS";
    } else if (starts("BM")) {
        kind = "BMP";
    } else if (starts("GIF8")) {
        kind = "GIF";
    } else if (asciiLower(name).ends_with(".tga")) {
        kind = "TGA";
    }
    return "";
}

int wrapMode(bool wrap, bool mirror)
{
    return mirror ? 33648 : wrap ? 10497 : 33071;
}

// Game material parameters the glTF material itself carries.
constexpr ParamID kColour = 3;
constexpr ParamID kMainTexture = 4;
constexpr ParamID kAlpha = 6;
constexpr ParamID kMaskTexture = 7;

const IParamBlock2::Param* findParam(const IParamBlock2* block, ParamID id)
{
    if (block == nullptr) return nullptr;
    for (const IParamBlock2::Param& p : block->Params()) {
        if (p.id == id && p.written) return &p;
    }
    return nullptr;
}

}  // namespace

bool Builder::keepParam(ParamID id) const
{
    return id != kColour && id != kAlpha;
}

void Builder::texture(JsonBuilder& w, Texmap* t)
{
    auto* bitmap = dynamic_cast<BitmapTex*>(t);
    assert(t == nullptr || bitmap != nullptr);  // the host makes bitmap textures only
    if (bitmap == nullptr) return w.null();
    describe::texture(w, *bitmap, *this);
}

void Builder::controller(JsonBuilder& w, Control* c)
{
    auto* f = dynamic_cast<FloatController*>(c);
    assert(c == nullptr || f != nullptr);  // the host makes float controllers only
    if (f == nullptr) return w.null();
    describe::controller(w, *f);
}

int Builder::collisionMaterial(MtlID id)
{
    if (const auto found = collisionMaterials.find(id); found != collisionMaterials.end()) return found->second;
    // A colour per surface kind, spread around the hue circle, half see-through.
    const float hue = std::fmod(static_cast<float>(id) * 0.618034f, 1.0f) * 6.0f;
    const float x = 1.0f - std::fabs(std::fmod(hue, 2.0f) - 1.0f);
    const float rgb[6][3] = {{1, x, 0}, {x, 1, 0}, {0, 1, x}, {0, x, 1}, {x, 0, 1}, {1, 0, x}};
    const float* c = rgb[static_cast<int>(hue) % 6];
    Json base = {tidy(0.2f + 0.8f * c[0]), tidy(0.2f + 0.8f * c[1]), tidy(0.2f + 0.8f * c[2]), 0.4};
    Json out = {{"name", "collision surface " + std::to_string(id)},
                {"pbrMetallicRoughness",
                 {{"baseColorFactor", base}, {"metallicFactor", 0.0}, {"roughnessFactor", 1.0}}},
                {"alphaMode", "BLEND"},
                {"doubleSided", true},
                {"extras", {{"surface", id}}}};
    int index = 0;
    add("materials", std::move(out), index);
    collisionMaterials.emplace(id, index);
    return index;
}

int Builder::materialFor(Mtl* mtl, bool withTexture, const std::string& place)
{
    if (mtl == nullptr) return -1;
    // The host keeps no multi-material inside another.
    assert(dynamic_cast<MultiMtl*>(mtl) == nullptr);
    if (dynamic_cast<MultiMtl*>(mtl) != nullptr) return -1;
    const IParamBlock2* block = dynamic_cast<GameMtl*>(mtl) ? mtl->GetParamBlock(0) : nullptr;
    const IParamBlock2::Param* main = findParam(block, kMainTexture);
    auto* mainBitmap = main && main->type == ParamType::Texmap ? dynamic_cast<BitmapTex*>(main->tex) : nullptr;
    bool imageAlpha = false;
    const int texture = mainBitmap ? textureFor(*mainBitmap, imageAlpha) : -1;
    const bool textured = withTexture && texture >= 0;
    if (!withTexture && texture >= 0) {
        note("a textured material on a mesh without texture coordinates is exported without its texture");
    }
    const auto key = std::make_pair(static_cast<const Mtl*>(mtl), textured);
    if (const auto found = materials.find(key); found != materials.end()) return found->second;

    Json base = {1.0, 1.0, 1.0, 1.0};
    int alpha = 255;
    GameColour game = GameColour::None;
    std::array<float, 3> gameRgb{};
    if (const IParamBlock2::Param* c = findParam(block, kColour); c && c->type == ParamType::Color) {
        for (int i = 0; i < 3; ++i)
            base[static_cast<std::size_t>(i)] = std::isfinite(c->c[i]) ? tidy(std::clamp(c->c[i], 0.0f, 1.0f)) : 1.0;
        if (options.gameView) game = gameColour(c->c, gameRgb);
        for (std::size_t i = 0; game != GameColour::None && i < 3; ++i) base[i] = tidy(gameRgb[i]);
    }
    if (const IParamBlock2::Param* a = findParam(block, kAlpha); a && a->type == ParamType::Int) {
        alpha = std::clamp(a->i, 0, 255);
        base[3] = tidy(static_cast<float>(alpha) / 255.0f);
    }
    const IParamBlock2::Param* mask = findParam(block, kMaskTexture);
    const bool hasMask = mask != nullptr && mask->type == ParamType::Texmap && mask->tex != nullptr;
    // The material's name, else its main texture's, else its place.
    std::string name = mtl->GetName();
    if (name.empty() && mainBitmap) name = mainBitmap->GetName();
    if (name.empty()) name = place;
    Json pbr = {{"baseColorFactor", base}, {"metallicFactor", 0.0}, {"roughnessFactor", 1.0}};
    if (textured) pbr["baseColorTexture"] = {{"index", texture}};
    // Translucent colour (or an image known to have alpha) blends; a mask
    // texture cuts out where the image's alpha is low.
    const char* mode = alpha < 255 || (textured && imageAlpha) ? "BLEND" : hasMask ? "MASK" : "OPAQUE";
    Json out = {{"name", latin1ToUtf8(name)}, {"pbrMetallicRoughness", pbr}, {"alphaMode", mode}};
    int index = 0;
    Json& added = add("materials", std::move(out), index);
    materials.emplace(key, index);
    JsonBuilder w;
    describe::material(w, mtl, *this);
    added["extras"] = std::move(w.result);  // `added` stays valid: describing a game material adds no material
    if (game != GameColour::None) {
        // The file's colour, which the game view replaced.
        const IParamBlock2::Param* c = findParam(block, kColour);
        Json original = Json::array();
        for (int i = 0; i < 3; ++i) original.push_back(std::lround(c->c[i] * 255.0f));
        added["extras"]["gameView"] = {{game == GameColour::Paint ? "paint" : "unlitLamp", true},
                                       {"fileColour", original}};
        ++(game == GameColour::Paint ? report.materialsPainted : report.lampsUnlit);
    }
    return index;
}

int Builder::textureFor(BitmapTex& tex, bool& hasAlpha)
{
    if (const auto found = textures.find(&tex); found != textures.end()) {
        hasAlpha = found->second.second;
        return found->second.first;
    }
    TextureImage image = imageSource.imageFor(tex);
    int index = -1;
    if (image.problem.empty()) {
        const std::string key = image.origin.empty() ? image.name : image.origin;
        int source = -1;
        if (const auto found = images.find(key); found != images.end()) {
            source = found->second;
        } else {
            std::string kind;
            const std::string mime = mimeType(image.bytes.str(), image.name, kind);
            if (mime.empty()) {
                image.problem = (image.origin.empty() ? std::string() : image.origin + ": ") +
                                (kind.empty() ? std::string("not a PNG or JPEG image") : kind + " image") +
                                ": glTF embeds PNG and JPEG images only";
            } else {
                const int view = addView(image.bytes);
                add("images", {{"name", latin1ToUtf8(image.name)}, {"mimeType", mime}, {"bufferView", view}}, source);
                images.emplace(key, source);
            }
        }
        if (source >= 0) {
            add("textures", {{"name", latin1ToUtf8(tex.GetName())}, {"sampler", samplerFor(tex)}, {"source", source}},
                index);
        }
    }
    report.textureImages.push_back({tex.GetName(), image.origin, image.problem});
    hasAlpha = index >= 0 && image.hasAlpha;
    textures.emplace(&tex, std::make_pair(index, hasAlpha));
    return index;
}

int Builder::samplerFor(BitmapTex& tex)
{
    StdUVGen* uv = tex.GetUVGen();
    const int wrapS = wrapMode(uv && uv->GetFlag(U_WRAP), uv && uv->GetFlag(U_MIRROR));
    const int wrapT = wrapMode(uv && uv->GetFlag(V_WRAP), uv && uv->GetFlag(V_MIRROR));
    // Pyramidal filtering is mip-mapped, summed-area linear, none nearest.
    int mag = 9729, min = 9987;
    if (tex.GetFilterType() == FILTER_SAT) min = 9729;
    if (tex.GetFilterType() == FILTER_NADA) mag = min = 9728;
    const std::array<int, 4> key{mag, min, wrapS, wrapT};
    if (const auto found = samplers.find(key); found != samplers.end()) return found->second;
    int index = 0;
    add("samplers", {{"magFilter", mag}, {"minFilter", min}, {"wrapS", wrapS}, {"wrapT", wrapT}}, index);
    samplers.emplace(key, index);
    return index;
}

}  // namespace orvik::gltf
