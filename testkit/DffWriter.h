// Test-only writer of DFF files (RenderWare binary streams).
//
// Two levels:
//  - `Chunk`: one chunk (type, size, stamp) whose body is raw bytes and/or
//    child chunks, serialised little-endian. `sizeOverride` writes a size that
//    lies.
//  - Model structs (`Clump`, `Frame`, `Geometry`, `Material`, ...) with
//    defaults that give a valid file, built into chunk trees laid out exactly
//    as the importer reads them. Every chunk a struct produces can be altered
//    in one place through a `Head` (type, size, stamp), and every count the
//    file stores has an override next to the data it counts.
//
// Stamps: a clump's `stamp` (and a dictionary's) is inherited by every chunk
// written inside it unless a `Head` overrides that one chunk.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dffw {

struct Stamp {
    static constexpr uint32_t V310 = 0x00000310;
    static constexpr uint32_t V3FFFF = 0x0003FFFF;
    static constexpr uint32_t V800FFFF = 0x0800FFFF;
    static constexpr uint32_t VC02FFFF = 0x0C02FFFF;
    static constexpr uint32_t V1003FFFF = 0x1003FFFF;
    static constexpr uint32_t V1803FFFF = 0x1803FFFF;
};
inline constexpr uint32_t kDefaultStamp = Stamp::V1803FFFF;

// The early stamps: clump struct of 4 bytes, surface properties in geometries.
constexpr bool isEarly(uint32_t stamp)
{
    return stamp == Stamp::V310 || stamp == Stamp::V3FFFF || stamp == Stamp::V800FFFF;
}

struct ChunkType {
    static constexpr uint32_t Struct = 0x01;
    static constexpr uint32_t String = 0x02;
    static constexpr uint32_t Extension = 0x03;
    static constexpr uint32_t Camera = 0x05;
    static constexpr uint32_t Texture = 0x06;
    static constexpr uint32_t Material = 0x07;
    static constexpr uint32_t MaterialList = 0x08;
    static constexpr uint32_t FrameList = 0x0E;
    static constexpr uint32_t Geometry = 0x0F;
    static constexpr uint32_t Clump = 0x10;
    static constexpr uint32_t Light = 0x12;
    static constexpr uint32_t Atomic = 0x14;
    static constexpr uint32_t GeometryList = 0x1A;
    static constexpr uint32_t Animation = 0x1B;
    static constexpr uint32_t UvAnimDictionary = 0x2B;
    static constexpr uint32_t Morph = 0x105;
    static constexpr uint32_t Skin = 0x116;
    static constexpr uint32_t HAnim = 0x11E;
    static constexpr uint32_t MaterialEffects = 0x120;
    static constexpr uint32_t UvAnimation = 0x135;
    static constexpr uint32_t BinMesh = 0x50E;
    static constexpr uint32_t NativeData = 0x510;
    static constexpr uint32_t SpecularMaterial = 0x253F2F6;
    static constexpr uint32_t TwoDEffect = 0x253F2F8;
    static constexpr uint32_t ExtraVertexColour = 0x253F2F9;
    static constexpr uint32_t ReflectionMaterial = 0x253F2FC;
    static constexpr uint32_t Breakable = 0x253F2FD;
    static constexpr uint32_t FrameName = 0x253F2FE;
};

inline constexpr uint32_t kHeaderSize = 12;

// Where a chunk header landed in serialised output.
struct ChunkOffset {
    uint32_t type = 0;
    uint32_t offset = 0;  // of the 12-byte header, from the start of the output
    uint32_t size = 0;    // the size word as written (an override included)
    uint32_t depth = 0;   // 0 for a top-level chunk
};

// ---------------------------------------------------------------------------
// Low level

class Chunk {
public:
    uint32_t type = 0;
    uint32_t stamp = kDefaultStamp;
    std::optional<uint32_t> sizeOverride;  // written instead of the real body size

    Chunk() = default;
    explicit Chunk(uint32_t chunkType, uint32_t chunkStamp = kDefaultStamp);

    // Body appenders, little-endian, in order with the children.
    Chunk& u8(uint8_t v);
    Chunk& u16(uint16_t v);
    Chunk& u32(uint32_t v);
    Chunk& i32(int32_t v);
    Chunk& f32(float v);
    Chunk& raw(const std::vector<uint8_t>& data);
    Chunk& raw(const void* data, size_t count);
    // `width` bytes: the text truncated to `width`, padded with NUL bytes.
    Chunk& fixedString(std::string_view text, size_t width);
    Chunk& add(Chunk child);

    uint32_t bodySize() const;  // real size of the body, overrides of children included

