// Test-only writer of animation packages in both layouts, built field by
// field with sane defaults. Rotations are written as the file stores them
// (the reader conjugates ANPK's). A count or a key tag can be made to lie in
// one place: the package's animation count, an animation's bone count, a
// bone's key count, key type or key tag.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ifp/Package.h"

namespace ifpw {

struct Key {
    float time = 0.0f;
    std::array<float, 4> rotation{0.0f, 0.0f, 0.0f, 1.0f};  // as stored
    std::array<float, 3> translation{0.0f, 0.0f, 0.0f};
    std::array<float, 3> scale{1.0f, 1.0f, 1.0f};
};

struct Bone {
    Bone() : keys(1) {}
    Bone(std::string n, std::int32_t boneId, ifp::KeyType type, std::vector<Key> k)
        : name(std::move(n)), id(boneId), keyType(type), keys(std::move(k))
    {
    }
    std::string name = "bone";
    std::int32_t id = -1;  // ANPK writes it (a 44-byte ANIM) only when not -1
    ifp::KeyType keyType = ifp::KeyType::R;
    std::vector<Key> keys;
    std::optional<std::uint32_t> keyCount;    // written instead of the true count
    std::optional<std::string> keyTag;        // ANPK: written instead of KR00/KRT0/KRTS
    std::optional<std::int32_t> anp3KeyType;  // ANP3: written instead of 3/4
};

struct Animation {
    Animation() : bones(1) {}
    Animation(std::string n, std::vector<Bone> b) : name(std::move(n)), bones(std::move(b)) {}
    std::string name = "anim";
    std::vector<Bone> bones;
    std::optional<std::uint32_t> boneCount;
};

struct Package {
    Package() : animations(1) {}
    ifp::Layout layout = ifp::Layout::Anpk;
    std::string name = "test";
    std::vector<Animation> animations;
    std::optional<std::uint32_t> animationCount;
    std::size_t padding = 0;  // zero bytes after the last animation
};

std::vector<std::uint8_t> write(const Package& package);

}  // namespace ifpw
