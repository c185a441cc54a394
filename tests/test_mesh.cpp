// Mesh construction, end to end: DFF bytes from the test writer are imported
// into the stand-in host and the finished editable meshes are inspected.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/ImportHarness.h"

namespace {

using dffw::BinMesh;
using dffw::BinMeshSplit;
using dffw::Geometry;
using dffw::Triangle;

constexpr std::uint32_t kFirstBinMeshTriangleCount = 65536;

// Vertex k of a test geometry sits at x = k, so that the file vertex of a
// corner can be told after isolated vertices are removed and the others
// renumbered.
std::vector<dffw::Vec3> numberedPositions(std::size_t count)
{
    std::vector<dffw::Vec3> positions;
    for (std::size_t k = 0; k < count; ++k) {
        positions.push_back({static_cast<float>(k), static_cast<float>(k % 3), 0.5f * static_cast<float>(k % 5)});
    }
    return positions;
}

Geometry recordGeometry(std::size_t vertexCount, std::vector<Triangle> triangles)
{
    Geometry g;
    g.positions = numberedPositions(vertexCount);
    g.triangles = std::move(triangles);
    g.materials.resize(8);
    return g;
}

// A geometry whose triangle count is past what triangle records carry, so
// that its faces come from the bin mesh.
Geometry binMeshGeometry(std::size_t vertexCount, BinMesh binMesh)
{
    Geometry g = recordGeometry(vertexCount, std::vector<Triangle>(kFirstBinMeshTriangleCount));
    g.extension.items.push_back(std::move(binMesh));
    return g;
}

BinMesh strips(std::vector<BinMeshSplit> splits)
{
    BinMesh b;
    b.mode = BinMesh::Strip;
    b.splits = std::move(splits);
    return b;
}

BinMesh lists(std::vector<BinMeshSplit> splits)
{
    BinMesh b;
    b.mode = BinMesh::List;
    b.splits = std::move(splits);
    return b;
}

// Imports one clump holding the geometries, each on its own frame, and gives
// the mesh of geometry `index` (null when the import made no such mesh).
const Mesh* importMesh(std::vector<Geometry> geometries, std::size_t index = 0)
{
    dffw::Clump clump;
    for (std::size_t i = 0; i < geometries.size(); ++i) {
        clump.frames.push_back(dffw::namedFrame("part" + std::to_string(i)));
        clump.atomics.push_back(dffw::atomic(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i)));
    }
    clump.geometries = std::move(geometries);
    Scene& scene = importBytes(dffw::write(clump));
    if (index >= scene.meshes.size() || scene.meshes[index] == nullptr) return nullptr;
    return &scene.meshes[index]->mesh;
}

const Mesh* importMesh(Geometry geometry)
{
    std::vector<Geometry> one;
    one.push_back(std::move(geometry));
    return importMesh(std::move(one));
}

using Corners = std::array<int, 3>;

// The file vertices at the corners of face f.
Corners fileCorners(const Mesh& mesh, int f)
{
    Corners c{};
    for (int k = 0; k < 3; ++k) c[k] = static_cast<int>(std::lround(mesh.verts[mesh.faces[f].v[k]].x));
    return c;
}

std::vector<Corners> allFileCorners(const Mesh& mesh)
{
    std::vector<Corners> corners;
    for (int f = 0; f < mesh.numFaces; ++f) corners.push_back(fileCorners(mesh, f));
    return corners;
}

std::vector<int> materialIds(const Mesh& mesh)
{
    std::vector<int> ids;
    for (int f = 0; f < mesh.numFaces; ++f) ids.push_back(mesh.faces[f].getMatID());
    return ids;
}

// Every map face of the channel carries its face's corners.
void expectChannelFollowsFaces(const Mesh& mesh, int channel)
{
    ASSERT_TRUE(mesh.mapSupport(channel)) << "channel " << channel;
    const MeshMap& map = mesh.Map(channel);
    ASSERT_EQ(map.getNumFaces(), mesh.numFaces) << "channel " << channel;
    for (int f = 0; f < mesh.numFaces; ++f) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(map.tf[f].t[k], mesh.faces[f].v[k]) << "channel " << channel << " face " << f;
        }
    }
}

