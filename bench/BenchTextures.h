// Benchmarks of texture dictionaries: decoding every sample dictionary to
// RGBA, writing the decoded images as PNG at several compression levels, and
// the whole `orvik import --gltf` of the largest sample model that has a
// dictionary, without and with it.
#pragma once

#include <string>
#include <vector>

namespace bench {

void registerTextureBenchmarks(const std::string& samplesFolder, const std::string& scratchFolder);

// Writes a dictionary of size x size textures with the given names, for
// collections of large textures (scripts/bench-collection.sh): smooth,
// photograph-like colours stored as DXT blocks whose end colours vary from
// block to block and whose indices vary from pixel to pixel, as an encoder's
// blocks of a painted or photographed texture do. Every third texture is
// DXT5 with smoothly varying alpha, the others DXT1. Returns 0, or 2 when
// the file cannot be written.
int writeLargeDictionary(const std::string& path, int size, const std::vector<std::string>& names);

}  // namespace bench
