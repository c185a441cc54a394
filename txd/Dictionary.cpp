#include "txd/Dictionary.h"

#include <algorithm>
#include <string_view>

#include "format/ChunkView.h"
#include "support/Text.h"

namespace txd {
namespace {

std::string hex(std::size_t v)
{
    return orvik::hexNumber(v);
}

std::string platformText(std::uint32_t platform)
{
    switch (platform) {
    case Platform::PS2:
        return "PlayStation 2 texture";
    case Platform::Xbox:
        return "Xbox texture";
    case Platform::GameCube:
        return "GameCube texture";
    case Platform::PSP:
        return "PSP texture";
    default:
        return "texture of platform " + hex(platform);
    }
}

// The encoding of a Direct3D 8 raster: the compression byte names DXT,
// then the palette flags, then the pixel format.
Encoding d3d8Encoding(const Texture& t)
{
    switch (t.compression) {
    case 0:
        break;
    case 1:
        return Encoding::Dxt1;
    case 2:
    case 3:
        return Encoding::Dxt3;
    case 4:
    case 5:
        return Encoding::Dxt5;
    default:
        return Encoding::None;
    }
    if (t.rasterFormat & Raster::Pal8) return Encoding::Pal8;
    if (t.rasterFormat & Raster::Pal4) return Encoding::Pal4;
    switch (t.rasterFormat & Raster::PixelMask) {
    case Raster::F1555:
        return Encoding::A1R5G5B5;
    case Raster::F565:
        return Encoding::R5G6B5;
    case Raster::F4444:
        return Encoding::A4R4G4B4;
    case Raster::Lum8:
        return Encoding::L8;
    case Raster::F8888:
        return Encoding::Bgra8888;
    case Raster::F888:
        return t.depth == 24 ? Encoding::Bgr888 : Encoding::Bgrx8888;
    case Raster::F555:
        return Encoding::X1R5G5B5;
    default:
        return Encoding::None;
    }
}

// Direct3D 9: the D3DFORMAT decides; a palette flag or an unknown format
// falls back to the Direct3D 8 rules.
Encoding d3d9Encoding(const Texture& t)
{
    using namespace D3dFormat;
    if (t.rasterFormat & (Raster::Pal8 | Raster::Pal4)) {
        return (t.rasterFormat & Raster::Pal8) ? Encoding::Pal8 : Encoding::Pal4;
    }
    switch (t.formatWord) {
    case Dxt1:
        return Encoding::Dxt1;
    case Dxt2:
    case Dxt3:
        return Encoding::Dxt3;
    case Dxt4:
    case Dxt5:
        return Encoding::Dxt5;
    case R8G8B8:
        return Encoding::Bgr888;
    case A8R8G8B8:
        return Encoding::Bgra8888;
    case X8R8G8B8:
        return Encoding::Bgrx8888;
    case R5G6B5:
        return Encoding::R5G6B5;
    case X1R5G5B5:
        return Encoding::X1R5G5B5;
    case A1R5G5B5:
        return Encoding::A1R5G5B5;
    case A4R4G4B4:
        return Encoding::A4R4G4B4;
    case X4R4G4B4:
        return Encoding::X4R4G4B4;
    case A8:
        return Encoding::A8;
    case A8B8G8R8:
        return Encoding::Rgba8888;
    case X8B8G8R8:
        return Encoding::Rgbx8888;
    case L8:
        return Encoding::L8;
    case A8L8:
        return Encoding::A8L8;
    case A4L4:
        return Encoding::A4L4;
    case 0: {
        Texture plain = t;
        plain.compression = 0;
        return d3d8Encoding(plain);
    }
    default:
        return Encoding::None;
    }
}

}  // namespace

std::uint32_t bytesPerPixel(Encoding e)
{
    switch (e) {
    case Encoding::Bgra8888:
    case Encoding::Bgrx8888:
    case Encoding::Rgba8888:
    case Encoding::Rgbx8888:
        return 4;
    case Encoding::Bgr888:
        return 3;
    case Encoding::R5G6B5:
    case Encoding::A1R5G5B5:
    case Encoding::X1R5G5B5:
    case Encoding::A4R4G4B4:
    case Encoding::X4R4G4B4:
    case Encoding::A8L8:
        return 2;
    case Encoding::L8:
    case Encoding::A4L4:
    case Encoding::A8:
    case Encoding::Pal8:
    case Encoding::Pal4:
        return 1;
    default:
        return 0;
    }
}

namespace {

// Whether the view holds a chunk header at offset; if so, the header.
bool headerAt(ChunkView& view, std::uint64_t offset, ChunkHeader& h)
{
    if (!view.holds(offset, kChunkHeaderSize)) return false;
    h = view.header(offset);
    return true;
}

// The struct of a PlayStation 2 texture holds no name: it follows in a string
// chunk, which rest starts with.
void nameFromStringChunk(ChunkView rest, Texture& t)
{
    ChunkHeader h{};
    if (!headerAt(rest, 0, h) || h.type != ChunkId::String || h.size > rest.left(kChunkHeaderSize)) return;
    t.name = rest.textWithin(kChunkHeaderSize, std::min<std::size_t>(h.size, kNameSize));
}

// Every read below is checked against the bytes its view holds before it is
// made, so the views' shared failure record stays clear: each short struct or
// level is a reason of its own, said where it is met.
class DictionaryReader {
public:
    explicit DictionaryReader(std::span<const std::uint8_t> file) : file_(file) {}

