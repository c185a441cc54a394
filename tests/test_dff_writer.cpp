// The test writer's output against the layouts the importer reads.
#include <gtest/gtest.h>

#include <cstring>

#include "testkit/DffWriter.h"

using namespace dffw;

namespace {

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    EXPECT_LE(at + 4, b.size());
    if (at + 4 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t u16At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

float f32At(const std::vector<uint8_t>& b, size_t at) {
    const uint32_t bits = u32At(b, at);
    float f = 0;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Positions (in `b`) where the bytes of two equally long outputs differ.
std::vector<size_t> differences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    EXPECT_EQ(a.size(), b.size());
    std::vector<size_t> at;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) at.push_back(i);
    return at;
}

bool isContainer(uint32_t type) {
    switch (type) {
        case ChunkType::Clump: case ChunkType::FrameList: case ChunkType::GeometryList:
        case ChunkType::Geometry: case ChunkType::MaterialList: case ChunkType::Material:
        case ChunkType::Texture: case ChunkType::Extension: case ChunkType::Atomic:
        case ChunkType::Light: case ChunkType::Camera: case ChunkType::UvAnimDictionary:
        case ChunkType::UvAnimation:
            return true;
        default:
            return false;
    }
}

// Walks [begin, end) as a chunk sequence; every container's children must fill its body exactly.
void expectWellFormed(const std::vector<uint8_t>& b, size_t begin, size_t end, int& chunks) {
    size_t at = begin;
    while (at < end) {
        ASSERT_LE(at + kHeaderSize, end) << "header overruns its parent at " << at;
        const uint32_t type = u32At(b, at), size = u32At(b, at + 4);
        ASSERT_LE(at + kHeaderSize + size, end) << "chunk 0x" << std::hex << type << " overruns at " << at;
        ++chunks;
        if (isContainer(type)) expectWellFormed(b, at + kHeaderSize, at + kHeaderSize + size, chunks);
        at += kHeaderSize + size;
    }
    EXPECT_EQ(at, end);
}

}  // namespace

