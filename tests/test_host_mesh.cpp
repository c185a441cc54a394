// The stand-in host's mesh: resizing, map channels, isolated-vertex removal,
// specified normals and the edge list.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/max.h"
#include "support/Fixtures.h"

namespace {

// A mesh with the given positions and faces (smoothing group 1 unless given).
void fill(Mesh& mesh, const std::vector<Point3>& verts, const std::vector<std::array<int, 3>>& faces,
          const std::vector<DWORD>& smGroups = {})
{
    mesh.setNumVerts(static_cast<int>(verts.size()));
    mesh.setNumFaces(static_cast<int>(faces.size()));
    for (std::size_t i = 0; i < verts.size(); ++i) mesh.setVert(static_cast<int>(i), verts[i]);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        mesh.faces[i].setVerts(faces[i][0], faces[i][1], faces[i][2]);
        mesh.faces[i].smGroup = smGroups.empty() ? 1u : smGroups[i];
    }
}

std::vector<int> normalIds(const MeshNormalSpec& spec)
{
    std::vector<int> ids;
    for (int f = 0; f < spec.GetNumFaces(); ++f) {
        for (int c = 0; c < 3; ++c) ids.push_back(spec.Face(f).GetNormalID(c));
    }
    return ids;
}

// An n x n grid of quads in the XY plane, two triangles each.
void grid(Mesh& mesh, int n)
{
    const int side = n + 1;
    std::vector<Point3> verts;
    std::vector<std::array<int, 3>> faces;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) verts.emplace_back(static_cast<float>(x), static_cast<float>(y), 0.0f);
    }
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const int a = y * side + x;
            faces.push_back({a, a + 1, a + side + 1});
            faces.push_back({a, a + side + 1, a + side});
        }
    }
    fill(mesh, verts, faces);
}

}  // namespace

TEST(MeshResize, KeepFalseZeroesAndKeepTrueKeepsThePointersFollowing)
{
    Mesh mesh;
    EXPECT_EQ(mesh.verts, nullptr);
    fill(mesh, {{1, 2, 3}, {4, 5, 6}}, {{0, 1, 1}});
    mesh.faces[0].setMatID(7);

    mesh.setNumVerts(1000, TRUE);
    ASSERT_EQ(mesh.numVerts, 1000);
    EXPECT_EQ(mesh.getVert(1), Point3(4, 5, 6));
    EXPECT_EQ(mesh.getVert(999), Point3());
    mesh.verts[999] = Point3(9, 9, 9);  // the pointer covers the new size
    mesh.setNumFaces(3, TRUE);
    EXPECT_EQ(mesh.faces[0].getMatID(), 7);
    EXPECT_EQ(mesh.faces[2].v[0], 0u);

    mesh.setNumVerts(2, FALSE);
    EXPECT_EQ(mesh.getVert(1), Point3());
    mesh.setNumFaces(1, FALSE);
    EXPECT_EQ(mesh.faces[0].flags, 0u);
    EXPECT_EQ(mesh.numFaces, 1);
    EXPECT_FALSE(mesh.setNumVerts(-1));
    EXPECT_EQ(mesh.numVerts, 2);
}