void expectPoint(const Point3& actual, float x, float y, float z, const std::string& what)
{
    EXPECT_FLOAT_EQ(actual.x, x) << what;
    EXPECT_FLOAT_EQ(actual.y, y) << what;
    EXPECT_FLOAT_EQ(actual.z, z) << what;
}

}  // namespace

TEST(MeshFromRecords, CornersMaterialsEdgesAndSmoothing)
{
    // The record (5, 6, 2, 7) holds the second corner first: corners (6, 5, 7), material 2.
    const Mesh* mesh = importMesh(
        recordGeometry(8, {Triangle::corners(0, 1, 2, 0), Triangle::corners(2, 3, 4, 1), Triangle{5, 6, 2, 7}}));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numVerts, 8);
    ASSERT_EQ(mesh->numFaces, 3);
    const std::vector<Corners> expected{{0, 1, 2}, {2, 3, 4}, {6, 5, 7}};
    EXPECT_EQ(allFileCorners(*mesh), expected);
    EXPECT_EQ(mesh->faces[2].v[0], 6u);
    EXPECT_EQ(mesh->faces[2].v[1], 5u);
    EXPECT_EQ(mesh->faces[2].v[2], 7u);
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{0, 1, 2}));
    for (int f = 0; f < mesh->numFaces; ++f) {
        EXPECT_EQ(mesh->faces[f].smGroup, 1u);
        for (int e = 0; e < 3; ++e) EXPECT_EQ(mesh->faces[f].getEdgeVis(e), 1) << f;
    }
    const std::vector<dffw::Vec3> positions = numberedPositions(8);
    for (int k = 0; k < 8; ++k) {
        expectPoint(mesh->verts[k], positions[k][0], positions[k][1], positions[k][2], "vertex " + std::to_string(k));
    }
}

TEST(MeshFromRecords, FaceNamingAMissingVertexIsLeftOut)
{
    // Four vertices: indices 4 and 9 do not exist. The other faces keep their
    // order, and every channel's map faces stay in step with the faces.
    Geometry g = recordGeometry(4, {Triangle::corners(0, 1, 2, 1), Triangle::corners(0, 4, 1, 2),
                                    Triangle::corners(9, 1, 2, 3), Triangle::corners(1, 2, 3, 4)});
    g.prelit.assign(4, {1, 2, 3, 4});
    g.texCoords.assign(1, std::vector<std::array<float, 2>>(4, {0.5f, 0.5f}));
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 2);
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{0, 1, 2}, {1, 2, 3}}));
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{1, 4}));
    for (int channel : {MAP_ALPHA, 0, 1}) expectChannelFollowsFaces(*mesh, channel);
}

TEST(MeshChannels, PrelitColoursAndAlphaFlags)
{
    Geometry g = recordGeometry(3, {Triangle::corners(0, 1, 2)});
    g.prelit = {{10, 20, 30, 255}, {1, 2, 3, 254}, {4, 5, 6, 128}};
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->getNumMapVerts(0), 3);
    ASSERT_EQ(mesh->getNumMapVerts(MAP_ALPHA), 3);
    const MeshMap& colour = mesh->Map(0);
    const MeshMap& alpha = mesh->Map(MAP_ALPHA);
    expectPoint(colour.tv[0], 10 / 255.0f, 20 / 255.0f, 30 / 255.0f, "colour 0");
    expectPoint(colour.tv[1], 1 / 255.0f, 2 / 255.0f, 3 / 255.0f, "colour 1");
    expectPoint(alpha.tv[0], 1.0f, 1.0f, 1.0f, "alpha 255");
    expectPoint(alpha.tv[1], 254 / 255.0f, 0.0f, 0.0f, "alpha 254");
    expectPoint(alpha.tv[2], 128 / 255.0f, 0.0f, 0.0f, "alpha 128");
    expectChannelFollowsFaces(*mesh, 0);
    expectChannelFollowsFaces(*mesh, MAP_ALPHA);
    EXPECT_FALSE(mesh->mapSupport(1));
    EXPECT_FALSE(mesh->mapSupport(MAP_SHADING));
}