TEST(DffWriterChunk, SizesOffsetsAndSizeOverride) {
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

TEST(DffWriterChunk, StringsPadTerminateOrNot) {
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

TEST(DffWriterClump, StructLengthFollowsClumpStamp) {
    Clump c = makeBox();
    auto b = write(c);
    EXPECT_EQ(u32At(b, 16), 12u);
    EXPECT_EQ(u32At(b, 36), ChunkType::FrameList);

    c.stamp = Stamp::V310;
    b = write(c);
    EXPECT_EQ(u32At(b, 16), 4u);
    EXPECT_EQ(u32At(b, 28), ChunkType::FrameList);
    EXPECT_EQ(u32At(b, 28 + 8), Stamp::V310);  // inherited

    c.longStruct = true;
    b = write(c);
    EXPECT_EQ(u32At(b, 16), 12u);
}

TEST(DffWriterGeometry, BlocksLandWhereTheReaderLooks) {
    for (uint32_t stamp : {Stamp::VC02FFFF, Stamp::V1803FFFF}) {
        SCOPED_TRACE(stamp);
        Geometry g = makeQuad();
        g.prelit = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
        g.texCoords.push_back({{0.5f, 0.25f}, {0, 0}, {0, 0}, {0, 0}});
        g.triangles[1] = Triangle::corners(3, 1, 2, 0);
        g.surface = {0.1f, 0.2f, 0.3f};
        const auto b = buildGeometry(g, stamp).bytes();
        const uint32_t v = 4, t = 2;

        EXPECT_EQ(u32At(b, 24), 0x0002009Au);  // positions, textured2, prelit, normals, 2 sets
        EXPECT_EQ(u32At(b, 28), t);
        EXPECT_EQ(u32At(b, 32), v);
        EXPECT_EQ(u32At(b, 36), 1u);
        size_t at = 40;
        if (stamp == Stamp::VC02FFFF) {
            EXPECT_FLOAT_EQ(f32At(b, 44), 0.2f);
            at += 12;
        }
        EXPECT_EQ(b[at + 4], 5);  // second vertex's red
        at += 4 * v;
        EXPECT_FLOAT_EQ(f32At(b, at + 8 * v), 0.5f);  // set 2, vertex 0
        EXPECT_FLOAT_EQ(f32At(b, at + 8 * v + 4), 0.25f);
        at += 8 * 2 * v;
        // Second triangle: stored second corner, first corner, material, third corner.
        EXPECT_EQ(u16At(b, at + 8), 1);
        EXPECT_EQ(u16At(b, at + 10), 3);
        EXPECT_EQ(u16At(b, at + 14), 2);
        at += 8 * t;
        EXPECT_EQ(u32At(b, at + 16), 1u);  // positions present
        EXPECT_EQ(u32At(b, at + 20), 1u);  // normals present
        at += 24;
        EXPECT_FLOAT_EQ(f32At(b, at + 12), g.positions[1][0]);
        at += 12 * v;
        EXPECT_FLOAT_EQ(f32At(b, at + 8), 1.0f);  // normal z
        at += 12 * v;
        EXPECT_EQ(at, 24 + u32At(b, 16));  // the struct ends here
        EXPECT_EQ(u32At(b, at), ChunkType::MaterialList);
        at += 12 + u32At(b, at + 4);
        EXPECT_EQ(u32At(b, at), ChunkType::Extension);
        EXPECT_EQ(at + 12 + u32At(b, at + 4), b.size());
    }
}

TEST(DffWriterGeometry, FormatWordFollowsContentUnlessOverridden) {
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

TEST(DffWriterOverrides, EachChangesExactlyItsField) {
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

TEST(DffWriterSkin, TailAndMarkersFollowOptions) {
    auto skinSize = [](uint32_t structStamp, std::optional<uint32_t> marker) {
        Geometry g = makeQuad();
        g.structHead.stamp = structStamp;
        Skin s;
        s.usedBones = {0, 1};
        s.boneIndices.assign(4, {0, 1, 0, 0});
        s.weights.assign(4, {0.5f, 0.5f, 0, 0});
        s.inverseMatrices.assign(3, {});
        s.matrixMarker = marker;
        g.extension.items.push_back(s);
        Chunk built = buildGeometry(g);
        return built.find(ChunkType::Extension)->child(0).bodySize();
    };
    const uint32_t plain = 4 + 2 + 20 * 4 + 64 * 3;
    EXPECT_EQ(skinSize(Stamp::V1003FFFF, {}), plain);
    EXPECT_EQ(skinSize(Stamp::V1803FFFF, {}), plain + 12);
    EXPECT_EQ(skinSize(Stamp::VC02FFFF, 0xDEADDEAD), plain + 4 * 3);
}

TEST(DffWriterClump, AtomicsLightsAndCamerasAtFixedPositions) {
    Clump c = makeBox();
    c.lights.push_back(Light{.frameIndex = 0, .radius = 3.5f});
    c.lights.back().extension.present = false;
    c.lights.push_back(Light{});
    c.cameras.push_back(Camera{});
    std::vector<ChunkOffset> offsets;
    const auto b = write(c, &offsets);

    size_t atomic = 0;
    for (const ChunkOffset& o : offsets)
        if (o.type == ChunkType::Atomic) atomic = o.offset;
    ASSERT_NE(atomic, 0u);
    EXPECT_EQ(u32At(b, atomic + 32), 5u);  // flags
    EXPECT_EQ(u32At(b, atomic + 40), ChunkType::Extension);
    const size_t light = atomic + 40 + 12;
    EXPECT_EQ(u32At(b, light + 12), 0u);
    EXPECT_EQ(u32At(b, light + 16), ChunkType::Light);
    EXPECT_FLOAT_EQ(f32At(b, light + 40), 3.5f);
    EXPECT_EQ(u32At(b, light + 60), 0x00800003u);
    // No extension: the next light's struct follows at once.
    const size_t second = light + 64;
    EXPECT_EQ(u32At(b, second), ChunkType::Struct);
    EXPECT_EQ(u32At(b, second + 64), ChunkType::Extension);
    const size_t camera = second + 64 + 12;
    EXPECT_EQ(u32At(b, camera), ChunkType::Struct);
    EXPECT_EQ(u32At(b, camera + 16), ChunkType::Camera);
    int chunks = 0;
    expectWellFormed(b, 0, b.size(), chunks);
}

TEST(DffWriterUvAnim, KeyFramesStartAt100) {
    UvAnimDictionary d;
    d.animations.push_back({.name = "a", .keyFrames = {{0.0f}, {0.5f}, {1.5f, {1, 2, 3, 4, 5, 6}, 1}}});
    d.animations.push_back({.name = "b", .keyFrames = {{}}});
    std::vector<ChunkOffset> offsets;
    const auto b = write(File{{d, makeBox(), RawBytes{{0, 0, 0, 0}}}}, &offsets);
    EXPECT_EQ(u32At(b, 24), 2u);
    const size_t a = 28;
    EXPECT_EQ(u32At(b, a), ChunkType::Animation);
    EXPECT_EQ(u32At(b, a + 4), 88u + 3 * 32);
    EXPECT_EQ(u32At(b, a + 20), 3u);
    EXPECT_FLOAT_EQ(f32At(b, a + 28), 1.5f);  // duration
    EXPECT_EQ(b[a + 36], 'a');
    EXPECT_FLOAT_EQ(f32At(b, a + 100 + 2 * 32), 1.5f);
    EXPECT_FLOAT_EQ(f32At(b, a + 100 + 2 * 32 + 4 + 4 * 4), 5.0f);  // uv element 4
    EXPECT_EQ(u32At(b, a + 100 + 2 * 32 + 28), 1u);
    const size_t second = a + 100 + 3 * 32;
    EXPECT_EQ(b[second + 36], 'b');
    const size_t clump = second + 132;
    EXPECT_EQ(u32At(b, clump), ChunkType::Clump);
    EXPECT_EQ(clump + 12 + u32At(b, clump + 4), b.size() - 4);
}

TEST(DffWriterMaterial, TexturesAndExtensionsAtTheirOffsets) {
    Material m;
    m.colour = {255, 128, 0, 64};
    m.textures.push_back(Texture{.filter = 1, .addressing = 0x22, .name = "wheel", .maskName = "wheelm"});
    MaterialEffects fx;
    fx.coefficient = 0.75f;
    fx.envTexture = Texture{.name = "env"};
    m.extension.items = {fx, UvAnimationRef{.name = "scroll"}, SpecularMaterial{.level = 0.25f, .texture = "spec"},
                         SpecularMaterial{.texture = "short", .shortForm = true},
                         ReflectionMaterial{.colour = {0.1f, 0.2f, 0.3f, 0.5f}, .intensity = 0.75f}};
    const auto b = buildMaterial(m).bytes();
    EXPECT_EQ(u32At(b, 16), 28u);
    EXPECT_EQ(u32At(b, 28), 0x400080FFu);
    EXPECT_EQ(u32At(b, 36), 1u);
    const size_t t = 52;
    EXPECT_EQ(u32At(b, t), ChunkType::Texture);
    EXPECT_EQ(b[t + 24], 1);
    EXPECT_EQ(b[t + 25], 0x22);
    EXPECT_EQ(u32At(b, t + 28 + 4), 8u);  // "wheel" padded
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[t + 40])), "wheel");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[t + 48 + 12])), "wheelm");

    size_t d = t + 12 + u32At(b, t + 4) + 12 + 12;  // first sub-chunk's data
    EXPECT_EQ(u32At(b, d - 12), ChunkType::MaterialEffects);
    EXPECT_EQ(u32At(b, d + 4), 2u);
    EXPECT_FLOAT_EQ(f32At(b, d + 8), 0.75f);
    EXPECT_EQ(u32At(b, d + 16), 1u);
    EXPECT_EQ(u32At(b, d + 20), ChunkType::Texture);
    const size_t fxEnd = d + u32At(b, d - 8);
    EXPECT_EQ(u32At(b, fxEnd - 4), 0u);  // second effect: none
    d = fxEnd + 12;
    EXPECT_EQ(u32At(b, d - 12), ChunkType::UvAnimation);
    EXPECT_EQ(u32At(b, d - 8), 48u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[d + 16])), "scroll");
    d += 48 + 12;
    EXPECT_EQ(u32At(b, d - 8), 28u);
    EXPECT_FLOAT_EQ(f32At(b, d), 0.25f);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[d + 4])), "spec");
    d += 28 + 12;
    EXPECT_EQ(u32At(b, d - 8), 20u);
    d += 20 + 12;
    EXPECT_EQ(u32At(b, d - 12), ChunkType::ReflectionMaterial);
    EXPECT_EQ(u32At(b, d - 8), 24u);
    EXPECT_FLOAT_EQ(f32At(b, d + 12), 0.5f);
    EXPECT_FLOAT_EQ(f32At(b, d + 16), 0.75f);
    EXPECT_EQ(d + 24, b.size());
}

