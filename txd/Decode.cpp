#include "txd/Decode.h"

#include <squish.h>

namespace txd {
namespace {

constexpr std::uint8_t expand5(std::uint32_t v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); }
constexpr std::uint8_t expand6(std::uint32_t v) { return static_cast<std::uint8_t>((v << 2) | (v >> 4)); }
constexpr std::uint8_t expand4(std::uint32_t v) { return static_cast<std::uint8_t>(v * 17); }

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
    case Encoding::Bgra8888: put(out, in[2], in[1], in[0], in[3]); break;
    case Encoding::Bgrx8888:
    case Encoding::Bgr888: put(out, in[2], in[1], in[0], 255); break;
    case Encoding::Rgba8888: put(out, in[0], in[1], in[2], in[3]); break;
    case Encoding::Rgbx8888: put(out, in[0], in[1], in[2], 255); break;
    case Encoding::R5G6B5: put(out, expand5(w >> 11), expand6((w >> 5) & 0x3F), expand5(w & 0x1F), 255); break;
    case Encoding::A1R5G5B5:
        put(out, expand5((w >> 10) & 0x1F), expand5((w >> 5) & 0x1F), expand5(w & 0x1F), (w & 0x8000) ? 255 : 0);
        break;
    case Encoding::X1R5G5B5: put(out, expand5((w >> 10) & 0x1F), expand5((w >> 5) & 0x1F), expand5(w & 0x1F), 255); break;
    case Encoding::A4R4G4B4: put(out, expand4((w >> 8) & 0xF), expand4((w >> 4) & 0xF), expand4(w & 0xF), expand4(w >> 12)); break;
    case Encoding::X4R4G4B4: put(out, expand4((w >> 8) & 0xF), expand4((w >> 4) & 0xF), expand4(w & 0xF), 255); break;
    case Encoding::L8: put(out, in[0], in[0], in[0], 255); break;
    case Encoding::A8L8: put(out, in[0], in[0], in[0], in[1]); break;
    case Encoding::A4L4: put(out, expand4(in[0] & 0xF), expand4(in[0] & 0xF), expand4(in[0] & 0xF), expand4(in[0] >> 4)); break;
    case Encoding::A8: put(out, 0, 0, 0, in[0]); break;
    default: put(out, 0, 0, 0, 0); break;
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

std::uint32_t pixelBytes(Encoding e)
{
    switch (e) {
    case Encoding::Bgra8888:
    case Encoding::Bgrx8888:
    case Encoding::Rgba8888:
    case Encoding::Rgbx8888: return 4;
    case Encoding::Bgr888: return 3;
    case Encoding::L8:
    case Encoding::A4L4:
    case Encoding::A8: return 1;
    default: return 2;
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
    image.rgba.assign(pixels * 4, 0);
    std::uint8_t* out = image.rgba.data();
    const std::uint8_t* in = level.bytes.data();
    switch (t.encoding) {
    case Encoding::Dxt1:
    case Encoding::Dxt3:
    case Encoding::Dxt5: {
        const int flags = t.encoding == Encoding::Dxt1 ? squish::kDxt1 : t.encoding == Encoding::Dxt3 ? squish::kDxt3 : squish::kDxt5;
        squish::DecompressImage(out, t.width, t.height, in, flags);
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
            }  // else: an index past the palette stays transparent black
        }
        return true;
    }
    default: {
        const std::uint32_t step = pixelBytes(t.encoding);
        switch (t.encoding) {
#define ORVIK_TXD_PLAIN(E) \
    case Encoding::E: decodePixels<Encoding::E>(in, out, pixels, step); break;
            ORVIK_TXD_PLAIN(Bgra8888) ORVIK_TXD_PLAIN(Bgrx8888) ORVIK_TXD_PLAIN(Bgr888)
            ORVIK_TXD_PLAIN(Rgba8888) ORVIK_TXD_PLAIN(Rgbx8888) ORVIK_TXD_PLAIN(R5G6B5)
            ORVIK_TXD_PLAIN(A1R5G5B5) ORVIK_TXD_PLAIN(X1R5G5B5) ORVIK_TXD_PLAIN(A4R4G4B4)
            ORVIK_TXD_PLAIN(X4R4G4B4) ORVIK_TXD_PLAIN(L8) ORVIK_TXD_PLAIN(A8L8)
            ORVIK_TXD_PLAIN(A4L4) ORVIK_TXD_PLAIN(A8)
#undef ORVIK_TXD_PLAIN
        default: why = "not supported"; return false;
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