TEST(MeshChannels, TextureCoordinatesFlipVOneChannelPerSet)
{
    // Two sets over four vertices: channel 2 takes pairs 4 to 7 of the block.
    Geometry g = recordGeometry(4, {Triangle::corners(0, 1, 2), Triangle::corners(0, 2, 3)});
    g.texCoords = {{{0.3f, 0.25f}, {1.0f, 0.0f}, {0.0f, 1.0f}, {-2.0f, 3.0f}},
                   {{0.125f, 0.5f}, {0.75f, 0.625f}, {0.25f, 2.0f}, {5.0f, -1.0f}}};
    const std::vector<std::vector<std::array<float, 2>>> sets = g.texCoords;
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    for (int s = 1; s <= 2; ++s) {
        ASSERT_EQ(mesh->getNumMapVerts(s), 4) << s;
        for (int k = 0; k < 4; ++k) {
            const auto& uv = sets[static_cast<std::size_t>(s - 1)][static_cast<std::size_t>(k)];
            expectPoint(mesh->Map(s).tv[k], uv[0], 1.0f - uv[1], 0.0f,
                        "set " + std::to_string(s) + " vertex " + std::to_string(k));
        }
        expectChannelFollowsFaces(*mesh, s);
    }
    expectPoint(mesh->Map(1).tv[0], 0.3f, 0.75f, 0.0f, "(0.3, 0.25)");
    EXPECT_FALSE(mesh->mapSupport(3));
    EXPECT_FALSE(mesh->mapSupport(0));
}

TEST(MeshChannels, ExtraColoursFillShadingAndReplaceChannelThree)
{
    // With three texture sets, channel 3 ends up holding the extra colours' alpha.
    Geometry g = recordGeometry(3, {Triangle::corners(0, 1, 2), Triangle::corners(2, 1, 0)});
    g.texCoords.assign(3, std::vector<std::array<float, 2>>(3, {0.5f, 0.25f}));
    g.extension.items.push_back(
        dffw::ExtraVertexColours{.colours = {{51, 102, 153, 255}, {0, 0, 0, 0}, {255, 255, 255, 17}}});
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->getNumMapVerts(MAP_SHADING), 3);
    ASSERT_EQ(mesh->getNumMapVerts(3), 3);
    expectPoint(mesh->Map(MAP_SHADING).tv[0], 0.2f, 0.4f, 0.6f, "shading 0");
    expectPoint(mesh->Map(MAP_SHADING).tv[2], 1.0f, 1.0f, 1.0f, "shading 2");
    expectPoint(mesh->Map(3).tv[0], 1.0f, 1.0f, 1.0f, "alpha 255");
    expectPoint(mesh->Map(3).tv[1], 0.0f, 0.0f, 0.0f, "alpha 0");
    expectPoint(mesh->Map(3).tv[2], 17 / 255.0f, 0.0f, 0.0f, "alpha 17");
    expectPoint(mesh->Map(2).tv[1], 0.5f, 0.75f, 0.0f, "channel 2 untouched");
    for (int channel : {MAP_SHADING, 1, 2, 3}) expectChannelFollowsFaces(*mesh, channel);
}

TEST(MeshChannels, ExtraColourChunkTooShortForTheVerticesIsLeftOut)
{
    Geometry g = recordGeometry(3, {Triangle::corners(0, 1, 2)});
    g.extension.items.push_back(dffw::ExtraVertexColours{.colours = {{1, 2, 3, 4}, {5, 6, 7, 8}}});
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    EXPECT_FALSE(mesh->mapSupport(MAP_SHADING));
    EXPECT_EQ(mesh->numFaces, 1);
}

TEST(BinMeshStrips, WindowsKeepTheirOrderAndSkipDegenerates)
{
    // (5,6,7,8): two faces, the second not reversed; a split of two gives no
    // face and the next split is read right behind it; (1,2,2,3,4) gives only
    // (2,3,4). Material index 0x10002 is material 2.
    const Mesh* mesh =
        importMesh(binMeshGeometry(10, strips({{0x10002, {5, 6, 7, 8}}, {1, {0, 9}}, {3, {1, 2, 2, 3, 4}}})));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{5, 6, 7}, {6, 7, 8}, {2, 3, 4}}));
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{2, 2, 3}));
    for (int f = 0; f < mesh->numFaces; ++f) {
        EXPECT_EQ(mesh->faces[f].smGroup, 1u);
        for (int e = 0; e < 3; ++e) EXPECT_EQ(mesh->faces[f].getEdgeVis(e), 1);
    }
    // Vertices 0, 1 and 9 are in no face and are gone.
    EXPECT_EQ(mesh->numVerts, 7);
}

