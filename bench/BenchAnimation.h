// Benchmarks of animation packages: reading the III package and applying one
// of its animations onto a III ped's skeleton, alone and as the whole
// importer does it (file read, package read, keys set).
#pragma once

#include <string>

namespace bench {

void registerAnimationBenchmarks(const std::string& samplesFolder);

}  // namespace bench
