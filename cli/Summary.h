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

// What the glTF export's game view did: wheels placed, those of them not the
// model's own, materials painted, lamps unlit, nodes left out, collision
// nodes left out.
std::array<std::size_t, 6> gameViewCounts(const GltfExportReport& report);

// Those counts as one line of the summary; wheelsFile is --wheels ("" when
// the wheels not the models' own were generated).
void writeGameViewLine(const std::array<std::size_t, 6>& counts, const std::string& wheelsFile, std::ostream& out);

}  // namespace orvik