TEST(BinMeshStrips, SingleSplitOfOneTriangleCutsTheReservedFaces)
{
    Geometry g = binMeshGeometry(5, strips({{0, {1, 2, 2, 3, 4}}}));
    g.texCoords.assign(1, std::vector<std::array<float, 2>>(5, {0.0f, 0.0f}));
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 1);
    EXPECT_EQ(fileCorners(*mesh, 0), (Corners{2, 3, 4}));
    expectChannelFollowsFaces(*mesh, 1);
}

TEST(BinMeshStrips, SplitsOfFewerThanThreeIndicesAreSteppedOver)
{
    const Mesh* mesh = importMesh(binMeshGeometry(5, strips({{1, {}}, {1, {4}}, {5, {0, 1, 2, 3}}, {1, {3, 4}}})));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{0, 1, 2}, {1, 2, 3}}));
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{5, 5}));
}

TEST(BinMeshLists, CompleteTriplesBecomeFaces)
{
    // Six indices give two faces; a triple with two equal indices is still a
    // face; a split of seven indices gives two faces and the next split is
    // read behind all seven.
    Geometry g =
        binMeshGeometry(8,
                        lists({{1, {0, 1, 2, 2, 3, 4}}, {2, {1, 1, 3}}, {4, {0, 2, 4, 1, 3, 4, 5}}, {6, {5, 6, 7}}}));
    g.prelit.assign(8, {9, 9, 9, 9});
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(allFileCorners(*mesh),
              (std::vector<Corners>{{0, 1, 2}, {2, 3, 4}, {1, 1, 3}, {0, 2, 4}, {1, 3, 4}, {5, 6, 7}}));
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{1, 1, 2, 4, 4, 6}));
    expectChannelFollowsFaces(*mesh, 0);
    expectChannelFollowsFaces(*mesh, MAP_ALPHA);
}

TEST(BinMeshBounds, TriangleNamingAMissingVertexIsLeftOut)
{
    const Mesh* strip = importMesh(binMeshGeometry(5, strips({{0, {0, 1, 2, 50, 3, 4}}, {0, {2, 3, 5}}})));
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(allFileCorners(*strip), (std::vector<Corners>{{0, 1, 2}}));

    const Mesh* list = importMesh(binMeshGeometry(5, lists({{0, {0, 1, 2, 3, 4, 5, 2, 3, 4}}})));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(allFileCorners(*list), (std::vector<Corners>{{0, 1, 2}, {2, 3, 4}}));
}

TEST(BinMeshBounds, SplitPastTheChunkOrTheTotalEndsTheWalk)
{
    // The second split claims 1000 indices where the chunk holds three.
    BinMesh pastChunk = strips({{1, {0, 1, 2, 3}}, {2, {2, 3, 4}}, {3, {1, 2, 3}}});
    pastChunk.splits[1].indexCountOverride = 1000;
    const Mesh* mesh = importMesh(binMeshGeometry(5, pastChunk));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{0, 1, 2}, {1, 2, 3}}));

    // The header's total covers the first split only: nothing past it is made,
    // so no face lands beyond the reserved count.
    BinMesh pastTotal = lists({{1, {0, 1, 2}}, {2, {2, 3, 4}}});
    pastTotal.totalIndexCountOverride = 3;
    mesh = importMesh(binMeshGeometry(5, pastTotal));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{0, 1, 2}}));

    BinMesh tooSmallTotal = strips({{1, {0, 1, 2, 3}}});
    tooSmallTotal.totalIndexCountOverride = 1;
    mesh = importMesh(binMeshGeometry(5, tooSmallTotal));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->numFaces, 0);
}

TEST(BinMeshBounds, HugeTotalInATinyChunkSizesNothingHuge)
{
    // Sizing the faces from these totals would take gigabytes.
    for (std::uint32_t total : {0xFFFFFFFFu, 0x3FFFFFFFu, 0x7FFFFFF0u}) {
        for (std::uint32_t mode : {BinMesh::Strip, BinMesh::List}) {
            BinMesh b = mode == BinMesh::Strip ? strips({{1, {0, 1, 2, 3}}}) : lists({{1, {0, 1, 2, 1, 3, 2}}});
            b.totalIndexCountOverride = total;
            const Mesh* mesh = importMesh(binMeshGeometry(4, b));
            ASSERT_NE(mesh, nullptr) << total;
            EXPECT_EQ(mesh->numFaces, 2) << std::hex << total << " mode " << mode;
        }
    }
}

