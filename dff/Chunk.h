// What the model readers accept of the chunk vocabulary (format/Chunk.h): the
// library stamps and the chunks that can stand at the top level of a model
// file.
#pragma once

#include <cstdint>

#include "format/Chunk.h"

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
    return stamp == Rw310 || stamp == Rw3FFFF || stamp == Rw800FFFF || stamp == RwC02FFFF || stamp == Rw1003FFFF ||
           stamp == Rw1803FFFF;
}

// Early stamps: 4-byte clump struct (no lights or cameras).
constexpr bool isEarlyStamp(std::uint32_t stamp)
{
    using namespace LibraryStamp;
    return stamp == Rw310 || stamp == Rw3FFFF || stamp == Rw800FFFF;
}

// Whether a chunk can stand at the top level of a model file: a clump or a UV
// animation dictionary, with an accepted stamp.
constexpr bool isTopLevelChunk(const ChunkHeader& h)
{
    return isAcceptedStamp(h.stamp) && (h.type == ChunkType::Clump || h.type == ChunkType::UvAnimDictionary);
}
