// The geometry list, each geometry's blocks, its extension (bin mesh, extra
// vertex colours, skin) and the clump's atomics.
#include <algorithm>

#include "importer/Orvik.h"

namespace {
// Smallest possible geometry chunk: header, struct header, four counts, morph target head.
constexpr std::uint32_t kMinGeometrySize = 12 + 12 + 16 + 24;
// Atomic: header, struct header, frame, geometry, flags, unused.
constexpr std::uint32_t kAtomicSize = 40;
constexpr std::uint32_t kMorphTargetHeadSize = 24;
constexpr std::uint32_t kSurfacePropertiesSize = 12;
constexpr std::uint32_t kMaxTrianglesFromRecords = 0xFFFF;
// RenderWare geometries carry at most eight texture-coordinate sets.
constexpr std::uint32_t kMaxTextureSets = 8;

// The file vertices that stay when the vertices no face uses are removed, in
// order: mesh vertex k after the removal is file vertex result[k]. Empty when
// every vertex is used.
std::vector<std::uint32_t> keptVertices(const Mesh& mesh)
{
    const auto count = static_cast<std::size_t>(mesh.numVerts);
    std::vector<bool> used(count, false);
    for (int f = 0; f < mesh.numFaces; ++f)
        for (DWORD v : mesh.faces[f].v)
            if (v < count) used[v] = true;
    std::vector<std::uint32_t> kept;
    if (std::find(used.begin(), used.end(), false) == used.end()) return kept;
    for (std::size_t v = 0; v < count; ++v)
        if (used[v]) kept.push_back(static_cast<std::uint32_t>(v));
    return kept;
}

bool hasSurfaceProperties(std::uint32_t stamp)
{
    using namespace LibraryStamp;
    return stamp == Rw310 || stamp == Rw3FFFF || stamp == Rw800FFFF || stamp == RwC02FFFF;
}
}  // namespace

void Orvik::readGeometryList()
{
    ChunkHeader h{};
    const std::uint8_t* hp = readHeader(h);
    if (hp == nullptr) return;
    if (h.type != ChunkType::GeometryList || !isAcceptedStamp(h.stamp)) return;
    const std::uint32_t h0 = offsetOf(hp);
    const std::uint32_t count = u32At(std::uint64_t{h0} + 24);
    if (!setCursor(std::uint64_t{h0} + 28)) return;
    // A count the rest of the file cannot hold is refused before anything is sized from it.
    if (count > (bufferSize - cursor) / kMinGeometrySize) {
        fail();
        return;
    }
    geometryTable.assign(count, GeometryRecord{});
    for (std::uint32_t i = 0; i < count && !readFailed; ++i) readGeometry(i);
    if (readFailed) return;

    const std::uint32_t atomics = loadU32(clumpStruct + kChunkHeaderSize);
    if (atomics > (bufferSize - cursor) / kAtomicSize) {
        fail();
        return;
    }
    atomicTable.assign(atomics, nullptr);
    for (std::uint32_t j = 0; j < atomics && !readFailed; ++j) readAtomic(j);
}

void Orvik::readGeometry(std::uint32_t geometryIndex)
{
    ReportProgress();
    const std::uint32_t g = cursor;
    if (!require(g, 40)) return;
    const std::uint8_t* geometryStruct = at(g + 12);
    const std::uint32_t structStamp = loadU32(at(g + 20));
    const std::uint32_t format = loadU32(at(g + 24));
    const std::uint32_t triangleCount = loadU32(at(g + 28));
    const std::uint32_t vertexCount = loadU32(at(g + 32));
    const std::uint32_t setCount = (format >> 16) & 0xFF;
    const bool prelit = (format & 0x08) != 0;
    const bool hasNormals = (format & 0x10) != 0;
    // A format claiming more sets is damaged: each set would give the mesh a
    // map channel with one map face per face, far more than the file backs.
    if (setCount > kMaxTextureSets) {
        fail();
        return;
    }

    // Every block the counts claim must lie in the buffer before the mesh is sized from them.
    const std::uint64_t v = vertexCount;
    std::uint64_t blocks = hasSurfaceProperties(structStamp) ? kSurfacePropertiesSize : 0;
    blocks += (prelit ? 4 * v : 0) + 8 * std::uint64_t{setCount} * v + 8 * std::uint64_t{triangleCount} +
              kMorphTargetHeadSize + 12 * v + (hasNormals ? 12 * v : 0);
    if (!require(std::uint64_t{g} + 40, blocks)) return;

    TriObject* object = createGeometryMesh(geometryIndex, vertexCount, triangleCount);
    Mesh* mesh = object != nullptr ? &object->GetMesh() : nullptr;
    cursor = g + 40;
    if (hasSurfaceProperties(structStamp)) cursor += kSurfacePropertiesSize;

    if (prelit) {
        const std::uint8_t* colours = at(cursor);
        cursor += 4 * vertexCount;
        if (mesh) applyPrelitColours(*mesh, colours);
    }
    if (setCount > 0) {
        const std::uint8_t* coordinates = at(cursor);
        cursor += 8 * setCount * vertexCount;
        if (mesh) applyTextureCoordinates(*mesh, coordinates, setCount);
    }
    const std::uint8_t* triangles = at(cursor);
    cursor += 8 * triangleCount;
    if (mesh && triangleCount <= kMaxTrianglesFromRecords) buildTriangleFaces(*mesh, triangles, format);
    cursor += kMorphTargetHeadSize;
    const std::uint8_t* positions = at(cursor);
    cursor += 12 * vertexCount;
    if (mesh) copyVertexPositions(*mesh, positions);
    const std::uint8_t* normals = nullptr;
    if (hasNormals) {
        normals = at(cursor);
        cursor += 12 * vertexCount;
    }

    readMaterialList(geometryIndex);
    if (readFailed) return;
    binMeshFacesBuilt = false;
    readGeometryExtension(mesh, geometryStruct, geometryIndex);
    if (readFailed) return;
    if (mesh == nullptr) return;
    // A large geometry without a bin mesh still gets the faces its records can address.
    if (triangleCount > kMaxTrianglesFromRecords && !binMeshFacesBuilt) {
        mesh->setNumFaces(static_cast<int>(triangleCount), FALSE, TRUE);
        buildTriangleFaces(*mesh, triangles, format);
    }
    if (hasNormals) applyVertexNormals(*mesh, normals);
    if (skinTable.count(geometryIndex) != 0) geometryTable[geometryIndex].sourceVertices = keptVertices(*mesh);
    finishMesh(*mesh);
}