TEST(MeshMaps, SupportTurnsChannelsOnWithOneZeroFacePerFaceAndOffFreesThem)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {2, 1, 0}});
    EXPECT_FALSE(mesh.mapSupport(1));
    EXPECT_EQ(mesh.getNumMaps(), 0);

    mesh.setMapSupport(5);
    EXPECT_TRUE(mesh.mapSupport(5));
    EXPECT_EQ(mesh.getNumMaps(), 6);  // the channel array grew to hold channel 5
    EXPECT_FALSE(mesh.mapSupport(4));
    EXPECT_EQ(mesh.getNumMapVerts(5), 0);
    ASSERT_EQ(mesh.Map(5).getNumFaces(), 2);
    EXPECT_EQ(mesh.mapFaces(5)[1].t[2], 0u);

    for (int ch : {MAP_ALPHA, MAP_SHADING, 0}) {
        mesh.setMapSupport(ch);
        mesh.setNumMapVerts(ch, 3);
        EXPECT_TRUE(mesh.mapSupport(ch)) << ch;
        EXPECT_EQ(mesh.getNumMapVerts(ch), 3) << ch;
    }
    mesh.mapVerts(MAP_ALPHA)[2] = UVVert(1, 1, 1);
    EXPECT_EQ(mesh.Map(-1).tv[2], UVVert());  // alpha and illumination are separate channels

    // Turning an enabled channel on again keeps its data.
    mesh.mapFaces(0)[0].setTVerts(0, 1, 2);
    mesh.setMapSupport(0);
    EXPECT_EQ(mesh.getNumMapVerts(0), 3);
    EXPECT_EQ(mesh.mapFaces(0)[0].t[1], 1u);

    mesh.setMapSupport(5, FALSE);
    EXPECT_FALSE(mesh.mapSupport(5));
    EXPECT_EQ(mesh.Map(5).getNumFaces(), 0);
    EXPECT_EQ(mesh.mapFaces(5), nullptr);
}

TEST(MeshMaps, SetNumFacesResizesTheFacesOfSupportedChannelsOnly)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    mesh.setMapSupport(1);
    mesh.setMapSupport(MAP_ALPHA);
    mesh.Map(2);  // exists, not supported
    mesh.mapFaces(1)[0].setTVerts(2, 1, 0);

    mesh.setNumFaces(4, TRUE);
    ASSERT_EQ(mesh.Map(1).getNumFaces(), 4);
    EXPECT_EQ(mesh.mapFaces(1)[0].t[0], 2u);
    EXPECT_EQ(mesh.mapFaces(1)[3].t[0], 0u);
    EXPECT_EQ(mesh.Map(MAP_ALPHA).getNumFaces(), 4);
    EXPECT_EQ(mesh.Map(2).getNumFaces(), 0);

    mesh.setNumFaces(2, FALSE);
    ASSERT_EQ(mesh.Map(1).getNumFaces(), 2);
    EXPECT_EQ(mesh.mapFaces(1)[0].t[0], 0u);
}

TEST(MeshIsoVerts, RemovesUnusedVerticesAndRenumbersFacesLeavingMapsAndNormals)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}}, {{5, 2, 3}, {3, 2, 0}});
    mesh.setMapSupport(1);
    mesh.setNumMapVerts(1, 6);
    for (int i = 0; i < 6; ++i) mesh.mapVerts(1)[i] = UVVert(static_cast<float>(i), 0, 0);
    mesh.mapFaces(1)[0].setTVerts(5, 2, 3);
    mesh.mapFaces(1)[1].setTVerts(3, 2, 0);
    mesh.SpecifyNormals();
    mesh.GetSpecifiedNormals()->BuildNormals();
    const std::vector<int> idsBefore = normalIds(*mesh.GetSpecifiedNormals());

    mesh.DeleteIsoVerts();

    ASSERT_EQ(mesh.numVerts, 4);
    EXPECT_EQ(mesh.verts[0].x, 0.0f);
    EXPECT_EQ(mesh.verts[1].x, 2.0f);
    EXPECT_EQ(mesh.verts[2].x, 3.0f);
    EXPECT_EQ(mesh.verts[3].x, 5.0f);
    EXPECT_EQ(mesh.faces[0].v[0], 3u);
    EXPECT_EQ(mesh.faces[0].v[1], 1u);
    EXPECT_EQ(mesh.faces[0].v[2], 2u);
    EXPECT_EQ(mesh.faces[1].v[2], 0u);
    // The map channel still has its six vertices and old indices.
    EXPECT_EQ(mesh.getNumMapVerts(1), 6);
    EXPECT_EQ(mesh.mapFaces(1)[0].t[0], 5u);
    EXPECT_EQ(normalIds(*mesh.GetSpecifiedNormals()), idsBefore);
}

