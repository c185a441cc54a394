// Records the readers lay over the file buffer, and the per-clump table entries.
#pragma once

#include <cstdint>
#include <vector>

#include "dff/Chunk.h"

class INode;
class TriObject;
class MultiMtl;

// 56 bytes on disk: right, up, at, position (3 f32 each, the four rows of the
// host's Matrix3), parent (u32; not below the frame count: no parent), link
// (i32; the file's matrix flags, overwritten by the readers: -1 no object,
// -2 light, 0.. geometry index).
struct FrameRecord {
    float right[3];
    float up[3];
    float at[3];
    float position[3];
    std::uint32_t parent;
    std::int32_t link;
};
static_assert(sizeof(FrameRecord) == 56);
constexpr std::uint32_t kFrameRecordSize = 56;
constexpr std::uint32_t kFrameLinkOffset = 52;
constexpr std::int32_t kLinkNone = -1;
constexpr std::int32_t kLinkLight = -2;

// 12 bytes on disk: HAnim ID, index in the hierarchy, flags word (i32 each).
struct HAnimNode {
    std::int32_t boneId;
    std::int32_t boneIndex;
    std::int32_t boneType;
};
static_assert(sizeof(HAnimNode) == 12);
constexpr std::uint32_t kHAnimNodeSize = 12;

// 32 bytes on disk: time (f32 seconds), uv (6 f32), previous key index (i32).
struct UvKeyFrame {
    float time;
    float uv[6];
    std::int32_t previous;
};
static_assert(sizeof(UvKeyFrame) == 32);
constexpr std::uint32_t kUvKeyFrameSize = 32;

// The host objects made for one geometry; the host scene owns both.
struct GeometryRecord {
    TriObject* object = nullptr;
    MultiMtl* material = nullptr;
    // For a skinned geometry whose mesh lost vertices no face used: the file
    // vertex each mesh vertex came from, so that weights stay on their vertex.
    std::vector<std::uint32_t> sourceVertices;
};

// Skin data of one geometry, as pointers into the buffer. vertexCount and
// boneCount are what the pointers were checked against when the record was read.
struct SkinRecord {
    std::uint32_t geometryIndex = 0;
    const std::uint8_t* header = nullptr;               // bone count, used-bone count, max weights, pad
    const std::uint8_t* usedBones = nullptr;            // used-bone count u8
    const std::uint8_t* vertexBoneIndices = nullptr;    // 4 u8 per vertex
    const std::uint8_t* vertexWeights = nullptr;        // 4 f32 per vertex
    const std::uint8_t* inverseBoneMatrices = nullptr;  // 16 f32 per bone
    std::uint32_t vertexCount = 0;
};

// Per frame: the node the build makes for it, and the light data of a light frame.
struct FrameNodeSlot {
    INode* node = nullptr;
    const std::uint8_t* lightData = nullptr;
};