void Orvik::readGeometryExtension(Mesh* mesh, const std::uint8_t* geometryStruct, std::uint32_t geometryIndex)
{
    ReportProgress();
    ChunkHeader e{};
    if (readHeader(e) == nullptr) return;
    const std::uint64_t end = std::uint64_t{cursor} + e.size;
    if (end > bufferSize) {
        fail();
        return;
    }
    const std::uint32_t format = loadU32(geometryStruct + 12);
    const std::uint32_t triangleCount = loadU32(geometryStruct + 16);

    // Each sub-chunk is handled within its own bounds; the walk resumes at
    // its end, bounded by the extension's end. Unknown ones are passed over.
    while (cursor < end) {
        if (end - cursor < kChunkHeaderSize) {
            cursor = static_cast<std::uint32_t>(end);
            break;
        }
        const ChunkHeader sub = loadHeader(at(cursor));
        const std::uint32_t d = cursor + kChunkHeaderSize;
        const std::uint32_t subEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{d} + sub.size, end));
        const std::uint32_t bodySize = subEnd - d;
        cursor = d;
        switch (sub.type) {
        case ChunkType::SkinPlugin:
            skinned = true;
            readSkin(geometryIndex, geometryStruct, bodySize);
            break;
        case ChunkType::BinMeshPlugin:
            if (mesh == nullptr) break;
            if (triangleCount > kMaxTrianglesFromRecords) {
                buildBinMeshFaces(*mesh, bodySize, format);
                binMeshFacesBuilt = true;
            } else {
                applyBinMeshMaterials(*mesh, bodySize);
            }
            break;
        case ChunkType::ExtraVertexColour:
            if (mesh) applyExtraVertexColours(*mesh, bodySize);
            break;
        default:
            break;
        }
        if (readFailed) return;
        cursor = subEnd;
    }
}

void Orvik::readSkin(std::uint32_t geometryIndex, const std::uint8_t* geometryStruct, std::uint32_t bodySize)
{
    const std::uint32_t s = cursor;
    if (bodySize < 4) return;
    const std::uint32_t boneCount = buffer[s];
    const std::uint32_t usedBoneCount = buffer[s + 1];
    const std::uint32_t vertexCount = loadU32(geometryStruct + 20);
    // The per-vertex data must lie in the skin chunk; a skin that does not
    // hold it is left out. Some writers put a marker before each inverse
    // matrix, so only the per-vertex part is held to the counts.
    const std::uint64_t perVertexEnd = 4 + std::uint64_t{usedBoneCount} + 20 * std::uint64_t{vertexCount};
    if (perVertexEnd > bodySize) return;
    SkinRecord record;
    record.geometryIndex = geometryIndex;
    record.header = at(s);
    record.usedBones = at(s + 4);
    record.vertexBoneIndices = record.usedBones + usedBoneCount;
    record.vertexWeights = record.vertexBoneIndices + 4 * std::size_t{vertexCount};
    record.inverseBoneMatrices = record.vertexWeights + 16 * std::size_t{vertexCount};
    record.vertexCount = vertexCount;
    const std::uint64_t matricesEnd = perVertexEnd + 64 * std::uint64_t{boneCount};
    if (matricesEnd > bodySize) record.inverseBoneMatrices = nullptr;
    cursor = static_cast<std::uint32_t>(s + std::min<std::uint64_t>(matricesEnd, bodySize));
    skinTable.try_emplace(geometryIndex, record);
}

void Orvik::readAtomic(std::uint32_t atomicIndex)
{
    ReportProgress();
    const std::uint32_t a = cursor;
    if (!require(a, kAtomicSize)) return;
    cursor = a + kAtomicSize;
    const std::uint32_t frame = loadU32(at(a + 24));
    const std::uint32_t geometry = loadU32(at(a + 28));
    // An atomic naming a frame or geometry the clump does not have is left out.
    if (frame < frameCount() && geometry < geometryCount()) {
        atomicTable[atomicIndex] = at(a + 12);
        setFrameLink(frame, static_cast<std::int32_t>(geometry));
    }
    if (!inBuffer(cursor, kChunkHeaderSize)) return;
    const ChunkHeader e = loadHeader(at(cursor));
    if (e.type == ChunkType::Extension && isAcceptedStamp(e.stamp)) {
        cursor += kChunkHeaderSize;
        skipChunk(e);
    }
}
