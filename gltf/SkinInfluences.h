// The joints and weights a skinned vertex gets in glTF: at most four
// influences, weights positive and summing to 1, from the host's (bone,
// weight) pairs of the vertex.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace orvik::gltf {

// The joints and weights one host vertex gets.
struct VertexSkin {
    std::array<std::uint16_t, 4> joints{};
    std::array<float, 4> weights{};
};

// How a vertex's influences came from its pairs.
enum class Influence {
    Kept,        // the pairs as they are
    Changed,     // pairs dropped, merged, cut to four or scaled to sum 1: the originals go in the extras
    Spread,      // no usable weight: spread evenly over the joints the pairs name
    Unweighted,  // naming no joint: bound to the joint of the mesh's frame
};

struct VertexInfluences {
    VertexSkin skin;
    Influence how = Influence::Kept;
};

// The influences of one vertex. pairs: the host's (bone, weight) pairs, in
// the order given; jointOfBone: per bone its joint, -1 for a bone without
// one; ownJoint: the joint of a vertex that names none. One entry per joint
// (a bone given twice adds up), weights that are not positive numbers
// dropped, the four largest kept (the first given among equals), scaled to
// sum 1 with the largest taking the rounding. A vertex whose weights were
// all dropped is spread evenly over the first four joints it names.
VertexInfluences vertexInfluences(const std::vector<std::pair<int, float>>& pairs, const std::vector<int>& jointOfBone,
                                  int ownJoint);

}  // namespace orvik::gltf
