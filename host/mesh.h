// The host's triangle mesh, its map channels and its specified normals.
#pragma once

#include <memory>

#include "host/maxtypes.h"

constexpr int MAP_ALPHA = -2;
constexpr int MAP_SHADING = -1;
constexpr int NUM_HIDDENMAPS = 2;
constexpr int MAX_MESHMAPS = 100;

constexpr DWORD EDGE_A = 1;
constexpr DWORD EDGE_B = 2;
constexpr DWORD EDGE_C = 4;
constexpr DWORD EDGE_ALL = EDGE_A | EDGE_B | EDGE_C;
constexpr DWORD FACE_MATID_SHIFT = 16;
constexpr DWORD FACE_MATID_MASK = 0xFFFF;

constexpr DWORD MESH_NORMAL_NORMALS_BUILT = 0x01;
constexpr DWORD MESH_NORMAL_NORMALS_COMPUTED = 0x02;
constexpr DWORD MESH_NORMAL_MODIFIER_SUPPORT = 0x20;

class Face {
public:
    DWORD v[3] = {0, 0, 0};
    DWORD smGroup = 0;
    // Low bits: edge visibility (EDGE_A/B/C); high 16 bits: material id.
    DWORD flags = 0;

    void setVerts(int a, int b, int c)
    {
        v[0] = static_cast<DWORD>(a), v[1] = static_cast<DWORD>(b), v[2] = static_cast<DWORD>(c);
    }
    void setMatID(MtlID id) { flags = (flags & 0xFFFFu) | (static_cast<DWORD>(id) << FACE_MATID_SHIFT); }
    MtlID getMatID() const { return static_cast<MtlID>((flags >> FACE_MATID_SHIFT) & FACE_MATID_MASK); }
    void setEdgeVisFlags(int va, int vb, int vc)
    {
        flags = (flags & ~EDGE_ALL) | (va ? EDGE_A : 0u) | (vb ? EDGE_B : 0u) | (vc ? EDGE_C : 0u);
    }
    int getEdgeVis(int edge) const { return (flags & (EDGE_A << edge)) ? 1 : 0; }
    DWORD getVert(int i) const { return v[i]; }
};

class TVFace {
public:
    DWORD t[3] = {0, 0, 0};
    void setTVerts(int a, int b, int c)
    {
        t[0] = static_cast<DWORD>(a), t[1] = static_cast<DWORD>(b), t[2] = static_cast<DWORD>(c);
    }
};

// One map channel: map vertices and one map face per mesh face.
class MeshMap {
public:
    bool support = false;
    std::vector<UVVert> tv;
    std::vector<TVFace> tf;
    int getNumVerts() const { return static_cast<int>(tv.size()); }
    int getNumFaces() const { return static_cast<int>(tf.size()); }
};

class MeshNormalFace {
public:
    int GetNormalID(int corner) const { return id[corner]; }
    void SetNormalID(int corner, int norm) { id[corner] = norm; }
    int* GetNormalIDArray() { return id; }

private:
    int id[3] = {-1, -1, -1};
};

class Mesh;

// Per-corner normals of a mesh, as the host's specified-normal block.
class MeshNormalSpec {
public:
    explicit MeshNormalSpec(Mesh* parent) : mpParent(parent) {}
    // One normal per vertex and smoothing group, numbered in face and corner
    // order, with computed vectors.
    void BuildNormals();
    void MakeNormalsExplicit(bool useSelection = true, void* normalSelection = nullptr, bool value = true);
    int GetNumNormals() const { return static_cast<int>(normals.size()); }
    int GetNumFaces() const { return static_cast<int>(faces.size()); }
    void SetNumNormals(int n);
    void SetNumFaces(int n);
    Point3& Normal(int normID) { return normals[static_cast<std::size_t>(normID)]; }
    const Point3& Normal(int normID) const { return normals[static_cast<std::size_t>(normID)]; }
    MeshNormalFace& Face(int i) { return faces[static_cast<std::size_t>(i)]; }
    const MeshNormalFace& Face(int i) const { return faces[static_cast<std::size_t>(i)]; }
    bool GetNormalExplicit(int normID) const { return explicitFlags[static_cast<std::size_t>(normID)] != 0; }
    void SetNormalExplicit(int normID, bool value) { explicitFlags[static_cast<std::size_t>(normID)] = value ? 1 : 0; }
    void SetFlag(DWORD fl, bool val = true) { mFlags = val ? (mFlags | fl) : (mFlags & ~fl); }
    void ClearFlag(DWORD fl) { mFlags &= ~fl; }
    bool GetFlag(DWORD fl) const { return (mFlags & fl) != 0; }
    DWORD GetFlags() const { return mFlags; }
    Mesh* GetParent() const { return mpParent; }

private:
    Mesh* mpParent;
    DWORD mFlags = 0;
    std::vector<Point3> normals;
    std::vector<std::uint8_t> explicitFlags;
    std::vector<MeshNormalFace> faces;
};

class Mesh {
public:
    Mesh();
    ~Mesh();
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    // Read-only counts and direct access to the vertex and face arrays, as the
    // SDK offers them; resize only through setNumVerts and setNumFaces.
    int numVerts = 0;
    int numFaces = 0;
    Point3* verts = nullptr;
    Face* faces = nullptr;

    // Resizes; with keep false the old contents are dropped and every entry
    // is zero. setNumFaces also resizes the map faces of every supported channel.
    BOOL setNumVerts(int ct, BOOL keep = FALSE, BOOL synchSel = TRUE);
    BOOL setNumFaces(int ct, BOOL keep = FALSE, BOOL synchSel = TRUE);
    int getNumVerts() const { return numVerts; }
    int getNumFaces() const { return numFaces; }
    void setVert(int i, const Point3& p) { verts[i] = p; }
    Point3& getVert(int i) { return verts[i]; }

    // Map channels: -2 alpha, -1 illumination, 0 vertex colour, 1.. texture coordinates.
    void setMapSupport(int mp, BOOL support = TRUE);
    BOOL mapSupport(int mp) const;
    void setNumMapVerts(int mp, int ct, BOOL keep = FALSE);
    int getNumMapVerts(int mp) const;
    UVVert* mapVerts(int mp);
    TVFace* mapFaces(int mp);
    MeshMap& Map(int mp);
    const MeshMap& Map(int mp) const;
    int getNumMaps() const { return static_cast<int>(maps.size()); }
    void setNumMaps(int ct, BOOL keep = FALSE);

    void SpecifyNormals();
    MeshNormalSpec* GetSpecifiedNormals() { return normalSpec.get(); }
    const MeshNormalSpec* GetSpecifiedNormals() const { return normalSpec.get(); }
    void ClearSpecifiedNormals() { normalSpec.reset(); }

    // Removes vertices no face uses and renumbers the faces; map channels untouched.
    void DeleteIsoVerts();
    // The same for each channel's map vertices and map faces.
    void DeleteIsoMapVerts();
    // Builds the edge list (and strips) the viewports draw from.
    void BuildStripsAndEdges();
    int getNumEdges() const { return numEdges; }

private:
    void syncPointers();
    std::vector<Point3> vertStore;
    std::vector<Face> faceStore;
    std::vector<MeshMap> maps;           // channels 0 .. getNumMaps()-1
    MeshMap hiddenMaps[NUM_HIDDENMAPS];  // channel -1 at [0], -2 at [1]
    std::unique_ptr<MeshNormalSpec> normalSpec;
    int numEdges = 0;
};
