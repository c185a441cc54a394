// The clump, frame, geometry and atomic readers, run directly on a buffer so
// that the tables they leave can be checked before any build consumes them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "host/scene.h"
#include "importer/Orvik.h"
#include "testkit/DffWriter.h"
#include "support/ImportHarness.h"

namespace {

// An importer holding the given bytes as DoImport would, cursor at 0.
struct LoadedImporter {
    Orvik importer;
    // The buffer is exactly the file's size, so that the sanitizers see a
    // read one byte past the end.
    explicit LoadedImporter(const std::vector<std::uint8_t>& bytes)
    {
        resetScene();
        importer.buffer.reset(new std::uint8_t[bytes.size()]);
        if (!bytes.empty()) std::memcpy(importer.buffer.get(), bytes.data(), bytes.size());
        importer.fileSize = static_cast<std::int64_t>(bytes.size());
        importer.coreInterface = GetCOREInterface();
    }
    Orvik* operator->() { return &importer; }
};

using dffw::namedFrame;

dffw::Clump clumpWithFrames(std::vector<dffw::Frame> frames)
{
    dffw::Clump clump;
    clump.frames = std::move(frames);
    return clump;
}

}  // namespace

TEST(ClumpReader, StructSizeFollowsTheStamp)
{
    // Early stamps: 4-byte struct, frame list at 28, no lights read even when counts follow.
    for (std::uint32_t stamp : {0x310u, 0x3FFFFu, 0x800FFFFu}) {
        dffw::Clump clump = clumpWithFrames({namedFrame("root")});
        clump.stamp = stamp;
        LoadedImporter loaded(dffw::write(clump));
        loaded->readClump();
        EXPECT_TRUE(loaded->clumpOk) << std::hex << stamp;
        EXPECT_EQ(loaded->frameNames, std::vector<std::string>{"root"});
        EXPECT_EQ(loaded->frameListAt, 28u);
    }
    // An early clump whose struct carries light and camera counts anyway: the
    // frame list is looked for 16 bytes after the struct header, and is not there.
    dffw::Clump longEarly = clumpWithFrames({namedFrame("root")});
    longEarly.stamp = 0x310;
    longEarly.longStruct = true;
    LoadedImporter loaded(dffw::write(longEarly));
    loaded->readClump();
    EXPECT_FALSE(loaded->clumpOk);

    dffw::Clump modern = clumpWithFrames({namedFrame("root")});
    LoadedImporter loadedModern(dffw::write(modern));
    loadedModern->readClump();
    EXPECT_EQ(loadedModern->frameListAt, 36u);
}

TEST(ClumpReader, LightsCamerasAndTheClumpEnd)
{
    dffw::Clump clump = clumpWithFrames({namedFrame("root"), namedFrame("lamp", 0), namedFrame("spare", 0)});
    clump.lights.push_back(dffw::Light{.frameIndex = 1, .radius = 5.0f});
    clump.lights.back().extension.present = false;         // next light's struct follows directly
    clump.lights.push_back(dffw::Light{.frameIndex = 7});  // no such frame: marks nothing
    clump.lights.push_back(dffw::Light{.frameIndex = 2});
    clump.cameras.resize(2);
    clump.extension.items.push_back(dffw::rawChunk(0x253F2FE, std::vector<std::uint8_t>(8, 0)));
    dffw::File file;
    file.units.push_back(clump);
    file.units.push_back(clumpWithFrames({namedFrame("next")}));
    const auto bytes = dffw::write(file);
    LoadedImporter loaded(bytes);
    loaded->readClump();
    ASSERT_FALSE(loaded->readFailed);
    EXPECT_EQ(loaded->frameRecord(0).link, kLinkNone);
    EXPECT_EQ(loaded->frameRecord(1).link, kLinkLight);
    EXPECT_EQ(loaded->frameRecord(2).link, kLinkLight);
    ASSERT_EQ(loaded->frameNodeTable[1].lightData.size(), 1u);
    EXPECT_FLOAT_EQ(loaded->frameNodeTable[1].lightData[0].radius, 5.0f);
    // The cursor lands behind the whole clump, its cameras and extension included.
    EXPECT_EQ(loaded->cursor, dffw::write(clump).size());
    EXPECT_TRUE(loaded->moreChunks);
}

