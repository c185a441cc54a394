// Mesh construction: the blocks of a geometry chunk become a host editable
// mesh with faces, material ids, map channels and explicit normals.
//
// The blocks handed in by the geometry reader hold a record for every vertex
// and triangle the mesh was sized for; the sub-chunk operations (bin mesh,
// extra vertex colours) read only within the body they are given. Vertex
// indices from the file are checked against the mesh's vertex count where a
// face is made from them: a face naming a vertex the mesh does not have is
// left out, and what reads the faces later relies on that.
#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <cstring>

#include "importer/Orvik.h"

namespace {

// The host has channels 0 to MAX_MESHMAPS - 1; texture sets beyond the last
// channel are stepped over by the reader and not mapped.
constexpr std::uint32_t kLastTextureChannel = MAX_MESHMAPS - 1;
constexpr int kExtraAlphaChannel = 3;

std::uint32_t textureChannelCount(std::uint32_t format)
{
    return std::min(textureSetCount(format), kLastTextureChannel);
}

// value / 255 for every byte, made once: the same floats as dividing, without
// a division per colour component (four per vertex of every colour channel).
constexpr std::array<float, 256> kByteToUnit = [] {
    std::array<float, 256> table{};
    for (std::size_t v = 0; v < table.size(); ++v) table[v] = static_cast<float>(v) / 255.0f;
    return table;
}();

float byteToUnit(std::uint8_t value)
{
    return kByteToUnit[value];
}

// The alpha channels carry A/255 and, in the other two components, whether
// the alpha is full.
Point3 alphaEntry(std::uint8_t alpha)
{
    const float full = alpha == 255 ? 1.0f : 0.0f;
    return Point3(byteToUnit(alpha), full, full);
}

Point3 colourEntry(const Rgba& c)
{
    return Point3(byteToUnit(c.r), byteToUnit(c.g), byteToUnit(c.b));
}

Point3 toPoint(const Vector& v)
{
    return Point3(v.x, v.y, v.z);
}

void initFace(Face& face, DWORD a, DWORD b, DWORD c, MtlID material)
{
    face.v[0] = a, face.v[1] = b, face.v[2] = c;
    face.setMatID(material);
    face.setEdgeVisFlags(1, 1, 1);
    face.smGroup = 1;
}

// The map faces of a set of supported channels, looked up once for a run of
// faces (the face loops touch millions of faces). Valid until the mesh's
// face count changes.
class MapFaceTargets {
public:
    // The channels a geometry's format fills: -2 and 0 when prelit, then 1 to n.
    static MapFaceTargets forFormat(Mesh& mesh, std::uint32_t format)
    {
        MapFaceTargets targets;
        if (format & GeometryLayout::PrelitBit) {
            targets.add(mesh, MAP_ALPHA);
            targets.add(mesh, 0);
        }
        const std::uint32_t channels = textureChannelCount(format);
        for (std::uint32_t s = 1; s <= channels; ++s) targets.add(mesh, static_cast<int>(s));
        return targets;
    }
    void add(Mesh& mesh, int channel)
    {
        if (!mesh.mapSupport(channel)) return;
        TVFace* faces = mesh.mapFaces(channel);
        if (faces == nullptr) return;
        targets[count++] = Target{faces, mesh.Map(channel).getNumFaces()};
    }
    // Map face f of every channel gets the corners of mesh face f, for the
    // first faceCount faces: a channel at a time, a plain loop over faces.
    void copy(const Face* faces, int faceCount) const
    {
        for (int i = 0; i < count; ++i) {
            TVFace* out = targets[i].faces;
            const int n = std::min(faceCount, targets[i].faceCount);
            static_assert(sizeof out->t == sizeof faces->v);
            for (int f = 0; f < n; ++f) std::memcpy(out[f].t, faces[f].v, sizeof out[f].t);
        }
    }

private:
    struct Target {
        TVFace* faces = nullptr;
        int faceCount = 0;
    };
    std::array<Target, 2 + kLastTextureChannel> targets{};
    int count = 0;
};

// Turns a channel on with one map vertex per mesh vertex; null when the host
// did not give it that many.
UVVert* prepareChannel(Mesh& mesh, int channel)
{
    mesh.setMapSupport(channel, TRUE);
    mesh.setNumMapVerts(channel, mesh.numVerts, FALSE);
    if (mesh.getNumMapVerts(channel) != mesh.numVerts) return nullptr;
    return mesh.mapVerts(channel);
}

struct BinMeshHeader {
    std::uint32_t mode = 0;
    std::uint32_t splitCount = 0;
    // The header's total index count, held to what the body can hold, so that
    // a lying total never sizes the face array beyond the file's data.
    std::uint32_t totalIndices = 0;
};

bool readBinMeshHeader(ChunkView& body, BinMeshHeader& header)
{
    using namespace BinMeshLayout;
    if (body.size() < HeadSize) return false;
    header.mode = body.u32(Mode);
    header.splitCount = body.u32(SplitCount);
    header.totalIndices = std::min(body.u32(TotalIndices), body.left(HeadSize) / IndexSize);
    return true;
}

// Walks the splits of a bin mesh and calls emit(a, b, c, material, odd) for
// each triangle, in the order the splits give their indices: strip windows
// (a, b, c) without alternating the winding, degenerate windows skipped, `odd`
// telling the windows at odd positions; list triples of complete triangles
// (the indices of an incomplete last triple are passed over). A split whose
// indices run past the body or past the header's total ends the walk, so a
// strip never gives more than total - 2 triangles and a list never more than
// total / 3.
template <class Emit>
void walkBinMesh(ChunkView& body, const BinMeshHeader& header, Emit&& emit)
{
    using namespace BinMeshLayout;
    std::uint32_t offset = HeadSize;
    std::uint32_t indicesLeft = header.totalIndices;
    const bool strips = header.mode != ListMode;
    for (std::uint32_t split = 0; split < header.splitCount; ++split) {
        if (!body.holds(offset, SplitHeadSize)) break;
        const std::uint32_t count = body.u32(offset);
        const auto material = static_cast<MtlID>(body.u32(offset + SplitMaterial) & 0xFFFF);
        offset += SplitHeadSize;
        if (count > indicesLeft || !countFits(count, IndexSize, body.left(offset))) break;
        indicesLeft -= count;
        const Records<SplitIndex> indices = body.records<SplitIndex>(offset, count, nullptr);
        offset += count * IndexSize;
        if (strips) {
            for (std::uint32_t k = 0; k + 2 < count; ++k) {
                const std::uint32_t a = indices[k].vertex;
                const std::uint32_t b = indices[k + 1].vertex;
                const std::uint32_t c = indices[k + 2].vertex;
                if (a == b || c == a || c == b) continue;
                emit(a, b, c, material, (k & 1) != 0);
            }
        } else {
            for (std::uint32_t k = 0; count - k >= 3; k += 3) {
                emit(indices[k].vertex, indices[k + 1].vertex, indices[k + 2].vertex, material, false);
            }
        }
    }
}

// Keys of the triangle-to-material map. Vertex indices of faces from triangle
// records are 16-bit, so three of them fit in 48 bits. The oriented key is
// the least of the corner order's three rotations; the unordered key
// (tagged with bit 48) is the sorted triple.
constexpr std::uint64_t kUnorderedTag = std::uint64_t{1} << 48;

constexpr std::uint64_t packTriple(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    return (std::uint64_t{a} << 32) | (std::uint64_t{b} << 16) | std::uint64_t{c};
}

// Closures rather than functions, so that the walks they are handed to
// inline them (one call per triangle and per face otherwise).
constexpr auto orientedKey = [](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return std::min(packTriple(a, b, c), std::min(packTriple(b, c, a), packTriple(c, a, b)));
};

constexpr auto unorderedKey = [](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    if (a > b) std::swap(a, b);
    if (b > c) std::swap(b, c);
    if (a > b) std::swap(a, b);
    return kUnorderedTag | packTriple(a, b, c);
};

// Triangle keys to split materials, the first material given for a key
// kept: open addressing with linear probing over a power-of-two table kept at
// most three quarters full, in storage the caller hands over (both tables of
// one geometry share it). Keys are at most 49 bits wide, so all ones marks a
// free slot.
class TriangleMaterials {
public:
    TriangleMaterials(std::vector<std::uint64_t>& keyStore, std::vector<MtlID>& materialStore, std::size_t expected)
        : keys(keyStore), materials(materialStore)
    {
        std::size_t slots = 16;
        while (3 * slots < 4 * expected) slots *= 2;
        reset(slots);
    }

