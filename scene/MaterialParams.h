// What the material list reader and the material extension reader share: the
// game material's parameter IDs and the steps that set up a bitmap texture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/max.h"

// Parameter IDs of the game material's parameter block 0 (5, 14 and 18 are
// never written).
namespace GameMtlParam {
constexpr ParamID Ambient = 0;               // float
constexpr ParamID Specular = 1;              // float
constexpr ParamID Diffuse = 2;               // float
constexpr ParamID Colour = 3;                // colour, red/green/blue over 255
constexpr ParamID MainTexture = 4;           // texture
constexpr ParamID Alpha = 6;                 // int, 0..255
constexpr ParamID MaskTexture = 7;           // texture
constexpr ParamID NoMask = 8;                // int, 0 when the texture has no mask
constexpr ParamID EnvCoefficient = 9;        // float, coefficient x 100
constexpr ParamID EnvTexture = 10;           // texture
constexpr ParamID EnvEnabled = 11;           // int
constexpr ParamID ReflectionColour = 12;     // colour
constexpr ParamID SpecularTexture = 13;      // texture
constexpr ParamID ReflectionAlpha = 15;      // int, c3 x 255
constexpr ParamID SpecularLevel = 16;        // float, level x 100
constexpr ParamID ReflectionIntensity = 17;  // float
constexpr ParamID HasEffects = 19;           // int
constexpr ParamID HasReflection = 20;        // int
constexpr ParamID HasSpecular = 21;          // int
}  // namespace GameMtlParam

namespace TextureSetup {
// The host filter type for the file's filtering mode: 1 (nearest) gives no
// filtering, 2 (linear) summed-area, every other mode pyramidal.
int filterTypeFor(std::uint8_t filteringMode);
// Sets the four tiling flags from the addressing byte (low four bits U mode,
// high four bits V mode; a byte below 16 is taken as V mode 1).
void setAddressing(BitmapTex& texture, std::uint8_t addressing);
}  // namespace TextureSetup
