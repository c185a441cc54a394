// The host's triangle mesh. Every operation is linear in the mesh's size:
// the importer hands over meshes of millions of faces.
#include "host/mesh.h"

#include <algorithm>
#include <cstring>
#include <cstdint>

namespace {

// Channels above this are refused; a file can name at most 255 texture sets.
constexpr int kMaxChannel = 1 << 16;

template <class T>
void resizeStore(std::vector<T>& store, int ct, BOOL keep)
{
    const std::size_t n = static_cast<std::size_t>(ct);
    if (keep) {
        store.resize(n);
    } else {
        store.assign(n, T{});
    }
}

template <class T>
void release(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

const MeshMap& emptyMap()
{
    static const MeshMap empty;
    return empty;
}

}  // namespace

Mesh::Mesh() = default;
Mesh::~Mesh() = default;

void Mesh::syncPointers()
{
    numVerts = static_cast<int>(vertStore.size());
    numFaces = static_cast<int>(faceStore.size());
    verts = vertStore.empty() ? nullptr : vertStore.data();
    faces = faceStore.empty() ? nullptr : faceStore.data();
}

BOOL Mesh::setNumVerts(int ct, BOOL keep, BOOL synchSel)
{
    (void)synchSel;
    if (ct < 0) return FALSE;
    resizeStore(vertStore, ct, keep);
    syncPointers();
    return TRUE;
}

BOOL Mesh::setNumFaces(int ct, BOOL keep, BOOL synchSel)
{
    (void)synchSel;
    if (ct < 0) return FALSE;
    resizeStore(faceStore, ct, keep);
    for (MeshMap& m : maps) {
        if (m.support) resizeStore(m.tf, ct, keep);
    }
    for (MeshMap& m : hiddenMaps) {
        if (m.support) resizeStore(m.tf, ct, keep);
    }
    syncPointers();
    return TRUE;
}

MeshMap& Mesh::Map(int mp)
{
    if (mp < 0) {
        // Channel -1 at [0], -2 at [1]; anything below is not a channel.
        if (mp >= -NUM_HIDDENMAPS) return hiddenMaps[-mp - 1];
        static MeshMap none;
        none = MeshMap{};
        return none;
    }
    if (mp >= kMaxChannel) {
        static MeshMap none;
        none = MeshMap{};
        return none;
    }
    if (static_cast<std::size_t>(mp) >= maps.size()) maps.resize(static_cast<std::size_t>(mp) + 1);
    return maps[static_cast<std::size_t>(mp)];
}

const MeshMap& Mesh::Map(int mp) const
{
    if (mp < 0) return mp >= -NUM_HIDDENMAPS ? hiddenMaps[-mp - 1] : emptyMap();
    if (static_cast<std::size_t>(mp) >= maps.size()) return emptyMap();
    return maps[static_cast<std::size_t>(mp)];
}

void Mesh::setMapSupport(int mp, BOOL support)
{
    if (mp < -NUM_HIDDENMAPS || mp >= kMaxChannel) return;
    if (!support && mp >= 0 && static_cast<std::size_t>(mp) >= maps.size()) return;  // never made: off already
    MeshMap& m = Map(mp);
    if (support) {
        if (!m.support) {
            m.support = true;
            m.tv.clear();
            m.tf.assign(static_cast<std::size_t>(numFaces), TVFace{});
        } else if (m.tf.size() != static_cast<std::size_t>(numFaces)) {
            m.tf.resize(static_cast<std::size_t>(numFaces));
        }
    } else {
        m.support = false;
        release(m.tv);
        release(m.tf);
    }
}

BOOL Mesh::mapSupport(int mp) const
{
    return Map(mp).support ? TRUE : FALSE;
}

void Mesh::setNumMapVerts(int mp, int ct, BOOL keep)
{
    if (ct < 0 || mp < -NUM_HIDDENMAPS || mp >= kMaxChannel) return;
    resizeStore(Map(mp).tv, ct, keep);
}

int Mesh::getNumMapVerts(int mp) const
{
    return Map(mp).getNumVerts();
}

UVVert* Mesh::mapVerts(int mp)
{
    if (mp < -NUM_HIDDENMAPS || mp >= kMaxChannel) return nullptr;
    std::vector<UVVert>& tv = Map(mp).tv;
    return tv.empty() ? nullptr : tv.data();
}

TVFace* Mesh::mapFaces(int mp)
{
    if (mp < -NUM_HIDDENMAPS || mp >= kMaxChannel) return nullptr;
    std::vector<TVFace>& tf = Map(mp).tf;
    return tf.empty() ? nullptr : tf.data();
}

void Mesh::setNumMaps(int ct, BOOL keep)
{
    if (ct < 0 || ct > kMaxChannel) return;
    if (!keep) maps.clear();
    maps.resize(static_cast<std::size_t>(ct));
}

void Mesh::SpecifyNormals()
{
    if (!normalSpec) normalSpec = std::make_unique<MeshNormalSpec>(this);
}

namespace {

// Removes the elements of store that no index in faces uses, keeping their
// order, and renumbers the faces. Indices that were already out of range
// stay out of range. The use marks are one byte per element, a quarter of a
// renumbering table, which is made only when something is removed.
template <class Elem, class FaceT, class Corners>
bool deleteUnused(std::vector<Elem>& store, std::vector<FaceT>& faceList, Corners corners)
{
    const std::size_t count = store.size();
    std::vector<std::uint8_t> used(count, 0);
    for (FaceT& f : faceList) {
        const DWORD* c = corners(f);
        for (int k = 0; k < 3; ++k) {
            if (c[k] < count) used[c[k]] = 1;
        }
    }
    if (std::find(used.begin(), used.end(), std::uint8_t{0}) == used.end()) return true;

    std::vector<DWORD> remap(count);
    DWORD next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!used[i]) continue;
        remap[i] = next;
        if (next != i) store[next] = store[i];
        ++next;
    }
    const DWORD removed = static_cast<DWORD>(count) - next;
    for (FaceT& f : faceList) {
        DWORD* c = corners(f);
        for (int k = 0; k < 3; ++k) c[k] = c[k] < count ? remap[c[k]] : c[k] - removed;
    }
    store.resize(next);
    return false;
}

