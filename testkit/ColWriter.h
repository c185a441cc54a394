// Test-only writer of collision entries (.col files and the collision chunk
// of a model) and of 2d effect chunks, field by field with sane defaults and
// a way to lie on purpose: every count, offset and size the format stores
// has an override next to the data it describes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "col/Collision.h"
#include "testkit/DffWriter.h"

namespace colw {

// The records are the reader's plain types (col/Collision.h).
using Vec3 = orvik::col::Vec3;
using Surface = orvik::col::Surface;
using Sphere = orvik::col::Sphere;
using Box = orvik::col::Box;
using Face = orvik::col::Face;
using FaceGroup = orvik::col::FaceGroup;

// One entry. Versions 2 to 4 store vertices as 16-bit fixed point (1/128):
// positions are written rounded to that grid.
struct Entry {
    int version = 3;  // 1 COLL, 2 COL2, 3 COL3, 4 COL4
    std::string name = "model";
    uint16_t modelId = 0;
    Vec3 min{-1, -1, -1}, max{1, 1, 1}, center{0, 0, 0};
    float radius = 1.75f;
    std::vector<Sphere> spheres{};
    std::vector<Box> boxes{};
    std::vector<Vec3> vertices{};
    std::vector<Face> faces{};
    std::vector<FaceGroup> faceGroups{};  // versions 2 to 4
    std::vector<Vec3> shadowVertices{};   // versions 3 and 4
    std::vector<Face> shadowFaces{};

    // Lies, each written instead of what the data gives.
    std::optional<std::string> tag{};  // four characters
    std::optional<uint32_t> size{};    // the size word (bytes after it)
    std::optional<uint32_t> sphereCount{}, boxCount{}, vertexCount{}, faceCount{}, faceGroupCount{}, shadowFaceCount{},
        lineCount{};
    std::optional<uint32_t> flags{};
    std::optional<uint32_t> spheresAt{}, boxesAt{}, verticesAt{}, facesAt{}, shadowVerticesAt{}, shadowFacesAt{};
};

std::vector<uint8_t> writeEntry(const Entry& entry);
// The entries one after another, then `padding` zero bytes.
std::vector<uint8_t> writeFile(const std::vector<Entry>& entries, size_t padding = 0);
// The collision chunk of a model's clump extension holding the entry.
dffw::Chunk collisionChunk(const Entry& entry, uint32_t stamp = dffw::kDefaultStamp);

// A closed box mesh: 8 vertices, 12 faces of the given material.
void addBoxMesh(Entry& entry, const Vec3& min, const Vec3& max, uint8_t material = 0);

// ---------------------------------------------------------------------------
// 2d effects

struct Effect {
    Vec3 position{0, 0, 0};
    uint32_t type = 0;
    std::vector<uint8_t> data{};
    std::optional<uint32_t> dataSize{};  // written instead of data.size()
};

struct LightEffect {
    Vec3 position{0, 0, 0};
    std::array<uint8_t, 4> colour{255, 255, 255, 200};
    float coronaFarClip = 100.0f;
    float range = 18.0f;
    float coronaSize = 1.0f;
    float shadowSize = 0.0f;
    uint8_t coronaShowMode = 0, coronaReflection = 0, coronaFlareType = 0, shadowColourMultiplier = 40, flags = 0;
    std::string coronaTexture = "coronastar";
    std::string shadowTexture = "shad_exp";
    uint8_t shadowZDistance = 0, flags2 = 0;
    std::optional<std::array<int8_t, 3>> look{};  // present: the 80-byte form
};

Effect lightEffect(const LightEffect& light);
// A particle effect naming its effect (24 bytes).
Effect particleEffect(const Vec3& position, const std::string& name);
// A kind with raw data (sun glare: none).
Effect rawEffect(const Vec3& position, uint32_t type, std::vector<uint8_t> data = {});

// The 2d effect chunk of a geometry's extension.
dffw::Chunk effectsChunk(const std::vector<Effect>& effects, std::optional<uint32_t> count = std::nullopt,
                         uint32_t stamp = dffw::kDefaultStamp);

}  // namespace colw