    // Header + body. When `offsets` is given, every chunk written is appended
    // to it in write order (parents before their children).
    std::vector<uint8_t> bytes(std::vector<ChunkOffset>* offsets = nullptr) const;
    void appendTo(std::vector<uint8_t>& out, std::vector<ChunkOffset>* offsets = nullptr, uint32_t depth = 0) const;

    // Direct child chunks (raw byte runs not counted).
    Chunk& child(size_t index);
    const Chunk& child(size_t index) const;
    // The nth direct child of the given type, or null.
    Chunk* find(uint32_t childType, size_t nth = 0);

private:
    bool isRun_ = false;        // a run of body bytes without a header
    std::vector<uint8_t> run_;  // the run's bytes
    std::vector<Chunk> parts_;  // body in order: runs and child chunks
    std::vector<uint8_t>& tail();
};

// ---------------------------------------------------------------------------
// Model description

// Overrides of one chunk header; unset fields keep what the builder computes.
struct Head {
    std::optional<uint32_t> type{};
    std::optional<uint32_t> size{};
    std::optional<uint32_t> stamp{};
};

// Extension chunk (type 3) after an object. `items` follow whatever typed
// contents the owner writes first.
template <class Item>
struct Extension {
    bool present = true;
    Head head{};
    std::vector<Item> items{};
};

enum class NameStyle {
    Padded,      // text, NUL, NUL padding to a multiple of 4 (size = padded length)
    Terminated,  // text and one NUL
    Exact,       // text only, no NUL
};

// String chunk (type 2) holding `text` in the given style.
Chunk stringChunk(std::string_view text, NameStyle style = NameStyle::Padded, uint32_t stamp = kDefaultStamp);
// Frame name chunk: the text's bytes exactly, no NUL.
Chunk frameNameChunk(std::string_view text, uint32_t stamp = kDefaultStamp);
// Any chunk with a raw body (morph, native data, 2d effect, breakable, ...).
Chunk rawChunk(uint32_t type, std::vector<uint8_t> body = {}, uint32_t stamp = kDefaultStamp);

using Vec3 = std::array<float, 3>;
using Rgba = std::array<uint8_t, 4>;

struct HAnimNode {
    int32_t boneId = 0;
    int32_t boneIndex = 0;
    int32_t boneType = 0;
};

struct HAnim {
    uint32_t version = 0x100;
    int32_t boneId = 0;
    std::vector<HAnimNode> nodes{};
    std::optional<uint32_t> nodeCountOverride{};
    uint32_t flags = 0;          // written only when the node count is not 0
    uint32_t keyFrameSize = 36;  // likewise
    Head head{};
};

struct Frame {
    Vec3 right{1, 0, 0};
    Vec3 up{0, 1, 0};
    Vec3 at{0, 0, 1};
    Vec3 position{0, 0, 0};
    uint32_t parent = 0xFFFFFFFF;  // 0xFFFFFFFF: no parent
    uint32_t matrixFlags = 0;
    std::optional<std::string> name{};  // raw bytes, NUL allowed; absent: no name chunk
    std::optional<HAnim> hAnim{};
    bool nameFirst = false;  // real files write the HAnim chunk first
    Head nameHead{};
    Extension<Chunk> extension{};  // items written after name and HAnim
};

struct Triangle {
    // File order of the record: second corner, first corner, material, third corner.
    uint16_t v1 = 0;
    uint16_t v0 = 0;
    uint16_t matId = 0;
    uint16_t v2 = 0;
    // A face given by its corners in face order.
    static Triangle corners(uint16_t a, uint16_t b, uint16_t c, uint16_t mat = 0) { return Triangle{b, a, mat, c}; }
};

struct MorphTarget {
    std::optional<std::array<float, 4>> boundingSphere{};  // default: around the positions
    std::optional<uint32_t> hasPositions{};                // default 1
    std::optional<uint32_t> hasNormals{};                  // default: normals present
};

struct Texture {
    uint8_t filter = 6;
    uint8_t addressing = 0x11;  // low four bits U mode, high four bits V mode
    uint16_t unused = 1;
    std::string name{};
    std::string maskName{};
    NameStyle nameStyle = NameStyle::Padded;
    NameStyle maskStyle = NameStyle::Padded;
    Head head{}, structHead{}, nameHead{}, maskHead{};
    Extension<Chunk> extension{};
};

