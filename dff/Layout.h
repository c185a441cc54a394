// On-disk layouts of the chunks the readers walk: named offsets and sizes, and
// the records laid over the buffer. Offsets are in bytes from the start of
// the chunk's own header unless a comment says otherwise.
//
// Every record kind has one shape: its decoded fields, kSize (its bytes on
// disk) and decode(p), which reads one record at p. The builders take records
// through Records<Kind> (format/RecordSpan.h), which the readers make after
// their bounds checks.
#pragma once

#include <cstdint>

#include "dff/Chunk.h"

// Clump: header, struct header, atomic count; light and camera counts unless
// the stamp is early; the frame list follows the struct.
namespace ClumpLayout {
constexpr std::uint32_t StructHeader = 12;
constexpr std::uint32_t AtomicCount = 24;
constexpr std::uint32_t LightCount = 28;
constexpr std::uint32_t CameraCount = 32;
constexpr std::uint32_t EarlyStructEnd = 28;  // 4-byte struct
constexpr std::uint32_t StructEnd = 36;       // 12-byte struct
}  // namespace ClumpLayout

// Light, from its struct header: struct header, frame index, light chunk
// header, the light's struct header (lightData), radius, r, g, b, -cos(cone),
// type/flags. An extension may follow.
namespace LightLayout {
constexpr std::uint32_t Size = 64;
constexpr std::uint32_t FrameIndex = 12;
constexpr std::uint32_t Data = 28;
// From lightData: the five floats.
constexpr std::uint32_t Radius = 12;
constexpr std::uint32_t Colour = 16;
constexpr std::uint32_t Cone = 28;
}  // namespace LightLayout

// What the build takes of a light's data: the 36 bytes at LightLayout::Data.
struct LightValues {
    static constexpr std::uint32_t kSize = LightLayout::Size - LightLayout::Data;
    float radius;
    float colour[3];
    float minusCosCone;

    static LightValues decode(const std::uint8_t* p)
    {
        using namespace LightLayout;
        return LightValues{loadF32(p + Radius),
                           {loadF32(p + Colour), loadF32(p + Colour + 4), loadF32(p + Colour + 8)},
                           loadF32(p + Cone)};
    }
};

// UV animation dictionary, from its struct header: struct header, animation
// count, then the animation chunks.
namespace DictionaryLayout {
constexpr std::uint32_t AnimationCount = 12;
constexpr std::uint32_t Animations = 16;
}  // namespace DictionaryLayout

// Animation: header, version, scheme, key count, flags, duration, unused,
// name (32), unused (32), then the key frames.
namespace AnimationLayout {
constexpr std::uint32_t KeyCount = 20;
constexpr std::uint32_t Name = 36;
constexpr std::uint32_t NameSize = 32;
constexpr std::uint32_t Keys = 100;
}  // namespace AnimationLayout

// Frame list: header, struct header, frame count, the frame records.
namespace FrameListLayout {
constexpr std::uint32_t StructHeader = 12;
constexpr std::uint32_t FrameCount = 24;
constexpr std::uint32_t Records = 28;
}  // namespace FrameListLayout

// HAnim plug-in body: version, bone ID, node count; with nodes, flags and key
// frame size before the node array.
namespace HAnimLayout {
constexpr std::uint32_t BoneId = 4;
constexpr std::uint32_t NodeCount = 8;
constexpr std::uint32_t HeadSize = 12;
constexpr std::uint32_t Nodes = 20;
}  // namespace HAnimLayout

// Geometry list: header, struct header, geometry count, the geometries.
namespace GeometryListLayout {
constexpr std::uint32_t GeometryCount = 24;
constexpr std::uint32_t Geometries = 28;
}  // namespace GeometryListLayout