TEST(MeshIsoVerts, IndicesOutOfRangeStayOutOfRange)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {{1, 2, 3}, {1, 2, 9}});
    mesh.DeleteIsoVerts();
    ASSERT_EQ(mesh.numVerts, 3);
    EXPECT_EQ(mesh.faces[0].v[0], 0u);
    EXPECT_GE(mesh.faces[1].v[2], 3u);
}

TEST(MeshIsoVerts, MapVertsAreCompactedPerChannel)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 1, 2}});
    mesh.setMapSupport(1);
    mesh.setNumMapVerts(1, 5);
    for (int i = 0; i < 5; ++i) mesh.mapVerts(1)[i] = UVVert(static_cast<float>(i), 0, 0);
    mesh.mapFaces(1)[0].setTVerts(4, 1, 4);
    mesh.setMapSupport(MAP_SHADING);
    mesh.setNumMapVerts(MAP_SHADING, 3);
    mesh.mapFaces(MAP_SHADING)[0].setTVerts(0, 1, 2);
    mesh.setNumMapVerts(3, 2);  // channel 3 holds vertices but is not supported
    // Channels 2 and 4 name the same corners as the shading channel; channel 4
    // has one map vertex more, which no face uses.
    for (const int channel : {2, 4}) {
        mesh.setMapSupport(channel);
        mesh.setNumMapVerts(channel, channel == 2 ? 3 : 4);
        mesh.mapFaces(channel)[0].setTVerts(0, 1, 2);
    }

    mesh.DeleteIsoMapVerts();

    ASSERT_EQ(mesh.getNumMapVerts(1), 2);
    EXPECT_EQ(mesh.mapVerts(1)[0].x, 1.0f);
    EXPECT_EQ(mesh.mapVerts(1)[1].x, 4.0f);
    EXPECT_EQ(mesh.mapFaces(1)[0].t[0], 1u);
    EXPECT_EQ(mesh.mapFaces(1)[0].t[1], 0u);
    EXPECT_EQ(mesh.mapFaces(1)[0].t[2], 1u);
    EXPECT_EQ(mesh.getNumMapVerts(MAP_SHADING), 3);
    EXPECT_EQ(mesh.getNumMapVerts(3), 2);
    EXPECT_EQ(mesh.getNumMapVerts(2), 3);
    EXPECT_EQ(mesh.getNumMapVerts(4), 3);
    EXPECT_EQ(mesh.numVerts, 3);
}

TEST(MeshNormals, OneNormalPerVertexAndSmoothingGroupNumberedInCornerOrder)
{
    // Four faces round vertex 0: faces 0 and 1 share group 1, face 2 has
    // group 2, face 3 has none.
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}}, {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 1}},
         {1, 1, 2, 0});
    mesh.SpecifyNormals();
    MeshNormalSpec& spec = *mesh.GetSpecifiedNormals();
    spec.BuildNormals();

    ASSERT_EQ(spec.GetNumFaces(), 4);
    // Face 0: 0,1,2 new. Face 1: vertex 0 and 2 shared with face 0 (group 1),
    // vertex 3 new. Face 2 (group 2): all new. Face 3 (no group): all new.
    EXPECT_EQ(normalIds(spec), (std::vector<int>{0, 1, 2, 0, 2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_EQ(spec.GetNumNormals(), 10);
    for (int i = 0; i < 10; ++i) {
        expectNear(spec.Normal(i), Point3(0, 0, 1));
        EXPECT_FALSE(spec.GetNormalExplicit(i));
    }
    EXPECT_TRUE(spec.GetFlag(MESH_NORMAL_NORMALS_BUILT));
}

TEST(MeshNormals, FacesLinkedThroughSharedBitsShareOneNormal)
{
    // At vertex 0: face 0 has bit 1, face 1 bit 2, face 2 bits 1|2: once face
    // 2 is met, all three are smoothed together.
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}}, {{0, 1, 2}, {0, 3, 4}, {0, 2, 3}}, {1, 2, 3});
    mesh.SpecifyNormals();
    MeshNormalSpec& spec = *mesh.GetSpecifiedNormals();
    spec.BuildNormals();
    const std::vector<int> ids = normalIds(spec);
    EXPECT_EQ(ids[0], ids[3]);
    EXPECT_EQ(ids[0], ids[6]);
    // Vertex 3 is shared by faces 1 (bit 2) and 2 (bits 1|2).
    EXPECT_EQ(ids[4], ids[8]);
    // Vertex 2 is shared by face 0 (bit 1) and face 2 (bits 1|2).
    EXPECT_EQ(ids[2], ids[7]);
    EXPECT_EQ(spec.GetNumNormals(), 5);
}