TEST(ClumpReader, AtomicAndLightOnOneFrameMakeALightFrame)
{
    dffw::Clump clump = clumpWithFrames({namedFrame("both")});
    clump.geometries.push_back(dffw::makeQuad());
    clump.atomics.push_back(dffw::Atomic{.frameIndex = 0, .geometryIndex = 0});
    clump.lights.push_back(dffw::Light{.frameIndex = 0});
    LoadedImporter loaded(dffw::write(clump));
    loaded->readClump();
    EXPECT_EQ(loaded->frameRecord(0).link, kLinkLight);
}

TEST(ClumpReader, UvAnimationDictionaryPointsIntoTheBuffer)
{
    dffw::UvAnimDictionary dictionary;
    dffw::UvAnimation a;
    a.name = "a";
    a.keyFrames.resize(3);
    dffw::UvAnimation b;
    b.name = "b";
    b.keyFrames.resize(1);
    dictionary.animations = {a, b};
    dffw::File file;
    file.units.push_back(dictionary);
    file.units.push_back(clumpWithFrames({namedFrame("root")}));
    std::vector<dffw::ChunkOffset> offsets;
    const auto bytes = dffw::write(file, &offsets);
    std::vector<std::uint32_t> animations;
    for (const auto& o : offsets)
        if (o.type == dffw::ChunkType::Animation) animations.push_back(o.offset);
    ASSERT_EQ(animations.size(), 2u);

    LoadedImporter loaded(bytes);
    EXPECT_EQ(loaded->readClump(), 0u);
    ASSERT_EQ(loaded->uvAnimations.size(), 2u);
    const auto& keysA = loaded->uvAnimations.at("a");
    ASSERT_EQ(keysA.size(), 3u);
    EXPECT_EQ(loaded->offsetOf(keysA.address(0)), animations[0] + 100);
    EXPECT_EQ(loaded->offsetOf(keysA.address(1)), animations[0] + 132);
    EXPECT_EQ(loaded->offsetOf(keysA.address(2)), animations[0] + 164);
    ASSERT_EQ(loaded->uvAnimations.at("b").size(), 1u);
    EXPECT_EQ(loaded->offsetOf(loaded->uvAnimations.at("b").address(0)), animations[1] + 100);
    EXPECT_TRUE(loaded->clumpAt.has_value());
    EXPECT_EQ(loaded->frameNames, std::vector<std::string>{"root"});
}

TEST(ClumpReader, KeyFrameCountPastTheBufferFails)
{
    dffw::UvAnimDictionary dictionary;
    dffw::UvAnimation a;
    a.name = "a";
    a.keyFrames.resize(1);
    a.keyFrameCountOverride = 0x7FFFFFFF;
    dictionary.animations = {a};
    dffw::File file;
    file.units.push_back(dictionary);
    LoadedImporter loaded(dffw::write(file));
    loaded->readClump();
    EXPECT_TRUE(loaded->readFailed);
    EXPECT_TRUE(loaded->uvAnimations.empty());
}

TEST(FrameReader, NamesAndHAnimData)
{
    dffw::Frame unnamed;  // no name chunk
    dffw::Frame nul = namedFrame(std::string("wheel\0junk", 10), 0);
    dffw::Frame bone = namedFrame("bone", 0);
    bone.hAnim = dffw::HAnim{.boneId = 7, .nodes = {{7, 0, 0}, {8, 1, 2}}};
    dffw::Frame sameId = namedFrame("same", 0);
    sameId.hAnim = dffw::HAnim{.boneId = 7};  // node count 0: keeps the array above
    dffw::Frame empty = namedFrame("x", 0);
    empty.name.reset();
    empty.extension.present = true;
    dffw::Frame onlyHAnim;
    onlyHAnim.parent = 0;
    onlyHAnim.hAnim = dffw::HAnim{.boneId = 9};
    dffw::Frame twoNames = namedFrame("first", 0);
    twoNames.extension.items.push_back(dffw::frameNameChunk("second"));

    LoadedImporter loaded(dffw::write(clumpWithFrames({unnamed, nul, bone, sameId, empty, onlyHAnim, twoNames})));
    loaded->readClump();
    ASSERT_FALSE(loaded->readFailed);
    EXPECT_EQ(loaded->frameNames,
              (std::vector<std::string>{"NoName", "wheel", "bone", "same", "NoName", "NoName", "second"}));
    EXPECT_EQ(loaded->hAnimIdToFrame.at(7), 2u);
    EXPECT_EQ(loaded->hAnimIdToFrame.at(9), 5u);
    ASSERT_EQ(loaded->hAnimNodes.size(), 2u);
    EXPECT_EQ(loaded->hAnimNodes[1].boneId, 8);
    EXPECT_EQ(loaded->hAnimNodes[1].boneType, 2);
    for (std::uint32_t i = 0; i < 7; ++i) EXPECT_EQ(loaded->frameRecord(i).link, kLinkNone);
}

