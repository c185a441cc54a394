// The importer: the host's scene importer object and, during DoImport, the
// state of one import. Every reader (dff/) and builder (scene/) is a member
// operation; they share the buffer and its one cursor.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dff/Chunk.h"
#include "format/ChunkView.h"
#include "col/Collision.h"
#include "col/Effects.h"
#include "dff/Records.h"
#include "host/max.h"

class Orvik : public SceneImport {
public:
    Orvik();
    ~Orvik() override;

    int ExtCount() override;
    const MCHAR* Ext(int n) override;
    const MCHAR* LongDesc() override;
    const MCHAR* ShortDesc() override;
    const MCHAR* AuthorName() override;
    const MCHAR* CopyrightMessage() override;
    const MCHAR* OtherMessage1() override;
    const MCHAR* OtherMessage2() override;
    unsigned int Version() override;
    void ShowAbout(void* hWnd) override;
    int DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts = FALSE) override;
    BOOL ZoomExtents() override;

    // Passes the share of the buffer consumed to the host's progress display.
    void ReportProgress();
    // The worker handed to ProgressStart: reports progress once.
    static DWORD progressWorker(LPVOID importer);

    // Readers (dff/). Each starts at the cursor; see the chunk layouts.
    // readClump gives the offset of the unit it read (none when no header
    // was left).
    std::optional<std::uint32_t> readClump();
    void readLight();
    void readUvAnimDictionary();
    void readFrameList();
    void readFrameExtension(std::uint32_t frameIndex);
    void readGeometryList();
    void readGeometry(std::uint32_t geometryIndex);
    void readGeometryExtension(Mesh* mesh, const GeometryStruct& counts, std::uint32_t geometryIndex);
    // At the skin chunk's body; reads only within it.
    void readSkin(std::uint32_t geometryIndex, std::uint32_t vertexCount, ChunkView body);
    void readAtomic(std::uint32_t atomicIndex);
    // What a model carries beyond its meshes: the clump's extension (its
    // collision) at the cursor, up to the clump's end; the collision and 2d
    // effect chunks (at their bodies). A damaged entry keeps the entries
    // before it and logs one warning; the import goes on.
    void readClumpExtension(std::uint64_t clumpEnd);
    void readCollisionChunk(ChunkView body);
    void readEffectsChunk(std::uint32_t geometryIndex, ChunkView body);
    // An extension sub-chunk the import does not build, counted for the log.
    void noteSkipped(std::uint32_t type, std::uint32_t bodySize);
    // One information entry per kind of sub-chunk passed over.
    void logSkippedChunks();

    // Mesh construction (scene/). The blocks given to these hold a record for
    // every vertex (or triangle) of the geometry the mesh was sized from.
    TriObject* createGeometryMesh(std::uint32_t geometryIndex, std::uint32_t vertexCount, std::uint32_t triangleCount);
    void applyPrelitColours(Mesh& mesh, const Records<Rgba>& colours);
    void applyTextureCoordinates(Mesh& mesh, const Records<UvPair>& coordinates, std::uint32_t setCount);
    void buildTriangleFaces(Mesh& mesh, const Records<Triangle>& triangles, std::uint32_t format);
    void copyVertexPositions(Mesh& mesh, const Records<Vector>& positions);
    // The sub-chunk readers below read only within the sub-chunk's body (the
    // cursor stands on it); the extension walk moves the cursor to the
    // sub-chunk's end afterwards.
    void buildBinMeshFaces(Mesh& mesh, ChunkView body, std::uint32_t format);
    // For meshes whose faces come from triangle records: gives each face the
    // material of the bin-mesh split that holds the same triangle.
    void applyBinMeshMaterials(Mesh& mesh, ChunkView body);
    void applyExtraVertexColours(Mesh& mesh, ChunkView body);
    void applyVertexNormals(Mesh& mesh, const Records<Vector>& normals);
    void finishMesh(Mesh& mesh);
    // For a skinned geometry: which file vertex each mesh vertex will be once
    // finishMesh has removed the vertices no face uses (sourceVertices).
    void recordSourceVertices(std::uint32_t geometryIndex, const Mesh& mesh);

    // Materials and textures (scene/). A null material (the host refused to
    // create it) is walked over all the same.
    void readMaterialList(std::uint32_t geometryIndex);
    void readMaterial(std::uint32_t materialIndex, MultiMtl* multi);
    // False once the reading has failed.
    bool readTexture(Mtl* material);
    // A new bitmap texture named name, its image file looked up; null when
    // the host made none.
    BitmapTex* newNamedTexture(const std::string& name);
    void findTextureFile(BitmapTex* texture);
    void readMaterialExtension(Mtl* material);

    // Scene builds (scene/).
    void buildPlainScene();
    void buildSkinnedScene();
    // The clump's collision under its root's node and each geometry's 2d
    // effects under the nodes of its frames; called by both builds before
    // they release the clump's tables.
    void buildModelExtras();
    void setUpSkin(INode* meshNode, std::uint32_t geometryIndex);
    // Binds bone k of the skin at the file's bind pose, relative to the mesh at meshTm.
    void bindBone(ISkinImportData& importData, INode& bone, const SkinRecord& skin, std::uint32_t k,
                  const Matrix3& meshTm);

    // Reading. Every read goes through a ChunkView over the buffer; the first
    // read that would leave its bounds records why in `failure` (readFailed),
    // which ends the import as an unexpected top-level chunk does; later reads
    // give zero and the cursor operations below no longer move.
    std::uint64_t bytesInBuffer() const { return fileSize > 0 ? static_cast<std::uint64_t>(fileSize) : 0; }
    // A chunk from its header at offset to the end of the buffer: for the
    // chunks whose sizes the readers do not rely on; their counts and blocks
    // are checked against what the file has left.
    ChunkView viewToEnd(std::uint64_t offset, const char* what, std::uint32_t number = ChunkView::kNoNumber);
    // Bytes [begin, end) of the buffer: a sub-chunk's body, a record of fixed size.
    ChunkView viewOf(std::uint64_t begin, std::uint64_t end, const char* what,
                     std::uint32_t number = ChunkView::kNoNumber);
    // Ends the reading with a reason, unless it has already ended.
    void fail(std::uint64_t offset, std::string reason);
    // Records why the import stops at a chunk that is no damage (an
    // unexpected chunk); the first one stays.
    void noteStop(std::uint64_t offset, std::string reason);
    // Writes what the import mended (one entry per kind) and why it ended
    // early to the host's system log.
    void logImportEnd();
    void writeLog(DWORD type, const std::string& text);
    std::uint32_t offsetOf(const std::uint8_t* p) const { return static_cast<std::uint32_t>(p - buffer.get()); }
    // Takes the header at the cursor and advances by 12; gives the header's
    // offset, or none (and failed) when fewer than 12 bytes are left.
    std::optional<std::uint32_t> readHeader(ChunkHeader& header);
    // Back onto the header just read.
    void rewind() { cursor -= kChunkHeaderSize; }
    // Past the body of the chunk whose header was just read; fails when the
    // body runs past the buffer.
    bool skipChunk(const ChunkHeader& header);
    // For the chunk whose header was just read: the end of its body, which
    // must lie in the buffer (otherwise the import fails and 0 is given).
    // what names the chunk in the message; null names it by its type.
    std::uint32_t bodyEnd(const ChunkHeader& header, const char* what, std::uint32_t number);
    // Walks the sub-chunks of an extension body from the cursor to end: for
    // each, visit(header, body) with the cursor on the body and the body
    // bounded by the sub-chunk's size and the extension's end; the walk goes
    // on at the sub-chunk's end. A tail too short for a header is passed
    // over. Stops once the reading has failed.
    template <class Visit>
    void walkExtension(std::uint32_t end, Visit&& visit);
    // An extension chunk (accepted stamp) at the cursor is passed over whole,
    // its sub-chunks counted as not built; anything else is left for the
    // next reader. False once the reading has failed.
    bool skipTrailingExtension();
    // Counts of the current clump's tables.
    std::uint32_t frameCount() const { return static_cast<std::uint32_t>(frameNodeTable.size()); }
    std::uint32_t geometryCount() const { return static_cast<std::uint32_t>(geometryTable.size()); }
    std::uint32_t atomicCount() const { return static_cast<std::uint32_t>(atomicTable.size()); }
    FrameRecord frameRecord(std::uint32_t frameIndex) const { return frameRecords[frameIndex]; }
    void setFrameLink(std::uint32_t frameIndex, std::int32_t link);
    // Releases the per-clump tables and empties hAnimIdToFrame.
    void releaseClumpTables();

    // Import state, in declaration order.
    std::optional<std::uint32_t> clumpAt;      // offset of the current clump's header, once its struct was checked
    std::optional<std::uint32_t> frameListAt;  // offset of its frame list's header, once its records were checked
    Records<HAnimNode> hAnimNodes;             // the HAnim node array of the clump's last frame that has one
    std::unique_ptr<std::uint8_t[]> buffer;
    std::uint32_t cursor = 0;
    std::int64_t fileSize = 0;
    bool skinned = false;
    bool moreChunks = true;
    bool clumpOk = true;
    std::map<std::string, Records<UvKeyFrame>> uvAnimations;
    std::map<std::uint32_t, SkinRecord> skinTable;
    std::map<std::int32_t, std::uint32_t> hAnimIdToFrame;
    ImpInterface* importInterface = nullptr;
    Interface* coreInterface = nullptr;
    Records<FrameRecord> frameRecords;
    std::vector<std::string> frameNames;
    std::vector<GeometryRecord> geometryTable;
    std::vector<Records<AtomicStruct>> atomicTable;  // one atomic struct each; none for an atomic left out
    std::vector<FrameNodeSlot> frameNodeTable;

    // Bookkeeping of the bounds checks.
    ReadFailure failure;                // why the reading ended early
    bool& readFailed = failure.failed;  // a read would have left its bounds
    bool binMeshFacesBuilt = false;     // the current geometry's faces came from its bin mesh

    // Each texture name's map name, as the bitmap search gave it, for this
    // import: a model's materials name the same few textures many times.
    std::unordered_map<std::string, std::string> textureMapNames;

    // What is logged after the import: the clumps met and built, a clump
    // that runs past the file, a stop at an unexpected chunk.
    std::uint32_t clumpsMet = 0;
    std::uint32_t clumpsBuilt = 0;
    ReadFailure shortClump;
    ReadFailure stop;
    bool stopAtTopLevel = false;

    // What the import mended (left out so that the rest could be imported),
    // counted for the log.
    struct Mends {
        std::uint64_t facesLeftOut = 0;         // faces naming a vertex the mesh lacks
        std::uint32_t atomicsLeftOut = 0;       // atomics naming a frame or geometry the clump lacks
        std::uint32_t lightsLeftOut = 0;        // lights on a frame the clump lacks
        std::uint32_t skinsLeftOut = 0;         // skins whose chunk cannot hold their vertices
        std::uint32_t extraColoursLeftOut = 0;  // extra vertex colours that cannot cover the vertices
        // and what real files hold that the host would show wrongly:
        std::uint32_t derivedTextureSets = 0;      // geometries whose set count came from the flags
        std::uint32_t posedBones = 0;              // bones bound at the bind pose, away from their frames
        std::uint32_t singularBindMatrices = 0;    // bones left bound at their frames
        std::uint32_t rigidParts = 0;              // unskinned meshes of skinned clumps linked to their frame
        std::uint32_t nonFiniteWeights = 0;        // weights given as 0
        std::uint64_t collisionShapesLeftOut = 0;  // spheres and boxes past the import's budget
        std::uint64_t effectsLeftOut = 0;          // 2d effects past the import's budget
    };
    Mends mends;

    // Extension sub-chunks passed over, per chunk type: how many and their bytes.
    struct Skipped {
        std::uint64_t count = 0;
        std::uint64_t bytes = 0;
    };
    std::map<std::uint32_t, Skipped> skippedChunks;
    // What the current clump carries beyond its meshes, built with it.
    std::vector<orvik::col::Model> clumpCollision;
    std::map<std::uint32_t, std::vector<orvik::col::Effect>> geometryEffects;  // by geometry index

    // What one import's Skins and UV animations may still take, so that data
    // many atomics or materials share cannot make the host hold more than the
    // file backs: a bone per inverse matrix (64 bytes), a weighted vertex per
    // vertex weight record (20 bytes) and four keys per key frame (32 bytes)
    // the file could hold. Set by DoImport.
    std::uint64_t skinBonesLeft = 0;
    std::uint64_t skinVerticesLeft = 0;
    std::uint64_t uvKeysLeft = 0;
    // Likewise for what a model carries beyond its meshes: a sphere or box
    // mesh per kCollisionShapeBytes of the file, a 2d effect node per 20
    // bytes (an entry's least), however many frames show its geometry.
    static constexpr std::uint64_t kCollisionShapeBytes = 64;
    std::uint64_t collisionShapesLeft = 0;
    std::uint64_t effectNodesLeft = 0;
};

template <class Visit>
void Orvik::walkExtension(std::uint32_t end, Visit&& visit)
{
    while (cursor < end && !readFailed) {
        if (end - cursor < kChunkHeaderSize) {
            cursor = end;
            break;
        }
        const ChunkHeader sub = viewOf(cursor, end, "an extension").header(0);
        const std::uint32_t body = cursor + kChunkHeaderSize;
        const auto subEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{body} + sub.size, end));
        cursor = body;
        visit(sub, viewOf(body, subEnd, "a sub-chunk"));
        if (readFailed) return;
        cursor = subEnd;
    }
}

// The importer's class descriptor.
class OrvikClassDesc : public ClassDesc2 {
public:
    int IsPublic() override;
    void* Create(BOOL loading = FALSE) override;
    const MCHAR* ClassName() override;
    SClass_ID SuperClassID() override;
    Class_ID ClassID() override;
    const MCHAR* Category() override;
    HINSTANCE HInstance() override;
};

#define ORVIK_CLASS_ID Class_ID(0x4F52272A, 0x2CDF01E5)

// The descriptor, constructed on first use.
ClassDesc2* GetOrvikDesc();
