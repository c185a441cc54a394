// The geometry list, each geometry's blocks, its extension (bin mesh, extra
// vertex colours, skin) and the clump's atomics.
#include <algorithm>
#include <cassert>

#include "importer/Orvik.h"

namespace {
// RenderWare geometries carry at most eight texture-coordinate sets.
constexpr std::uint32_t kMaxTextureSets = 8;

bool hasSurfaceProperties(std::uint32_t stamp)
{
    using namespace LibraryStamp;
    return stamp == Rw310 || stamp == Rw3FFFF || stamp == Rw800FFFF || stamp == RwC02FFFF;
}
}  // namespace

void Orvik::readGeometryList()
{
    ChunkHeader h{};
    const std::optional<std::uint32_t> at = readHeader(h);
    if (!at) return;
    if (h.type != ChunkType::GeometryList || !isAcceptedStamp(h.stamp)) return;
    const std::uint32_t h0 = *at;
    ChunkView list = viewToEnd(h0, "the geometry list");
    const std::uint32_t count = list.u32(GeometryListLayout::GeometryCount);
    // A count the rest of the file cannot hold is refused before anything is sized from it.
    if (!list.needCount(GeometryListLayout::Geometries, count, GeometryLayout::MinSize, "geometries")) return;
    cursor = h0 + GeometryListLayout::Geometries;
    geometryTable.assign(count, GeometryRecord{});
    for (std::uint32_t i = 0; i < count && !readFailed; ++i) readGeometry(i);

    // After a failure the count reads as zero and the check below fails.
    ChunkView clump = viewOf(*clumpAt, std::uint64_t{*clumpAt} + ClumpLayout::EarlyStructEnd, "the clump");
    const std::uint32_t atomics = clump.u32(ClumpLayout::AtomicCount);
    if (!viewToEnd(cursor, "the atomics").needCount(0, atomics, AtomicLayout::Size, "atomics")) return;
    atomicTable.assign(atomics, Records<AtomicStruct>{});
    for (std::uint32_t j = 0; j < atomics && !readFailed; ++j) readAtomic(j);
}

void Orvik::readGeometry(std::uint32_t geometryIndex)
{
    ReportProgress();
    const std::uint32_t g = cursor;
    ChunkView geometry = viewToEnd(g, "geometry", geometryIndex);
    if (!geometry.need(0, GeometryLayout::Blocks, "its struct")) return;
    const std::uint32_t structStamp = geometry.u32(GeometryLayout::StructStamp);
    const GeometryStruct counts{geometry.u32(GeometryLayout::Format), geometry.u32(GeometryLayout::TriangleCount),
                                geometry.u32(GeometryLayout::VertexCount)};
    const std::uint32_t format = counts.format;
    const std::uint32_t triangleCount = counts.triangleCount;
    const std::uint32_t vertexCount = counts.vertexCount;
    const std::uint32_t setCount = textureSetCount(format);
    const bool prelit = (format & GeometryLayout::PrelitBit) != 0;
    const bool hasNormals = (format & GeometryLayout::NormalsBit) != 0;
    // A format claiming more sets is damaged: each set would give the mesh a
    // map channel with one map face per face, far more than the file backs.
    if (setCount > kMaxTextureSets) {
        fail(g, joinText("geometry ", std::to_string(geometryIndex), " at ", hexOffset(g), " declares ",
                         std::to_string(setCount), " texture-coordinate sets, at most ",
                         std::to_string(kMaxTextureSets), " are possible"));
        return;
    }

    // Every block the counts claim must lie in the buffer before the mesh is
    // sized from them; each is taken where it lies.
    using namespace GeometryLayout;
    const std::uint64_t v = vertexCount;
    std::uint64_t at = Blocks;
    auto skip = [&](bool present, std::uint32_t length, const char* purpose) {
        if (!present) return;
        geometry.need(at, length, purpose);
        at += length;
    };
    auto block = [&]<class Record>(Records<Record>& out, bool present, std::uint64_t count, const char* purpose) {
        if (!present) return;
        out = geometry.records<Record>(at, count, purpose);
        at += Record::kSize * count;
    };
    GeometryBlocks& blocks = geometryTable[geometryIndex].blocks;
    skip(hasSurfaceProperties(structStamp), SurfacePropertiesSize, "its surface properties");
    block(blocks.colours, prelit, v, "its prelit colours");
    block(blocks.coordinates, setCount > 0, setCount * v, "its texture coordinates");
    block(blocks.triangles, true, triangleCount, "its triangles");
    skip(true, MorphTargetHeadSize, "its morph target");
    block(blocks.positions, true, v, "its vertices");
    block(blocks.normals, hasNormals, v, "its normals");
    // A block the geometry does not hold fails the import and is left an
    // empty run; the mesh below is sized from the counts and would index
    // past it, so this check is the one that keeps the builders in bounds.
    if (readFailed) return;

    if (setCount != storedTextureSetCount(format)) ++mends.derivedTextureSets;
    TriObject* object = createGeometryMesh(geometryIndex, vertexCount, triangleCount);
    Mesh* mesh = object != nullptr ? &object->GetMesh() : nullptr;
    cursor = static_cast<std::uint32_t>(g + at);
    if (mesh) {
        if (prelit) applyPrelitColours(*mesh, blocks.colours);
        if (setCount > 0) applyTextureCoordinates(*mesh, blocks.coordinates, setCount);
        if (triangleCount <= MaxTrianglesFromRecords) buildTriangleFaces(*mesh, blocks.triangles, format);
        copyVertexPositions(*mesh, blocks.positions);
    }

    readMaterialList(geometryIndex);
    if (readFailed) return;
    binMeshFacesBuilt = false;
    readGeometryExtension(mesh, counts, geometryIndex);
    if (readFailed || mesh == nullptr) return;
    // A large geometry without a bin mesh still gets the faces its records can address.
    if (triangleCount > MaxTrianglesFromRecords && !binMeshFacesBuilt) {
        mesh->setNumFaces(static_cast<int>(triangleCount), FALSE, TRUE);
        buildTriangleFaces(*mesh, blocks.triangles, format);
    }
    if (hasNormals) applyVertexNormals(*mesh, blocks.normals);
    if (skinTable.count(geometryIndex) != 0) recordSourceVertices(geometryIndex, *mesh);
    finishMesh(*mesh);
}