TEST(FrameReader, ExtensionWalkResumesAtEachSubChunksEnd)
{
    // An HAnim chunk longer than its node count says, an unknown sub-chunk,
    // and a node array that claims more nodes than the chunk holds.
    dffw::Frame first = namedFrame("first");
    // Holds two nodes but counts one: read by its count it would end 12 bytes early.
    first.hAnim = dffw::HAnim{.boneId = 1, .nodes = {{1, 0, 0}, {5, 1, 0}}, .nodeCountOverride = 1};
    first.extension.items.push_back(dffw::rawChunk(0x12345, std::vector<std::uint8_t>(10, 0xEE)));
    dffw::Frame second = namedFrame("second", 0);
    second.hAnim = dffw::HAnim{.boneId = 2, .nodes = {{2, 0, 0}, {3, 1, 0}}, .nodeCountOverride = 50};
    LoadedImporter loaded(dffw::write(clumpWithFrames({first, second, namedFrame("third", 0)})));
    loaded->readClump();
    ASSERT_FALSE(loaded->readFailed);
    EXPECT_EQ(loaded->frameNames, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(loaded->hAnimNodes.size(), 2u);  // the nodes the chunk holds, not 50
}

TEST(FrameReader, FrameCountPastTheBufferAllocatesNothing)
{
    dffw::Clump clump = clumpWithFrames({namedFrame("a")});
    clump.frameCountOverride = 0xFFFFFFFF;
    LoadedImporter loaded(dffw::write(clump));
    loaded->readClump();
    EXPECT_TRUE(loaded->readFailed);
    EXPECT_TRUE(loaded->frameNodeTable.empty());
    EXPECT_TRUE(loaded->frameNames.empty());
}

TEST(GeometryReader, BlocksFollowStampAndFormat)
{
    // Surface properties only under the older stamps; the positions land right either way.
    for (std::uint32_t stamp : {0x0C02FFFFu, 0x1003FFFFu, 0x1803FFFFu, 0x310u}) {
        dffw::Clump clump = clumpWithFrames({namedFrame("root")});
        clump.stamp = stamp;
        clump.geometries.push_back(dffw::makeQuad(2.0f));
        clump.geometries.back().prelit.assign(4, dffw::Rgba{1, 2, 3, 4});
        clump.atomics.push_back(dffw::Atomic{});
        const Scene& scene = importBytes(dffw::write(clump));
        ASSERT_EQ(scene.meshes.size(), 1u) << std::hex << stamp;
        const Mesh& mesh = scene.meshes[0]->mesh;
        ASSERT_EQ(mesh.numVerts, 4);
        EXPECT_EQ(mesh.numFaces, 2);
        const auto& expected = clump.geometries[0].positions;
        for (int k = 0; k < 4; ++k) {
            EXPECT_FLOAT_EQ(mesh.verts[k].x, expected[k][0]) << std::hex << stamp;
            EXPECT_FLOAT_EQ(mesh.verts[k].y, expected[k][1]);
        }
        EXPECT_TRUE(mesh.mapSupport(0));
        EXPECT_TRUE(mesh.mapSupport(1));
    }
}

TEST(GeometryReader, TextureSetsFromTheFlagsWhenTheCountByteIsZero)
{
    // The 3.1 library left the count byte 0 and derived the sets from the
    // flags; a non-zero byte is the count whatever the flags say.
    struct Case {
        std::uint32_t flags;      // textured bits of the format word
        std::uint32_t countByte;  // bits 16 to 23
        std::size_t sets;         // sets written and expected
    };
    for (const Case c :
         {Case{0x04, 0, 1}, Case{0x80, 0, 2}, Case{0x84, 0, 2}, Case{0, 0, 0}, Case{0x80, 1, 1}, Case{0x04, 2, 2}}) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " byte " << c.countByte);
        dffw::Clump clump = clumpWithFrames({namedFrame("root")});
        clump.stamp = 0x310;
        dffw::Geometry quad = dffw::makeQuad();
        quad.texCoords.assign(c.sets, {});
        for (std::size_t s = 0; s < c.sets; ++s)
            for (int k = 0; k < 4; ++k) quad.texCoords[s].push_back({0.125f * float(k), 0.5f + 0.25f * float(s)});
        quad.formatOverride = (quad.format() & ~0x00FF0084u) | c.flags | (c.countByte << 16);
        clump.geometries.push_back(quad);
        clump.atomics.push_back(dffw::Atomic{});
        const Scene& scene = importBytes(dffw::write(clump));
        ASSERT_EQ(scene.meshes.size(), 1u);
        Mesh& mesh = scene.meshes[0]->mesh;
        EXPECT_EQ(mesh.numFaces, 2);
        EXPECT_FLOAT_EQ(mesh.verts[2].x, quad.positions[2][0]);
        EXPECT_FLOAT_EQ(mesh.verts[2].y, quad.positions[2][1]);
        for (std::size_t s = 1; s <= 3; ++s) {
            const int ch = static_cast<int>(s);
            ASSERT_EQ(mesh.mapSupport(ch), s <= c.sets) << ch;
            if (s > c.sets) continue;
            EXPECT_FLOAT_EQ(mesh.mapVerts(ch)[3].x, 0.375f);
            EXPECT_FLOAT_EQ(mesh.mapVerts(ch)[3].y, 0.5f - 0.25f * float(s - 1));  // v flipped
        }
    }
}

