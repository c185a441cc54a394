// The readable report of `orvik import`: the node tree with what each node
// carries, the textures found and missing, and totals.
#pragma once

#include <ostream>
#include <string>

class Scene;

namespace orvik {

void writeSceneSummary(const Scene& scene, const std::string& file, std::ostream& out);

struct GltfExportReport;

// One line on what the glTF export's game view did: wheels placed, materials
// painted, lamps unlit, parts left out.
void writeGameViewLine(const GltfExportReport& report, std::ostream& out);

}  // namespace orvik
