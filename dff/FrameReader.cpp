// The frame list: frame records used in place, frame names, HAnim data.
#include <algorithm>

#include "importer/Orvik.h"

namespace {
// HAnim body: version, bone ID, node count; then, with nodes, flags and key
// frame size before the node array.
constexpr std::uint32_t kHAnimHeadSize = 12;
constexpr std::uint32_t kHAnimNodesOffset = 20;
}  // namespace

void Orvik::readFrameList()
{
    ChunkHeader h{};
    if (readHeader(h) == nullptr) return;
    if (h.type != ChunkType::FrameList || !isAcceptedStamp(h.stamp)) {
        clumpOk = false;
        return;
    }
    const std::uint32_t s = cursor;
    const std::uint32_t count = u32At(std::uint64_t{s} + 12);
    // The records must all be in the buffer before the tables are sized from the count.
    if (!require(std::uint64_t{s} + 16, std::uint64_t{kFrameRecordSize} * count)) return;
    frameListStruct = at(s);
    frameRecords = at(s + 16);
    cursor = static_cast<std::uint32_t>(s + 16 + std::uint64_t{kFrameRecordSize} * count);

    frameNodeTable.assign(count, FrameNodeSlot{});
    frameNames.assign(count, std::string());
    for (std::uint32_t i = 0; i < count && !readFailed; ++i) {
        setFrameLink(i, kLinkNone);
        readFrameExtension(i);
    }
}

void Orvik::readFrameExtension(std::uint32_t frameIndex)
{
    ReportProgress();
    ChunkHeader e{};
    if (readHeader(e) == nullptr) return;
    const std::uint64_t end = std::uint64_t{cursor} + e.size;
    if (end > bufferSize) {
        fail();
        return;
    }

    bool named = false;
    // Each sub-chunk is read within its own bounds; the walk resumes at its
    // end, bounded by the extension's end.
    while (cursor < end) {
        if (end - cursor < kChunkHeaderSize) {
            cursor = static_cast<std::uint32_t>(end);
            break;
        }
        const ChunkHeader sub = loadHeader(at(cursor));
        const std::uint32_t d = cursor + kChunkHeaderSize;
        const std::uint32_t subEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{d} + sub.size, end));
        const std::uint32_t bodySize = subEnd - d;

        if (sub.type == ChunkType::HAnimPlugin && bodySize >= kHAnimHeadSize) {
            const std::int32_t boneId = loadI32(at(d + 4));
            const std::uint32_t nodeCount = loadU32(at(d + 8));
            hAnimIdToFrame.try_emplace(boneId, frameIndex);
            if (nodeCount != 0 && bodySize >= kHAnimNodesOffset) {
                // Only the nodes the sub-chunk holds are taken.
                const std::uint32_t fit = (bodySize - kHAnimNodesOffset) / kHAnimNodeSize;
                hAnimNodes = at(d + kHAnimNodesOffset);
                hAnimNodeCount = std::min(nodeCount, fit);
            }
        } else if (sub.type == ChunkType::FrameName) {
            const char* text = reinterpret_cast<const char*>(at(d));
            std::size_t length = 0;
            while (length < bodySize && text[length] != '\0') ++length;
            frameNames[frameIndex].assign(text, length);
            named = true;
        }
        cursor = subEnd;
    }
    if (!named) frameNames[frameIndex] = "NoName";
}
