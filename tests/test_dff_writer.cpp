// The test writer's output against the layouts the importer reads: the
// chunks of a file holding every feature, fixed; the lies it tells on
// purpose, each in its one place.
#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "testkit/DffWriter.h"
#include "support/Golden.h"

using namespace dffw;

namespace {

uint32_t u32At(const std::vector<uint8_t>& b, size_t at)
{
    EXPECT_LE(at + 4, b.size());
    if (at + 4 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Positions (in `b`) where the bytes of two equally long outputs differ.
std::vector<size_t> differences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    EXPECT_EQ(a.size(), b.size());
    std::vector<size_t> at;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) at.push_back(i);
    return at;
}

bool isContainer(uint32_t type)
{
    switch (type) {
    case ChunkType::Clump:
    case ChunkType::FrameList:
    case ChunkType::GeometryList:
    case ChunkType::Geometry:
    case ChunkType::MaterialList:
    case ChunkType::Material:
    case ChunkType::Texture:
    case ChunkType::Extension:
    case ChunkType::Atomic:
    case ChunkType::Light:
    case ChunkType::Camera:
    case ChunkType::UvAnimDictionary:
    case ChunkType::UvAnimation:
        return true;
    default:
        return false;
    }
}

// The chunks of [begin, end) as text: a line per header (type, size, stamp),
// a container's children indented below it, any other body in hex. A header
// or body past its parent's end is named where it starts.
void listChunks(const std::vector<uint8_t>& b, size_t begin, size_t end, int depth, std::ostringstream& out)
{
    const std::string indent(2 * static_cast<size_t>(depth), ' ');
    auto hexLines = [&](size_t from, size_t to) {
        for (size_t at = from; at < to; at += 16) {
            out << indent << "  ";
            for (size_t i = at; i < std::min(to, at + 16); ++i)
                out << std::hex << std::setw(2) << std::setfill('0') << int(b[i]);
            out << std::dec << "\n";
        }
    };
    for (size_t at = begin; at < end;) {
        if (end - at < kHeaderSize) {
            out << indent << "bytes after the last chunk:\n";
            return hexLines(at, end);
        }
        const uint32_t type = u32At(b, at), size = u32At(b, at + 4);
        out << indent << std::hex << "0x" << type << std::dec << " size " << size << std::hex << " stamp 0x"
            << u32At(b, at + 8) << std::dec << "\n";
        at += kHeaderSize;
        if (size > end - at) {
            out << indent << "  past its parent's end\n";
            return;
        }
        if (isContainer(type))
            listChunks(b, at, at + size, depth + 1, out);
        else
            hexLines(at, at + size);
        at += size;
    }
}

std::string listing(const std::vector<uint8_t>& b)
{
    std::ostringstream out;
    listChunks(b, 0, b.size(), 0, out);
    return out.str();
}

}  // namespace

TEST(DffWriterChunk, SizesOffsetsAndSizeOverride)
{
    Chunk parent(ChunkType::Clump);
    parent.u32(7).add(Chunk(ChunkType::Struct).u16(1).u8(2)).u8(9);
    std::vector<ChunkOffset> offsets;
    const auto b = parent.bytes(&offsets);
    ASSERT_EQ(b.size(), 12u + 4 + 12 + 3 + 1);
    EXPECT_EQ(u32At(b, 0), ChunkType::Clump);
    EXPECT_EQ(u32At(b, 4), 20u);
    EXPECT_EQ(u32At(b, 8), kDefaultStamp);
    EXPECT_EQ(u32At(b, 12), 7u);
    EXPECT_EQ(u32At(b, 20), 3u);  // child size
    EXPECT_EQ(b.back(), 9);
    ASSERT_EQ(offsets.size(), 2u);
    EXPECT_EQ(offsets[1].type, ChunkType::Struct);
    EXPECT_EQ(offsets[1].offset, 16u);
    EXPECT_EQ(offsets[1].depth, 1u);

    // A lying size changes the size word only, and the parent's real size is kept.
    parent.child(0).sizeOverride = 0xFFFFFFFF;
    const auto lied = parent.bytes();
    EXPECT_EQ(differences(b, lied), (std::vector<size_t>{20, 21, 22, 23}));
}

