#include "txd/Decode.h"

#include <cstring>

#include "format/Binary.h"

namespace txd {
namespace {

constexpr std::uint8_t expand5(std::uint32_t v)
{
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}
constexpr std::uint8_t expand6(std::uint32_t v)
{
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}
constexpr std::uint8_t expand4(std::uint32_t v)
{
    return static_cast<std::uint8_t>(v * 17);
}

void put(std::uint8_t* out, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a)
{
    out[0] = static_cast<std::uint8_t>(r), out[1] = static_cast<std::uint8_t>(g);
    out[2] = static_cast<std::uint8_t>(b), out[3] = static_cast<std::uint8_t>(a);
}

// One pixel of a plain format at `in` to RGBA at `out`.
template <Encoding e>
inline void decodePixel(const std::uint8_t* in, std::uint8_t* out)
{
    std::uint32_t w = in[0];
    if constexpr (e != Encoding::L8 && e != Encoding::A8 && e != Encoding::A4L4) {
        w |= static_cast<std::uint32_t>(in[1]) << 8;
    }
    switch (e) {
    case Encoding::Bgra8888:
        put(out, in[2], in[1], in[0], in[3]);
        break;
    case Encoding::Bgrx8888:
    case Encoding::Bgr888:
        put(out, in[2], in[1], in[0], 255);
        break;
    case Encoding::Rgba8888:
        put(out, in[0], in[1], in[2], in[3]);
        break;
    case Encoding::Rgbx8888:
        put(out, in[0], in[1], in[2], 255);
        break;
    case Encoding::R5G6B5:
        put(out, expand5(w >> 11), expand6((w >> 5) & 0x3F), expand5(w & 0x1F), 255);
        break;
    case Encoding::A1R5G5B5:
        put(out, expand5((w >> 10) & 0x1F), expand5((w >> 5) & 0x1F), expand5(w & 0x1F), (w & 0x8000) ? 255 : 0);
        break;
    case Encoding::X1R5G5B5:
        put(out, expand5((w >> 10) & 0x1F), expand5((w >> 5) & 0x1F), expand5(w & 0x1F), 255);
        break;
    case Encoding::A4R4G4B4:
        put(out, expand4((w >> 8) & 0xF), expand4((w >> 4) & 0xF), expand4(w & 0xF), expand4(w >> 12));
        break;
    case Encoding::X4R4G4B4:
        put(out, expand4((w >> 8) & 0xF), expand4((w >> 4) & 0xF), expand4(w & 0xF), 255);
        break;
    case Encoding::L8:
        put(out, in[0], in[0], in[0], 255);
        break;
    case Encoding::A8L8:
        put(out, in[0], in[0], in[0], in[1]);
        break;
    case Encoding::A4L4:
        put(out, expand4(in[0] & 0xF), expand4(in[0] & 0xF), expand4(in[0] & 0xF), expand4(in[0] >> 4));
        break;
    case Encoding::A8:
        put(out, 0, 0, 0, in[0]);
        break;
    default:
        put(out, 0, 0, 0, 0);
        break;
    }
}

// DXT blocks, 4 x 4 pixels each, rows of blocks top to bottom. The colour
// block: two 565 end colours and 2-bit indices (pixel 0 in the low bits).
// Four colours (the ends and the points at a third and two thirds) when the
// first end is greater or the block belongs to DXT3/5; else three colours
// (the ends and the midpoint) and transparent black, DXT1's cut-out.
void colourBlock(const std::uint8_t* block, bool dxt1, std::uint8_t colours[4][4], std::uint32_t& indices)
{
    const std::uint32_t c0 = loadU16(block), c1 = loadU16(block + 2);
    const auto unpack = [](std::uint32_t c, std::uint8_t* out) {
        out[0] = expand5(c >> 11), out[1] = expand6((c >> 5) & 0x3F), out[2] = expand5(c & 0x1F), out[3] = 255;
    };
    unpack(c0, colours[0]);
    unpack(c1, colours[1]);
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = colours[0][k], b = colours[1][k];
        if (!dxt1 || c0 > c1) {
            colours[2][k] = static_cast<std::uint8_t>((2 * a + b) / 3);
            colours[3][k] = static_cast<std::uint8_t>((a + 2 * b) / 3);
        } else {
            colours[2][k] = static_cast<std::uint8_t>((a + b) / 2);
            colours[3][k] = 0;
        }
    }
    colours[2][3] = 255;
    colours[3][3] = (!dxt1 || c0 > c1) ? 255 : 0;
    indices = loadU32(block + 4);
}

// DXT5 alpha: two end values and 3-bit indices; eight values between the ends
// when the first is greater, else six and 0 and 255.
void alphaBlock5(const std::uint8_t* block, std::uint8_t alpha[16])
{
    std::uint32_t codes[8] = {block[0], block[1]};
    if (codes[0] > codes[1]) {
        for (std::uint32_t i = 1; i < 7; ++i) codes[1 + i] = ((7 - i) * codes[0] + i * codes[1]) / 7;
    } else {
        for (std::uint32_t i = 1; i < 5; ++i) codes[1 + i] = ((5 - i) * codes[0] + i * codes[1]) / 5;
        codes[6] = 0, codes[7] = 255;
    }
    std::uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= std::uint64_t{block[2 + i]} << (8 * i);
    for (int p = 0; p < 16; ++p) alpha[p] = static_cast<std::uint8_t>(codes[(bits >> (3 * p)) & 7]);
}

void decodeDxt(Encoding e, const std::uint8_t* in, std::uint32_t width, std::uint32_t height, std::uint8_t* out)
{
    const std::size_t blockBytes = e == Encoding::Dxt1 ? 8 : 16;
    for (std::uint32_t by = 0; by < height; by += 4) {
        for (std::uint32_t bx = 0; bx < width; bx += 4, in += blockBytes) {
            std::uint8_t alpha[16] = {};  // DXT1 has none; GCC cannot see that it is never read then
            const std::uint8_t* colour = in;
            if (e == Encoding::Dxt3) {
                for (int p = 0; p < 16; ++p) alpha[p] = expand4((in[p / 2] >> (4 * (p % 2))) & 0xF);
                colour = in + 8;
            } else if (e == Encoding::Dxt5) {
                alphaBlock5(in, alpha);
                colour = in + 8;
            }
            std::uint8_t colours[4][4];
            std::uint32_t indices = 0;
            colourBlock(colour, e == Encoding::Dxt1, colours, indices);
            for (std::uint32_t y = 0; y < 4 && by + y < height; ++y) {
                std::uint8_t* row = out + (std::size_t{by + y} * width + bx) * 4;
                for (std::uint32_t x = 0; x < 4 && bx + x < width; ++x, row += 4) {
                    const std::uint32_t p = y * 4 + x;
                    std::memcpy(row, colours[(indices >> (2 * p)) & 3], 4);
                    if (e != Encoding::Dxt1) row[3] = alpha[p];
                }
            }
        }
    }
}

// Each format's loop is its own instance, so the switch above folds away.
template <Encoding e>
void decodePixels(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels, std::uint32_t step)
{
    for (std::size_t i = 0; i < pixels; ++i, in += step, out += 4) {
        decodePixel<e>(in, out);
    }
}

}  // namespace

