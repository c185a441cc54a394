// The 2d effects a San Andreas model carries in its geometry's extension
// (lamp lights, particles, ped attractors, entry-exits, road signs, ...).
//
// The body: u32 entry count, then per entry its position (3 f32, in the
// geometry's space), u32 kind, u32 bytes of the data that follows, and the
// data. A light's data (76 or 80 bytes): RGBA, corona far clip, point light
// range, corona size, shadow size (f32 each), corona show mode, corona
// reflection, flare type, shadow colour multiplier, flags (u8 each), corona
// and shadow texture names (24 bytes each), shadow Z distance, second flags
// (u8 each), and in the 80-byte form a look direction (3 i8).
//
// Like the collision reader, it trusts nothing: the count is checked against
// the bytes before anything is sized from it, each entry's data size against
// the bytes left; a damaged entry ends the reading with the entries before
// it kept and one line in `error`. Data shorter than a kind's fields is kept
// with the fields it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "col/Collision.h"

namespace orvik::col {

// One value of an effect, shown to the user as a property.
struct EffectValue {
    enum class Kind { Int, Float, Text };
    std::string key;
    Kind kind = Kind::Int;
    int intValue = 0;
    float floatValue = 0;
    std::string text;
};

struct Effect {
    static constexpr std::uint32_t kLight = 0;
    Vec3 position;
    std::uint32_t type = 0;
    std::uint32_t dataSize = 0;
    std::string kind;                 // "light", "particle", ... "effect 12" for a kind not known
    std::vector<EffectValue> values;  // the kind's fields, in file order
    // A light's colour (0 to 255 each) and range, also among the values.
    float colour[3] = {0, 0, 0};
    float range = 0;
};

struct EffectsResult {
    std::vector<Effect> effects;
    std::uint32_t declared = 0;  // the entry count the body gives
    std::string error;           // "" when every entry was read
};

EffectsResult readEffects(std::span<const std::uint8_t> body);

// The name of an effect kind: "light", "particle", ...
std::string effectKindName(std::uint32_t type);

}  // namespace orvik::col
