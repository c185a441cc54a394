// Benchmarks of texture dictionaries: decoding every sample dictionary to
// RGBA, writing the decoded images as PNG at several compression levels, and
// the whole `orvik import --gltf` of the largest sample model that has a
// dictionary, without and with it.
#pragma once

#include <string>

namespace bench {

void registerTextureBenchmarks(const std::string& samplesFolder, const std::string& scratchFolder);

}  // namespace bench