TEST(DffWriterChunk, StringsPadTerminateOrNot)
{
    EXPECT_EQ(stringChunk("abc").bodySize(), 4u);
    EXPECT_EQ(stringChunk("abcd").bodySize(), 8u);
    EXPECT_EQ(stringChunk("").bodySize(), 4u);
    EXPECT_EQ(stringChunk("abcd", NameStyle::Terminated).bodySize(), 5u);
    const auto exact = stringChunk("abcd", NameStyle::Exact).bytes();
    EXPECT_EQ(u32At(exact, 4), 4u);
    EXPECT_EQ(std::string(exact.begin() + 12, exact.end()), "abcd");
    const auto fixed = Chunk(1).fixedString("abcdef", 4).fixedString("x", 3).bytes();
    EXPECT_EQ(std::string(fixed.begin() + 12, fixed.end()), std::string("abcdx\0\0", 7));
}

TEST(DffWriterGeometry, FormatWordFollowsContentUnlessOverridden)
{
    Geometry g;
    g.positions = {{0, 0, 0}};
    EXPECT_EQ(g.format(), 0x02u);
    g.texCoords = {{{0, 0}}};
    EXPECT_EQ(g.format(), 0x00010006u);
    g.formatExtraBits = 0x01000000;
    EXPECT_EQ(g.format(), 0x01010006u);
    g.formatOverride = 0x04;
    EXPECT_EQ(g.format(), 0x04u);
}

TEST(DffWriterOverrides, EachChangesExactlyItsField)
{
    const Clump base = makeBox();
    const auto ref = write(base);
    std::vector<ChunkOffset> offsets;
    write(base, &offsets);
    auto headerOf = [&](uint32_t type) {
        for (const ChunkOffset& o : offsets)
            if (o.type == type) return size_t{o.offset};
        ADD_FAILURE() << "no chunk 0x" << std::hex << type;
        return size_t{0};
    };
    const size_t geometry = headerOf(ChunkType::Geometry);
    const size_t texture = headerOf(ChunkType::Texture);

    Clump c = base;
    c.geometries[0].vertexCountOverride = 99;
    EXPECT_EQ(differences(ref, write(c)), (std::vector<size_t>{geometry + 32}));

    c = base;
    c.geometries[0].triangleCountOverride = 0x10000 + 12;  // the third byte only
    EXPECT_EQ(differences(ref, write(c)), (std::vector<size_t>{geometry + 30}));

    c = base;
    c.geometries[0].materials[0].textures[0].extension.head.stamp = 0x1803FFFE;
    // the texture's extension is its fourth child, after struct, name and mask
    const size_t textureExt = texture + 12 + 16 + 12 + u32At(ref, texture + 28 + 4) + 12 + 4;
    EXPECT_EQ(u32At(ref, textureExt), ChunkType::Extension);
    EXPECT_EQ(differences(ref, write(c)), (std::vector<size_t>{textureExt + 8}));
}