    void insert(std::uint64_t key, MtlID material)
    {
        if (!roomFor(1)) [[unlikely]]
            grow();
        insertWithRoom(key, material);
    }

    // Whether n more keys fit without the table growing.
    bool roomFor(std::size_t n) const { return 4 * (count + n) <= 3 * capacity; }

    // insert for a table known to have room: no growth to provide for, so
    // that the walks inline it.
    void insertWithRoom(std::uint64_t key, MtlID material)
    {
        assert(roomFor(1));
        std::size_t i = slotOf(key);
        while (keys[i] != kFree) {
            if (keys[i] == key) return;
            i = (i + 1) & mask;
        }
        keys[i] = key;
        materials[i] = material;
        ++count;
    }

    const MtlID* find(std::uint64_t key) const
    {
        for (std::size_t i = slotOf(key); keys[i] != kFree; i = (i + 1) & mask)
            if (keys[i] == key) return &materials[i];
        return nullptr;
    }

    bool empty() const { return count == 0; }

private:
    static constexpr std::uint64_t kFree = ~std::uint64_t{0};

    std::size_t slotOf(std::uint64_t key) const
    {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
    }

    void reset(std::size_t newCapacity)
    {
        capacity = newCapacity;
        mask = capacity - 1;
        shift = 64;
        for (std::size_t c = capacity; c > 1; c >>= 1) --shift;
        if (keys.size() < capacity)
            keys.assign(capacity, kFree);
        else
            std::fill(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(capacity), kFree);
        if (materials.size() < capacity) materials.resize(capacity);
        count = 0;
    }