TEST(GeometryReader, CountsPastTheBufferAreRefusedBeforeAllocating)
{
    dffw::Clump clump = clumpWithFrames({namedFrame("root")});
    clump.geometries.push_back(dffw::makeQuad());
    clump.geometries.back().vertexCountOverride = 0xFFFFFFFF;
    clump.atomics.push_back(dffw::Atomic{});
    dffw::File file;
    file.units.push_back(clumpWithFrames({namedFrame("before")}));
    file.units.push_back(clump);
    const Scene& scene = importBytes(dffw::write(file));
    EXPECT_TRUE(scene.meshes.empty());
    ASSERT_EQ(scene.nodes.size(), 1u);
    EXPECT_STREQ(scene.nodes[0]->GetName(), "before");

    for (int which = 0; which < 2; ++which) {
        dffw::Clump c = clumpWithFrames({namedFrame("root")});
        if (which == 0) c.geometryCountOverride = 0x7FFFFFFF;
        if (which == 1) c.atomicCountOverride = 0xFFFFFFFF;
        LoadedImporter loaded(dffw::write(c));
        loaded->readClump();
        EXPECT_TRUE(loaded->readFailed);
        EXPECT_TRUE(loaded->atomicTable.empty());
    }
}

TEST(GeometryReader, SkinRecordsAndTheSkinnedFlag)
{
    auto skinnedQuad = [](std::uint8_t firstBone) {
        dffw::Geometry quad = dffw::makeQuad();
        dffw::Skin skin;
        skin.usedBones = {0, 1};
        skin.boneIndices.assign(4, {firstBone, 1, 0, 0});
        skin.weights.assign(4, {0.75f, 0.25f, 0, 0});
        skin.inverseMatrices.resize(2);
        for (std::size_t b = 0; b < 2; ++b)
            for (std::size_t i = 0; i < 16; ++i) skin.inverseMatrices[b][i] = float(100 * b + i);
        quad.extension.items.push_back(skin);
        return quad;
    };
    dffw::Clump clump = clumpWithFrames({namedFrame("root"), namedFrame("bone", 0)});
    clump.geometries.push_back(skinnedQuad(0));
    clump.geometries.back().extension.items.push_back(skinnedQuad(1).extension.items[0]);  // second skin: ignored
    clump.geometries.push_back(dffw::makeQuad());
    dffw::Geometry marked = skinnedQuad(0);
    // The older layout: no maximum weight count, a marker before each matrix.
    std::get<dffw::Skin>(marked.extension.items[0]).matrixMarker = 0xDEADDEAD;
    std::get<dffw::Skin>(marked.extension.items[0]).maxWeights = 0;
    clump.geometries.push_back(marked);
    dffw::Geometry lying = skinnedQuad(0);
    lying.extension.items[0] = [&] {
        dffw::Skin s = std::get<dffw::Skin>(lying.extension.items[0]);
        s.head.size = 20;  // cannot hold four vertices' indices and weights
        return dffw::GeometryExtItem(s);
    }();
    clump.geometries.push_back(lying);
    LoadedImporter loaded(dffw::write(clump));
    loaded->readClump();
    ASSERT_FALSE(loaded->readFailed);
    EXPECT_TRUE(loaded->skinned);
    ASSERT_EQ(loaded->skinTable.size(), 2u);
    const SkinRecord& first = loaded->skinTable.at(0);
    EXPECT_EQ(first.weights.size(), 4u);
    EXPECT_EQ(first.boneIndices[0].index[0], 0);  // the first skin chunk's data
    EXPECT_FLOAT_EQ(first.weights[0].weight[1], 0.25f);
    EXPECT_EQ(loaded->skinTable.count(2), 1u);
    EXPECT_EQ(loaded->skinTable.count(3), 0u);
    // Both layouts give the inverse matrices as written.
    for (const std::uint32_t g : {0u, 2u}) {
        SCOPED_TRACE(g);
        const SkinRecord& r = loaded->skinTable.at(g);
        ASSERT_EQ(r.inverseBoneMatrices.size(), 2u);
        EXPECT_EQ(r.inverseBoneMatrices.address(1) - r.inverseBoneMatrices.address(0), g == 0 ? 64 : 68);
        for (std::uint32_t b = 0; b < 2; ++b)
            for (std::uint32_t i = 0; i < 16; ++i) {
                EXPECT_EQ(loadF32(r.inverseBoneMatrices.address(b) + 4 * i), float(100 * b + i));
                if (i % 4 != 3) {
                    EXPECT_EQ(r.inverseBoneMatrices[b].rows[i / 4][i % 4], float(100 * b + i));
                }
            }
    }
    EXPECT_EQ(loaded->geometryCount(), 4u);
}