// Whether two channels have as many map vertices and the same map faces.
bool sameCorners(const MeshMap& a, const MeshMap& b)
{
    return a.tv.size() == b.tv.size() && a.tf.size() == b.tf.size() &&
           (a.tf.empty() || std::memcmp(a.tf.data(), b.tf.data(), a.tf.size() * sizeof(TVFace)) == 0);
}

}  // namespace

void Mesh::DeleteIsoVerts()
{
    deleteUnused(vertStore, faceStore, [](Face& f) { return f.v; });
    syncPointers();
}

void Mesh::DeleteIsoMapVerts()
{
    // A channel with the same map faces and as many map vertices as one that
    // was found to use every map vertex uses every one too, and is passed
    // over: the channels made from one table per vertex (coordinates,
    // colours, alpha) share their faces.
    const MeshMap* allUsed = nullptr;
    auto pass = [&allUsed](MeshMap& m) {
        if (!m.support) return;
        if (allUsed != nullptr && sameCorners(*allUsed, m)) return;
        allUsed = deleteUnused(m.tv, m.tf, [](TVFace& f) { return f.t; }) ? &m : nullptr;
    };
    for (MeshMap& m : maps) pass(m);
    for (MeshMap& m : hiddenMaps) pass(m);
}

void Mesh::BuildStripsAndEdges()
{
    // Each undirected edge is filed under its lower vertex, in a few slots
    // per vertex (most vertices have no more higher neighbours than that);
    // edges beyond a vertex's slots, and edges whose ends lie too far apart
    // in the vertex list for a slot, are collected and told apart by sorting.
    // A slot holds the distance from the lower to the higher end in 16 bits:
    // the table is half the size of a 32-bit table with the same slots, and its
    // pages are the ones a small model's import pays for most. A mesh of up to
    // 4,096 vertices keeps its table on the stack, whose pages are already
    // there: memory taken fresh costs a page fault per 4 KB. One pass over the
    // faces, and vertex-sized tables only.
    constexpr std::size_t kSlots = 4;
    constexpr std::uint16_t kFree = 0xFFFFu;
    constexpr std::size_t kStackSlots = 4096 * kSlots;
    const std::size_t nv = vertStore.size();
    std::uint16_t stackSlots[kStackSlots];
    std::vector<std::uint16_t> heapSlots;
    std::uint16_t* slots = stackSlots;
    if (nv * kSlots <= kStackSlots) {
        std::memset(stackSlots, 0xFF, nv * kSlots * sizeof(std::uint16_t));  // every slot kFree
    } else {
        heapSlots.assign(nv * kSlots, kFree);
        slots = heapSlots.data();
    }
    std::vector<std::uint64_t> overflow;
    std::size_t edges = 0;
    for (const Face& f : faceStore) {
        for (int k = 0; k < 3; ++k) {
            const DWORD a = f.v[k];
            const DWORD b = f.v[(k + 1) % 3];
            const DWORD lo = std::min(a, b);
            const DWORD hi = std::max(a, b);
            // Edges touching a vertex index out of range are not part of the mesh.
            if (hi >= nv) continue;
            const DWORD span = hi - lo;
            std::uint16_t* s = slots + std::size_t{lo} * kSlots;
            std::size_t i = 0;
            if (span < kFree) {
                const auto d = static_cast<std::uint16_t>(span);
                while (i < kSlots && s[i] != kFree && s[i] != d) ++i;
                if (i < kSlots) {
                    if (s[i] == kFree) {
                        s[i] = d;
                        ++edges;
                    }
                    continue;
                }
            }
            overflow.push_back((std::uint64_t{lo} << 32) | hi);
        }
    }
    release(heapSlots);
    // A vertex's slots never free up and a span never changes, so an edge
    // that went to the overflow once always goes there: the overflow holds
    // whole edges, each possibly repeated.
    std::sort(overflow.begin(), overflow.end());
    edges += static_cast<std::size_t>(std::unique(overflow.begin(), overflow.end()) - overflow.begin());
    numEdges = static_cast<int>(std::min<std::size_t>(edges, INT_MAX));
}