    void grow()
    {
        const std::vector<std::uint64_t> oldKeys(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(capacity));
        const std::vector<MtlID> oldMaterials(materials.begin(),
                                              materials.begin() + static_cast<std::ptrdiff_t>(capacity));
        reset(2 * capacity);
        for (std::size_t i = 0; i < oldKeys.size(); ++i)
            if (oldKeys[i] != kFree) insert(oldKeys[i], oldMaterials[i]);
    }

    std::vector<std::uint64_t>& keys;
    std::vector<MtlID>& materials;
    std::size_t capacity = 0;
    std::size_t mask = 0;
    int shift = 64;
    std::size_t count = 0;
};

// The file vertices that stay when the vertices no face uses are removed, in
// order: mesh vertex k after the removal is file vertex result[k]. Empty when
// every vertex is used. Faces name only vertices the mesh has.
std::vector<std::uint32_t> keptVertices(const Mesh& mesh)
{
    const auto count = static_cast<std::size_t>(mesh.numVerts);
    std::vector<bool> used(count, false);
    for (int f = 0; f < mesh.numFaces; ++f)
        for (DWORD v : mesh.faces[f].v) {
            assert(v < count);
            used[v] = true;
        }
    std::vector<std::uint32_t> kept;
    if (std::find(used.begin(), used.end(), false) == used.end()) return kept;
    for (std::size_t v = 0; v < count; ++v)
        if (used[v]) kept.push_back(static_cast<std::uint32_t>(v));
    return kept;
}

}  // namespace

