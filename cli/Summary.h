// The readable report of `orvik import`: the node tree with what each node
// carries, the textures found and missing, and totals.
#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>

class Scene;

namespace orvik {

void writeSceneSummary(const Scene& scene, const std::string& file, std::ostream& out);

struct GltfExportReport;

// What the glTF export's game view did: wheels placed, materials painted,
// lamps unlit, nodes left out.
std::array<std::size_t, 4> gameViewCounts(const GltfExportReport& report);

// Those counts as one line of the summary.
void writeGameViewLine(const std::array<std::size_t, 4>& counts, std::ostream& out);

}  // namespace orvik
