// Top-level units: clumps (with their lights and cameras) and UV animation
// dictionaries.
#include "importer/Orvik.h"

namespace {
// Light: struct header (12), frame index (4), light chunk header (12), the
// light's struct header (12), radius, r, g, b, -cos(cone), type/flags.
constexpr std::uint32_t kLightSize = 64;
constexpr std::uint32_t kLightFrameOffset = 12;
constexpr std::uint32_t kLightDataOffset = 28;
// Animation: header (12), version, scheme, key count, flags, duration, unused,
// name (32), unused (32), then the key frames.
constexpr std::uint32_t kAnimationKeyCountOffset = 20;
constexpr std::uint32_t kAnimationNameOffset = 36;
constexpr std::uint32_t kAnimationNameSize = 32;
constexpr std::uint32_t kAnimationKeysOffset = 100;
}  // namespace

const std::uint8_t* Orvik::readClump()
{
    ChunkHeader h{};
    const std::uint8_t* hp = readHeader(h);
    if (hp == nullptr) return nullptr;
    if (!isAcceptedStamp(h.stamp) || (h.type != ChunkType::Clump && h.type != ChunkType::UvAnimDictionary)) {
        rewind();
        return hp;
    }

    // One or more dictionaries and the clump after them form one unit.
    if (h.type == ChunkType::UvAnimDictionary) {
        ChunkHeader next{};
        for (;;) {
            readUvAnimDictionary();
            if (readFailed) return hp;
            const std::uint8_t* np = readHeader(next);
            if (np == nullptr) return hp;
            if (!isAcceptedStamp(next.stamp) ||
                (next.type != ChunkType::Clump && next.type != ChunkType::UvAnimDictionary)) {
                rewind();
                return hp;
            }
            if (next.type == ChunkType::Clump) break;
        }
        rewind();
        readClump();
        return hp;
    }

    const std::uint32_t h0 = offsetOf(hp);
    const bool early = isEarlyStamp(h.stamp);
    // The struct chunk's header and its counts must be there before anything is read.
    if (!require(std::uint64_t{h0} + 24, early ? 4 : 12)) return hp;
    clumpStruct = hp + kChunkHeaderSize;
    const std::uint32_t structStamp = loadU32(clumpStruct + 8);
    if (!setCursor(std::uint64_t{h0} + (early ? 28 : 36))) return hp;

    readFrameList();
    if (!clumpOk || readFailed) return hp;
    readGeometryList();
    if (readFailed) return hp;

    if (!isEarlyStamp(structStamp)) {
        const std::uint32_t lightCount = u32At(std::uint64_t{h0} + 28);
        const std::uint32_t cameraCount = u32At(std::uint64_t{h0} + 32);
        for (std::uint32_t i = 0; i < lightCount && !readFailed; ++i) readLight();
        for (std::uint32_t i = 0; i < cameraCount && !readFailed; ++i) {
            for (int part = 0; part < 2 && !readFailed; ++part) {
                ChunkHeader c{};
                if (readHeader(c) != nullptr) skipChunk(c);
            }
        }
        if (readFailed) return hp;
    }

    // The clump's own size decides where the next unit starts; a size that
    // runs past the file ends the import after this clump.
    const std::uint64_t end = std::uint64_t{h0} + kChunkHeaderSize + h.size;
    if (end > bufferSize) {
        cursor = static_cast<std::uint32_t>(bufferSize);
        moreChunks = false;
    } else {
        cursor = static_cast<std::uint32_t>(end);
    }
    if (static_cast<std::int64_t>(cursor) >= fileSize - 12) moreChunks = false;
    return hp;
}

void Orvik::readLight()
{
    ReportProgress();
    const std::uint32_t a = cursor;
    if (!require(a, kLightSize)) return;
    cursor = a + kLightSize;
    const std::uint32_t frame = loadU32(at(a + kLightFrameOffset));
    // A light on a frame the clump does not have marks nothing.
    if (frame < frameCount()) {
        frameNodeTable[frame].lightData = at(a + kLightDataOffset);
        setFrameLink(frame, kLinkLight);
    }
    // Optional extension: skipped whole when it is one.
    if (!inBuffer(cursor, kChunkHeaderSize)) return;
    const ChunkHeader e = loadHeader(at(cursor));
    if (e.type == ChunkType::Extension && isAcceptedStamp(e.stamp)) {
        cursor += kChunkHeaderSize;
        skipChunk(e);
    }
}

void Orvik::readUvAnimDictionary()
{
    ReportProgress();
    const std::uint32_t s = cursor;
    const std::uint32_t count = u32At(std::uint64_t{s} + 12);
    if (!setCursor(std::uint64_t{s} + 16)) return;
    for (std::uint32_t n = 0; n < count && !readFailed; ++n) {
        const std::uint32_t a = cursor;
        const std::uint32_t keys = u32At(std::uint64_t{a} + kAnimationKeyCountOffset);
        const std::uint64_t length = kAnimationKeysOffset + std::uint64_t{kUvKeyFrameSize} * keys;
        if (!require(a, length)) return;
        cursor = static_cast<std::uint32_t>(a + length);

        const char* name = reinterpret_cast<const char*>(at(a + kAnimationNameOffset));
        std::size_t nameLength = 0;
        while (nameLength < kAnimationNameSize && name[nameLength] != '\0') ++nameLength;
        // A name met again keeps its first animation.
        auto [entry, inserted] = uvAnimations.try_emplace(std::string(name, nameLength));
        if (!inserted) continue;
        entry->second.resize(keys);
        for (std::uint32_t j = 0; j < keys; ++j) entry->second[j] = at(a + kAnimationKeysOffset + kUvKeyFrameSize * j);
    }
}
