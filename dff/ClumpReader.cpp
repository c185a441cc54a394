// Top-level units: clumps (with their lights and cameras) and UV animation
// dictionaries.
#include "importer/Orvik.h"

std::optional<std::uint32_t> Orvik::readClump()
{
    ChunkHeader h{};
    const std::optional<std::uint32_t> at = readHeader(h);
    if (!at) return std::nullopt;
    if (!isTopLevelChunk(h)) {
        rewind();
        return at;
    }

    // One or more dictionaries and the clump after them form one unit. A
    // dictionary that failed leaves no header to read.
    if (h.type == ChunkType::UvAnimDictionary) {
        ChunkHeader next{};
        for (;;) {
            readUvAnimDictionary();
            if (!readHeader(next)) return at;
            if (!isTopLevelChunk(next)) {
                rewind();
                return at;
            }
            if (next.type == ChunkType::Clump) break;
        }
        rewind();
        readClump();
        return at;
    }

    const std::uint32_t h0 = *at;
    ++clumpsMet;
    ChunkView clump = viewToEnd(h0, "clump", clumpsMet - 1);
    // A clump that runs past the file is read as far as it goes; when that
    // ends the import, its size is the reason given.
    if (h.size > clump.left(kChunkHeaderSize)) {
        shortClump = ReadFailure{true, h0, declaresText("the clump", h.size, "bytes", clump.left(kChunkHeaderSize))};
    }
    const std::uint32_t structEnd = isEarlyStamp(h.stamp) ? ClumpLayout::EarlyStructEnd : ClumpLayout::StructEnd;
    // The struct chunk's header and its counts must be there before anything is read.
    if (!clump.need(ClumpLayout::StructHeader, structEnd - ClumpLayout::StructHeader, "its struct")) return at;
    clumpAt = h0;
    const std::uint32_t structStamp = clump.header(ClumpLayout::StructHeader).stamp;
    cursor = h0 + structEnd;

    // After a failure the readers below read nothing: every header is
    // missing and every count is zero.
    readFrameList();
    if (!clumpOk) return at;
    readGeometryList();

    if (!isEarlyStamp(structStamp)) {
        const std::uint32_t lightCount = clump.u32(ClumpLayout::LightCount);
        const std::uint32_t cameraCount = clump.u32(ClumpLayout::CameraCount);
        for (std::uint32_t i = 0; i < lightCount && !readFailed; ++i) readLight();
        // A camera: its struct chunk and its camera chunk, both passed over.
        for (std::uint32_t i = 0; i < cameraCount && !readFailed; ++i) {
            for (int part = 0; part < 2; ++part) {
                ChunkHeader c{};
                if (readHeader(c)) skipChunk(c);
            }
        }
    }
    readClumpExtension(std::uint64_t{h0} + kChunkHeaderSize + h.size);
    if (readFailed) return at;

    // The clump's own size decides where the next unit starts; a size that
    // runs past the file ends the import after this clump.
    const std::uint64_t end = std::uint64_t{h0} + kChunkHeaderSize + h.size;
    if (end > bytesInBuffer()) {
        cursor = static_cast<std::uint32_t>(bytesInBuffer());
        moreChunks = false;
    } else {
        cursor = static_cast<std::uint32_t>(end);
    }
    // No more than a header's 12 bytes left: this was the last clump.
    if (bytesInBuffer() - cursor <= kChunkHeaderSize) moreChunks = false;
    return at;
}

void Orvik::readLight()
{
    ReportProgress();
    const std::uint32_t a = cursor;
    ChunkView light = viewOf(a, std::uint64_t{a} + LightLayout::Size, "a light");
    if (!light.need(0, LightLayout::Size, nullptr)) return;
    cursor = a + LightLayout::Size;
    const std::uint32_t frame = light.u32(LightLayout::FrameIndex);
    // A light on a frame the clump does not have marks nothing.
    if (frame < frameCount()) {
        frameNodeTable[frame].lightData = light.records<LightValues>(LightLayout::Data, 1, nullptr);
        setFrameLink(frame, kLinkLight);
    } else {
        ++mends.lightsLeftOut;
    }
    skipTrailingExtension();
}

void Orvik::readUvAnimDictionary()
{
    ReportProgress();
    const std::uint32_t s = cursor;
    ChunkView dictionary = viewToEnd(s, "the UV animation dictionary");
    const std::uint32_t count = dictionary.u32(DictionaryLayout::AnimationCount);
    if (!dictionary.need(0, DictionaryLayout::Animations, nullptr)) return;
    cursor = s + DictionaryLayout::Animations;
    // After a failure the next animation's key count fails, which ends the loop.
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::uint32_t a = cursor;
        ChunkView animation = viewToEnd(a, "UV animation", n);
        const std::uint32_t keys = animation.u32(AnimationLayout::KeyCount);
        if (!animation.needCount(AnimationLayout::Keys, keys, UvKeyFrame::kSize, "key frames")) return;
        cursor = static_cast<std::uint32_t>(a + AnimationLayout::Keys + std::uint64_t{UvKeyFrame::kSize} * keys);

        // A name met again keeps its first animation.
        auto [entry, inserted] =
            uvAnimations.try_emplace(animation.text(AnimationLayout::Name, AnimationLayout::NameSize));
        if (!inserted) continue;
        entry->second = animation.records<UvKeyFrame>(AnimationLayout::Keys, keys, nullptr);
    }
}
