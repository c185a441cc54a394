// A geometry's material list: one multi/sub-object material whose slots are
// game materials with the file's colour, factors and bitmap textures.
#include "importer/Orvik.h"
#include "scene/MaterialParams.h"

namespace {

// Material chunk: header, struct header, 28-byte struct (flags, RGBA,
// unused word, texture count, ambient, specular, diffuse); textures follow.
constexpr std::uint32_t kMaterialStructSize = 28;
constexpr std::uint32_t kMaterialColourOffset = 28;
constexpr std::uint32_t kMaterialTextureCountOffset = 36;
constexpr std::uint32_t kMaterialAmbientOffset = 40;
constexpr std::uint32_t kMaterialSpecularOffset = 44;
constexpr std::uint32_t kMaterialDiffuseOffset = 48;
constexpr std::uint32_t kMaterialTexturesOffset = 52;
constexpr std::uint32_t kMinMaterialSize = 2 * kChunkHeaderSize + kMaterialStructSize;

// Texture chunk: header, struct header, filtering byte, addressing byte, two
// unused bytes, the name's string chunk, the mask's string chunk, extension.
constexpr std::uint32_t kTextureFilterOffset = 24;
constexpr std::uint32_t kTextureAddressingOffset = 25;
constexpr std::uint32_t kTextureNameHeaderOffset = 28;
constexpr std::uint32_t kTextureNameOffset = 40;
constexpr std::uint32_t kMinTextureSize = 2 * kChunkHeaderSize + 4 + 2 * kChunkHeaderSize;

// Material list: header, struct header, material count, one word per material.
constexpr std::uint32_t kMaterialCountOffset = 24;
constexpr std::uint32_t kMaterialWordsOffset = 28;

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

BitmapTex* newNamedTexture(const std::string& name)
{
    BitmapTex* texture = NewDefaultBitmapTex();
    if (texture == nullptr) return nullptr;
    texture->SetName(CStr(name));
    Orvik::findTextureFile(texture);
    return texture;
}

}  // namespace TextureSetup

void Orvik::readMaterialList(std::uint32_t geometryIndex)
{
    ChunkHeader h{};
    const std::uint8_t* hp = readHeader(h);
    if (hp == nullptr) return;
    if (h.type != ChunkType::MaterialList || !isAcceptedStamp(h.stamp)) return;
    const std::uint32_t list = offsetOf(hp);
    const std::uint32_t count = u32At(std::uint64_t{list} + kMaterialCountOffset);
    if (readFailed) return;
    if (!setCursor(std::uint64_t{list} + kMaterialWordsOffset + 4 * std::uint64_t{count})) return;
    // A count the rest of the file cannot hold is refused before the host sizes anything from it.
    if (count > (bufferSize - cursor) / kMinMaterialSize) {
        fail();
        return;
    }

    MultiMtl* multi = nullptr;
    if (coreInterface != nullptr)
        multi = static_cast<MultiMtl*>(coreInterface->CreateInstance(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0)));
    if (geometryIndex < geometryCount()) geometryTable[geometryIndex].material = multi;
    if (multi != nullptr) multi->SetNumSubMtls(static_cast<int>(count));

    // Without a multi-material the materials are still walked, so that the
    // cursor reaches the geometry's extension.
    for (std::uint32_t i = 0; i < count && !readFailed; ++i) readMaterial(i, multi);
}

