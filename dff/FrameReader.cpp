// The frame list: frame records used in place, frame names, HAnim data.
#include <algorithm>

#include "importer/Orvik.h"

void Orvik::readFrameList()
{
    ChunkHeader h{};
    const std::optional<std::uint32_t> at = readHeader(h);
    if (!at) return;
    if (h.type != ChunkType::FrameList || !isAcceptedStamp(h.stamp)) {
        clumpOk = false;
        noteStop(*at, joinText("clump ", std::to_string(clumpsMet - 1), " has no frame list: chunk ", hexOffset(h.type),
                               " with stamp ", hexOffset(h.stamp), " stands in its place"));
        return;
    }
    ChunkView list = viewToEnd(*at, "the frame list");
    const std::uint32_t count = list.u32(FrameListLayout::FrameCount);
    // The records must all be in the buffer before the tables are sized from the count.
    if (!list.needCount(FrameListLayout::Records, count, FrameRecord::kSize, "frames")) return;
    frameListAt = *at;
    frameRecords = list.records<FrameRecord>(FrameListLayout::Records, count, nullptr);
    cursor =
        static_cast<std::uint32_t>(list.begin() + FrameListLayout::Records + std::uint64_t{FrameRecord::kSize} * count);

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
    if (!readHeader(e)) return;
    // A body past the buffer ends the import; the walk to its end (0) is empty.
    const std::uint32_t end = bodyEnd(e, "the extension of frame", frameIndex);

    bool named = false;
    walkExtension(end, [&](const ChunkHeader& sub, ChunkView body) {
        if (sub.type == ChunkType::HAnimPlugin && body.size() >= HAnimLayout::HeadSize) {
            const std::int32_t boneId = body.i32(HAnimLayout::BoneId);
            const std::uint32_t nodeCount = body.u32(HAnimLayout::NodeCount);
            hAnimIdToFrame.try_emplace(boneId, frameIndex);
            if (nodeCount != 0 && body.size() >= HAnimLayout::Nodes) {
                // Only the nodes the sub-chunk holds are taken.
                const std::uint32_t fit = body.left(HAnimLayout::Nodes) / HAnimNode::kSize;
                hAnimNodes = body.records<HAnimNode>(HAnimLayout::Nodes, std::min(nodeCount, fit), nullptr);
            }
        } else if (sub.type == ChunkType::FrameName) {
            frameNames[frameIndex] = body.textWithin(0, body.size());
            named = true;
        } else {
            noteSkipped(sub.type, body.size());
        }
    });
    if (!named) frameNames[frameIndex] = "NoName";
}
