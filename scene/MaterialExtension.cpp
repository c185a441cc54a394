// A material's extension: material effects (environment map), UV animation
// keyed onto the main texture's coordinate generator, specular and
// reflection material data.
#include <algorithm>
#include <cmath>

#include "importer/Orvik.h"
#include "scene/MaterialParams.h"

namespace {

// Material effects: word 0 effect kind, word 1 first effect's kind; for an
// environment map word 2 the coefficient, word 4 the texture flag.
constexpr std::uint32_t kEnvironmentMapEffect = 2;
constexpr std::uint32_t kEffectKindOffset = 4;
constexpr std::uint32_t kEnvCoefficientOffset = 8;
constexpr std::uint32_t kEnvTextureFlagOffset = 16;
constexpr std::uint32_t kEnvTextureOffset = 20;    // texture flag 1
constexpr std::uint32_t kEnvNoTextureOffset = 24;  // other texture flags
constexpr std::uint32_t kNoEffectTextureOffset = 12;

// UV animation: struct header, one unused word, the animation name.
constexpr std::uint32_t kUvAnimNameOffset = 16;
constexpr std::uint32_t kUvAnimNameSize = 32;

// Specular material: level, then the texture name.
constexpr std::uint32_t kSpecularNameOffset = 4;
constexpr std::uint32_t kSpecularNameSize = 24;

// Reflection material: c0, c1, c2, c3, intensity (f32 each).
constexpr std::uint32_t kReflectionIntensityOffset = 16;

// Texture chunk inside the material effects: the same layout a material's
// texture chunk has.
constexpr std::uint32_t kTextureFilterOffset = 24;
constexpr std::uint32_t kTextureAddressingOffset = 25;
constexpr std::uint32_t kTextureNameHeaderOffset = 28;
constexpr std::uint32_t kTextureNameOffset = 40;

constexpr float kTicksPerSecond = static_cast<float>(TIME_TICKSPERSEC);

// Truncation towards zero that stays defined for values out of range.
int truncateToInt(float v)
{
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return INT_MAX;
    if (v <= -2147483648.0f) return INT_MIN;
    return static_cast<int>(v);
}

// Keys the main texture's offsets and tilings from the named UV animation of
// the dictionary; nothing when the name is unknown or there is no main texture.
void applyUvAnimation(Orvik& importer, Mtl* material, const std::string& name);

}  // namespace

void Orvik::readMaterialExtension(Mtl* material)
{
    ReportProgress();
    ChunkHeader h{};
    if (readHeader(h) == nullptr) return;
    if (h.type != ChunkType::Extension || !isAcceptedStamp(h.stamp)) return;
    const std::uint64_t end = std::uint64_t{cursor} + h.size;
    if (end > bufferSize) {
        fail();
        return;
    }
    IParamBlock2* pb = material != nullptr ? material->GetParamBlock(0) : nullptr;

    // Each sub-chunk is read within its own bounds; the walk resumes at its
    // end, bounded by the extension's end. Unknown sub-chunks are passed over.
    while (cursor < end && !readFailed) {
        if (end - cursor < kChunkHeaderSize) {
            cursor = static_cast<std::uint32_t>(end);
            break;
        }
        const ChunkHeader sub = loadHeader(at(cursor));
        const std::uint32_t d = cursor + kChunkHeaderSize;
        const auto subEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{d} + sub.size, end));
        const std::uint32_t bodySize = subEnd - d;
        cursor = d;

        switch (sub.type) {
        case ChunkType::MaterialEffectsPlugin: {
            if (pb != nullptr) pb->SetValue(GameMtlParam::HasEffects, 0, 1, 0);
            const std::uint32_t kind = bodySize >= kEffectKindOffset + 4 ? loadU32(at(d + kEffectKindOffset)) : 0;
            std::uint32_t q = d + kNoEffectTextureOffset;
            if (kind == kEnvironmentMapEffect) {
                // The environment map's words must be there to be taken.
                if (bodySize < kEnvTextureFlagOffset + 4) break;
                const float coefficient = loadF32(at(d + kEnvCoefficientOffset));
                if (pb != nullptr) {
                    pb->SetValue(GameMtlParam::EnvCoefficient, 0, coefficient * 100.0f, 0);
                    pb->SetValue(GameMtlParam::EnvEnabled, 0, 1, 0);
                }
                q = d + (loadU32(at(d + kEnvTextureFlagOffset)) == 1 ? kEnvTextureOffset : kEnvNoTextureOffset);
            }
            // An environment texture chunk, read only as far as the sub-chunk holds it.
            if (q > subEnd || subEnd - q < kTextureNameOffset) break;
            const ChunkHeader th = loadHeader(at(q));
            if (th.type != ChunkType::Texture || !isAcceptedStamp(th.stamp)) break;
            if (pb == nullptr) break;
            const std::uint32_t nameSize = loadU32(at(q + kTextureNameHeaderOffset + 4));
            const std::uint32_t nameStart = q + kTextureNameOffset;
            const std::string name = MaterialText::upToNul(at(nameStart), std::min(nameSize, subEnd - nameStart));
            BitmapTex* env = TextureSetup::newNamedTexture(name);
            if (env != nullptr) {
                env->SetFilterType(TextureSetup::filterTypeFor(buffer[q + kTextureFilterOffset]));
                TextureSetup::setAddressing(*env, buffer[q + kTextureAddressingOffset]);
            }
            pb->SetValue(GameMtlParam::EnvTexture, 0, static_cast<Texmap*>(env), 0);
            break;
        }
        case ChunkType::UvAnimPlugin: {
            if (bodySize <= kUvAnimNameOffset) break;
            const std::string name =
                MaterialText::upToNul(at(d + kUvAnimNameOffset), std::min(kUvAnimNameSize, bodySize - kUvAnimNameOffset));
            applyUvAnimation(*this, material, name);
            break;
        }
        case ChunkType::SpecularMaterial: {
            if (pb == nullptr) break;
            pb->SetValue(GameMtlParam::HasSpecular, 0, 1, 0);
            if (bodySize < 4) break;
            pb->SetValue(GameMtlParam::SpecularLevel, 0, loadF32(at(d)) * 100.0f, 0);
            const std::string name = MaterialText::upToNul(
                at(d + kSpecularNameOffset), std::min(kSpecularNameSize, bodySize - kSpecularNameOffset));
            if (name.empty()) break;
            BitmapTex* texture = TextureSetup::newNamedTexture(name);
            pb->SetValue(GameMtlParam::SpecularTexture, 0, static_cast<Texmap*>(texture), 0);
            break;
        }
        case ChunkType::ReflectionMaterial: {
            if (pb == nullptr) break;
            pb->SetValue(GameMtlParam::HasReflection, 0, 1, 0);
            // Each value is taken only when the sub-chunk holds it.
            if (bodySize >= 12) {
                Color colour(loadF32(at(d)), loadF32(at(d + 4)), loadF32(at(d + 8)));
                pb->SetValue(GameMtlParam::ReflectionColour, 0, colour, 0);
            }
            if (bodySize >= 16)
                pb->SetValue(GameMtlParam::ReflectionAlpha, 0, truncateToInt(loadF32(at(d + 12)) * 255.0f), 0);
            if (bodySize >= kReflectionIntensityOffset + 4)
                pb->SetValue(GameMtlParam::ReflectionIntensity, 0, loadF32(at(d + kReflectionIntensityOffset)), 0);
            break;
        }
        default:
            break;
        }
        if (readFailed) return;
        cursor = subEnd;
    }
}

