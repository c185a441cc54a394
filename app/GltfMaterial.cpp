// glTF export of materials: each game material a glTF material (base colour
// from its colour and alpha, its main texture embedded when the file is PNG or
// JPEG), with its other parameters, textures and texture animation in extras.
#include <algorithm>
#include <cctype>

#include "app/GltfBuilder.h"

namespace orvik::gltf {
namespace {

// Game material parameters the glTF material itself carries.
constexpr ParamID kColour = 3;
constexpr ParamID kMainTexture = 4;
constexpr ParamID kAlpha = 6;
constexpr ParamID kMaskTexture = 7;

const IParamBlock2::Param* findParam(IParamBlock2* block, ParamID id)
{
    if (block == nullptr) return nullptr;
    for (const IParamBlock2::Param& p : block->Params()) {
        if (p.id == id && p.written) return &p;
    }
    return nullptr;
}

bool isGame(Mtl* m) { return m != nullptr && m->ClassID() == GAME_MTL_CLASS_ID; }

std::string lowerExtension(const std::string& file)
{
    const std::size_t dot = file.find_last_of('.');
    const std::size_t slash = file.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = file.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// The image type of a file's first bytes: "image/png", "image/jpeg", or ""
// with the kind named in `kind` where it is recognised.
std::string mimeType(const std::vector<unsigned char>& bytes, const std::string& file, std::string& kind)
{
    auto starts = [&](std::initializer_list<unsigned char> magic) {
        return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
    };
    if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return "image/png";
    if (starts({0xFF, 0xD8, 0xFF})) return "image/jpeg";
    if (starts({'D', 'D', 'S', ' '})) {
        kind = "DDS";
    } else if (starts({'B', 'M'})) {
        kind = "BMP";
    } else if (starts({'G', 'I', 'F', '8'})) {
        kind = "GIF";
    } else if (lowerExtension(file) == "tga") {
        kind = "TGA";
    }
    return "";
}

Json describeController(Control* c)
{
    auto* f = dynamic_cast<FloatController*>(c);
    if (f == nullptr) return c == nullptr ? Json() : Json{{"class", "other"}};
    Json keys = Json::array();
    for (const auto& [tick, value] : f->Keys()) keys.push_back(Json::array({tick, tidy(value)}));
    float value = 0.0f;
    Interval valid = FOREVER;
    f->GetValue(0, &value, valid);
    return Json{{"class", "float"}, {"keys", keys}, {"value", tidy(value)}};
}

int wrapMode(bool wrap, bool mirror)
{
    if (mirror) return TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT;
    return wrap ? TINYGLTF_TEXTURE_WRAP_REPEAT : TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
}

}  // namespace

Json Builder::describeTexture(Texmap* tex)
{
    if (tex == nullptr) return Json();
    auto* bitmap = dynamic_cast<BitmapTex*>(tex);
    if (bitmap == nullptr) return Json{{"class", "other"}, {"name", utf8(tex->GetName().c_str())}};
    static const char* const controllerNames[4] = {"uOffset", "vOffset", "uTiling", "vTiling"};
    Json t = Json::object();
    t["class"] = "bitmap";
    t["name"] = utf8(bitmap->GetName().c_str());
    const MCHAR* mapName = bitmap->GetMapName();
    t["mapName"] = mapName ? jsonText(mapName) : Json();
    t["found"] = bitmap->MapFileFound();
    t["filterType"] = bitmap->GetFilterType();
    StdUVGen* uv = bitmap->GetUVGen();
    Json flags = {{"uWrap", uv && uv->GetFlag(U_WRAP)},
                  {"uMirror", uv && uv->GetFlag(U_MIRROR)},
                  {"vWrap", uv && uv->GetFlag(V_WRAP)},
                  {"vMirror", uv && uv->GetFlag(V_MIRROR)}};
    Json controllers = Json::object();
    for (int i = 0; i < 4; ++i) controllers[controllerNames[i]] = describeController(uv ? uv->Params().GetController(i) : nullptr);
    t["uvGen"] = {{"flags", flags}, {"controllers", controllers}};
    return t;
}

Json Builder::describeMaterial(Mtl* mtl)
{
    if (mtl == nullptr) return Json();
    Json m = Json::object();
    const bool multi = dynamic_cast<MultiMtl*>(mtl) != nullptr;
    const bool game = isGame(mtl);
    m["class"] = multi ? "multi" : game ? "game" : "other";
    m["name"] = utf8(mtl->GetName().c_str());
    m["flags"] = mtl->GetMtlFlags();
    if (multi) {
        // Slots as glTF material indices; every sub-material is exported,
        // whether or not a face shows it.
        Json subs = Json::array();
        for (int i = 0; i < mtl->NumSubMtls(); ++i) {
            const int index = materialFor(mtl->GetSubMtl(i), true);
            subs.push_back(index < 0 ? Json() : Json(index));
        }
        m["subMaterials"] = subs;
    }
    if (game) {
        // Everything but the colour and alpha, which the glTF material holds.
        Json params = Json::object();
        if (IParamBlock2* block = mtl->GetParamBlock(0)) {
            for (const IParamBlock2::Param& p : block->Params()) {
                if (!p.written || p.id == kColour || p.id == kAlpha) continue;
                Json value = Json::object();
                switch (p.type) {
                    case ParamType::Float: value["float"] = tidy(p.f); break;
                    case ParamType::Int: value["int"] = p.i; break;
                    case ParamType::Color: value["color"] = jsonPoint(p.c); break;
                    case ParamType::Texmap: value["texture"] = describeTexture(p.tex); break;
                }
                params[std::to_string(p.id)] = value;
            }
        }
        m["params"] = params;
    }
    return m;
}

int Builder::materialFor(Mtl* mtl, bool withTexture)
{
    if (mtl == nullptr) return -1;
    if (dynamic_cast<MultiMtl*>(mtl) != nullptr) {
        // A multi-material inside a multi-material: glTF has nothing to nest;
        // its faces show no material.
        note("a multi-material holds another multi-material: faces that show it have no material");
        return -1;
    }
    IParamBlock2* block = isGame(mtl) ? mtl->GetParamBlock(0) : nullptr;
    const IParamBlock2::Param* main = findParam(block, kMainTexture);
    auto* mainBitmap = main && main->type == ParamType::Texmap ? dynamic_cast<BitmapTex*>(main->tex) : nullptr;
    const int texture = mainBitmap ? textureFor(mainBitmap) : -1;
    const bool textured = withTexture && texture >= 0;
    if (!withTexture && texture >= 0) {
        note("a textured material on a mesh without texture coordinates is exported without its texture");
    }
    const auto key = std::make_pair(static_cast<const Mtl*>(mtl), textured);
    if (const auto found = materials.find(key); found != materials.end()) return found->second;

    tinygltf::Material out;
    out.name = utf8(mtl->GetName().c_str());
    out.pbrMetallicRoughness.metallicFactor = 0.0;
    out.pbrMetallicRoughness.roughnessFactor = 1.0;
    std::vector<double> base{1.0, 1.0, 1.0, 1.0};
    int alpha = 255;
    if (const IParamBlock2::Param* c = findParam(block, kColour); c && c->type == ParamType::Color) {
        for (int i = 0; i < 3; ++i) {
            const float v = c->c[i];
            base[static_cast<std::size_t>(i)] = std::isfinite(v) ? tidy(std::clamp(v, 0.0f, 1.0f)) : 1.0;
        }
    }
    if (const IParamBlock2::Param* a = findParam(block, kAlpha); a && a->type == ParamType::Int) {
        alpha = std::clamp(a->i, 0, 255);
        base[3] = tidy(static_cast<float>(alpha) / 255.0f);
    }
    out.pbrMetallicRoughness.baseColorFactor = base;
    const IParamBlock2::Param* mask = findParam(block, kMaskTexture);
    const bool hasMask = mask != nullptr && mask->type == ParamType::Texmap && mask->tex != nullptr;
    // Translucent colour blends; a mask texture cuts out where the image's
    // alpha is low.
    out.alphaMode = alpha < 255 ? "BLEND" : hasMask ? "MASK" : "OPAQUE";
    if (textured) out.pbrMetallicRoughness.baseColorTexture.index = texture;

    const int index = static_cast<int>(model.materials.size());
    model.materials.push_back(out);
    materials.emplace(key, index);
    extras["/materials/" + std::to_string(index)] = describeMaterial(mtl);
    return index;
}

int Builder::textureFor(BitmapTex* tex)
{
    if (const auto found = textures.find(tex); found != textures.end()) return found->second;
    int index = -1;
    const TextureImage image = imageSource.imageFor(*tex);
    std::string problem = image.problem;
    if (problem.empty()) {
        const int source = imageFor(image, problem);
        if (source >= 0) {
            tinygltf::Texture t;
            t.name = utf8(tex->GetName().c_str());
            t.source = source;
            t.sampler = samplerFor(tex);
            index = static_cast<int>(model.textures.size());
            model.textures.push_back(t);
        }
    }
    report.textureImages.push_back({tex->GetName(), image.origin, problem});
    textures.emplace(tex, index);
    return index;
}

int Builder::imageFor(const TextureImage& image, std::string& problem)
{
    const std::string key = image.origin.empty() ? image.name : image.origin;
    if (const auto found = images.find(key); found != images.end()) {
        problem = found->second.second;
        return found->second.first;
    }
    int index = -1;
    std::string kind;
    const std::vector<unsigned char> bytes(image.bytes.begin(), image.bytes.end());
    const std::string mime = mimeType(bytes, image.name, kind);
    if (mime.empty()) {
        problem = (image.origin.empty() ? std::string() : image.origin + ": ") +
                  (kind.empty() ? std::string("not a PNG or JPEG image") : kind + " image") +
                  ": glTF embeds PNG and JPEG images only";
    } else {
        tinygltf::Image out;
        out.name = utf8(image.name.c_str());
        out.mimeType = mime;
        out.bufferView = addView(bytes.data(), bytes.size(), 0);
        index = static_cast<int>(model.images.size());
        model.images.push_back(out);
    }
    images.emplace(key, std::make_pair(index, problem));
    return index;
}

int Builder::samplerFor(BitmapTex* tex)
{
    StdUVGen* uv = tex->GetUVGen();
    const int wrapS = wrapMode(uv && uv->GetFlag(U_WRAP), uv && uv->GetFlag(U_MIRROR));
    const int wrapT = wrapMode(uv && uv->GetFlag(V_WRAP), uv && uv->GetFlag(V_MIRROR));
    int mag = TINYGLTF_TEXTURE_FILTER_LINEAR, min = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    switch (tex->GetFilterType()) {
        case FILTER_SAT: min = TINYGLTF_TEXTURE_FILTER_LINEAR; break;
        case FILTER_NADA: mag = min = TINYGLTF_TEXTURE_FILTER_NEAREST; break;
        default: break;  // pyramidal: mip-mapped
    }
    const std::array<int, 4> key{mag, min, wrapS, wrapT};
    if (const auto found = samplers.find(key); found != samplers.end()) return found->second;
    tinygltf::Sampler s;
    s.magFilter = mag;
    s.minFilter = min;
    s.wrapS = wrapS;
    s.wrapT = wrapT;
    const int index = static_cast<int>(model.samplers.size());
    model.samplers.push_back(s);
    samplers.emplace(key, index);
    return index;
}

}  // namespace orvik::gltf
