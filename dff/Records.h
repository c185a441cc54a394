// The per-clump tables of host objects and of pointers into the buffer. The
// on-disk layouts they point at are in dff/Layout.h.
#pragma once

#include <cstdint>
#include <vector>

#include "dff/Layout.h"
#include "dff/RecordSpan.h"

class INode;
class TriObject;
class MultiMtl;

// The blocks of one geometry chunk, as the geometry reader checked them for
// the geometry's counts; empty where its format has none.
struct GeometryBlocks {
    Records<Rgba> colours;        // prelit colours, one per vertex
    Records<UvPair> coordinates;  // the texture-coordinate sets one after another, one pair per vertex each
    Records<Triangle> triangles;
    Records<Vector> positions;
    Records<Vector> normals;      // one per vertex
};

// The blocks of one geometry and the host objects made for it; the host
// scene owns both objects.
struct GeometryRecord {
    GeometryBlocks blocks;
    TriObject* object = nullptr;
    MultiMtl* material = nullptr;
    // For a skinned geometry whose mesh lost vertices no face used: the file
    // vertex each mesh vertex came from, so that weights stay on their vertex.
    std::vector<std::uint32_t> sourceVertices;
};

// Skin data of one geometry, as pointers into the buffer. vertexCount and
// boneCount are what the pointers were checked against when the record was read.
// The inverse bone matrices are boneCount 4x4 f32 matrices (rows right, up,
// at, position; the fourth column is not used), matrixStride bytes apart: 64,
// or 68 in the older layout that puts a 4-byte marker before each; null when
// the chunk does not hold them.
struct SkinRecord {
    std::uint32_t geometryIndex = 0;
    const std::uint8_t* header = nullptr;               // bone count, used-bone count, max weights, pad
    const std::uint8_t* usedBones = nullptr;            // used-bone count u8
    const std::uint8_t* vertexBoneIndices = nullptr;    // 4 u8 per vertex
    const std::uint8_t* vertexWeights = nullptr;        // 4 f32 per vertex
    const std::uint8_t* inverseBoneMatrices = nullptr;  // the first matrix, past its marker if any
    std::uint32_t vertexCount = 0;
    std::uint32_t boneCount = 0;
    std::uint32_t matrixStride = 64;
};

// Per frame: the node the build makes for it, and the light data of a light frame.
struct FrameNodeSlot {
    INode* node = nullptr;
    const std::uint8_t* lightData = nullptr;
};
