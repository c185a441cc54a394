// Mesh construction on the real sample models: face counts as the files give
// them, and face materials as their bin meshes give them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "host/scene.h"
#include "support/ImportHarness.h"

namespace {

// What a sample's geometry chunk says, read here with a walk of its own.
struct FileGeometry {
    std::uint32_t triangleCount = 0;
    std::uint32_t vertexCount = 0;
    bool hasBinMesh = false;
    // Triangles per material as the bin mesh's splits give them (strip
    // windows that repeat an index are not triangles).
    std::map<int, int> binMeshTriangles;
    int binMeshTriangleCount = 0;
};

class ChunkReader {
public:
    explicit ChunkReader(std::vector<std::uint8_t> data) : bytes(std::move(data)) {}
    std::uint64_t size() const { return bytes.size(); }
    std::uint32_t u32(std::uint64_t offset) const
    {
        if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
        return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
    }
    // Calls fn(type, bodyOffset, bodySize) for each chunk in [begin, end).
    template <class Fn>
    void eachChunk(std::uint64_t begin, std::uint64_t end, Fn&& fn) const
    {
        end = std::min<std::uint64_t>(end, bytes.size());
        for (std::uint64_t at = begin; end >= at + 12;) {
            const std::uint32_t type = u32(at), bodySize = u32(at + 4);
            if (end - at - 12 < bodySize) return;
            if (!fn(type, at + 12, std::uint64_t{bodySize})) return;
            at += 12 + std::uint64_t{bodySize};
        }
    }

private:
    std::vector<std::uint8_t> bytes;
};

void readBinMesh(const ChunkReader& file, std::uint64_t body, FileGeometry& g)
{
    g.hasBinMesh = true;
    const bool strips = file.u32(body) != 0;
    const std::uint32_t splitCount = file.u32(body + 4);
    std::uint64_t at = body + 12;
    for (std::uint32_t s = 0; s < splitCount; ++s) {
        const std::uint32_t count = file.u32(at);
        const int material = static_cast<int>(file.u32(at + 4) & 0xFFFF);
        const std::uint64_t indices = at + 8;
        int triangles = 0;
        if (strips) {
            for (std::uint32_t k = 0; k + 2 < count; ++k) {
                const std::uint32_t a = file.u32(indices + 4 * k), b = file.u32(indices + 4 * k + 4),
                                    c = file.u32(indices + 4 * k + 8);
                if (a != b && b != c && a != c) ++triangles;
            }
        } else {
            triangles = static_cast<int>(count / 3);
        }
        g.binMeshTriangles[material] += triangles;
        g.binMeshTriangleCount += triangles;
        at = indices + 4 * std::uint64_t{count};
    }
}

// The geometries of every clump in the file, in file order.
std::vector<FileGeometry> fileGeometries(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const ChunkReader file(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
    std::vector<FileGeometry> geometries;
    file.eachChunk(0, file.size(), [&](std::uint32_t type, std::uint64_t body, std::uint64_t size) {
        if (type == 0x2B) return true;      // UV animation dictionary
        if (type != 0x10) return false;     // the import ends at anything but a clump
        file.eachChunk(body, body + size, [&](std::uint32_t t, std::uint64_t listBody, std::uint64_t listSize) {
            if (t != 0x1A) return true;
            file.eachChunk(listBody, listBody + listSize, [&](std::uint32_t gt, std::uint64_t gBody, std::uint64_t gSize) {
                if (gt != 0x0F) return true;
                FileGeometry g;
                file.eachChunk(gBody, gBody + gSize, [&](std::uint32_t part, std::uint64_t pBody, std::uint64_t pSize) {
                    if (part == 0x01) {
                        g.triangleCount = file.u32(pBody + 4);
                        g.vertexCount = file.u32(pBody + 8);
                    } else if (part == 0x03) {
                        file.eachChunk(pBody, pBody + pSize, [&](std::uint32_t e, std::uint64_t eBody, std::uint64_t) {
                            if (e == 0x50E) readBinMesh(file, eBody, g);
                            return true;
                        });
                    }
                    return true;
                });
                geometries.push_back(g);
                return true;
            });
            return true;
        });
        return true;
    });
    return geometries;
}

std::map<int, int> facesPerMaterial(const Mesh& mesh)
{
    std::map<int, int> counts;
    for (int f = 0; f < mesh.numFaces; ++f) ++counts[mesh.faces[f].getMatID()];
    return counts;
}

}  // namespace

TEST(MeshSamples, FaceCountsAndBinMeshMaterialsOfEveryGeometry)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::vector<std::string> files = sampleDffFiles();
    ASSERT_FALSE(files.empty());
    int comparedWithBinMesh = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const std::vector<FileGeometry> geometries = fileGeometries(path);
        ASSERT_FALSE(geometries.empty());
        Scene& scene = importFile(path);
        // The model's collision meshes (hidden, not rendered) come after the geometries'.
        std::size_t collisionMeshes = 0;
        for (const INode* node : scene.nodes)
            collisionMeshes += node->IsHidden() && !node->Renderable() && dynamic_cast<TriObject*>(node->GetObjectRef()) ? 1 : 0;
        ASSERT_EQ(scene.meshes.size(), geometries.size() + collisionMeshes);
        for (std::size_t i = 0; i < geometries.size(); ++i) {
            SCOPED_TRACE("geometry " + std::to_string(i));
            const FileGeometry& g = geometries[i];
            ASSERT_NE(scene.meshes[i], nullptr);
            const Mesh& mesh = scene.meshes[i]->mesh;
            EXPECT_EQ(static_cast<std::uint32_t>(mesh.numFaces), g.triangleCount);
            EXPECT_LE(static_cast<std::uint32_t>(mesh.numVerts), g.vertexCount);
            for (int f = 0; f < mesh.numFaces; ++f) {
                for (int k = 0; k < 3; ++k) ASSERT_LT(mesh.faces[f].v[k], static_cast<DWORD>(mesh.numVerts));
            }
            // Where the bin mesh holds every face, the materials follow it.
            if (g.hasBinMesh && g.binMeshTriangleCount == static_cast<int>(g.triangleCount)) {
                EXPECT_EQ(facesPerMaterial(mesh), g.binMeshTriangles);
                ++comparedWithBinMesh;
            }
        }
    }
    EXPECT_GT(comparedWithBinMesh, 0);
}

TEST(MeshSamples, Ped1FacesTakeTheirMaterialsFromTheBinMesh)
{
    // Its triangle records all carry material 0; its two splits name the real ones.
    ORVIK_REQUIRE_SAMPLES();
    const std::string path = samplePath("ped1.dff");
    const std::vector<FileGeometry> geometries = fileGeometries(path);
    ASSERT_EQ(geometries.size(), 1u);
    ASSERT_TRUE(geometries[0].hasBinMesh);
    ASSERT_EQ(geometries[0].binMeshTriangles.size(), 2u);
    Scene& scene = importFile(path);
    ASSERT_EQ(scene.meshes.size(), 1u);
    const Mesh& mesh = scene.meshes[0]->mesh;
    EXPECT_EQ(mesh.numFaces, 1781);
    EXPECT_EQ(facesPerMaterial(mesh), geometries[0].binMeshTriangles);
}
