// The bytes the stand-in host's scene holds for an import.
#pragma once

#include <cstddef>

class Scene;

namespace bench {

// The scene's own bytes: for every mesh its vertex and face arrays, the map
// vertices and map faces of each supported channel, and the specified-normal
// vectors, explicit flags and normal faces; for every Skin modifier its bone
// list and per-vertex weight pairs (with each vertex's list header); for every
// node, material, texture, controller and modifier the size of its object and
// the texts it holds. Element counts times element sizes, as the host's
// accessors give them: what an ideal host would have to allocate and write.
std::size_t sceneBytes(const Scene& scene);

}  // namespace bench
