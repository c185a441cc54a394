// A geometry's material list: one multi/sub-object material whose slots are
// game materials with the file's colour, factors and bitmap textures.
#include <cassert>

#include "importer/Orvik.h"
#include "scene/MaterialParams.h"

namespace {

// Viewport display of the material's maps and of its sub-maps.
constexpr int kDisplayMapsMask = MTL_TEX_DISPLAY_ENABLED | MTL_SUB_DISPLAY_ENABLED;

// Image file extensions, in the order they are tried.
constexpr const char* kTextureExtensions[] = {".TGA", ".DDS", ".PNG", ".GIF", ".JPG", ".BMP"};

}  // namespace

namespace TextureSetup {

int filterTypeFor(std::uint8_t filteringMode)
{
    if (filteringMode == 1) return FILTER_NADA;
    if (filteringMode == 2) return FILTER_SAT;
    return FILTER_PYR;
}

void setAddressing(BitmapTex& texture, std::uint8_t addressing)
{
    const ULONG a = addressing < 16 ? ULONG{addressing} + 16u : ULONG{addressing};
    StdUVGen* uvGen = texture.GetUVGen();
    if (uvGen == nullptr) return;
    uvGen->SetFlag(U_WRAP, a & 0x01u);
    uvGen->SetFlag(U_MIRROR, a & 0x02u);
    uvGen->SetFlag(V_WRAP, a & 0x10u);
    uvGen->SetFlag(V_MIRROR, a & 0x20u);
}

}  // namespace TextureSetup

BitmapTex* Orvik::newNamedTexture(const std::string& name)
{
    BitmapTex* texture = NewDefaultBitmapTex();
    if (texture == nullptr) return nullptr;
    texture->SetName(CStr(name));
    findTextureFile(texture);
    return texture;
}

void Orvik::readMaterialList(std::uint32_t geometryIndex)
{
    assert(geometryIndex < geometryCount());
    ChunkHeader h{};
    const std::optional<std::uint32_t> at = readHeader(h);
    if (!at) return;
    if (h.type != ChunkType::MaterialList || !isAcceptedStamp(h.stamp)) return;
    const std::uint32_t list = *at;
    ChunkView view = viewToEnd(list, "the material list of geometry", geometryIndex);
    const std::uint32_t count = view.u32(MaterialListLayout::MaterialCount);
    if (!view.needCount(MaterialListLayout::MaterialWords, count, MaterialListLayout::WordSize, "materials")) return;
    const std::uint64_t materials =
        MaterialListLayout::MaterialWords + std::uint64_t{MaterialListLayout::WordSize} * count;
    // A count the rest of the file cannot hold is refused before the host sizes anything from it.
    if (!view.needCount(materials, count, MaterialLayout::MinSize, "materials")) return;
    cursor = static_cast<std::uint32_t>(list + materials);

    MultiMtl* multi = nullptr;
    if (coreInterface != nullptr)
        multi = static_cast<MultiMtl*>(coreInterface->CreateInstance(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0)));
    geometryTable[geometryIndex].material = multi;
    if (multi != nullptr) multi->SetNumSubMtls(static_cast<int>(count));

    // Without a multi-material the materials are still walked, so that the
    // cursor reaches the geometry's extension.
    for (std::uint32_t i = 0; i < count && !readFailed; ++i) readMaterial(i, multi);
}