TEST(DffWriterConveniences, CubeFacesPointOutAndBinMeshCoversThem) {
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

    int chunks = 0;
    const auto box = write(makeBox("brick"));
    expectWellFormed(box, 0, box.size(), chunks);
    EXPECT_EQ(chunks, 26);
}

TEST(DffWriterClump, EveryFeatureNestsExactly) {
    Clump c = makeBox();
    c.frames[0].hAnim = HAnim{.boneId = 3, .nodes = {{3, 0, 0}, {4, 1, 2}}};
    c.frames[0].extension.items.push_back(frameNameChunk("second"));
    c.frames.push_back(Frame{.parent = 0});
    Geometry& g = c.geometries[0];
    g.extension.items.push_back(ExtraVertexColours{.colours = std::vector<Rgba>(24, Rgba{1, 2, 3, 4})});
    g.extension.items.push_back(Skin{.usedBones = {0}, .boneIndices = std::vector<std::array<uint8_t, 4>>(24),
                                     .weights = std::vector<std::array<float, 4>>(24),
                                     .inverseMatrices = std::vector<std::array<float, 16>>(2)});
    g.extension.items.push_back(rawChunk(ChunkType::Breakable, {0, 0, 0, 0}));
    g.materials[0].extension.items = {MaterialEffects{.envTexture = Texture{.name = "env"}}, UvAnimationRef{.name = "u"},
                                      SpecularMaterial{}, ReflectionMaterial{}};
    const auto b = write(File{{UvAnimDictionary{.animations = {{.name = "u", .keyFrames = {{}, {1.0f}}}}}, c}});
    int chunks = 0;
    expectWellFormed(b, 0, b.size(), chunks);
    EXPECT_EQ(chunks, 40);  // the environment texture inside the effects chunk is not walked
}