TriObject* Orvik::createGeometryMesh(std::uint32_t geometryIndex, std::uint32_t vertexCount,
                                     std::uint32_t triangleCount)
{
    assert(geometryIndex < geometryCount());
    if (coreInterface == nullptr) return nullptr;
    if (vertexCount > INT_MAX || triangleCount > INT_MAX) return nullptr;
    auto* object =
        static_cast<TriObject*>(coreInterface->CreateInstance(GEOMOBJECT_CLASS_ID, Class_ID(EDITTRIOBJ_CLASS_ID, 0)));
    geometryTable[geometryIndex].object = object;
    if (object == nullptr) return nullptr;
    Mesh& mesh = object->GetMesh();
    mesh.setNumVerts(static_cast<int>(vertexCount), FALSE, TRUE);
    // A geometry too large for its triangle records takes its faces from the
    // bin mesh, which sizes the face array itself; until then it has none.
    const std::uint32_t faceCount = triangleCount > GeometryLayout::MaxTrianglesFromRecords ? 0 : triangleCount;
    mesh.setNumFaces(static_cast<int>(faceCount), FALSE, TRUE);
    return object;
}

void Orvik::applyPrelitColours(Mesh& mesh, const Records<Rgba>& colours)
{
    mesh.setMapSupport(MAP_ALPHA, TRUE);
    mesh.setMapSupport(0, TRUE);
    mesh.setNumMapVerts(MAP_ALPHA, mesh.numVerts, FALSE);
    mesh.setNumMapVerts(0, mesh.numVerts, FALSE);
    UVVert* alpha = mesh.getNumMapVerts(MAP_ALPHA) == mesh.numVerts ? mesh.mapVerts(MAP_ALPHA) : nullptr;
    UVVert* colour = mesh.getNumMapVerts(0) == mesh.numVerts ? mesh.mapVerts(0) : nullptr;
    if (alpha == nullptr || colour == nullptr) return;
    for (int k = 0; k < mesh.numVerts; ++k) {
        const Rgba rgba = colours[static_cast<std::uint32_t>(k)];
        colour[k] = colourEntry(rgba);
        alpha[k] = alphaEntry(rgba.a);
    }
}

void Orvik::applyTextureCoordinates(Mesh& mesh, const Records<UvPair>& coordinates, std::uint32_t setCount)
{
    const std::uint32_t channels = std::min(setCount, kLastTextureChannel);
    const auto vertexCount = static_cast<std::uint32_t>(mesh.numVerts);
    for (std::uint32_t s = 1; s <= channels; ++s) {
        UVVert* uv = prepareChannel(mesh, static_cast<int>(s));
        if (uv == nullptr) continue;
        // Set s follows the s - 1 sets before it, a pair per vertex each.
        const std::uint32_t first = (s - 1) * vertexCount;
        for (std::uint32_t k = 0; k < vertexCount; ++k) {
            const UvPair pair = coordinates[first + k];
            uv[k] = Point3(pair.u, 1.0f - pair.v, 0.0f);
        }
    }
}

void Orvik::buildTriangleFaces(Mesh& mesh, const Records<Triangle>& triangles, std::uint32_t format)
{
    const int recordCount = mesh.numFaces;
    const auto vertexCount = static_cast<std::uint32_t>(mesh.numVerts);
    const MapFaceTargets channels = MapFaceTargets::forFormat(mesh, format);
    int made = 0;
    for (int f = 0; f < recordCount; ++f) {
        const Triangle t = triangles[static_cast<std::uint32_t>(f)];
        const std::uint32_t a = t.corners[0], b = t.corners[1], c = t.corners[2];
        if (a >= vertexCount || b >= vertexCount || c >= vertexCount) {
            ++mends.facesLeftOut;
            continue;
        }
        initFace(mesh.faces[made], a, b, c, t.material);
        ++made;
    }
    channels.copy(mesh.faces, made);
    if (made != recordCount) mesh.setNumFaces(made, TRUE, TRUE);
}