    Dictionary read()
    {
        if (file_.size() > 0xFFFFFFFF) {
            out_.ended = "the file is larger than 4 GiB";
            return std::move(out_);
        }
        ChunkView top = view(0, file_.size(), "the file");
        ChunkHeader dict{};
        if (!headerAt(top, 0, dict) || dict.type != ChunkId::TextureDictionary) {
            out_.ended = "the file does not start with a texture dictionary chunk";
            return std::move(out_);
        }
        out_.isDictionary = true;
        out_.stamp = dict.stamp;
        if (!isLibraryStamp(dict.stamp)) {
            return endAt(0, "the dictionary chunk has the library stamp " + hex(dict.stamp) +
                                ", which is no stamp of the 3.x series");
        }
        const std::size_t bodyBegin = kChunkHeaderSize;
        std::size_t end = file_.size();
        if (dict.size < top.left(kChunkHeaderSize)) {
            end = bodyBegin + dict.size;
        }
        ChunkView body = view(bodyBegin, end, "the dictionary");
        ChunkHeader info{};
        if (!headerAt(body, 0, info) || info.type != ChunkId::Struct || info.size < 4 ||
            info.size > body.left(kChunkHeaderSize)) {
            return endAt(bodyBegin, "the dictionary's struct chunk is missing or damaged");
        }
        out_.declaredCount = body.u16(kChunkHeaderSize);
        out_.deviceId = body.u16(kChunkHeaderSize + 2);
        std::uint64_t pos = kChunkHeaderSize + std::uint64_t{info.size};
        // Each texture takes at least two chunk headers and its struct.
        const std::size_t least = 2 * kChunkHeaderSize + kNativeHeaderSize;
        out_.textures.reserve(std::min<std::size_t>(out_.declaredCount, body.left(pos) / least));
        for (std::uint32_t i = 0; i < out_.declaredCount; ++i) {
            const std::size_t at = body.begin() + pos;
            ChunkHeader h{};
            if (!headerAt(body, pos, h)) {
                return endAt(at, "texture " + std::to_string(i + 1) + " of " + std::to_string(out_.declaredCount) +
                                     " is missing, " + std::to_string(body.left(pos)) + " bytes are left");
            }
            pos += kChunkHeaderSize;
            if (h.type != ChunkId::TextureNative) {
                return endAt(at, "texture " + std::to_string(i + 1) + " is a chunk of type " + hex(h.type) +
                                     ", not a texture native chunk");
            }
            if (h.size > body.left(pos)) {
                return endAt(at, "texture " + std::to_string(i + 1) + " declares " + std::to_string(h.size) +
                                     " bytes, " + std::to_string(body.left(pos)) + " are left");
            }
            Texture t;
            t.offset = at;
            std::string why = readNative(body.part(pos, h.size, "a texture native chunk"), t);
            if (!why.empty()) {
                const std::string label = t.name.empty() ? "texture " + std::to_string(i + 1) : "texture " + t.name;
                return endAt(at, label + ": " + why);
            }
            out_.textures.push_back(std::move(t));
            pos += h.size;
        }
        if (dict.size > end - bodyBegin) {
            // Every texture came out, but the file is shorter than it says.
            return endAt(0, "the dictionary declares " + std::to_string(dict.size) + " bytes, " +
                                std::to_string(file_.size() - bodyBegin) + " are there");
        }
        return std::move(out_);
    }

private:
    Dictionary endAt(std::size_t offset, const std::string& why)
    {
        out_.ended = "ended at offset " + hex(offset) + ": " + why;
        return std::move(out_);
    }