// Geometry: header, struct header, format, triangle count, vertex count,
// morph target count, then the blocks.
namespace GeometryLayout {
constexpr std::uint32_t StructHeader = 12;
constexpr std::uint32_t StructStamp = 20;
constexpr std::uint32_t Format = 24;
constexpr std::uint32_t TriangleCount = 28;
constexpr std::uint32_t VertexCount = 32;
constexpr std::uint32_t Blocks = 40;
constexpr std::uint32_t SurfacePropertiesSize = 12;
constexpr std::uint32_t MorphTargetHeadSize = 24;
constexpr std::uint32_t ColourSize = 4;      // R, G, B, A (u8 each)
constexpr std::uint32_t CoordinateSize = 8;  // u, v (f32 each)
constexpr std::uint32_t TriangleSize = 8;    // four u16
constexpr std::uint32_t VectorSize = 12;     // x, y, z (f32 each)
// The smallest geometry chunk: up to the blocks, and the morph target head.
constexpr std::uint32_t MinSize = Blocks + MorphTargetHeadSize;
// Format word bits.
constexpr std::uint32_t TexturedBit = 0x04;  // one texture-coordinate set
constexpr std::uint32_t PrelitBit = 0x08;
constexpr std::uint32_t NormalsBit = 0x10;
constexpr std::uint32_t Textured2Bit = 0x80;  // two texture-coordinate sets
constexpr std::uint32_t SetCountShift = 16;
// A geometry with more triangles takes its faces from its bin mesh rather
// than from its triangle records.
constexpr std::uint32_t MaxTrianglesFromRecords = 0xFFFF;
}  // namespace GeometryLayout

// The set-count byte of a geometry's format word (bits 16 to 23), as stored.
constexpr std::uint32_t storedTextureSetCount(std::uint32_t format)
{
    return (format >> GeometryLayout::SetCountShift) & 0xFF;
}

// Texture-coordinate sets of a geometry. The 3.1 library stored a set-count
// byte of 0 and derived the count from the flags: 2 with 0x80, else 1 with
// 0x04. A non-zero byte is the count.
constexpr std::uint32_t textureSetCount(std::uint32_t format)
{
    if (const std::uint32_t stored = storedTextureSetCount(format); stored != 0) return stored;
    if (format & GeometryLayout::Textured2Bit) return 2;
    if (format & GeometryLayout::TexturedBit) return 1;
    return 0;
}

// Skin plug-in body: bone count, used-bone count, maximum weights (u8 each),
// padding, the used-bone indices, then per vertex four u8 bone indices and
// four f32 weights, then the inverse bone matrices.
namespace SkinLayout {
constexpr std::uint32_t BoneCount = 0;
constexpr std::uint32_t UsedBoneCount = 1;
constexpr std::uint32_t MaxWeights = 2;  // 0 in the older layout (below)
constexpr std::uint32_t HeadSize = 4;
constexpr std::uint32_t VertexBytes = 20;  // four indices, four weights
constexpr std::uint32_t IndicesPerVertex = 4;
constexpr std::uint32_t MatrixSize = 64;  // 16 f32
// Libraries before 3.7 that left the maximum weight count 0 put a 4-byte
// marker before each inverse matrix.
constexpr std::uint32_t MatrixMarkerSize = 4;
constexpr std::uint32_t LateTailSize = 12;  // after the matrices under 0x1803FFFF
}  // namespace SkinLayout

// Bin mesh plug-in body: mode, split count, total index count; each split:
// index count, material index, then its u32 vertex indices.
namespace BinMeshLayout {
constexpr std::uint32_t Mode = 0;
constexpr std::uint32_t SplitCount = 4;
constexpr std::uint32_t TotalIndices = 8;
constexpr std::uint32_t HeadSize = 12;
constexpr std::uint32_t SplitMaterial = 4;  // from the split's start
constexpr std::uint32_t SplitHeadSize = 8;
constexpr std::uint32_t IndexSize = 4;
constexpr std::uint32_t ListMode = 0;
}  // namespace BinMeshLayout

// Extra vertex colour body: one u32 not examined, then R, G, B, A per vertex.
namespace ExtraColourLayout {
constexpr std::uint32_t LeadSize = 4;
}

// Atomic: header, struct header, frame index, geometry index, flags, unused.
namespace AtomicLayout {
constexpr std::uint32_t StructHeader = 12;
constexpr std::uint32_t FrameIndex = 24;
constexpr std::uint32_t GeometryIndex = 28;
constexpr std::uint32_t Size = 40;
}  // namespace AtomicLayout

// Material list: header, struct header, material count, one word per material.
namespace MaterialListLayout {
constexpr std::uint32_t MaterialCount = 24;
constexpr std::uint32_t MaterialWords = 28;
constexpr std::uint32_t WordSize = 4;
}  // namespace MaterialListLayout

