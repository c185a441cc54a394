// Decoding of a texture's level 0 to RGBA8 (R, G, B, A bytes, rows top to
// bottom), and how the decoded pixels use alpha. Everything is decoded here,
// DXT blocks included: libsquish decodes them at a tenth of the speed (see
// BENCHMARKS.md) and serves the tests as the reference instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "txd/Dictionary.h"

namespace txd {

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba;  // width * height * 4
};

// Decodes level 0 into `image`. Returns false with the reason for a texture
// that cannot be decoded (another platform, an unknown format, a level
// shorter than its size needs); the reader has already checked the lengths,
// so nothing is allocated that the file does not back.
bool decodeLevel0(const Texture& texture, Image& image, std::string& why);

enum class AlphaUse {
    Opaque,  // every pixel has alpha 255
    Mask,    // alpha is 0 or 255 only
    Blend,   // some alpha between
};
AlphaUse alphaUse(const Image& image);

}  // namespace txd