struct MaterialEffects {
    uint32_t effectType = 2;
    uint32_t firstEffect = 2;  // 2: environment map; other kinds write only `trailing`
    float coefficient = 0.5f;
    uint32_t frameBufferAlpha = 0;
    std::optional<uint32_t> textureFlag{};  // default: 1 when envTexture is set, else 0
    std::optional<Texture> envTexture{};
    std::vector<uint8_t> trailing{0, 0, 0, 0};      // second effect kind: none
    std::optional<std::vector<uint8_t>> rawBody{};  // replaces the whole body
    Head head{};
};

struct UvAnimationRef {
    std::string name{};
    std::vector<std::string> moreNames{};
    std::optional<uint32_t> channelMask{};  // default: one bit per name
    Head head{}, structHead{};
};

struct SpecularMaterial {
    float level = 0.0f;
    std::string texture{};
    bool shortForm = false;  // 20 bytes: level and a 16-byte name
    Head head{};
};

struct ReflectionMaterial {
    std::array<float, 4> colour{1, 1, 1, 1};
    float intensity = 0.5f;
    uint32_t unused = 0;
    Head head{};
};

using MaterialExtItem = std::variant<MaterialEffects, UvAnimationRef, SpecularMaterial, ReflectionMaterial, Chunk>;

struct Material {
    uint32_t flags = 0;
    Rgba colour{255, 255, 255, 255};
    uint32_t unused = 0;
    std::vector<Texture> textures{};
    std::optional<uint32_t> textureCountOverride{};
    float ambient = 1.0f;
    float specular = 0.0f;
    float diffuse = 1.0f;
    Head head{}, structHead{};
    Extension<MaterialExtItem> extension{};
};

struct BinMeshSplit {
    uint32_t material = 0;
    std::vector<uint32_t> indices{};
    std::optional<uint32_t> indexCountOverride{};
};

struct BinMesh {
    static constexpr uint32_t List = 0;
    static constexpr uint32_t Strip = 1;
    uint32_t mode = List;
    std::vector<BinMeshSplit> splits{};
    std::optional<uint32_t> splitCountOverride{};
    std::optional<uint32_t> totalIndexCountOverride{};  // default: sum of the splits' counts
    Head head{};
};

struct Skin {
    std::optional<uint8_t> boneCountOverride{};  // default: number of inverse matrices
    std::vector<uint8_t> usedBones{};
    std::optional<uint8_t> usedBoneCountOverride{};
    uint8_t maxWeights = 4;
    uint8_t padding = 0;
    std::vector<std::array<uint8_t, 4>> boneIndices{};  // one per vertex
    std::vector<std::array<float, 4>> weights{};        // one per vertex
    std::vector<std::array<float, 16>> inverseMatrices{};
    std::optional<uint32_t> matrixMarker{};  // written before each matrix when set
    std::optional<bool> tail{};              // default: geometry struct stamped 0x1803FFFF
    std::array<uint8_t, 12> tailBytes{};
    Head head{};
};

struct ExtraVertexColours {
    uint32_t leading = 1;
    std::vector<Rgba> colours{};
    Head head{};
};

using GeometryExtItem = std::variant<BinMesh, Skin, ExtraVertexColours, Chunk>;

struct Geometry {
    Head head{}, structHead{};  // structHead.stamp also decides surface properties and skin tail
    std::optional<uint32_t> formatOverride{};
    uint32_t formatExtraBits = 0;  // or-ed into the computed format word
    std::optional<uint32_t> triangleCountOverride{};
    std::optional<uint32_t> vertexCountOverride{};  // default: positions.size()
    uint32_t morphTargetCount = 1;
    std::optional<bool> surfaceProperties{};  // default: by struct stamp
    std::array<float, 3> surface{1, 1, 1};    // ambient, specular, diffuse
    std::vector<Rgba> prelit{};
    std::vector<std::vector<std::array<float, 2>>> texCoords{};  // sets of (u, v)
    std::vector<Triangle> triangles{};
    MorphTarget morph{};
    std::vector<Vec3> positions{};
    std::vector<Vec3> normals{};

    bool hasMaterialList = true;
    Head materialListHead{}, materialListStructHead{};
    std::optional<uint32_t> materialCountOverride{};
    std::vector<int32_t> materialIndices{};  // the per-material words; default -1 each
    std::vector<Material> materials{};

    Extension<GeometryExtItem> extension{};

    // Format word as written: prelit 0x08, normals 0x10, positions 0x02, textured
    // 0x04 (one set) or 0x80 (more), set count in bits 16..23, plus extra bits.
    uint32_t format() const;
};

struct Atomic {
    uint32_t frameIndex = 0;
    uint32_t geometryIndex = 0;
    uint32_t flags = 5;
    uint32_t unused = 0;
    Head head{}, structHead{};
    Extension<Chunk> extension{};
};