// Material: header, struct header, 28-byte struct (flags, RGBA, unused word,
// texture count, ambient, specular, diffuse); the textures follow.
namespace MaterialLayout {
constexpr std::uint32_t Colour = 28;
constexpr std::uint32_t TextureCount = 36;
constexpr std::uint32_t Ambient = 40;
constexpr std::uint32_t Specular = 44;
constexpr std::uint32_t Diffuse = 48;
constexpr std::uint32_t Textures = 52;
constexpr std::uint32_t MinSize = Textures;
}  // namespace MaterialLayout

// The sub-chunks of a material's extension; offsets from the sub-chunk's body.
// Material effects: word 0 the effect kind, word 1 the first effect's kind;
// for an environment map word 2 the coefficient (f32), word 4 the texture
// flag; the texture chunk follows where the flag puts it.
namespace MaterialEffectsLayout {
constexpr std::uint32_t EnvironmentMap = 2;  // effect kind
constexpr std::uint32_t EffectKind = 4;
constexpr std::uint32_t EnvCoefficient = 8;
constexpr std::uint32_t EnvTextureFlag = 16;
constexpr std::uint32_t EnvTexture = 20;       // texture flag 1
constexpr std::uint32_t EnvNoTexture = 24;     // other texture flags
constexpr std::uint32_t NoEffectTexture = 12;  // any other effect kind
}  // namespace MaterialEffectsLayout

// UV animation plug-in: struct header, one unused word, the animation name.
namespace MaterialUvAnimLayout {
constexpr std::uint32_t Name = 16;
constexpr std::uint32_t NameSize = 32;
}  // namespace MaterialUvAnimLayout

// Specular material: level (f32), then the texture name.
namespace SpecularLayout {
constexpr std::uint32_t Level = 0;
constexpr std::uint32_t Name = 4;
constexpr std::uint32_t NameSize = 24;
}  // namespace SpecularLayout

// Reflection material: c0, c1, c2 (the colour), c3 (the alpha), intensity (f32 each).
namespace ReflectionLayout {
constexpr std::uint32_t Colour = 0;
constexpr std::uint32_t Alpha = 12;
constexpr std::uint32_t Intensity = 16;
}  // namespace ReflectionLayout

// Texture: header, struct header, filtering byte, addressing byte, two unused
// bytes, the name's string chunk, the mask's string chunk, an extension.
namespace TextureLayout {
constexpr std::uint32_t Filter = 24;
constexpr std::uint32_t Addressing = 25;
constexpr std::uint32_t NameHeader = 28;
constexpr std::uint32_t NameSize = NameHeader + 4;
constexpr std::uint32_t Name = 40;
constexpr std::uint32_t MinSize = Name + kChunkHeaderSize;
}  // namespace TextureLayout

// 56 bytes on disk: right, up, at, position (3 f32 each, the four rows of the
// host's Matrix3), parent (u32; not below the frame count: no parent), link
// (i32; the file's matrix flags, overwritten by the readers: -1 no object,
// -2 light, 0.. geometry index).
constexpr std::uint32_t kFrameParentOffset = 48;
constexpr std::uint32_t kFrameLinkOffset = 52;
constexpr std::int32_t kLinkNone = -1;
constexpr std::int32_t kLinkLight = -2;

struct FrameRecord {
    static constexpr std::uint32_t kSize = 56;
    float right[3];
    float up[3];
    float at[3];
    float position[3];
    std::uint32_t parent;
    std::int32_t link;

    static FrameRecord decode(const std::uint8_t* p)
    {
        FrameRecord r{};
        float* rows[4] = {r.right, r.up, r.at, r.position};
        for (int row = 0; row < 4; ++row)
            for (int c = 0; c < 3; ++c) rows[row][c] = loadF32(p + 12 * row + 4 * c);
        r.parent = loadU32(p + kFrameParentOffset);
        r.link = loadI32(p + kFrameLinkOffset);
        return r;
    }
};

// 12 bytes on disk: HAnim ID, index in the hierarchy, flags word (i32 each).
struct HAnimNode {
    static constexpr std::uint32_t kSize = 12;
    std::int32_t boneId;
    std::int32_t boneIndex;
    std::int32_t boneType;