void Orvik::copyVertexPositions(Mesh& mesh, const Records<Vector>& positions)
{
    for (int k = 0; k < mesh.numVerts; ++k) mesh.verts[k] = toPoint(positions[static_cast<std::uint32_t>(k)]);
}

void Orvik::buildBinMeshFaces(Mesh& mesh, ChunkView body, std::uint32_t format)
{
    BinMeshHeader header;
    if (!readBinMeshHeader(body, header)) return;

    const std::uint32_t total = header.totalIndices;
    const std::uint32_t reserve = header.mode != BinMeshLayout::ListMode ? (total >= 2 ? total - 2 : 0) : total / 3;
    mesh.setNumFaces(static_cast<int>(reserve), FALSE, TRUE);
    const int capacity = mesh.numFaces;
    const auto vertexCount = static_cast<std::uint32_t>(mesh.numVerts);
    const MapFaceTargets channels = MapFaceTargets::forFormat(mesh, format);
    int made = 0;
    walkBinMesh(body, header, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, MtlID material, bool) {
        if (made >= capacity) return;
        if (a >= vertexCount || b >= vertexCount || c >= vertexCount) {
            ++mends.facesLeftOut;
            return;
        }
        initFace(mesh.faces[made], a, b, c, material);
        ++made;
    });
    channels.copy(mesh.faces, made);
    mesh.setNumFaces(made, TRUE, TRUE);
}

// Faces from triangle records often all carry material 0 while the bin mesh
// names each triangle's real material. Each face takes the material of the
// split triangle with the same corners in the same winding (a rotation of
// them); failing that, of one with the same three vertices in any order.
// Strip windows at odd positions wind the other way, so their first two
// corners are swapped to compare windings. When the bin mesh names one
// triangle more than once, its first split wins. Faces no split holds keep
// their record's material.
void Orvik::applyBinMeshMaterials(Mesh& mesh, ChunkView body)
{
    BinMeshHeader header;
    if (!readBinMeshHeader(body, header) || mesh.numFaces <= 0) return;

    // The split triangles by winding first; the table of their unordered
    // keys is made only when some face is not found by its winding.
    const std::uint32_t faceIndexLimit = std::min<std::uint32_t>(static_cast<std::uint32_t>(mesh.numVerts), 0x10000);
    const std::size_t expected = std::min(header.totalIndices, static_cast<std::uint32_t>(mesh.numFaces));
    // The most triangles the walk can give: a strip no more than its
    // indices, a list a third of them. Most tables sized from the face count
    // hold that many without growing, and are filled without the check.
    const std::size_t mostTriangles =
        header.mode != BinMeshLayout::ListMode ? header.totalIndices : header.totalIndices / 3;
    auto fill = [&](TriangleMaterials& table, auto key) {
        auto fillBy = [&](auto insert) {
            walkBinMesh(body, header, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, MtlID material, bool odd) {
                if (a >= faceIndexLimit || b >= faceIndexLimit || c >= faceIndexLimit) return;
                if (odd) std::swap(a, b);
                insert(key(a, b, c), material);
            });
        };
        if (table.roomFor(mostTriangles))
            fillBy([&](std::uint64_t k, MtlID m) { table.insertWithRoom(k, m); });
        else
            fillBy([&](std::uint64_t k, MtlID m) { table.insert(k, m); });
    };
    // The tables' storage is this call's own: freed when it returns, its
    // memory goes to the arrays made next (the extra colours' channels follow
    // the bin mesh), where memory taken fresh costs more than the table's
    // making.
    std::vector<std::uint64_t> keys;
    std::vector<MtlID> materials;
    std::vector<int> notFound;
    {
        TriangleMaterials byWinding(keys, materials, expected);
        fill(byWinding, orientedKey);
        if (byWinding.empty()) return;
        // The faces came from triangle records: 16-bit corners the mesh has.
        for (int f = 0; f < mesh.numFaces; ++f) {
            Face& face = mesh.faces[f];
            const DWORD* v = face.v;
            assert(v[0] < faceIndexLimit && v[1] < faceIndexLimit && v[2] < faceIndexLimit);
            if (const MtlID* found = byWinding.find(orientedKey(v[0], v[1], v[2])))
                face.setMatID(*found);
            else
                notFound.push_back(f);
        }
    }
    if (notFound.empty()) return;
    TriangleMaterials anyOrder(keys, materials, expected);
    fill(anyOrder, unorderedKey);
    for (const int f : notFound) {
        Face& face = mesh.faces[f];
        if (const MtlID* found = anyOrder.find(unorderedKey(face.v[0], face.v[1], face.v[2]))) face.setMatID(*found);
    }
}

