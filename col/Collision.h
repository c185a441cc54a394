// Collision models of the GTA 3 series games: the entries of .col files and
// the entry a San Andreas model file carries in its clump's extension.
//
// An entry (all versions, little-endian): a four-character tag ("COLL",
// "COL2", "COL3", "COL4"), u32 bytes of the entry after this word, the
// model's name (22 bytes, NUL-padded), u16 model id, then 40 bytes of bounds:
//   COLL: radius, centre, min, max;  later versions: min, max, centre, radius.
// COLL then stores its arrays in line, each after a u32 count: spheres
// (radius, centre, surface: 20 bytes), lines (two points: 24 bytes), boxes
// (min, max, surface: 28 bytes), vertices (3 f32), faces (three u32 vertex
// indices and a surface: 16 bytes).
// Later versions: u16 sphere, box and face counts, u8 line count, a padding
// byte, u32 flags, then u32 offsets of the spheres (centre, radius, surface),
// boxes, lines, vertices (three i16 each, 1/128 units), faces (three u16
// vertex indices, u8 material, u8 light: 8 bytes) and triangle planes; COL3
// and COL4 add the shadow face count and the offsets of the shadow vertices
// and faces; COL4 one more word. Offsets count from the entry's size word.
// With flag 8, the face groups (min, max, u16 first and last face: 28 bytes)
// stand before the faces, their u32 count right before the faces. Vertex
// counts are not stored: they are one more than the largest index a face
// names.
//
// A surface is four bytes: material, piece (the flag byte), brightness, light.
//
// The reader is standard library only and trusts nothing: every count and
// offset is checked against the bytes of its entry before anything is read
// or sized from it. A damaged entry ends the reading: the entries before it
// are kept and `error` says in one line what is wrong and where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvik::col {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

struct Surface {
    std::uint8_t material = 0;
    std::uint8_t piece = 0;
    std::uint8_t brightness = 0;
    std::uint8_t light = 0;
};

struct Sphere {
    Vec3 center;
    float radius = 0;
    Surface surface;
};

struct Box {
    Vec3 min, max;
    Surface surface;
};

// Corner vertex indices (checked against the vertices of their mesh), the
// face's material and light.
struct Face {
    std::uint32_t a = 0, b = 0, c = 0;
    std::uint8_t material = 0;
    std::uint8_t light = 0;
};

struct FaceGroup {
    Vec3 min, max;
    std::uint16_t firstFace = 0, lastFace = 0;
};

struct Bounds {
    Vec3 min, max, center;
    float radius = 0;
};

struct Model {
    int version = 1;  // 1 COLL, 2 COL2, 3 COL3, 4 COL4
    std::string name;
    std::uint16_t modelId = 0;
    Bounds bounds;
    std::vector<Sphere> spheres;
    std::vector<Box> boxes;
    std::vector<Vec3> vertices;
    std::vector<Face> faces;
    std::vector<FaceGroup> faceGroups;
    std::vector<Vec3> shadowVertices;
    std::vector<Face> shadowFaces;
    std::uint64_t offset = 0;  // of the entry in the bytes read
    std::uint64_t size = 0;    // bytes of the whole entry
};

struct ReadResult {
    std::vector<Model> models;  // every whole entry before the first damaged one
    std::string error;          // "" when every entry was read
};

// The tag of a version: "COLL", "COL2", ...
const char* versionTag(int version);

// Reads the entries one after another from data. Bytes after the last entry
// that are all zero are padding; anything else there is an error.
ReadResult readCollision(std::span<const std::uint8_t> data);

// Whether data starts with an entry's tag (a quick look for a .col file).
bool looksLikeCollision(std::span<const std::uint8_t> data);

}  // namespace orvik::col