TEST(AtomicReader, LinksAndTrailingExtensions)
{
    dffw::Clump clump = clumpWithFrames({namedFrame("root"), namedFrame("child", 0)});
    clump.geometries = {dffw::makeQuad(), dffw::makeQuad()};
    clump.atomics.push_back(dffw::Atomic{.frameIndex = 1, .geometryIndex = 0});
    clump.atomics.push_back(dffw::Atomic{.frameIndex = 1, .geometryIndex = 1});  // later wins
    clump.atomics.push_back(dffw::Atomic{.frameIndex = 9, .geometryIndex = 0});  // no such frame
    clump.atomics.push_back(dffw::Atomic{.frameIndex = 0, .geometryIndex = 5});  // no such geometry
    clump.atomics.back().extension.head.stamp = 0x1234;                          // not an accepted stamp: left in place
    LoadedImporter loaded(dffw::write(clump));
    loaded->readClump();
    ASSERT_FALSE(loaded->readFailed);
    EXPECT_EQ(loaded->frameRecord(0).link, kLinkNone);
    EXPECT_EQ(loaded->frameRecord(1).link, 1);
    ASSERT_EQ(loaded->atomicCount(), 4u);
    EXPECT_FALSE(loaded->atomicTable[0].empty());
    EXPECT_FALSE(loaded->atomicTable[1].empty());
    EXPECT_TRUE(loaded->atomicTable[2].empty());
    EXPECT_TRUE(loaded->atomicTable[3].empty());
    EXPECT_EQ(loaded->atomicTable[1][0].frameIndex, 1u);
    EXPECT_EQ(loaded->atomicTable[1][0].geometryIndex, 1u);
}

