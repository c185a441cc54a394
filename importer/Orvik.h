// The importer: the host's scene importer object and, during DoImport, the
// state of one import. Every reader (dff/) and builder (scene/) is a member
// operation; they share the buffer and its one cursor.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dff/Chunk.h"
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
    const std::uint8_t* readClump();
    void readLight();
    void readUvAnimDictionary();
    void readFrameList();
    void readFrameExtension(std::uint32_t frameIndex);
    void readGeometryList();
    void readGeometry(std::uint32_t geometryIndex);
    void readGeometryExtension(Mesh* mesh, const std::uint8_t* geometryStruct, std::uint32_t geometryIndex);
    // At the skin chunk's body; bodySize bounds what may be read.
    void readSkin(std::uint32_t geometryIndex, const std::uint8_t* geometryStruct, std::uint32_t bodySize);
    void readAtomic(std::uint32_t atomicIndex);

    // Mesh construction (scene/). Pointers given to these point at blocks that
    // the reader has checked to lie in the buffer for the mesh's counts.
    TriObject* createGeometryMesh(std::uint32_t geometryIndex, std::uint32_t vertexCount, std::uint32_t triangleCount);
    void applyPrelitColours(Mesh& mesh, const std::uint8_t* colours);
    void applyTextureCoordinates(Mesh& mesh, const std::uint8_t* coordinates, std::uint32_t setCount);
    void buildTriangleFaces(Mesh& mesh, const std::uint8_t* triangles, std::uint32_t format);
    void mapFaceToChannels(Mesh& mesh, int face, std::uint32_t format);
    void copyVertexPositions(Mesh& mesh, const std::uint8_t* positions);
    // The sub-chunk readers below start at the cursor (the sub-chunk's body)
    // and read at most bodySize bytes; the caller moves the cursor to the
    // sub-chunk's end afterwards.
    void buildBinMeshFaces(Mesh& mesh, std::uint32_t bodySize, std::uint32_t format);
    // For meshes whose faces come from triangle records: gives each face the
    // material of the bin-mesh split that holds the same triangle.
    void applyBinMeshMaterials(Mesh& mesh, std::uint32_t bodySize);
    void applyExtraVertexColours(Mesh& mesh, std::uint32_t bodySize);
    void applyVertexNormals(Mesh& mesh, const std::uint8_t* normals);
    void finishMesh(Mesh& mesh);

    // Materials and textures (scene/). A null material (the host refused to
    // create it) is walked over all the same.
    void readMaterialList(std::uint32_t geometryIndex);
    void readMaterial(std::uint32_t materialIndex, MultiMtl* multi);
    void readTexture(Mtl* material);
    static void findTextureFile(BitmapTex* texture);
    void readMaterialExtension(Mtl* material);

    // Scene builds (scene/).
    void buildPlainScene();
    void buildSkinnedScene();
    void setUpSkin(INode* meshNode, std::uint32_t geometryIndex);

    // Bounds of the buffer. A read that would leave it sets readFailed, which
    // ends the import as an unexpected top-level chunk does; the failing read
    // gives zero. All comparisons use the bytes left, never offset + n.
    bool inBuffer(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= bufferSize && bufferSize - offset >= length;
    }
    // inBuffer, and on failure marks the import as failed.
    bool require(std::uint64_t offset, std::uint64_t length);
    void fail();
    std::uint32_t offsetOf(const std::uint8_t* p) const { return static_cast<std::uint32_t>(p - buffer.get()); }
    std::uint8_t* at(std::uint32_t offset) const { return buffer.get() + offset; }
    std::uint32_t u32At(std::uint64_t offset);
    std::int32_t i32At(std::uint64_t offset) { return static_cast<std::int32_t>(u32At(offset)); }
    float f32At(std::uint64_t offset);
    std::uint16_t u16At(std::uint64_t offset);
    std::uint8_t u8At(std::uint64_t offset);
    // Takes the header at the cursor and advances by 12; null (and failed)
    // when fewer than 12 bytes are left.
    const std::uint8_t* readHeader(ChunkHeader& header);
    // Back onto the header just read.
    void rewind() { cursor -= kChunkHeaderSize; }
    // Past the body of the chunk whose header was just read; fails when the
    // body runs past the buffer.
    bool skipChunk(const ChunkHeader& header);
    // Moves the cursor to an offset that must not lie past the buffer's end.
    bool setCursor(std::uint64_t offset);
    // Counts of the current clump's tables.
    std::uint32_t frameCount() const { return static_cast<std::uint32_t>(frameNodeTable.size()); }
    std::uint32_t geometryCount() const { return static_cast<std::uint32_t>(geometryTable.size()); }
    std::uint32_t atomicCount() const { return static_cast<std::uint32_t>(atomicTable.size()); }
    FrameRecord frameRecord(std::uint32_t frameIndex) const;
    void setFrameLink(std::uint32_t frameIndex, std::int32_t link);
    // Releases the per-clump tables and empties hAnimIdToFrame.
    void releaseClumpTables();

    // Import state, in declaration order.
    const std::uint8_t* clumpStruct = nullptr;
    const std::uint8_t* frameListStruct = nullptr;
    const std::uint8_t* hAnimNodes = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::uint32_t cursor = 0;
    std::int64_t fileSize = 0;
    bool skinned = false;
    bool moreChunks = true;
    bool clumpOk = true;
    std::map<std::string, std::vector<const std::uint8_t*>> uvAnimations;
    std::map<std::uint32_t, SkinRecord> skinTable;
    std::map<std::int32_t, std::uint32_t> hAnimIdToFrame;
    ImpInterface* importInterface = nullptr;
    Interface* coreInterface = nullptr;
    std::uint8_t* frameRecords = nullptr;
    std::vector<std::string> frameNames;
    std::vector<GeometryRecord> geometryTable;
    std::vector<const std::uint8_t*> atomicTable;
    std::vector<FrameNodeSlot> frameNodeTable;

    // Bookkeeping of the bounds checks.
    std::uint32_t hAnimNodeCount = 0;  // entries at hAnimNodes
    std::uint64_t bufferSize = 0;      // bytes in buffer (fileSize once loaded)
    bool readFailed = false;           // a read would have left the buffer
    bool binMeshFacesBuilt = false;    // the current geometry's faces came from its bin mesh

    // What one import's Skins and UV animations may still take, so that data
    // many atomics or materials share cannot make the host hold more than the
    // file backs: a bone per inverse matrix (64 bytes), a weighted vertex per
    // vertex weight record (20 bytes) and four keys per key frame (32 bytes)
    // the file could hold. Set by DoImport.
    std::uint64_t skinBonesLeft = 0;
    std::uint64_t skinVerticesLeft = 0;
    std::uint64_t uvKeysLeft = 0;
};

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