TEST(MeshNormals, VectorsAreAreaWeightedAndNormalized)
{
    // A large face facing +Z and a small one facing +X meet at vertex 0.
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2}, {0, 3, 4}});
    mesh.SpecifyNormals();
    MeshNormalSpec& spec = *mesh.GetSpecifiedNormals();
    spec.BuildNormals();
    const Point3 shared = spec.Normal(spec.Face(0).GetNormalID(0));
    EXPECT_EQ(spec.Face(1).GetNormalID(0), spec.Face(0).GetNormalID(0));
    expectNear(shared, Normalize(Point3(1, 0, 16)));
    expectNear(spec.Normal(spec.Face(1).GetNormalID(1)), Point3(1, 0, 0));
}

TEST(MeshNormals, MakeExplicitWithoutSelectionMarksEveryNormal)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}, {0});
    EXPECT_EQ(mesh.GetSpecifiedNormals(), nullptr);
    mesh.SpecifyNormals();
    MeshNormalSpec* spec = mesh.GetSpecifiedNormals();
    mesh.SpecifyNormals();  // a second call keeps the block
    EXPECT_EQ(mesh.GetSpecifiedNormals(), spec);
    spec->BuildNormals();
    spec->MakeNormalsExplicit(true);  // the empty selection: nothing changes
    EXPECT_FALSE(spec->GetNormalExplicit(0));
    spec->MakeNormalsExplicit(false, nullptr, true);
    for (int i = 0; i < spec->GetNumNormals(); ++i) EXPECT_TRUE(spec->GetNormalExplicit(i));
    spec->MakeNormalsExplicit(false, nullptr, false);
    EXPECT_FALSE(spec->GetNormalExplicit(2));
}

TEST(MeshNormals, CornersNamingMissingVerticesGetTheirOwnNormals)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 1, 70000}});
    mesh.SpecifyNormals();
    MeshNormalSpec& spec = *mesh.GetSpecifiedNormals();
    spec.BuildNormals();
    const std::vector<int> ids = normalIds(spec);
    EXPECT_EQ(ids[3], ids[0]);
    EXPECT_EQ(ids[5], 3);
    expectNear(spec.Normal(0), Point3(0, 0, 1));  // the broken face adds nothing
}

TEST(MeshEdges, CountsEachSharedEdgeOnce)
{
    Mesh mesh;
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}});
    mesh.BuildStripsAndEdges();
    EXPECT_EQ(mesh.getNumEdges(), 5);

    // Reversed winding names the same edges.
    fill(mesh, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {2, 1, 0}});
    mesh.BuildStripsAndEdges();
    EXPECT_EQ(mesh.getNumEdges(), 3);

    // Up to 4,096 vertices (a grid of 63) the slots are on the stack, above on the heap.
    for (int n : {1, 7, 63, 64}) {
        grid(mesh, n);
        mesh.BuildStripsAndEdges();
        EXPECT_EQ(mesh.getNumEdges(), 3 * n * n + 2 * n) << n;
    }
}