void MeshNormalSpec::SetNumNormals(int n)
{
    const std::size_t count = static_cast<std::size_t>(std::max(n, 0));
    normals.resize(count);
    explicitFlags.resize(count, 0);
}

void MeshNormalSpec::SetNumFaces(int n)
{
    faces.resize(static_cast<std::size_t>(std::max(n, 0)));
}

void MeshNormalSpec::MakeNormalsExplicit(bool useSelection, void* normalSelection, bool value)
{
    // The stand-in keeps no normal selection: with useSelection the (empty)
    // selection is used and nothing changes.
    (void)normalSelection;
    if (useSelection) return;
    std::fill(explicitFlags.begin(), explicitFlags.end(), static_cast<std::uint8_t>(value ? 1 : 0));
}

namespace {

constexpr DWORD kNoNormal = 0xFFFFFFFFu;

// Normal ids when every vertex's corners all carry one and the same non-zero
// smoothing word, the usual case: each vertex then has one normal, numbered
// at the vertex's first corner, and no per-corner tables are needed. Gives
// the number of normals, or kNoNormal (faces left unfinished) when some
// vertex has faces of different words or without smoothing groups.
DWORD numberByVertex(const Mesh& mesh, std::vector<MeshNormalFace>& faces)
{
    const std::size_t nv = static_cast<std::size_t>(mesh.numVerts);
    const std::size_t nf = static_cast<std::size_t>(mesh.numFaces);
    struct VertexNormal {
        DWORD id = kNoNormal;
        DWORD smGroup = 0;
    };
    std::vector<VertexNormal> byVertex(nv);
    faces.resize(nf);
    DWORD next = 0;
    for (std::size_t f = 0; f < nf; ++f) {
        const ::Face& face = mesh.faces[f];
        const DWORD sm = face.smGroup;
        if (sm == 0) return kNoNormal;
        for (int k = 0; k < 3; ++k) {
            const DWORD v = face.v[k];
            DWORD id = 0;
            if (v >= nv) {
                id = next++;  // a corner at a vertex out of range is a group of its own
            } else if (byVertex[v].id == kNoNormal) {
                byVertex[v] = VertexNormal{next, sm};
                id = next++;
            } else if (byVertex[v].smGroup == sm) {
                id = byVertex[v].id;
            } else {
                return kNoNormal;
            }
            faces[f].SetNormalID(k, static_cast<int>(id));
        }
    }
    return next;
}

// Normal ids in general: per vertex, corners whose faces share a smoothing
// bit (directly or through other faces at the vertex) share a normal; ids in
// face and corner order of each group's first corner. Gives the number of
// normals.
DWORD numberBySmoothingGroups(const Mesh& mesh, std::vector<MeshNormalFace>& faces)
{
    const std::size_t nv = static_cast<std::size_t>(mesh.numVerts);
    const std::size_t nf = static_cast<std::size_t>(mesh.numFaces);
    const std::size_t nc = nf * 3;
    const ::Face* fs = mesh.faces;
    constexpr DWORD kNone = kNoNormal;

    // Corners grouped by vertex (counting sort), in face and corner order.
    std::vector<DWORD> start(nv + 1, 0);
    for (std::size_t c = 0; c < nc; ++c) {
        const DWORD v = fs[c / 3].v[c % 3];
        if (v < nv) ++start[v + 1];
    }
    for (std::size_t i = 0; i < nv; ++i) start[i + 1] += start[i];
    std::vector<DWORD> byVertex(start[nv]);
    {
        std::vector<DWORD> fill(start.begin(), start.end() - 1);
        for (std::size_t c = 0; c < nc; ++c) {
            const DWORD v = fs[c / 3].v[c % 3];
            if (v < nv) byVertex[fill[v]++] = static_cast<DWORD>(c);
        }
    }

    // Per vertex, corners whose faces share a smoothing bit (directly or
    // through other faces at the vertex) form one group; each group gets a
    // representative corner. Corners of faces without smoothing groups, and
    // corners at a vertex out of range, are groups of their own.
    std::vector<DWORD> groupOf(nc, kNone);  // corner -> representative corner
    struct Group {
        DWORD bits;
        DWORD rep;
        int parent;  // union-find within the vertex
    };
    std::vector<Group> groups;
    std::vector<int> cornerGroup;
    for (std::size_t v = 0; v < nv; ++v) {
        groups.clear();
        cornerGroup.clear();
        auto root = [&groups](int g) {
            while (groups[static_cast<std::size_t>(g)].parent != g) {
                Group& gr = groups[static_cast<std::size_t>(g)];
                gr.parent = groups[static_cast<std::size_t>(gr.parent)].parent;
                g = gr.parent;
            }
            return g;
        };
        for (DWORD e = start[v]; e < start[v + 1]; ++e) {
            const DWORD c = byVertex[e];
            const DWORD sm = fs[c / 3].smGroup;
            int mine = -1;
            if (sm != 0) {
                // Live roots carry disjoint bits, so at most 32 are looked at.
                for (std::size_t g = 0; g < groups.size(); ++g) {
                    Group& gr = groups[g];
                    if (gr.parent != static_cast<int>(g) || (gr.bits & sm) == 0) continue;
                    if (mine < 0) {
                        mine = static_cast<int>(g);
                        gr.bits |= sm;
                    } else {
                        Group& m = groups[static_cast<std::size_t>(mine)];
                        m.bits |= gr.bits;
                        m.rep = std::min(m.rep, gr.rep);
                        gr.parent = mine;
                        gr.bits = 0;
                    }
                }
            }
            if (mine < 0) {
                const int g = static_cast<int>(groups.size());
                groups.push_back(Group{sm, c, g});
                mine = g;
            }
            cornerGroup.push_back(mine);
        }
        for (DWORD e = start[v]; e < start[v + 1]; ++e) {
            const int g = root(cornerGroup[e - start[v]]);
            groupOf[byVertex[e]] = groups[static_cast<std::size_t>(g)].rep;
        }
    }
    release(byVertex);
    release(start);

    // A representative is its group's first corner, so it is met before the
    // others and numbered when met.
    std::vector<DWORD> idOf(nc, kNone);
    faces.assign(nf, MeshNormalFace{});
    DWORD next = 0;
    for (std::size_t c = 0; c < nc; ++c) {
        const DWORD rep = groupOf[c] == kNone ? static_cast<DWORD>(c) : groupOf[c];
        if (idOf[rep] == kNone) idOf[rep] = next++;
        faces[c / 3].SetNormalID(static_cast<int>(c % 3), static_cast<int>(idOf[rep]));
    }
    return next;
}

}  // namespace

