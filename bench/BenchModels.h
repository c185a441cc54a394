// The models the benchmark generates with the project's DFF writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A grid mesh of columns x rows vertices and 2 (columns - 1)(rows - 1)
// triangles in one geometry, on one frame.
struct GridModel {
    int columns = 2;
    int rows = 2;
    bool prelit = false;
    int uvSets = 0;
    bool normals = false;
    bool strips = false;  // bin mesh of triangle strips, else of triangle lists
    int materials = 1;    // the rows are split into this many bands, one material each
};

std::vector<std::uint8_t> gridModel(const GridModel& model);
// boneCount bones under one root; one skinned grid of about vertexCount
// vertices, four weighted bones per vertex.
std::vector<std::uint8_t> skinnedModel(int boneCount, int vertexCount);
// frameCount frames, each carrying one small textured geometry.
std::vector<std::uint8_t> clumpModel(int frameCount);

}  // namespace bench