void Orvik::readMaterial(std::uint32_t materialIndex, MultiMtl* multi)
{
    ReportProgress();
    const std::uint32_t m = cursor;
    ChunkView view = viewToEnd(m, "material", materialIndex);
    if (!view.need(0, MaterialLayout::MinSize, nullptr)) return;

    // Without a multi-material to hold it, no game material is made; its
    // chunk is walked all the same.
    Mtl* material = nullptr;
    if (coreInterface != nullptr && multi != nullptr)
        material = static_cast<Mtl*>(coreInterface->CreateInstance(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID));
    if (material != nullptr) material->SetMtlFlag(kDisplayMapsMask, TRUE);

    const std::uint8_t red = view.u8(MaterialLayout::Colour);
    const std::uint8_t green = view.u8(MaterialLayout::Colour + 1);
    const std::uint8_t blue = view.u8(MaterialLayout::Colour + 2);
    const std::uint8_t alpha = view.u8(MaterialLayout::Colour + 3);
    const std::uint32_t textureCount = view.u32(MaterialLayout::TextureCount);
    const float ambient = view.f32(MaterialLayout::Ambient);
    const float specular = view.f32(MaterialLayout::Specular);
    const float diffuse = view.f32(MaterialLayout::Diffuse);
    cursor = m + MaterialLayout::Textures;

    IParamBlock2* pb = material != nullptr ? material->GetParamBlock(0) : nullptr;
    if (pb != nullptr) {
        Color colour(static_cast<float>(red) / 255.0f, static_cast<float>(green) / 255.0f,
                     static_cast<float>(blue) / 255.0f);
        pb->SetValue(GameMtlParam::Colour, 0, colour, 0);
        pb->SetValue(GameMtlParam::Alpha, 0, static_cast<int>(alpha), 0);
        pb->SetValue(GameMtlParam::Ambient, 0, ambient, 0);
        pb->SetValue(GameMtlParam::Specular, 0, specular, 0);
        pb->SetValue(GameMtlParam::Diffuse, 0, diffuse, 0);
    }

    if (!view.needCount(MaterialLayout::Textures, textureCount, TextureLayout::MinSize, "textures")) return;
    for (std::uint32_t t = 0; t < textureCount; ++t)
        if (!readTexture(material)) return;
    readMaterialExtension(material);

    // A material the host could not make leaves its slot empty.
    if (multi != nullptr && material != nullptr) multi->SetSubMtl(static_cast<int>(materialIndex), material);
}

bool Orvik::readTexture(Mtl* material)
{
    ReportProgress();
    const std::uint32_t t = cursor;
    ChunkView view = viewToEnd(t, "a texture");
    if (!view.need(0, TextureLayout::Name, nullptr)) return false;
    const std::uint8_t filteringMode = view.u8(TextureLayout::Filter);
    const std::uint8_t addressing = view.u8(TextureLayout::Addressing);
    const std::uint32_t nameSize = view.u32(TextureLayout::NameSize);
    const std::string name = view.text(TextureLayout::Name, nameSize);

    // The mask name's string chunk follows the name's data.
    const std::uint64_t maskHeader = std::uint64_t{TextureLayout::Name} + nameSize;
    const std::uint32_t maskSize = view.u32(maskHeader + 4);
    const std::uint64_t maskStart = maskHeader + kChunkHeaderSize;
    const std::string maskName = view.text(maskStart, maskSize);
    if (readFailed) return false;

    // Textures of a material the host could not make are passed over.
    IParamBlock2* pb = material != nullptr ? material->GetParamBlock(0) : nullptr;
    if (pb != nullptr) {
        BitmapTex* mainTexture = newNamedTexture(name);
        if (mainTexture != nullptr) {
            mainTexture->SetFilterType(TextureSetup::filterTypeFor(filteringMode));
            TextureSetup::setAddressing(*mainTexture, addressing);
        }
        pb->SetValue(GameMtlParam::MainTexture, 0, static_cast<Texmap*>(mainTexture), 0);

        if (!maskName.empty()) {
            BitmapTex* mask = newNamedTexture(maskName);
            if (mask != nullptr) {
                mask->SetFilterType(mainTexture != nullptr ? mainTexture->GetFilterType()
                                                           : TextureSetup::filterTypeFor(filteringMode));
                TextureSetup::setAddressing(*mask, addressing);
            }
            pb->SetValue(GameMtlParam::MaskTexture, 0, static_cast<Texmap*>(mask), 0);
        } else {
            pb->SetValue(GameMtlParam::NoMask, 0, 0, 0);
        }
    }

    // The texture's extension is passed over; any other chunk is left for
    // the next reader (the next texture or the material's extension).
    cursor = static_cast<std::uint32_t>(t + maskStart + maskSize);
    return skipTrailingExtension();
}

void Orvik::findTextureFile(BitmapTex* texture)
{
    if (texture == nullptr) return;
    const std::string name = texture->GetName();
    // A name met before in this import takes the map name found then.
    const auto [known, fresh] = textureMapNames.try_emplace(name);
    std::string& mapName = known->second;
    if (fresh) {
        // Each candidate is the name with an extension put after it in one
        // reused text: no string is made per candidate.
        std::string candidate;
        candidate.reserve(name.size() + 4);
        for (const char* extension : kTextureExtensions) {
            candidate.assign(name).append(extension);
            MCHAR path[MAX_PATH] = {};
            if (BMMGetFullFilename(candidate.c_str(), path)) {
                mapName = path;
                break;
            }
        }
        if (mapName.empty()) mapName = name + kTextureExtensions[0];
    }
    texture->SetMapName(mapName.c_str(), false);
}