TEST(BinMeshExtraColours, ChunkAfterTheBinMeshMapsEveryFace)
{
    Geometry g = binMeshGeometry(5, strips({{0, {0, 1, 2, 3, 4}}}));
    g.extension.items.push_back(dffw::ExtraVertexColours{.colours = std::vector<dffw::Rgba>(5, {255, 0, 0, 255})});
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 3);
    expectChannelFollowsFaces(*mesh, MAP_SHADING);
    expectChannelFollowsFaces(*mesh, 3);
}

TEST(BinMeshExtraColours, ChunkBeforeTheBinMeshLeavesLaterFacesUnmapped)
{
    // The colours map the faces that exist when their chunk is read: none.
    Geometry g = binMeshGeometry(5, strips({{0, {0, 1, 2, 3, 4}}}));
    g.extension.items.insert(g.extension.items.begin(),
                             dffw::ExtraVertexColours{.colours = std::vector<dffw::Rgba>(5, {255, 0, 0, 255})});
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 3);
    for (int channel : {MAP_SHADING, 3}) {
        ASSERT_TRUE(mesh->mapSupport(channel));
        const MeshMap& map = mesh->Map(channel);
        ASSERT_EQ(map.getNumFaces(), 3);
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(map.tf[f].t[0] | map.tf[f].t[1] | map.tf[f].t[2], 0u) << channel << " face " << f;
        }
    }
}

namespace {

dffw::Vec3 fileNormal(std::size_t k)
{
    return {0.25f * static_cast<float>(k), -1.0f, 0.5f + static_cast<float>(k % 2)};
}

std::vector<dffw::Vec3> fileNormals(std::size_t count)
{
    std::vector<dffw::Vec3> normals;
    for (std::size_t k = 0; k < count; ++k) normals.push_back(fileNormal(k));
    return normals;
}

void expectCornerNormalsFromFile(const Mesh& mesh)
{
    const MeshNormalSpec* spec = mesh.GetSpecifiedNormals();
    ASSERT_NE(spec, nullptr);
    EXPECT_TRUE(spec->GetFlag(MESH_NORMAL_MODIFIER_SUPPORT));
    ASSERT_EQ(spec->GetNumFaces(), mesh.numFaces);
    for (int f = 0; f < mesh.numFaces; ++f) {
        const Corners corners = fileCorners(mesh, f);
        for (int c = 0; c < 3; ++c) {
            const int id = spec->Face(f).GetNormalID(c);
            ASSERT_GE(id, 0);
            ASSERT_LT(id, spec->GetNumNormals());
            EXPECT_TRUE(spec->GetNormalExplicit(id));
            const dffw::Vec3 n = fileNormal(static_cast<std::size_t>(corners[c]));
            expectPoint(spec->Normal(id), n[0], n[1], n[2],
                        "face " + std::to_string(f) + " corner " + std::to_string(c));
        }
    }
}

}  // namespace

TEST(MeshNormals, CornersShowTheFileNormalOfTheirVertex)
{
    Geometry g =
        recordGeometry(5, {Triangle::corners(0, 1, 2), Triangle::corners(2, 1, 3), Triangle::corners(3, 4, 2)});
    g.normals = fileNormals(5);
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 3);
    expectCornerNormalsFromFile(*mesh);
}

TEST(MeshNormals, AppliedToFacesFromTheBinMesh)
{
    // Vertex 0 is in no face, so every vertex after it is renumbered.
    Geometry g = binMeshGeometry(7, strips({{0, {1, 2, 3, 4, 5, 6}}, {1, {6, 5, 1}}}));
    g.normals = fileNormals(7);
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 5);
    EXPECT_EQ(mesh->numVerts, 6);
    expectCornerNormalsFromFile(*mesh);
}