    static HAnimNode decode(const std::uint8_t* p) { return HAnimNode{loadI32(p), loadI32(p + 4), loadI32(p + 8)}; }
};

// 32 bytes on disk: time (f32 seconds), uv (6 f32), previous key index (i32).
struct UvKeyFrame {
    static constexpr std::uint32_t kSize = 32;
    float time;
    float uv[6];
    std::int32_t previous;

    static UvKeyFrame decode(const std::uint8_t* p)
    {
        UvKeyFrame k{};
        k.time = loadF32(p);
        for (int i = 0; i < 6; ++i) k.uv[i] = loadF32(p + 4 + 4 * i);
        k.previous = loadI32(p + 28);
        return k;
    }
};

// A geometry's triangle record: second corner, first corner, material index,
// third corner (u16 each). corners are first, second, third.
struct Triangle {
    static constexpr std::uint32_t kSize = GeometryLayout::TriangleSize;
    std::uint16_t corners[3];
    std::uint16_t material;

    static Triangle decode(const std::uint8_t* p)
    {
        return Triangle{{loadU16(p + 2), loadU16(p), loadU16(p + 6)}, loadU16(p + 4)};
    }
};

// One vertex's texture coordinates: u, v (f32 each).
struct UvPair {
    static constexpr std::uint32_t kSize = GeometryLayout::CoordinateSize;
    float u;
    float v;

    static UvPair decode(const std::uint8_t* p) { return UvPair{loadF32(p), loadF32(p + 4)}; }
};

// A position or a normal: x, y, z (f32 each).
struct Vector {
    static constexpr std::uint32_t kSize = GeometryLayout::VectorSize;
    float x;
    float y;
    float z;

    static Vector decode(const std::uint8_t* p) { return Vector{loadF32(p), loadF32(p + 4), loadF32(p + 8)}; }
};

// A vertex colour: R, G, B, A (u8 each).
struct Rgba {
    static constexpr std::uint32_t kSize = GeometryLayout::ColourSize;
    std::uint8_t r;
    std::uint8_t g;
    std::uint8_t b;
    std::uint8_t a;

    static Rgba decode(const std::uint8_t* p) { return Rgba{p[0], p[1], p[2], p[3]}; }
};

// A skinned vertex's four bone indices (u8 each).
struct BoneIndices {
    static constexpr std::uint32_t kSize = SkinLayout::IndicesPerVertex;
    std::uint8_t index[4];

    static BoneIndices decode(const std::uint8_t* p) { return BoneIndices{{p[0], p[1], p[2], p[3]}}; }
};

// A skinned vertex's four weights (f32 each), in the order of its bone indices.
struct BoneWeights {
    static constexpr std::uint32_t kSize = SkinLayout::VertexBytes - SkinLayout::IndicesPerVertex;
    float weight[4];

    static BoneWeights decode(const std::uint8_t* p)
    {
        return BoneWeights{{loadF32(p), loadF32(p + 4), loadF32(p + 8), loadF32(p + 12)}};
    }
};

// An inverse bone matrix: 4x4 f32, rows right, up, at, position; the fourth
// column is not used.
struct InverseBoneMatrix {
    static constexpr std::uint32_t kSize = SkinLayout::MatrixSize;
    float rows[4][3];

    static InverseBoneMatrix decode(const std::uint8_t* p)
    {
        InverseBoneMatrix m{};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c) m.rows[r][c] = loadF32(p + 16 * r + 4 * c);
        return m;
    }
};

// A vertex index of a bin mesh split (u32).
struct SplitIndex {
    static constexpr std::uint32_t kSize = BinMeshLayout::IndexSize;
    std::uint32_t vertex;

    static SplitIndex decode(const std::uint8_t* p) { return SplitIndex{loadU32(p)}; }
};

// An atomic's struct body: frame index, geometry index, flags, unused (u32 each).
struct AtomicStruct {
    static constexpr std::uint32_t kSize = AtomicLayout::Size - AtomicLayout::FrameIndex;
    std::uint32_t frameIndex;
    std::uint32_t geometryIndex;

    static AtomicStruct decode(const std::uint8_t* p) { return AtomicStruct{loadU32(p), loadU32(p + 4)}; }
};
