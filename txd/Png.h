// PNG writing (ISA-L's igzip behind this file's own framing and row filters) and
// reading (libpng) of RGBA8 images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "txd/Decode.h"

namespace txd {

// Compression level (igzip's, 0 to 3) the PNG writer uses unless told
// otherwise: chosen by measurement (BENCHMARKS.md, "PNG writing").
constexpr int kDefaultPngLevel = 2;

// Largest IDAT chunk written; longer image data is split over several.
constexpr std::size_t kMaxIdatChunk = std::size_t{1} << 20;

// How the rows are filtered before compression.
enum class PngRows {
    Unfiltered,  // filter type 0 on every row
    SubOrUp,     // each row Sub or Up, whichever leaves the smaller residues
};

// The rows' filtering the writer picks for an image: both ways are compressed
// on four bands of the image (a thirty-second of its rows, at least four rows
// each), and filtering is taken when it saves an eighth there.
// Decoded DXT and palette textures repeat whole pixels, which filtering
// breaks up; smooth, photograph-like images shrink with it.
PngRows choosePngRows(const Image& image, int level = kDefaultPngLevel);

// Encodes an RGBA8 image as PNG (8 bits, no interlace): colour type 2 (RGB)
// when every pixel's alpha is 255, which reads back to the same pixels from a
// quarter less data, else colour type 6 (RGBA). The filtered rows and the
// compressed stream are made in buffers the thread keeps for its next image
// (those over 16 MB are released after their image).
// Returns false with the reason, and `png` empty, when it cannot (an empty or inconsistent
// image, one too large for PNG, memory).
bool encodePng(const Image& image, std::vector<std::uint8_t>& png, std::string& why, int level = kDefaultPngLevel);
// The same into a string.
bool encodePng(const Image& image, std::string& png, std::string& why, int level = kDefaultPngLevel);
// The same with the rows' filtering given.
bool encodePng(const Image& image, PngRows rows, std::vector<std::uint8_t>& png, std::string& why,
               int level = kDefaultPngLevel);

// Whether a PNG this writer made keeps an alpha channel (colour type 6),
// that is whether some pixel of its image is not opaque; false for bytes
// that do not begin with a PNG header.
bool writtenWithAlpha(std::string_view png);

// Decodes a PNG into RGBA8 (used to read back what was written).
bool decodePng(const std::vector<std::uint8_t>& png, Image& image, std::string& why);

}  // namespace txd
