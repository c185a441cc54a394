// The chunk vocabulary of a RenderWare binary stream: the 12-byte header, the
// library stamps the readers accept, the chunk types they know, and
// little-endian loads that never cast pointers into the buffer. Header only
// and standard library only: the readers of the other formats the
// command-line host reads (txd/, img/) use it too.
#pragma once

#include <cstdint>
#include <cstring>

// On disk: type, size (body bytes, header excluded), library stamp; each u32 LE.
struct ChunkHeader {
    std::uint32_t type;
    std::uint32_t size;
    std::uint32_t stamp;
};
static_assert(sizeof(ChunkHeader) == 12);

constexpr std::uint32_t kChunkHeaderSize = 12;

namespace ChunkType {
constexpr std::uint32_t Struct = 0x01;
constexpr std::uint32_t String = 0x02;
constexpr std::uint32_t Extension = 0x03;
constexpr std::uint32_t Camera = 0x05;
constexpr std::uint32_t Texture = 0x06;
constexpr std::uint32_t Material = 0x07;
constexpr std::uint32_t MaterialList = 0x08;
constexpr std::uint32_t FrameList = 0x0E;
constexpr std::uint32_t Geometry = 0x0F;
constexpr std::uint32_t Clump = 0x10;
constexpr std::uint32_t Light = 0x12;
constexpr std::uint32_t Atomic = 0x14;
constexpr std::uint32_t TextureNative = 0x15;
constexpr std::uint32_t TextureDictionary = 0x16;
constexpr std::uint32_t GeometryList = 0x1A;
constexpr std::uint32_t Animation = 0x1B;
constexpr std::uint32_t UvAnimDictionary = 0x2B;
constexpr std::uint32_t MorphPlugin = 0x105;
constexpr std::uint32_t SkinPlugin = 0x116;
constexpr std::uint32_t HAnimPlugin = 0x11E;
constexpr std::uint32_t MaterialEffectsPlugin = 0x120;
constexpr std::uint32_t UvAnimPlugin = 0x135;
constexpr std::uint32_t BinMeshPlugin = 0x50E;
constexpr std::uint32_t NativeDataPlugin = 0x510;
constexpr std::uint32_t SpecularMaterial = 0x253F2F6;
constexpr std::uint32_t TwoDEffect = 0x253F2F8;
constexpr std::uint32_t ExtraVertexColour = 0x253F2F9;
constexpr std::uint32_t Collision = 0x253F2FA;
constexpr std::uint32_t ReflectionMaterial = 0x253F2FC;
constexpr std::uint32_t Breakable = 0x253F2FD;
constexpr std::uint32_t FrameName = 0x253F2FE;
}  // namespace ChunkType

namespace LibraryStamp {
constexpr std::uint32_t Rw310 = 0x00000310;
constexpr std::uint32_t Rw3FFFF = 0x0003FFFF;
constexpr std::uint32_t Rw800FFFF = 0x0800FFFF;
constexpr std::uint32_t RwC02FFFF = 0x0C02FFFF;
constexpr std::uint32_t Rw1003FFFF = 0x1003FFFF;
constexpr std::uint32_t Rw1803FFFF = 0x1803FFFF;
}  // namespace LibraryStamp

// The six stamps the readers accept; any other is "not the expected chunk".
constexpr bool isAcceptedStamp(std::uint32_t stamp)
{
    using namespace LibraryStamp;
    return stamp == Rw310 || stamp == Rw3FFFF || stamp == Rw800FFFF || stamp == RwC02FFFF ||
           stamp == Rw1003FFFF || stamp == Rw1803FFFF;
}

// Early stamps: 4-byte clump struct (no lights or cameras).
constexpr bool isEarlyStamp(std::uint32_t stamp)
{
    using namespace LibraryStamp;
    return stamp == Rw310 || stamp == Rw3FFFF || stamp == Rw800FFFF;
}

inline std::uint32_t loadU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t loadI32(const std::uint8_t* p) { return static_cast<std::int32_t>(loadU32(p)); }
inline std::uint16_t loadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline float loadF32(const std::uint8_t* p)
{
    const std::uint32_t bits = loadU32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline void storeI32(std::uint8_t* p, std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16), p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline ChunkHeader loadHeader(const std::uint8_t* p)
{
    return ChunkHeader{loadU32(p), loadU32(p + 4), loadU32(p + 8)};
}

// Whether a chunk can stand at the top level of a model file: a clump or a UV
// animation dictionary, with an accepted stamp.
constexpr bool isTopLevelChunk(const ChunkHeader& h)
{
    return isAcceptedStamp(h.stamp) && (h.type == ChunkType::Clump || h.type == ChunkType::UvAnimDictionary);
}