namespace {

void applyUvAnimation(Orvik& importer, Mtl* material, const std::string& name)
{
    if (material == nullptr) return;
    const auto entry = importer.uvAnimations.find(name);
    if (entry == importer.uvAnimations.end()) return;

    Control* controllers[4] = {NewDefaultFloatController(), NewDefaultFloatController(), NewDefaultFloatController(),
                               NewDefaultFloatController()};

    IParamBlock2* pb = material->GetParamBlock(0);
    if (pb == nullptr) return;
    Texmap* mainTexture = nullptr;
    Interval whole(TIME_NegInfinity, TIME_PosInfinity);
    if (!pb->GetValue(GameMtlParam::MainTexture, 0, mainTexture, whole, 0) || mainTexture == nullptr) return;
    auto* bitmap = dynamic_cast<BitmapTex*>(mainTexture);
    if (bitmap == nullptr) return;
    StdUVGen* uvGen = bitmap->GetUVGen();
    Animatable* uvParams = uvGen != nullptr ? uvGen->SubAnim(0) : nullptr;
    if (uvParams == nullptr) return;
    // Sub-animatables 0 to 3: U offset, V offset, U tiling, V tiling.
    for (int k = 0; k < 4; ++k)
        if (controllers[k] != nullptr) uvParams->AssignController(controllers[k], k);

    SuspendAnimate();
    AnimateOn();
    for (const std::uint8_t* key : entry->second) {
        if (key == nullptr) continue;
        // Many materials may name one animation: past the import's allowance
        // of keys the rest of the animation is left out.
        if (importer.uvKeysLeft == 0) break;
        --importer.uvKeysLeft;
        // The dictionary reader checked its key frames; a pointer outside the buffer is not read.
        if (!importer.inBuffer(importer.offsetOf(key), kUvKeyFrameSize)) break;
        const float seconds = loadF32(key);
        if (std::isnan(seconds)) continue;
        const TimeValue t = truncateToInt(seconds * kTicksPerSecond);
        float uv[6];
        for (int i = 0; i < 6; ++i) uv[i] = loadF32(key + 4 + 4 * i);
        float values[4] = {-uv[4], uv[5], uv[1], uv[2]};
        for (int c = 0; c < 4; ++c)
            if (controllers[c] != nullptr) controllers[c]->SetValue(t, &values[c], 1, CTRL_ABSOLUTE);
    }
    ResumeAnimate();
}

}  // namespace
