// Animation packages (.ifp): the two layouts the games use and what the
// reader keeps of them. Standard library only; the plug-in, the command-line
// host and the tests all read packages through readPackage.
//
// ANPK (the earlier games): four-character tagged sections, each tag followed
// by a u32 body size.
//   "ANPK" u32 size | "INFO" u32 size { u32 animationCount, name } |
//   per animation: "NAME" u32 size { name, padded to 4 bytes }
//                  "DGAN" u32 size { "INFO" u32 size { u32 boneCount, u32 0 }
//                    per bone: "CPAN" u32 size {
//                      "ANIM" u32 size { char[28] name, u32 keyCount, u32 0,
//                                        u32 lastKey, then either u32 boneId
//                                        (a 44-byte body) or two u32 links }
//                      "KR00" | "KRT0" | "KRTS" u32 size { keys } } }
//   a key: f32 rotation x, y, z, w, [f32 translation x, y, z,
//   [f32 scale x, y, z]], f32 time in seconds.
// ANP3 (the later game): fixed-size headers, keys as signed 16-bit integers.
//   "ANP3" u32 size, char[24] name, u32 animationCount |
//   per animation: char[24] name, u32 boneCount, u32 keyBytes, u32 1 |
//   per bone: char[24] name, u32 keyType (3: rotation, 4: rotation and
//   translation), u32 keyCount, i32 boneId, then the keys:
//   i16 rotation x, y, z, w (1/4096), i16 time (1/60 s), [i16 translation
//   x, y, z (1/1024)].
// Names end at their first zero byte and keep every other byte (leading
// spaces included). Files are often padded after the last animation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ifp {

enum class Layout { Anpk, Anp3 };
enum class KeyType { R, RT, RTS };

// One key of a bone, relative to the bone's parent. The rotation is in the
// host's convention (x, y, z, w; a point as a row vector turns by the
// rotation's matrix on the right); ANPK stores its conjugate, ANP3 stores it
// as it is.
struct Key {
    float time = 0.0f;  // seconds
    float rotation[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float translation[3] = {0.0f, 0.0f, 0.0f};  // RT and RTS only
    float scale[3] = {1.0f, 1.0f, 1.0f};        // RTS only
};

struct Bone {
    std::string name;
    std::int32_t id = -1;  // -1: the bone carries no id
    KeyType keyType = KeyType::R;
    std::vector<Key> keys;  // in the file's order
};

struct Animation {
    std::string name;
    std::vector<Bone> bones;
    // Earliest and latest key time of any bone, in seconds (0 without keys).
    float startTime() const;
    float endTime() const;
};

struct Package {
    Layout layout = Layout::Anpk;
    std::string name;
    std::vector<Animation> animations;  // whole animations, in file order
    // Empty for a whole package; otherwise one line saying where and why the
    // reading stopped (the animations before that point are kept).
    std::string damage;
};

// Whether the bytes start like a package of either layout.
bool isPackage(const std::uint8_t* data, std::size_t size);
// Reads a package from memory. A buffer that is no package gives no
// animations and a damage line; nothing is allocated from a count before the
// count is checked against the bytes left.
Package readPackage(const std::uint8_t* data, std::size_t size);

const char* layoutName(Layout layout);
const char* keyTypeName(KeyType type);

}  // namespace ifp
