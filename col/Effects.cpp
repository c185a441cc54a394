// The 2d effect reader: the entries, each kind's fields as named values.
#include "col/Effects.h"

#include "format/ChunkView.h"

namespace orvik::col {
namespace {

constexpr std::uint64_t kCountSize = 4;
constexpr std::uint64_t kEntryHeadSize = 20;  // position, kind, data size
constexpr std::uint64_t kKindAt = 12;
constexpr std::uint64_t kDataSizeAt = 16;
constexpr std::uint32_t kLightLookAt = 75;
constexpr std::uint32_t kLongLightSize = 80;

// The fields of a kind, in file order: name, offset in the data, type.
enum class Field { U8, I8, U16, I16, I32, F32, Text8, Text16, Text24 };
struct FieldLayout {
    const char* key;
    std::uint32_t offset;
    Field type;
};

constexpr FieldLayout kLightFields[] = {
    {"alpha", 3, Field::U8},
    {"coronaFarClip", 4, Field::F32},
    {"range", 8, Field::F32},
    {"coronaSize", 12, Field::F32},
    {"shadowSize", 16, Field::F32},
    {"coronaShowMode", 20, Field::U8},
    {"coronaReflection", 21, Field::U8},
    {"coronaFlareType", 22, Field::U8},
    {"shadowColourMultiplier", 23, Field::U8},
    {"flags", 24, Field::U8},
    {"coronaTexture", 25, Field::Text24},
    {"shadowTexture", 49, Field::Text24},
    {"shadowZDistance", 73, Field::U8},
    {"flags2", 74, Field::U8},
    {"lookX", 75, Field::I8},
    {"lookY", 76, Field::I8},
    {"lookZ", 77, Field::I8},
};
constexpr FieldLayout kParticleFields[] = {{"effectName", 0, Field::Text24}};
constexpr FieldLayout kAttractorFields[] = {
    {"attractorType", 0, Field::I32}, {"queueX", 4, Field::F32},    {"queueY", 8, Field::F32},
    {"queueZ", 12, Field::F32},       {"useX", 16, Field::F32},     {"useY", 20, Field::F32},
    {"useZ", 24, Field::F32},         {"forwardX", 28, Field::F32}, {"forwardY", 32, Field::F32},
    {"forwardZ", 36, Field::F32},     {"script", 40, Field::Text8}, {"probability", 48, Field::I32},
};
constexpr FieldLayout kEntryExitFields[] = {
    {"enterAngle", 0, Field::F32}, {"radiusX", 4, Field::F32},   {"radiusY", 8, Field::F32},
    {"exitX", 12, Field::F32},     {"exitY", 16, Field::F32},    {"exitZ", 20, Field::F32},
    {"exitAngle", 24, Field::F32}, {"interior", 28, Field::I16}, {"entryFlags", 30, Field::U8},
    {"name", 32, Field::Text8},    {"timeOn", 40, Field::U8},    {"timeOff", 41, Field::U8},
};
constexpr FieldLayout kRoadSignFields[] = {
    {"width", 0, Field::F32},      {"height", 4, Field::F32},     {"rotationX", 8, Field::F32},
    {"rotationY", 12, Field::F32}, {"rotationZ", 16, Field::F32}, {"signFlags", 20, Field::U16},
    {"line1", 22, Field::Text16},  {"line2", 38, Field::Text16},  {"line3", 54, Field::Text16},
    {"line4", 70, Field::Text16},
};
constexpr FieldLayout kTriggerFields[] = {{"index", 0, Field::I32}};
constexpr FieldLayout kCoverFields[] = {{"directionX", 0, Field::F32},
                                        {"directionY", 4, Field::F32},
                                        {"coverType", 8, Field::U8}};
constexpr FieldLayout kEscalatorFields[] = {
    {"bottomX", 0, Field::F32}, {"bottomY", 4, Field::F32},   {"bottomZ", 8, Field::F32}, {"topX", 12, Field::F32},
    {"topY", 16, Field::F32},   {"topZ", 20, Field::F32},     {"endX", 24, Field::F32},   {"endY", 28, Field::F32},
    {"endZ", 32, Field::F32},   {"direction", 36, Field::U8},
};

struct KindLayout {
    std::uint32_t type;
    const char* name;
    const FieldLayout* fields;
    std::size_t fieldCount;
};

template <std::size_t N>
constexpr KindLayout kind(std::uint32_t type, const char* name, const FieldLayout (&fields)[N])
{
    return KindLayout{type, name, fields, N};
}

const KindLayout kKinds[] = {
    kind(0, "light", kLightFields),
    kind(1, "particle", kParticleFields),
    kind(3, "ped attractor", kAttractorFields),
    KindLayout{4, "sun glare", nullptr, 0},
    kind(6, "entry-exit", kEntryExitFields),
    kind(7, "road sign", kRoadSignFields),
    kind(8, "trigger point", kTriggerFields),
    kind(9, "cover point", kCoverFields),
    kind(10, "escalator", kEscalatorFields),
};

const KindLayout* findKind(std::uint32_t type)
{
    for (const KindLayout& k : kKinds)
        if (k.type == type) return &k;
    return nullptr;
}

std::uint64_t fieldSize(Field f)
{
    switch (f) {
    case Field::U8:
    case Field::I8:
        return 1;
    case Field::U16:
    case Field::I16:
        return 2;
    case Field::I32:
    case Field::F32:
        return 4;
    case Field::Text8:
        return 8;
    case Field::Text16:
        return 16;
    case Field::Text24:
        return 24;
    }
    return 0;
}

EffectValue valueOf(ChunkView& data, const FieldLayout& f)
{
    EffectValue v;
    v.key = f.key;
    switch (f.type) {
    case Field::U8:
        v.intValue = data.u8(f.offset);
        break;
    case Field::I8:
        v.intValue = static_cast<std::int8_t>(data.u8(f.offset));
        break;
    case Field::U16:
        v.intValue = data.u16(f.offset);
        break;
    case Field::I16:
        v.intValue = static_cast<std::int16_t>(data.u16(f.offset));
        break;
    case Field::I32:
        v.intValue = data.i32(f.offset);
        break;
    case Field::F32:
        v.kind = EffectValue::Kind::Float;
        v.floatValue = data.f32(f.offset);
        break;
    case Field::Text8:
    case Field::Text16:
    case Field::Text24:
        v.kind = EffectValue::Kind::Text;
        v.text = data.textWithin(f.offset, fieldSize(f.type));
        break;
    }
    return v;
}

}  // namespace

std::string effectKindName(std::uint32_t type)
{
    const KindLayout* k = findKind(type);
    return k != nullptr ? k->name : "effect " + std::to_string(type);
}

EffectsResult readEffects(std::span<const std::uint8_t> body)
{
    EffectsResult result;
    if (body.size() < kCountSize || !viewable(body.size())) {
        result.error = joinText("the body of ", groupedNumber(body.size()), " bytes holds no entry count");
        return result;
    }
    // The entries' own checks come before every read; the views' failure
    // record is only a backstop.
    ReadFailure failure;
    ChunkView all(body.data(), body.size(), 0, body.size(), failure, "the 2d effects");
    result.declared = all.u32(0);
    if (!countFits(result.declared, kEntryHeadSize, all.left(kCountSize))) {
        result.error = declaresText("the body", result.declared, "entries", all.left(kCountSize));
        return result;
    }
    result.effects.reserve(result.declared);
    std::uint64_t at = kCountSize;
    for (std::uint32_t i = 0; i < result.declared; ++i) {
        if (!all.holds(at, kEntryHeadSize)) {
            result.error = joinText("entry ", std::to_string(i), " at ", hexOffset(at), " needs 20 bytes, ",
                                    groupedNumber(all.left(at)), " are left");
            return result;
        }
        Effect e;
        e.position = Vec3{all.f32(at), all.f32(at + 4), all.f32(at + 8)};
        e.type = all.u32(at + kKindAt);
        e.dataSize = all.u32(at + kDataSizeAt);
        e.kind = effectKindName(e.type);
        const std::uint64_t dataAt = at + kEntryHeadSize;
        if (!countFits(e.dataSize, 1, all.left(dataAt))) {
            result.error = declaresText(joinText("entry ", std::to_string(i), " (", e.kind, ") at ", hexOffset(at)),
                                        e.dataSize, "bytes", all.left(dataAt));
            return result;
        }
        ChunkView data = all.part(dataAt, e.dataSize, "a 2d effect", i);
        if (const KindLayout* k = findKind(e.type)) {
            for (std::size_t f = 0; f < k->fieldCount; ++f) {
                const FieldLayout& layout = k->fields[f];
                // The look direction is only in the 80-byte form of a light.
                if (e.type == Effect::kLight && layout.offset >= kLightLookAt && e.dataSize < kLongLightSize) break;
                if (!data.holds(layout.offset, fieldSize(layout.type))) break;
                e.values.push_back(valueOf(data, layout));
            }
        }
        if (e.type == Effect::kLight && data.holds(0, 12)) {
            for (int c = 0; c < 3; ++c) e.colour[c] = data.u8(static_cast<std::uint64_t>(c));
            e.range = data.f32(8);
        }
        at = dataAt + e.dataSize;
        result.effects.push_back(std::move(e));
    }
    return result;
}

}  // namespace orvik::col
