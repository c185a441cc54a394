// PNG writing and reading of RGBA8 images (libpng).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "txd/Decode.h"

namespace txd {

// zlib level the PNG writer uses unless told otherwise: chosen by measurement
// (BENCHMARKS.md, "Texture dictionaries").
constexpr int kDefaultPngLevel = 3;

// Encodes an RGBA8 image as PNG (colour type 6, 8 bits). Returns false with
// the reason when the encoder fails.
bool encodePng(const Image& image, std::vector<std::uint8_t>& png, std::string& why, int level = kDefaultPngLevel);

// Decodes a PNG into RGBA8 (used to read back what was written).
bool decodePng(const std::vector<std::uint8_t>& png, Image& image, std::string& why);

}  // namespace txd
