// A material's extension: material effects (environment map), UV animation
// keyed onto the main texture's coordinate generator, specular and
// reflection material data.
#include <algorithm>
#include <cmath>

#include "importer/Orvik.h"
#include "scene/MaterialParams.h"

namespace {

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
    if (!readHeader(h)) return;
    if (h.type != ChunkType::Extension || !isAcceptedStamp(h.stamp)) return;
    // A body past the buffer ends the import; the walk to its end (0) is empty.
    const std::uint32_t end = bodyEnd(h, "the extension of a material", ChunkView::kNoNumber);
    IParamBlock2* pb = material != nullptr ? material->GetParamBlock(0) : nullptr;

    // Each value is taken only when the sub-chunk holds it. Unknown
    // sub-chunks are passed over.
    walkExtension(end, [&](const ChunkHeader& sub, ChunkView body) {
        switch (sub.type) {
        case ChunkType::MaterialEffectsPlugin: {
            using namespace MaterialEffectsLayout;
            if (pb != nullptr) pb->SetValue(GameMtlParam::HasEffects, 0, 1, 0);
            const std::uint32_t kind = body.holds(EffectKind, 4) ? body.u32(EffectKind) : 0;
            std::uint32_t q = NoEffectTexture;
            if (kind == EnvironmentMap) {
                // The environment map's words must be there to be taken.
                if (!body.holds(EnvTextureFlag, 4)) break;
                const float coefficient = body.f32(EnvCoefficient);
                if (pb != nullptr) {
                    pb->SetValue(GameMtlParam::EnvCoefficient, 0, coefficient * 100.0f, 0);
                    pb->SetValue(GameMtlParam::EnvEnabled, 0, 1, 0);
                }
                q = body.u32(EnvTextureFlag) == 1 ? EnvTexture : EnvNoTexture;
            }
            // An environment texture chunk, read only as far as the sub-chunk holds it.
            if (!body.holds(q, TextureLayout::Name)) break;
            ChunkView texture = body.part(q, body.left(q), "an environment texture");
            const ChunkHeader th = texture.header(0);
            if (th.type != ChunkType::Texture || !isAcceptedStamp(th.stamp)) break;
            if (pb == nullptr) break;
            const std::string name = texture.textWithin(TextureLayout::Name, texture.u32(TextureLayout::NameSize));
            BitmapTex* env = newNamedTexture(name);
            if (env != nullptr) {
                env->SetFilterType(TextureSetup::filterTypeFor(texture.u8(TextureLayout::Filter)));
                TextureSetup::setAddressing(*env, texture.u8(TextureLayout::Addressing));
            }
            pb->SetValue(GameMtlParam::EnvTexture, 0, static_cast<Texmap*>(env), 0);
            break;
        }
        case ChunkType::UvAnimPlugin: {
            using namespace MaterialUvAnimLayout;
            if (body.size() <= Name) break;
            applyUvAnimation(*this, material, body.textWithin(Name, NameSize));
            break;
        }
        case ChunkType::SpecularMaterial: {
            using namespace SpecularLayout;
            if (pb == nullptr) break;
            pb->SetValue(GameMtlParam::HasSpecular, 0, 1, 0);
            if (!body.holds(Level, 4)) break;
            pb->SetValue(GameMtlParam::SpecularLevel, 0, body.f32(Level) * 100.0f, 0);
            const std::string name = body.textWithin(Name, NameSize);
            if (name.empty()) break;
            BitmapTex* texture = newNamedTexture(name);
            pb->SetValue(GameMtlParam::SpecularTexture, 0, static_cast<Texmap*>(texture), 0);
            break;
        }
        case ChunkType::ReflectionMaterial: {
            using namespace ReflectionLayout;
            if (pb == nullptr) break;
            pb->SetValue(GameMtlParam::HasReflection, 0, 1, 0);
            if (body.holds(Colour, 12)) {
                Color colour(body.f32(Colour), body.f32(Colour + 4), body.f32(Colour + 8));
                pb->SetValue(GameMtlParam::ReflectionColour, 0, colour, 0);
            }
            if (body.holds(Alpha, 4))
                pb->SetValue(GameMtlParam::ReflectionAlpha, 0, truncateToInt(body.f32(Alpha) * 255.0f), 0);
            if (body.holds(Intensity, 4)) pb->SetValue(GameMtlParam::ReflectionIntensity, 0, body.f32(Intensity), 0);
            break;
        }
        default:
            noteSkipped(sub.type, body.size());
            break;
        }
    });
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
    const Records<UvKeyFrame>& keys = entry->second;
    for (std::uint32_t k = 0; k < keys.size(); ++k) {
        // Many materials may name one animation: past the import's allowance
        // of keys the rest of the animation is left out.
        if (importer.uvKeysLeft == 0) break;
        --importer.uvKeysLeft;
        const UvKeyFrame frame = keys[k];
        if (std::isnan(frame.time)) continue;
        const TimeValue t = truncateToInt(frame.time * kTicksPerSecond);
        float values[4] = {-frame.uv[4], frame.uv[5], frame.uv[1], frame.uv[2]};
        for (int c = 0; c < 4; ++c)
            if (controllers[c] != nullptr) controllers[c]->SetValue(t, &values[c], 1, CTRL_ABSOLUTE);
    }
    ResumeAnimate();
}

}  // namespace