void MeshNormalSpec::BuildNormals()
{
    const Mesh& mesh = *mpParent;
    const std::size_t nv = static_cast<std::size_t>(mesh.numVerts);
    const std::size_t nf = static_cast<std::size_t>(mesh.numFaces);
    const ::Face* fs = mesh.faces;
    const Point3* vs = mesh.verts;

    // One normal per vertex and smoothing group, numbered in face and corner order.
    DWORD count = numberByVertex(mesh, faces);
    if (count == kNoNormal) count = numberBySmoothingGroups(mesh, faces);

    // Vectors: area-weighted face normals summed per normal, then normalized.
    normals.assign(count, Point3());
    explicitFlags.assign(count, 0);
    for (std::size_t f = 0; f < nf; ++f) {
        const DWORD* v = fs[f].v;
        Point3 n;
        if (v[0] < nv && v[1] < nv && v[2] < nv) n = CrossProd(vs[v[1]] - vs[v[0]], vs[v[2]] - vs[v[0]]);
        for (int k = 0; k < 3; ++k) {
            Point3& acc = normals[static_cast<std::size_t>(faces[f].GetNormalID(k))];
            acc = acc + n;
        }
    }
    for (Point3& n : normals) n = Normalize(n);
    mFlags |= MESH_NORMAL_NORMALS_BUILT | MESH_NORMAL_NORMALS_COMPUTED;
}