    // Reads one texture native chunk's struct (native, the chunk's body).
    // Returns why the chunk is damaged (the dictionary ends there), or ""
    // when it was read; a texture of another platform is read with
    // `unsupported` set.
    std::string readNative(ChunkView native, Texture& t)
    {
        ChunkHeader s{};
        if (!headerAt(native, 0, s) || s.type != ChunkId::Struct || s.size > native.left(kChunkHeaderSize)) {
            return "its struct chunk is missing or damaged";
        }
        ChunkView st = native.part(kChunkHeaderSize, s.size, "a texture struct");
        if (!st.holds(0, 4)) return "its struct is shorter than a platform id";
        t.platform = st.u32(0);
        if (t.platform != Platform::D3D8 && t.platform != Platform::D3D9) {
            t.unsupported = platformText(t.platform) + ", not supported";
            if (t.platform == Platform::PS2) {
                nameFromStringChunk(native.part(kChunkHeaderSize + std::uint64_t{s.size}, native.size(), "a string"),
                                    t);
            } else if (st.holds(4, 4) && st.left(8) >= 2 * kNameSize) {
                t.name = st.textWithin(8, kNameSize), t.maskName = st.textWithin(8 + kNameSize, kNameSize);
            }
            return "";
        }
        if (st.left(4) < kNativeHeaderSize - 4) {
            return "its struct holds " + std::to_string(s.size) + " bytes, the header alone needs " +
                   std::to_string(kNativeHeaderSize);
        }
        // Platform, filter, addressing, padding, name, mask name, raster
        // format, format word, width, height, depth, level count, raster
        // type, compression: kNativeHeaderSize bytes, all held.
        t.filter = st.u8(4);
        const std::uint8_t addressing = st.u8(5);
        t.addressU = addressing & 0x0F;
        t.addressV = static_cast<std::uint8_t>(addressing >> 4);
        t.name = st.textWithin(8, kNameSize), t.maskName = st.textWithin(40, kNameSize);
        t.rasterFormat = st.u32(72), t.formatWord = st.u32(76);
        t.width = st.u16(80), t.height = st.u16(82);
        t.depth = st.u8(84), t.levelCount = st.u8(85), t.rasterType = st.u8(86), t.compression = st.u8(87);
        std::uint64_t pos = kNativeHeaderSize;
        if (t.platform == Platform::D3D8) {
            t.alphaFlag = t.formatWord != 0;
            t.encoding = d3d8Encoding(t);
        } else {
            t.alphaFlag = (t.compression & 1) != 0;
            t.cube = (t.compression & 2) != 0;
            t.encoding = d3d9Encoding(t);
        }
        if (t.encoding == Encoding::Pal8 || t.encoding == Encoding::Pal4) {
            const std::size_t paletteBytes = (t.encoding == Encoding::Pal8 ? 256 : 32) * 4;
            if (!st.holds(pos, paletteBytes)) {
                return "its palette needs " + std::to_string(paletteBytes) + " bytes, " + std::to_string(st.left(pos)) +
                       " are left";
            }
            t.palette = st.span(pos, paletteBytes);
            pos += paletteBytes;
        }
        std::uint32_t w = t.width, h = t.height;
        // Every level is listed; a cube texture's faces follow one another
        // and only the first face's levels are read.
        for (std::uint32_t level = 0; level < t.levelCount; ++level) {
            if (!st.holds(pos, 4)) {
                return "level " + std::to_string(level) + " of " + std::to_string(t.levelCount) + " is missing";
            }
            const std::uint32_t size = st.u32(pos);
            pos += 4;
            if (!st.holds(pos, size)) {
                return "level " + std::to_string(level) + " declares " + std::to_string(size) + " bytes, " +
                       std::to_string(st.left(pos)) + " are left";
            }
            Level l{w, h, st.span(pos, size)};
            pos += size;
            t.levels.push_back(l);
            w = std::max<std::uint32_t>(1, w / 2), h = std::max<std::uint32_t>(1, h / 2);
        }
        if (t.encoding == Encoding::None) {
            t.unsupported = "raster format " + hex(t.rasterFormat) +
                            (t.platform == Platform::D3D9 ? " (D3D format " + hex(t.formatWord) + ")"
                                                          : " compression " + std::to_string(t.compression)) +
                            ", not supported";
        } else if (t.width == 0 || t.height == 0 || t.levels.empty()) {
            t.unsupported = "holds no image (" + std::to_string(t.width) + " x " + std::to_string(t.height) + ", " +
                            std::to_string(t.levels.size()) + " levels)";
        } else if (t.levels[0].bytes.size() < levelBytesNeeded(t.encoding, t.width, t.height)) {
            t.unsupported = "level 0 holds " + std::to_string(t.levels[0].bytes.size()) + " bytes, " +
                            std::to_string(t.width) + " x " + std::to_string(t.height) + " " + formatName(t) +
                            " needs " + std::to_string(levelBytesNeeded(t.encoding, t.width, t.height));
        }
        return "";
    }