void Orvik::applyExtraVertexColours(Mesh& mesh, ChunkView body)
{
    using ExtraColourLayout::LeadSize;
    const auto vertexCount = static_cast<std::uint32_t>(mesh.numVerts);
    // A chunk that cannot hold a colour for every vertex is left out.
    if (body.size() < LeadSize || !countFits(vertexCount, Rgba::kSize, body.left(LeadSize))) {
        ++mends.extraColoursLeftOut;
        return;
    }
    const Records<Rgba> colours = body.records<Rgba>(LeadSize, vertexCount, nullptr);

    mesh.setMapSupport(MAP_SHADING, TRUE);
    mesh.setMapSupport(kExtraAlphaChannel, TRUE);
    mesh.setNumMapVerts(MAP_SHADING, mesh.numVerts, FALSE);
    mesh.setNumMapVerts(kExtraAlphaChannel, mesh.numVerts, FALSE);
    UVVert* shading = mesh.getNumMapVerts(MAP_SHADING) == mesh.numVerts ? mesh.mapVerts(MAP_SHADING) : nullptr;
    UVVert* alpha =
        mesh.getNumMapVerts(kExtraAlphaChannel) == mesh.numVerts ? mesh.mapVerts(kExtraAlphaChannel) : nullptr;
    if (shading != nullptr && alpha != nullptr) {
        for (std::uint32_t k = 0; k < vertexCount; ++k) {
            const Rgba rgba = colours[k];
            shading[k] = colourEntry(rgba);
            alpha[k] = alphaEntry(rgba.a);
        }
    }
    // Only the faces the mesh has now; faces made later get no map faces here.
    MapFaceTargets channels;
    channels.add(mesh, MAP_SHADING);
    channels.add(mesh, kExtraAlphaChannel);
    channels.copy(mesh.faces, mesh.numFaces);
}

void Orvik::applyVertexNormals(Mesh& mesh, const Records<Vector>& normals)
{
    mesh.SpecifyNormals();
    MeshNormalSpec* spec = mesh.GetSpecifiedNormals();
    if (spec == nullptr) return;
    spec->BuildNormals();
    spec->SetFlag(MESH_NORMAL_MODIFIER_SUPPORT);
    spec->MakeNormalsExplicit(false, nullptr, true);

    const int faceCount = std::min(mesh.numFaces, spec->GetNumFaces());
    const int normalCount = spec->GetNumNormals();
    for (int f = 0; f < faceCount; ++f) {
        const MeshNormalFace& normalFace = spec->Face(f);
        for (int c = 0; c < 3; ++c) {
            const int id = normalFace.GetNormalID(c);
            if (id < 0 || id >= normalCount) continue;
            // Faces name only vertices the mesh has (checked where they were made).
            const DWORD vertex = mesh.faces[f].v[c];
            assert(vertex < static_cast<DWORD>(mesh.numVerts));
            spec->Normal(id) = toPoint(normals[vertex]);
        }
    }
}

void Orvik::recordSourceVertices(std::uint32_t geometryIndex, const Mesh& mesh)
{
    assert(geometryIndex < geometryCount());
    geometryTable[geometryIndex].sourceVertices = keptVertices(mesh);
}

void Orvik::finishMesh(Mesh& mesh)
{
    mesh.DeleteIsoVerts();
    mesh.DeleteIsoMapVerts();
    mesh.BuildStripsAndEdges();
}
