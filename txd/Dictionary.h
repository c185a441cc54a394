// Reader of texture dictionaries (.txd): the dictionary chunk, its texture
// count and each texture native chunk of the PC platforms (Direct3D 8 and 9).
// Standard library only. Every size, count, palette and level length is
// checked against the bytes left before it is used; nothing is allocated from
// a claim the file cannot back. The textures refer into the caller's buffer,
// which must outlive the Dictionary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/Chunk.h"

namespace txd {

// The chunks of a dictionary, from the chunk vocabulary the model readers share.
namespace ChunkId {
constexpr std::uint32_t Struct = ChunkType::Struct;
constexpr std::uint32_t String = ChunkType::String;
constexpr std::uint32_t Extension = ChunkType::Extension;
constexpr std::uint32_t TextureNative = ChunkType::TextureNative;
constexpr std::uint32_t TextureDictionary = ChunkType::TextureDictionary;
}  // namespace ChunkId

namespace Platform {
constexpr std::uint32_t D3D8 = 8;
constexpr std::uint32_t D3D9 = 9;
constexpr std::uint32_t Xbox = 5;
constexpr std::uint32_t GameCube = 6;
constexpr std::uint32_t PS2 = 0x00325350;  // "PS2\0"
constexpr std::uint32_t PSP = 0x00505350;  // "PSP\0"
}  // namespace Platform

// Raster format word: pixel format in bits 8-11, flags above.
namespace Raster {
constexpr std::uint32_t PixelMask = 0x0F00;
constexpr std::uint32_t F1555 = 0x0100;
constexpr std::uint32_t F565 = 0x0200;
constexpr std::uint32_t F4444 = 0x0300;
constexpr std::uint32_t Lum8 = 0x0400;
constexpr std::uint32_t F8888 = 0x0500;
constexpr std::uint32_t F888 = 0x0600;
constexpr std::uint32_t F555 = 0x0A00;
constexpr std::uint32_t AutoMipmap = 0x1000;
constexpr std::uint32_t Pal8 = 0x2000;
constexpr std::uint32_t Pal4 = 0x4000;
constexpr std::uint32_t Mipmap = 0x8000;
}  // namespace Raster

// Direct3D 9 surface formats (D3DFORMAT) the reader decodes.
namespace D3dFormat {
constexpr std::uint32_t R8G8B8 = 20;
constexpr std::uint32_t A8R8G8B8 = 21;
constexpr std::uint32_t X8R8G8B8 = 22;
constexpr std::uint32_t R5G6B5 = 23;
constexpr std::uint32_t X1R5G5B5 = 24;
constexpr std::uint32_t A1R5G5B5 = 25;
constexpr std::uint32_t A4R4G4B4 = 26;
constexpr std::uint32_t A8 = 28;
constexpr std::uint32_t X4R4G4B4 = 30;
constexpr std::uint32_t A8B8G8R8 = 32;
constexpr std::uint32_t X8B8G8R8 = 33;
constexpr std::uint32_t P8 = 41;
constexpr std::uint32_t L8 = 50;
constexpr std::uint32_t A8L8 = 51;
constexpr std::uint32_t A4L4 = 52;
constexpr std::uint32_t Dxt1 = 0x31545844;  // "DXT1"
constexpr std::uint32_t Dxt2 = 0x32545844;
constexpr std::uint32_t Dxt3 = 0x33545844;
constexpr std::uint32_t Dxt4 = 0x34545844;
constexpr std::uint32_t Dxt5 = 0x35545844;
}  // namespace D3dFormat

// How the pixels of a level are stored. Byte orders are as in memory on a
// little-endian machine (Direct3D's A8R8G8B8 is B, G, R, A).
enum class Encoding {
    None,  // not decodable (see Texture::unsupported)
    Bgra8888,
    Bgrx8888,
    Bgr888,    // three bytes per pixel
    Rgba8888,  // A8B8G8R8
    Rgbx8888,  // X8B8G8R8
    R5G6B5,
    A1R5G5B5,
    X1R5G5B5,
    A4R4G4B4,
    X4R4G4B4,
    L8,
    A8L8,
    A4L4,
    A8,
    Pal8,  // one index byte per pixel, 256 palette entries (R, G, B, A)
    Pal4,  // one index byte per pixel, 32 palette entries stored, 16 usable
    Dxt1,
    Dxt3,
    Dxt5,
};

// On disk (struct of the texture native chunk, PC layout, 88 bytes before the palette):
//   u32 platform; u8 filter; u8 addressing (U low nibble, V high nibble); u16 pad;
//   char name[32]; char mask[32]; u32 rasterFormat;
//   u32 hasAlpha (Direct3D 8) or D3DFORMAT (Direct3D 9);
//   u16 width, height; u8 depth, levelCount, rasterType;
//   u8 compression (Direct3D 8: 0 none, 1-5 DXTn) or flags (Direct3D 9: 1 alpha, 2 cube, 4 auto mipmaps, 8 compressed);
//   palette (Pal8: 256 x 4 bytes, Pal4: 32 x 4 bytes);
//   per level: u32 byte size, then the bytes.
constexpr std::size_t kNativeHeaderSize = 88;
constexpr std::size_t kNameSize = 32;

struct Level {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::span<const std::uint8_t> bytes;
};

struct Texture {
    std::size_t offset = 0;  // of its texture native chunk in the file
    std::string name;
    std::string maskName;
    std::uint32_t platform = 0;
    std::uint8_t filter = 0;
    std::uint8_t addressU = 0;
    std::uint8_t addressV = 0;
    std::uint32_t rasterFormat = 0;
    std::uint32_t formatWord = 0;  // hasAlpha (Direct3D 8) or D3DFORMAT (Direct3D 9)
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t depth = 0;
    std::uint8_t levelCount = 0;
    std::uint8_t rasterType = 0;
    std::uint8_t compression = 0;
    bool alphaFlag = false;  // what the file says; the pixels decide what the export does
    bool cube = false;
    Encoding encoding = Encoding::None;
    std::span<const std::uint8_t> palette;  // 4 bytes per entry
    std::vector<Level> levels;              // the levels the file holds, level 0 first
    std::string unsupported;                // why it cannot be decoded ("PlayStation 2 texture, not supported")

    bool decodable() const { return encoding != Encoding::None && unsupported.empty(); }
};

struct Dictionary {
    std::uint32_t stamp = 0;
    std::uint16_t declaredCount = 0;
    std::uint16_t deviceId = 0;
    std::vector<Texture> textures;  // those read, in file order
    std::string ended;              // empty when the dictionary was read to its end; else where and why it stopped
    bool isDictionary = false;      // the file starts with a dictionary chunk
};

// A library stamp of the 3.x series: old plain versions (0x300-0x3FF) and
// packed stamps up to version 3.7.
bool isLibraryStamp(std::uint32_t stamp);

// Reads a whole dictionary. Never throws for bad input: what could be read is
// returned and `ended` says where the rest could not be.
Dictionary readDictionary(std::span<const std::uint8_t> file);

// "DXT1", "8888", "PAL8 8888", "A8R8G8B8", ...: the format as a user names it.
std::string formatName(const Texture& texture);
// Bytes of one pixel of an encoding stored pixel by pixel (palettes: the
// index byte); 0 for block-compressed encodings and None.
std::uint32_t bytesPerPixel(Encoding encoding);
// Bytes that level 0 of an encoding needs at least, or 0 when unknown.
std::uint64_t levelBytesNeeded(Encoding encoding, std::uint32_t width, std::uint32_t height);

}  // namespace txd