TEST(FinishMesh, IsolatedVerticesAreRemovedFacesAndChannelsRenumbered)
{
    Geometry g = recordGeometry(5, {Triangle::corners(0, 1, 4), Triangle::corners(1, 2, 4)});
    std::vector<std::array<float, 2>> uvs;
    for (int k = 0; k < 5; ++k) uvs.push_back({0.125f * static_cast<float>(k), 0.0f});
    g.texCoords = {uvs};
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numVerts, 4);
    EXPECT_EQ(mesh->faces[0].v[2], 3u);
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{0, 1, 4}, {1, 2, 4}}));
    ASSERT_EQ(mesh->getNumMapVerts(1), 4);
    // Each corner's map vertex still holds its file vertex's coordinates.
    const MeshMap& uv = mesh->Map(1);
    for (int f = 0; f < mesh->numFaces; ++f) {
        const Corners corners = fileCorners(*mesh, f);
        for (int c = 0; c < 3; ++c) {
            EXPECT_FLOAT_EQ(uv.tv[uv.tf[f].t[c]].x, 0.125f * static_cast<float>(corners[c]));
        }
    }
    EXPECT_EQ(mesh->getNumEdges(), 5);
}

TEST(BinMeshMaterials, FacesFromRecordsTakeTheirSplitsMaterial)
{
    // Records all carry material 0 but one; the faces keep their corners and
    // order and take the material of the split triangle with the same corners:
    // the same winding first (a double-sided pair gets one material per side),
    // else any order. A face no split holds keeps its record's id.
    Geometry g = recordGeometry(6, {Triangle::corners(1, 2, 0),     // rotation of (0,1,2): 1
                                    Triangle::corners(0, 2, 1),     // rotation of (2,1,0): 2
                                    Triangle::corners(3, 1, 2),     // (1,3,2) the other way: 3
                                    Triangle::corners(2, 3, 4, 5),  // in no split: keeps 5
                                    Triangle::corners(4, 5, 3)});   // rotation of (3,4,5): 4
    // (0,1,9) names no vertex of the mesh; the second (3,4,5) comes too late:
    // the first split that holds a triangle wins.
    g.extension.items.push_back(
        lists({{1, {0, 1, 2}}, {2, {2, 1, 0}}, {3, {1, 3, 2}}, {4, {3, 4, 5, 0, 1, 9}}, {6, {3, 4, 5}}}));
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 5);
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{1, 2, 0}, {0, 2, 1}, {3, 1, 2}, {2, 3, 4}, {4, 5, 3}}));
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{1, 2, 3, 5, 4}));
}

TEST(BinMeshMaterials, StripWindowsAtOddPositionsWindTheOtherWay)
{
    // Strip (0,1,2,3) holds (0,1,2) and, at an odd position, (2,1,3); strip
    // (1,2,3) holds (1,2,3), the other side of that triangle.
    Geometry g =
        recordGeometry(4, {Triangle::corners(0, 1, 2), Triangle::corners(2, 1, 3), Triangle::corners(1, 2, 3)});
    g.extension.items.push_back(strips({{7, {0, 1, 2, 3}}, {8, {1, 2, 3}}}));
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->numFaces, 3);
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{7, 7, 8}));
    EXPECT_EQ(allFileCorners(*mesh), (std::vector<Corners>{{0, 1, 2}, {2, 1, 3}, {1, 2, 3}}));
}

TEST(BinMeshMaterials, FarMoreSplitTrianglesThanFacesStillMatch)
{
    // 216 split triangles for two faces: the tables sized from the face count
    // grow; the faces are found after all of them, by winding and in any order.
    Geometry g = recordGeometry(26, {Triangle::corners(0, 1, 2), Triangle::corners(5, 6, 7)});
    std::vector<std::uint32_t> many;
    for (std::uint32_t a = 8; a < 14; ++a)
        for (std::uint32_t b = 14; b < 20; ++b)
            for (std::uint32_t c = 20; c < 26; ++c) many.insert(many.end(), {a, b, c});
    g.extension.items.push_back(lists({{1, many}, {2, {2, 1, 0}}, {3, {6, 7, 5}}}));
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{2, 3}));
}

TEST(BinMeshMaterials, DamagedBinMeshChangesNothingItCannotReach)
{
    // A split past the chunk under a lying total: the splits before it still
    // name materials; the face of the damaged split keeps its record's id.
    Geometry g = recordGeometry(4, {Triangle::corners(0, 1, 2, 3), Triangle::corners(1, 2, 3, 3)});
    BinMesh b = lists({{6, {0, 1, 2}}, {7, {1, 2, 3}}});
    b.splits[1].indexCountOverride = 0x40000000;
    b.totalIndexCountOverride = 0xFFFFFFFF;
    g.extension.items.push_back(b);
    const Mesh* mesh = importMesh(std::move(g));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(materialIds(*mesh), (std::vector<int>{6, 3}));
}