TEST(GeometryReader, EmptyGeometryListStillReadsAtomics)
{
    dffw::Clump clump = clumpWithFrames({namedFrame("root")});
    clump.atomics.push_back(dffw::Atomic{.frameIndex = 0, .geometryIndex = 0});
    LoadedImporter loaded(dffw::write(clump));
    loaded->readClump();
    ASSERT_FALSE(loaded->readFailed);
    EXPECT_EQ(loaded->geometryCount(), 0u);
    ASSERT_EQ(loaded->atomicCount(), 1u);
    EXPECT_TRUE(loaded->atomicTable[0].empty());  // names a geometry the clump lacks
    EXPECT_EQ(loaded->frameRecord(0).link, kLinkNone);
}

namespace {
// Frame count of the first clump of a sample, read independently of the importer.
std::uint32_t firstClumpFrameCount(const std::vector<std::uint8_t>& bytes)
{
    const std::uint32_t stamp = loadU32(bytes.data() + 8);
    const std::size_t frameList = isEarlyStamp(stamp) ? 28 : 36;
    return loadU32(bytes.data() + frameList + 24);
}
}  // namespace

TEST(Samples, EveryFrameBecomesANode)
{
    ORVIK_REQUIRE_SAMPLES();
    for (const std::string& path : sampleDffFiles()) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        const Scene& scene = importFile(path);
        const std::uint32_t frames = firstClumpFrameCount(bytes);
        std::size_t meshNodes = 0, extras = 0;
        for (const INode* node : scene.nodes) {
            // The collision (hidden, not rendered) and the 2d effects stand on no frame.
            MSTR kind;
            if ((node->IsHidden() && !node->Renderable()) || node->GetUserPropString("effect", kind)) {
                ++extras;
                continue;
            }
            if (node->GetObjectRef() && node->GetObjectRef()->SuperClassID() == GEOMOBJECT_CLASS_ID) ++meshNodes;
        }
        const bool skinnedFile = !scene.modifiers.empty();
        EXPECT_EQ(scene.nodes.size(), frames + (skinnedFile ? meshNodes : 0) + extras) << path;
        EXPECT_FALSE(scene.meshes.empty()) << path;
        EXPECT_GT(meshNodes, 0u) << path;
    }
}

TEST(ChunkView, FirstFailedReadIsRecordedAndEveryLaterReadGivesZero)
{
    const std::vector<std::uint8_t> bytes = {1, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 'e', 2, 0};
    ReadFailure failure;
    ChunkView view(bytes.data(), bytes.size(), 0, 10, failure, "geometry", 3);
    EXPECT_EQ(view.u32(0), 1u);
    EXPECT_EQ(view.text(4, 4), "ab");         // up to the NUL
    EXPECT_EQ(view.textWithin(7, 8), "cde");  // only what the view holds
    EXPECT_TRUE(view.holds(6, 4));
    EXPECT_FALSE(view.holds(7, 4));
    EXPECT_FALSE(failure.failed);

    EXPECT_EQ(view.u16(9), 0u);  // one byte of it lies past the view's end
    ASSERT_TRUE(failure.failed);
    EXPECT_EQ(failure.offset, 9u);
    EXPECT_EQ(failure.reason, "geometry 3 at 0x0 needs 2 bytes at 0x9, 1 is left");
    // Sticky: reads inside this view and any other view give zero and keep the first reason.
    EXPECT_EQ(view.u32(0), 0u);
    EXPECT_EQ(view.text(4, 2), "");
    ChunkView other(bytes.data(), bytes.size(), 8, 12, failure, "atomic");
    EXPECT_EQ(other.u16(2), 0u);
    EXPECT_EQ(failure.reason, "geometry 3 at 0x0 needs 2 bytes at 0x9, 1 is left");
}

TEST(ChunkView, CountsAreHeldToTheBytesLeftWithoutOverflow)
{
    const std::vector<std::uint8_t> bytes(100, 0);
    ReadFailure failure;
    ChunkView view(bytes.data(), bytes.size(), 20, 1000, failure, "the frame list");
    EXPECT_EQ(view.size(), 80u);  // a view never reaches past the buffer
    EXPECT_TRUE(view.needCount(8, 18, 4, "frames"));
    EXPECT_FALSE(failure.failed);
    // 0x40000001 x 4 wraps to 4 in 32 bits; the check must not multiply.
    EXPECT_FALSE(view.needCount(8, 0x40000001u, 4, "frames"));
    EXPECT_EQ(failure.reason, "the frame list at 0x14 declares 1,073,741,825 frames, 72 bytes are left");
    EXPECT_EQ(failure.offset, 28u);
}