TEST(DffWriterConveniences, CubeFacesPointOutAndBinMeshCoversThem)
{
    const Geometry g = makeCube(2.0f);
    ASSERT_EQ(g.positions.size(), 24u);
    ASSERT_EQ(g.triangles.size(), 12u);
    for (const Triangle& t : g.triangles) {
        const Vec3 &a = g.positions[t.v0], &b = g.positions[t.v1], &c = g.positions[t.v2];
        const Vec3 e1{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, e2{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const Vec3 n{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        const Vec3& fileNormal = g.normals[t.v0];
        EXPECT_GT(n[0] * fileNormal[0] + n[1] * fileNormal[1] + n[2] * fileNormal[2], 0.0f);
        EXPECT_GT(a[0] * fileNormal[0] + a[1] * fileNormal[1] + a[2] * fileNormal[2], 0.0f);
    }

    std::vector<Triangle> tris = {Triangle::corners(0, 1, 2, 1), Triangle::corners(3, 4, 5, 0),
                                  Triangle::corners(6, 7, 8, 1)};
    const BinMesh bm = binMeshFromTriangles(tris);
    ASSERT_EQ(bm.splits.size(), 2u);
    EXPECT_EQ(bm.splits[0].material, 0u);
    EXPECT_EQ(bm.splits[1].indices, (std::vector<uint32_t>{0, 1, 2, 6, 7, 8}));
}

TEST(DffWriterFile, EveryFeatureLaidOutAsFixed)
{
    UvAnimDictionary dictionary;
    dictionary.animations.push_back({.name = "a", .keyFrames = {{0.0f}, {0.5f}, {1.5f, {1, 2, 3, 4, 5, 6}, 1}}});
    dictionary.animations.push_back({.name = "b", .keyFrames = {{}}});

    Clump modern = makeBox();
    modern.frames[0].hAnim = HAnim{.boneId = 3, .nodes = {{3, 0, 0}, {4, 1, 2}}};
    modern.frames[0].extension.items.push_back(frameNameChunk("second"));
    modern.frames.push_back(Frame{.parent = 0});
    modern.lights.push_back(Light{.frameIndex = 0, .radius = 3.5f});
    modern.lights.back().extension.present = false;
    modern.lights.push_back(Light{});
    modern.cameras.push_back(Camera{});
    Geometry& cube = modern.geometries[0];
    Material& m = cube.materials[0];
    m.colour = {255, 128, 0, 64};
    m.textures = {Texture{.filter = 1, .addressing = 0x22, .name = "wheel", .maskName = "wheelm"}};
    m.extension.items = {MaterialEffects{.coefficient = 0.75f, .envTexture = Texture{.name = "env"}},
                         UvAnimationRef{.name = "a"}, SpecularMaterial{.level = 0.25f, .texture = "spec"},
                         SpecularMaterial{.texture = "short", .shortForm = true},
                         ReflectionMaterial{.colour = {0.1f, 0.2f, 0.3f, 0.5f}, .intensity = 0.75f}};
    cube.extension.items.push_back(ExtraVertexColours{.colours = std::vector<Rgba>(24, Rgba{1, 2, 3, 4})});
    Skin skin{.usedBones = {0, 1},
              .boneIndices = std::vector<std::array<uint8_t, 4>>(24, {0, 1, 0, 0}),
              .weights = std::vector<std::array<float, 4>>(24, {0.5f, 0.5f, 0, 0}),
              .inverseMatrices = std::vector<std::array<float, 16>>(2)};
    cube.extension.items.push_back(skin);
    cube.extension.items.push_back(rawChunk(ChunkType::Breakable, {0, 0, 0, 0}));

    Clump older;
    older.stamp = Stamp::VC02FFFF;
    older.frames = {namedFrame("older")};
    Geometry quad = makeQuad();
    quad.prelit = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
    quad.texCoords.push_back({{0.5f, 0.25f}, {0, 0}, {0, 0}, {0, 0}});
    quad.triangles[1] = Triangle::corners(3, 1, 2, 0);
    quad.surface = {0.1f, 0.2f, 0.3f};
    skin.boneIndices.resize(4), skin.weights.resize(4);
    skin.matrixMarker = 0xDEADDEAD;
    quad.extension.items.push_back(skin);
    older.geometries = {quad};
    older.atomics = {Atomic{}};

    Clump early;
    early.stamp = Stamp::V310;
    early.frames = {namedFrame("early")};
    quad = makeQuad();
    quad.structHead.stamp = Stamp::V1003FFFF;
    skin.matrixMarker.reset();
    quad.extension.items.push_back(skin);
    early.geometries = {quad};
    early.atomics = {Atomic{}};

    expectGolden("writer/every-feature.txt",
                 listing(write(File{{dictionary, modern, older, early, RawBytes{{0, 0, 0, 0}}}})));
}