void Orvik::readGeometryExtension(Mesh* mesh, const GeometryStruct& counts, std::uint32_t geometryIndex)
{
    ReportProgress();
    ChunkHeader e{};
    if (!readHeader(e)) return;
    // A body past the buffer ends the import; the walk to its end (0) is empty.
    const std::uint32_t end = bodyEnd(e, "the extension of geometry", geometryIndex);
    const std::uint32_t format = counts.format;
    const std::uint32_t triangleCount = counts.triangleCount;

    // Other sub-chunks are passed over and counted.
    walkExtension(end, [&](const ChunkHeader& sub, ChunkView body) {
        switch (sub.type) {
        case ChunkType::SkinPlugin:
            skinned = true;
            readSkin(geometryIndex, counts.vertexCount, body);
            break;
        case ChunkType::BinMeshPlugin:
            if (mesh == nullptr) break;
            if (triangleCount > GeometryLayout::MaxTrianglesFromRecords) {
                buildBinMeshFaces(*mesh, body, format);
                binMeshFacesBuilt = true;
            } else {
                applyBinMeshMaterials(*mesh, body);
            }
            break;
        case ChunkType::ExtraVertexColour:
            if (mesh) applyExtraVertexColours(*mesh, body);
            break;
        case ChunkType::TwoDEffect:
            readEffectsChunk(geometryIndex, body);
            break;
        default:
            noteSkipped(sub.type, body.size());
            break;
        }
    });
}

void Orvik::readSkin(std::uint32_t geometryIndex, std::uint32_t vertexCount, ChunkView body)
{
    using namespace SkinLayout;
    if (body.size() < HeadSize) return;
    const std::uint32_t boneCount = body.u8(BoneCount);
    const std::uint32_t usedBoneCount = body.u8(UsedBoneCount);
    const std::uint32_t maxWeights = body.u8(MaxWeights);
    // The per-vertex data must lie in the skin chunk; a skin that does not
    // hold it is left out.
    const std::uint64_t perVertexEnd =
        HeadSize + std::uint64_t{usedBoneCount} + VertexBytes * std::uint64_t{vertexCount};
    if (!body.holds(0, perVertexEnd)) {
        ++mends.skinsLeftOut;
        return;
    }
    // The older layout puts a marker before each inverse matrix; a chunk too
    // short for that layout is read in the other one when it fits.
    std::uint32_t marker = maxWeights == 0 ? MatrixMarkerSize : 0;
    if (!body.holds(0, perVertexEnd + std::uint64_t{MatrixSize + marker} * boneCount)) marker = 0;
    SkinRecord record;
    record.geometryIndex = geometryIndex;
    record.usedBoneCount = usedBoneCount;
    const std::uint64_t indicesAt = HeadSize + std::uint64_t{usedBoneCount};
    record.boneIndices = body.records<BoneIndices>(indicesAt, vertexCount, nullptr);
    record.weights =
        body.records<BoneWeights>(indicesAt + std::uint64_t{BoneIndices::kSize} * vertexCount, vertexCount, nullptr);
    const std::uint32_t stride = MatrixSize + marker;
    const std::uint64_t matricesEnd = perVertexEnd + std::uint64_t{stride} * boneCount;
    if (body.holds(0, matricesEnd))
        record.inverseBoneMatrices = body.records<InverseBoneMatrix>(perVertexEnd + marker, boneCount, nullptr, stride);
    skinTable.try_emplace(geometryIndex, record);
}

void Orvik::readAtomic(std::uint32_t atomicIndex)
{
    ReportProgress();
    const std::uint32_t a = cursor;
    ChunkView atomic = viewOf(a, std::uint64_t{a} + AtomicLayout::Size, "atomic", atomicIndex);
    if (!atomic.need(0, AtomicLayout::Size, nullptr)) return;
    cursor = a + AtomicLayout::Size;
    const std::uint32_t frame = atomic.u32(AtomicLayout::FrameIndex);
    const std::uint32_t geometry = atomic.u32(AtomicLayout::GeometryIndex);
    // An atomic naming a frame or geometry the clump does not have is left
    // out; the builds rely on the entries that stay.
    if (frame < frameCount() && geometry < geometryCount()) {
        atomicTable[atomicIndex] = atomic.records<AtomicStruct>(AtomicLayout::FrameIndex, 1, nullptr);
        setFrameLink(frame, static_cast<std::int32_t>(geometry));
    } else {
        ++mends.atomicsLeftOut;
    }
    skipTrailingExtension();
}