    ChunkView view(std::size_t begin, std::size_t end, const char* what)
    {
        return ChunkView(file_.data(), file_.size(), begin, end, failure_, what);
    }

    std::span<const std::uint8_t> file_;
    ReadFailure failure_;
    Dictionary out_;
};

}  // namespace

bool isLibraryStamp(std::uint32_t stamp)
{
    if (stamp <= 0xFFFF) {
        return stamp >= 0x300 && stamp <= 0x3FF;
    }
    // Packed: (version - 0x30000) bits 8-17 in bits 22-31, so 3.0 to 3.7 stay below 0x20000000.
    return stamp < 0x20000000;
}

std::uint64_t levelBytesNeeded(Encoding encoding, std::uint32_t width, std::uint32_t height)
{
    const std::uint64_t blocks = std::uint64_t{(width + 3) / 4} * ((height + 3) / 4);
    switch (encoding) {
    case Encoding::Dxt1:
        return blocks * 8;
    case Encoding::Dxt3:
    case Encoding::Dxt5:
        return blocks * 16;
    default:
        return std::uint64_t{width} * height * bytesPerPixel(encoding);
    }
}

std::string formatName(const Texture& t)
{
    if (!t.unsupported.empty() && t.encoding == Encoding::None) {
        return "unsupported";
    }
    std::string pixel;
    switch (t.rasterFormat & Raster::PixelMask) {
    case Raster::F1555:
        pixel = "1555";
        break;
    case Raster::F565:
        pixel = "565";
        break;
    case Raster::F4444:
        pixel = "4444";
        break;
    case Raster::Lum8:
        pixel = "LUM8";
        break;
    case Raster::F8888:
        pixel = "8888";
        break;
    case Raster::F888:
        pixel = "888";
        break;
    case Raster::F555:
        pixel = "555";
        break;
    default:
        pixel = "format " + hex(t.rasterFormat & Raster::PixelMask);
        break;
    }
    switch (t.encoding) {
    case Encoding::Dxt1:
        return "DXT1";
    case Encoding::Dxt3:
        return (t.compression == 2 || t.formatWord == D3dFormat::Dxt2) ? "DXT2" : "DXT3";
    case Encoding::Dxt5:
        return (t.compression == 4 || t.formatWord == D3dFormat::Dxt4) ? "DXT4" : "DXT5";
    case Encoding::Pal8:
        return "PAL8 " + pixel;
    case Encoding::Pal4:
        return "PAL4 " + pixel;
    default:
        break;
    }
    if (t.platform == Platform::D3D9 && t.formatWord != 0) {
        switch (t.formatWord) {
        case D3dFormat::R8G8B8:
            return "R8G8B8";
        case D3dFormat::A8R8G8B8:
            return "A8R8G8B8";
        case D3dFormat::X8R8G8B8:
            return "X8R8G8B8";
        case D3dFormat::R5G6B5:
            return "R5G6B5";
        case D3dFormat::X1R5G5B5:
            return "X1R5G5B5";
        case D3dFormat::A1R5G5B5:
            return "A1R5G5B5";
        case D3dFormat::A4R4G4B4:
            return "A4R4G4B4";
        case D3dFormat::X4R4G4B4:
            return "X4R4G4B4";
        case D3dFormat::A8:
            return "A8";
        case D3dFormat::A8B8G8R8:
            return "A8B8G8R8";
        case D3dFormat::X8B8G8R8:
            return "X8B8G8R8";
        case D3dFormat::L8:
            return "L8";
        case D3dFormat::A8L8:
            return "A8L8";
        case D3dFormat::A4L4:
            return "A4L4";
        default:
            break;
        }
    }
    return pixel;
}

Dictionary readDictionary(std::span<const std::uint8_t> file)
{
    return DictionaryReader(file).read();
}

}  // namespace txd
