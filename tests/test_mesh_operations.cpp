// The host mesh operations against plain reference computations on random
// meshes: normal numbering by vertex and smoothing group (the one-word-per-
// vertex case and the general one), edge counting with vertices of many
// neighbours, and removal of unused vertices and map vertices.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <set>

#include "host/mesh.h"

namespace {

struct RandomMesh {
    int vertices = 0;
    std::vector<std::array<DWORD, 3>> faces;
    std::vector<DWORD> smGroups;
};

// Faces over few vertices, so that vertices have many neighbours; a few
// corners name vertices out of range and a few faces repeat a corner.
RandomMesh randomMesh(std::mt19937& rng, int vertices, int faces)
{
    RandomMesh m;
    m.vertices = vertices;
    std::uniform_int_distribution<int> corner(0, vertices - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    for (int f = 0; f < faces; ++f) {
        std::array<DWORD, 3> v{};
        for (DWORD& c : v) c = static_cast<DWORD>(percent(rng) < 2 ? vertices + corner(rng) : corner(rng));
        if (percent(rng) < 3) v[2] = v[0];
        m.faces.push_back(v);
        m.smGroups.push_back(1);
    }
    return m;
}

void load(Mesh& mesh, const RandomMesh& m)
{
    mesh.setNumVerts(m.vertices);
    mesh.setNumFaces(static_cast<int>(m.faces.size()));
    for (int i = 0; i < m.vertices; ++i) mesh.verts[i] = Point3(float(i % 7), float(i % 5), float(i % 3));
    for (std::size_t f = 0; f < m.faces.size(); ++f) {
        Face& face = mesh.faces[f];
        face.setVerts(int(m.faces[f][0]), int(m.faces[f][1]), int(m.faces[f][2]));
        face.smGroup = m.smGroups[f];
    }
}

// Normal ids by the rule: per vertex, corners whose faces share a smoothing
// bit, directly or through others, share a normal; corners without groups or
// at a vertex out of range stand alone; ids in corner order of first use.
std::vector<int> referenceNormalIds(const RandomMesh& m)
{
    const std::size_t corners = 3 * m.faces.size();
    std::vector<std::size_t> parent(corners);
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    auto root = [&](std::size_t c) {
        while (parent[c] != c) c = parent[c];
        return c;
    };
    for (std::size_t a = 0; a < corners; ++a) {
        for (std::size_t b = a + 1; b < corners; ++b) {
            const DWORD va = m.faces[a / 3][a % 3], vb = m.faces[b / 3][b % 3];
            if (va != vb || va >= DWORD(m.vertices)) continue;
            if ((m.smGroups[a / 3] & m.smGroups[b / 3]) == 0) continue;
            parent[std::max(root(a), root(b))] = std::min(root(a), root(b));
        }
    }
    std::vector<int> idOfRoot(corners, -1), ids(corners);
    int next = 0;
    for (std::size_t c = 0; c < corners; ++c) {
        int& id = idOfRoot[root(c)];
        if (id < 0) id = next++;
        ids[c] = id;
    }
    return ids;
}

std::vector<int> normalIds(const MeshNormalSpec& spec)
{
    std::vector<int> ids;
    for (int f = 0; f < spec.GetNumFaces(); ++f)
        for (int k = 0; k < 3; ++k) ids.push_back(spec.Face(f).GetNormalID(k));
    return ids;
}

void expectReferenceNormals(const RandomMesh& m, const char* what)
{
    Mesh mesh;
    load(mesh, m);
    mesh.SpecifyNormals();
    MeshNormalSpec& spec = *mesh.GetSpecifiedNormals();
    spec.BuildNormals();
    const std::vector<int> expected = referenceNormalIds(m);
    EXPECT_EQ(normalIds(spec), expected) << what;
    EXPECT_EQ(spec.GetNumNormals(), expected.empty() ? 0 : *std::max_element(expected.begin(), expected.end()) + 1)
        << what;
}

}  // namespace

TEST(MeshOperations, NormalIdsFollowTheSmoothingRuleForEveryKindOfMesh)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        RandomMesh m = randomMesh(rng, 12, 40);
        expectReferenceNormals(m, "one smoothing word everywhere");

        // The same faces, the last one in another group: the numbering
        // changes only around that face's vertices.
        m.smGroups.back() = 2;
        expectReferenceNormals(m, "one face in another group");