bool decodeLevel0(const Texture& t, Image& image, std::string& why)
{
    if (!t.decodable()) {
        why = t.unsupported.empty() ? std::string("not supported") : t.unsupported;
        return false;
    }
    const Level& level = t.levels[0];
    // The reader checked this; it is what keeps the allocation below backed by the file.
    if (level.bytes.size() < levelBytesNeeded(t.encoding, t.width, t.height)) {
        why = "level 0 is shorter than its size needs";
        return false;
    }
    image.width = t.width;
    image.height = t.height;
    const std::size_t pixels = std::size_t{t.width} * t.height;
    // Every decoder below writes every pixel, so a buffer kept from an
    // earlier image is not cleared first (4 MB for 1024 x 1024).
    image.rgba.resize(pixels * 4);
    std::uint8_t* out = image.rgba.data();
    const std::uint8_t* in = level.bytes.data();
    switch (t.encoding) {
    case Encoding::Dxt1:
    case Encoding::Dxt3:
    case Encoding::Dxt5: {
        decodeDxt(t.encoding, in, t.width, t.height, out);
        return true;
    }
    case Encoding::Pal8:
    case Encoding::Pal4: {
        const std::size_t entries = t.palette.size() / 4;
        for (std::size_t i = 0; i < pixels; ++i, out += 4) {
            const std::size_t index = in[i];
            if (index < entries) {
                const std::uint8_t* p = &t.palette[index * 4];
                put(out, p[0], p[1], p[2], p[3]);
            } else {
                put(out, 0, 0, 0, 0);  // an index past the palette: transparent black
            }
        }
        return true;
    }
    default: {
        const std::uint32_t step = bytesPerPixel(t.encoding);
        switch (t.encoding) {
#define ORVIK_TXD_PLAIN(E)                                \
    case Encoding::E:                                     \
        decodePixels<Encoding::E>(in, out, pixels, step); \
        break;
            ORVIK_TXD_PLAIN(Bgra8888)
            ORVIK_TXD_PLAIN(Bgrx8888) ORVIK_TXD_PLAIN(Bgr888) ORVIK_TXD_PLAIN(Rgba8888) ORVIK_TXD_PLAIN(Rgbx8888)
                ORVIK_TXD_PLAIN(R5G6B5) ORVIK_TXD_PLAIN(A1R5G5B5) ORVIK_TXD_PLAIN(X1R5G5B5) ORVIK_TXD_PLAIN(A4R4G4B4)
                    ORVIK_TXD_PLAIN(X4R4G4B4) ORVIK_TXD_PLAIN(L8) ORVIK_TXD_PLAIN(A8L8) ORVIK_TXD_PLAIN(A4L4)
                        ORVIK_TXD_PLAIN(A8)
#undef ORVIK_TXD_PLAIN
                            default : why = "not supported";
            return false;
        }
        return true;
    }
    }
}

AlphaUse alphaUse(const Image& image)
{
    AlphaUse use = AlphaUse::Opaque;
    for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
        const std::uint8_t a = image.rgba[i];
        if (a == 255) continue;
        if (a != 0) return AlphaUse::Blend;
        use = AlphaUse::Mask;
    }
    return use;
}

}  // namespace txd
