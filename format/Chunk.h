// The chunk of a RenderWare binary stream: the 12-byte header every chunk
// starts with, its load, and the chunk types the readers know. Header only and
// standard library only: the model readers (dff/) and the texture dictionary
// reader (txd/) share it.
#pragma once

#include <cstdint>

#include "format/Binary.h"

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

inline ChunkHeader loadHeader(const std::uint8_t* p)
{
    return ChunkHeader{loadU32(p), loadU32(p + 4), loadU32(p + 8)};
}
