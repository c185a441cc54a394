// The per-clump tables of host objects and of the records the readers checked
// in the buffer. The on-disk layouts of the records are in dff/Layout.h.
#pragma once

#include <cstdint>
#include <vector>

#include "dff/Layout.h"
#include "format/RecordSpan.h"

class INode;
class TriObject;
class MultiMtl;

// What a geometry's struct declares, as the geometry reader read it.
struct GeometryStruct {
    std::uint32_t format = 0;
    std::uint32_t triangleCount = 0;
    std::uint32_t vertexCount = 0;
};

// The blocks of one geometry chunk, as the geometry reader checked them for
// the geometry's counts; empty where its format has none.
struct GeometryBlocks {
    Records<Rgba> colours;        // prelit colours, one per vertex
    Records<UvPair> coordinates;  // the texture-coordinate sets one after another, one pair per vertex each
    Records<Triangle> triangles;
    Records<Vector> positions;
    Records<Vector> normals;  // one per vertex
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

// Skin data of one geometry, as the skin reader checked it: the four bone
// indices and four weights of every vertex of the geometry, and the inverse
// bone matrices, one per bone (64 bytes apart, or 68 in the older layout that
// puts a 4-byte marker before each); no matrices when the chunk does not
// hold them all.
struct SkinRecord {
    std::uint32_t geometryIndex = 0;
    std::uint32_t usedBoneCount = 0;
    Records<BoneIndices> boneIndices;
    Records<BoneWeights> weights;
    Records<InverseBoneMatrix> inverseBoneMatrices;
};

// Per frame: the node the build makes for it, and the light data of a light
// frame (one record, or none).
struct FrameNodeSlot {
    INode* node = nullptr;
    Records<LightValues> lightData;
};