void Orvik::readMaterial(std::uint32_t materialIndex, MultiMtl* multi)
{
    ReportProgress();
    const std::uint32_t m = cursor;
    if (!require(m, kMinMaterialSize)) return;

    // Without a multi-material to hold it, no game material is made; its
    // chunk is walked all the same.
    Mtl* material = nullptr;
    if (coreInterface != nullptr && multi != nullptr)
        material = static_cast<Mtl*>(coreInterface->CreateInstance(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID));
    if (material != nullptr) material->SetMtlFlag(kDisplayMapsMask, TRUE);

    const std::uint8_t red = u8At(std::uint64_t{m} + kMaterialColourOffset);
    const std::uint8_t green = u8At(std::uint64_t{m} + kMaterialColourOffset + 1);
    const std::uint8_t blue = u8At(std::uint64_t{m} + kMaterialColourOffset + 2);
    const std::uint8_t alpha = u8At(std::uint64_t{m} + kMaterialColourOffset + 3);
    const std::uint32_t textureCount = u32At(std::uint64_t{m} + kMaterialTextureCountOffset);
    const float ambient = f32At(std::uint64_t{m} + kMaterialAmbientOffset);
    const float specular = f32At(std::uint64_t{m} + kMaterialSpecularOffset);
    const float diffuse = f32At(std::uint64_t{m} + kMaterialDiffuseOffset);
    cursor = m + kMaterialTexturesOffset;

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

    if (textureCount > (bufferSize - cursor) / kMinTextureSize) {
        fail();
        return;
    }
    for (std::uint32_t t = 0; t < textureCount && !readFailed; ++t) readTexture(material);
    if (readFailed) return;
    readMaterialExtension(material);

    // A material the host could not make leaves its slot empty.
    if (multi != nullptr && material != nullptr) multi->SetSubMtl(static_cast<int>(materialIndex), material);
}

void Orvik::readTexture(Mtl* material)
{
    ReportProgress();
    const std::uint32_t t = cursor;
    if (!require(t, kTextureNameOffset)) return;
    const std::uint8_t filteringMode = u8At(std::uint64_t{t} + kTextureFilterOffset);
    const std::uint8_t addressing = u8At(std::uint64_t{t} + kTextureAddressingOffset);
    const std::uint32_t nameSize = u32At(std::uint64_t{t} + kTextureNameHeaderOffset + 4);
    const std::uint32_t nameStart = t + kTextureNameOffset;
    if (!require(nameStart, nameSize)) return;
    const std::string name = MaterialText::upToNul(at(nameStart), nameSize);

    // The mask name's string chunk follows the name's data.
    const std::uint64_t maskHeader = std::uint64_t{nameStart} + nameSize;
    if (!require(maskHeader, kChunkHeaderSize)) return;
    const std::uint32_t maskSize = u32At(maskHeader + 4);
    const std::uint64_t maskStart = maskHeader + kChunkHeaderSize;
    if (!require(maskStart, maskSize)) return;
    const std::string maskName = MaterialText::upToNul(at(static_cast<std::uint32_t>(maskStart)), maskSize);

    // Textures of a material the host could not make are passed over.
    IParamBlock2* pb = material != nullptr ? material->GetParamBlock(0) : nullptr;
    if (pb != nullptr) {
        BitmapTex* mainTexture = TextureSetup::newNamedTexture(name);
        if (mainTexture != nullptr) {
            mainTexture->SetFilterType(TextureSetup::filterTypeFor(filteringMode));
            TextureSetup::setAddressing(*mainTexture, addressing);
        }
        pb->SetValue(GameMtlParam::MainTexture, 0, static_cast<Texmap*>(mainTexture), 0);

        if (!maskName.empty()) {
            BitmapTex* mask = TextureSetup::newNamedTexture(maskName);
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
    cursor = static_cast<std::uint32_t>(maskStart + maskSize);
    ChunkHeader e{};
    if (readHeader(e) == nullptr) return;
    if (e.type == ChunkType::Extension && isAcceptedStamp(e.stamp))
        skipChunk(e);
    else
        rewind();
}

void Orvik::findTextureFile(BitmapTex* texture)
{
    if (texture == nullptr) return;
    const std::string name = texture->GetName();
    for (const char* extension : kTextureExtensions) {
        const std::string candidate = name + extension;
        MCHAR path[MAX_PATH] = {};
        if (BMMGetFullFilename(candidate.c_str(), path)) {
            texture->SetMapName(path, false);
            return;
        }
    }
    texture->SetMapName((name + kTextureExtensions[0]).c_str(), false);
}