        std::uniform_int_distribution<int> bits(0, 7);
        for (DWORD& sm : m.smGroups) sm = static_cast<DWORD>(bits(rng));
        expectReferenceNormals(m, "mixed groups, some faces without");
    }
}

TEST(MeshOperations, EdgeCountMatchesTheDistinctVertexPairs)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        // Up to 40 faces over 8 vertices: most vertices have more higher
        // neighbours than the mesh files under one vertex directly.
        const RandomMesh m = randomMesh(rng, 8, 5 + 2 * round);
        std::set<std::pair<DWORD, DWORD>> pairs;
        for (const auto& f : m.faces) {
            for (int k = 0; k < 3; ++k) {
                const DWORD lo = std::min(f[k], f[(k + 1) % 3]), hi = std::max(f[k], f[(k + 1) % 3]);
                if (hi < DWORD(m.vertices)) pairs.emplace(lo, hi);
            }
        }
        Mesh mesh;
        load(mesh, m);
        mesh.BuildStripsAndEdges();
        EXPECT_EQ(mesh.getNumEdges(), static_cast<int>(pairs.size())) << "round " << round;
    }

    // A closed fan: the hub has 64 higher neighbours, each spoke shared by two faces.
    Mesh fan;
    const int rim = 64;
    fan.setNumVerts(rim + 1);
    fan.setNumFaces(rim);
    for (int i = 0; i < rim; ++i) fan.faces[i].setVerts(0, 1 + i, 1 + (i + 1) % rim);
    fan.BuildStripsAndEdges();
    EXPECT_EQ(fan.getNumEdges(), 2 * rim);

    // Ends far apart in the vertex list, around the widest span a slot
    // holds (65534): each triangle named twice, once per winding, has its
    // three edges counted once.
    Mesh far;
    far.setNumVerts(70000);
    const int corners[][3] = {{0, 65534, 65535}, {1, 65536, 65537}, {2, 69999, 3}};
    far.setNumFaces(6);
    for (int t = 0; t < 3; ++t) {
        const int* c = corners[t];
        far.faces[2 * t].setVerts(c[0], c[1], c[2]);
        far.faces[2 * t + 1].setVerts(c[2], c[1], c[0]);
    }
    far.BuildStripsAndEdges();
    EXPECT_EQ(far.getNumEdges(), 9);
}

TEST(MeshOperations, UnusedVerticesGoAndFacesFollowTheirVertices)
{
    std::mt19937 rng(3);
    for (int round = 0; round < 10; ++round) {
        const RandomMesh m = randomMesh(rng, 30, 12);
        Mesh mesh;
        load(mesh, m);
        mesh.setMapSupport(1, TRUE);
        mesh.setNumMapVerts(1, m.vertices);
        for (int i = 0; i < m.vertices; ++i) mesh.mapVerts(1)[i] = Point3(float(i), 0, 0);
        for (int f = 0; f < mesh.numFaces; ++f)
            mesh.mapFaces(1)[f].setTVerts(int(mesh.faces[f].v[0]), int(mesh.faces[f].v[1]), int(mesh.faces[f].v[2]));
        std::vector<Point3> before(mesh.verts, mesh.verts + mesh.numVerts);

        mesh.DeleteIsoVerts();
        mesh.DeleteIsoMapVerts();

        std::set<DWORD> used;
        for (const auto& f : m.faces)
            for (DWORD v : f)
                if (v < DWORD(m.vertices)) used.insert(v);
        ASSERT_EQ(mesh.numVerts, static_cast<int>(used.size()));
        ASSERT_EQ(mesh.getNumMapVerts(1), static_cast<int>(used.size()));
        const std::vector<DWORD> kept(used.begin(), used.end());
        for (int f = 0; f < mesh.numFaces; ++f) {
            for (int k = 0; k < 3; ++k) {
                const DWORD original = m.faces[std::size_t(f)][std::size_t(k)];
                const DWORD now = mesh.faces[f].v[k];
                if (original >= DWORD(m.vertices)) {
                    EXPECT_GE(now, DWORD(mesh.numVerts));  // out of range stays out of range
                    continue;
                }
                ASSERT_LT(now, DWORD(mesh.numVerts));
                EXPECT_EQ(kept[now], original);
                EXPECT_EQ(mesh.verts[now], before[original]);
                EXPECT_EQ(mesh.mapVerts(1)[mesh.mapFaces(1)[f].t[k]], Point3(float(original), 0, 0));
            }
        }
    }
}