struct Light {
    uint32_t frameIndex = 0;
    float radius = 10.0f;
    Vec3 colour{1, 1, 1};
    float minusCosAngle = 1.0f;
    uint32_t typeAndFlags = 0x00800003;     // point light, scene and world flags
    Head structHead{}, head{}, dataHead{};  // frame index struct, light chunk, light struct
    Extension<Chunk> extension{};           // inside the light chunk, after its struct
};

struct Camera {
    uint32_t frameIndex = 0;
    Head structHead{}, head{};
    Extension<Chunk> extension{};
};

struct Clump {
    uint32_t stamp = kDefaultStamp;
    Head head{}, structHead{};
    std::optional<bool> longStruct{};  // light and camera counts; default: clump stamp not early
    std::optional<uint32_t> atomicCountOverride{}, lightCountOverride{}, cameraCountOverride{};

    std::vector<Frame> frames{};
    Head frameListHead{}, frameListStructHead{};
    std::optional<uint32_t> frameCountOverride{};

    std::vector<Geometry> geometries{};
    Head geometryListHead{}, geometryListStructHead{};
    std::optional<uint32_t> geometryCountOverride{};

    std::vector<Atomic> atomics{};
    std::vector<Light> lights{};
    std::vector<Camera> cameras{};
    Extension<Chunk> extension{};  // after the cameras
};

struct UvKeyFrame {
    float time = 0.0f;
    std::array<float, 6> uv{1, 0, 0, 1, 0, 0};
    int32_t previous = -1;
};

struct UvAnimation {
    std::string name{};
    std::vector<UvKeyFrame> keyFrames{};
    std::optional<uint32_t> keyFrameCountOverride{};
    uint32_t version = 0x100;
    uint32_t interpolation = 0x1C1;
    uint32_t flags = 0;
    std::optional<float> duration{};  // default: time of the last key frame
    Head head{};
};

struct UvAnimDictionary {
    uint32_t stamp = kDefaultStamp;
    std::vector<UvAnimation> animations{};
    std::optional<uint32_t> animationCountOverride{};
    Head head{}, structHead{};
};

struct RawBytes {
    std::vector<uint8_t> bytes{};
};

using Unit = std::variant<Clump, UvAnimDictionary, Chunk, RawBytes>;

struct File {
    std::vector<Unit> units{};
};

// ---------------------------------------------------------------------------
// Builders (model -> chunk tree). `stamp` is the inherited stamp.

Chunk buildClump(const Clump& clump);
Chunk buildUvAnimDictionary(const UvAnimDictionary& dictionary);
Chunk buildGeometry(const Geometry& geometry, uint32_t stamp = kDefaultStamp);
Chunk buildMaterial(const Material& material, uint32_t stamp = kDefaultStamp);
Chunk buildTexture(const Texture& texture, uint32_t stamp = kDefaultStamp);
Chunk buildAtomic(const Atomic& atomic, uint32_t stamp = kDefaultStamp);

std::vector<uint8_t> write(const File& file, std::vector<ChunkOffset>* offsets = nullptr);
std::vector<uint8_t> write(const Clump& clump, std::vector<ChunkOffset>* offsets = nullptr);
bool saveFile(const std::string& path, const std::vector<uint8_t>& bytes);

// ---------------------------------------------------------------------------
// Conveniences

// A unit quad in the XY plane facing +Z: 4 vertices, 2 triangles (material 0),
// normals, one texture-coordinate set, one untextured material.
Geometry makeQuad(float size = 1.0f);
// A cube centred on the origin: 24 vertices (4 per side), 12 outward-facing
// triangles (material 0), normals, one texture-coordinate set, one untextured material.
Geometry makeCube(float size = 1.0f);
// Triangle-list bin mesh with one split per material index, ascending.
BinMesh binMeshFromTriangles(const std::vector<Triangle>& triangles);
// A frame named `name` at `position` below frame `parent` (0xFFFFFFFF: none).
Frame namedFrame(const std::string& name, uint32_t parent = 0xFFFFFFFF, Vec3 position = {0, 0, 0});
// The atomic that puts geometry `geometryIndex` on frame `frameIndex`.
Atomic atomic(uint32_t frameIndex, uint32_t geometryIndex);
// A texture named `name`, with the mask, addressing and filter given.
Texture namedTexture(const std::string& name, const std::string& mask = {}, uint8_t addressing = 0x11,
                     uint8_t filter = 6);
// One frame named `name`, one textured cube with a bin mesh, one atomic.
Clump makeBox(const std::string& textureName = "box", float size = 1.0f, const std::string& name = "box");

}  // namespace dffw
