// Benchmark models, written with the test suite's DFF writer. The grids are
// laid out row by row, as exporters write meshes; their faces come from the
// bin mesh whenever the triangle count is above what triangle records hold.
#include "bench/BenchModels.h"

#include <cstdio>

#include "testkit/DffWriter.h"

namespace bench {

namespace {

std::uint32_t vertexAt(const GridModel& m, int row, int column)
{
    return static_cast<std::uint32_t>(row) * static_cast<std::uint32_t>(m.columns) + static_cast<std::uint32_t>(column);
}

int bandOfRow(const GridModel& m, int row)
{
    return row * m.materials / (m.rows - 1);
}

dffw::Material plainMaterial(int i)
{
    dffw::Material material;
    material.colour = {static_cast<std::uint8_t>(40 * i), 128, static_cast<std::uint8_t>(255 - 30 * i), 255};
    return material;
}

// The bin mesh of a grid: one split per band of rows. Lists name each cell's
// two triangles; strips run along each row, rows of a band stitched together
// with degenerate windows.
dffw::BinMesh gridBinMesh(const GridModel& m)
{
    dffw::BinMesh bin;
    bin.mode = m.strips ? dffw::BinMesh::Strip : dffw::BinMesh::List;
    bin.splits.resize(static_cast<std::size_t>(m.materials));
    for (int band = 0; band < m.materials; ++band)
        bin.splits[static_cast<std::size_t>(band)].material = static_cast<std::uint32_t>(band);
    for (int r = 0; r + 1 < m.rows; ++r) {
        std::vector<std::uint32_t>& indices = bin.splits[static_cast<std::size_t>(bandOfRow(m, r))].indices;
        if (m.strips) {
            if (!indices.empty()) {
                indices.push_back(indices.back());
                indices.push_back(vertexAt(m, r, 0));
            }
            for (int c = 0; c < m.columns; ++c) {
                indices.push_back(vertexAt(m, r, c));
                indices.push_back(vertexAt(m, r + 1, c));
            }
        } else {
            for (int c = 0; c + 1 < m.columns; ++c) {
                const std::uint32_t a = vertexAt(m, r, c), b = vertexAt(m, r, c + 1);
                const std::uint32_t d = vertexAt(m, r + 1, c + 1), e = vertexAt(m, r + 1, c);
                indices.insert(indices.end(), {a, b, d, a, d, e});
            }
        }
    }
    return bin;
}

dffw::Geometry gridGeometry(const GridModel& m)
{
    dffw::Geometry g;
    const std::size_t vertexCount = static_cast<std::size_t>(m.columns) * static_cast<std::size_t>(m.rows);
    g.positions.reserve(vertexCount);
    for (int r = 0; r < m.rows; ++r) {
        for (int c = 0; c < m.columns; ++c) {
            const float x = static_cast<float>(c) * 0.1f, y = static_cast<float>(r) * 0.1f;
            g.positions.push_back({x, y, 0.05f * static_cast<float>((r * 7 + c * 3) % 11)});
        }
    }
    if (m.normals) g.normals.assign(vertexCount, dffw::Vec3{0.0f, 0.0f, 1.0f});
    if (m.prelit) {
        g.prelit.reserve(vertexCount);
        for (std::size_t k = 0; k < vertexCount; ++k) {
            g.prelit.push_back({static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8), 200,
                                static_cast<std::uint8_t>(k % 3 == 0 ? 128 : 255)});
        }
    }
    for (int s = 0; s < m.uvSets; ++s) {
        std::vector<std::array<float, 2>> set;
        set.reserve(vertexCount);
        for (int r = 0; r < m.rows; ++r)
            for (int c = 0; c < m.columns; ++c)
                set.push_back({static_cast<float>(c) / static_cast<float>(m.columns - 1) + static_cast<float>(s),
                               static_cast<float>(r) / static_cast<float>(m.rows - 1)});
        g.texCoords.push_back(std::move(set));
    }
    // Triangle records as a file holds them; above 65,535 triangles their
    // 16-bit indices cannot address the grid and the reader passes over them.
    g.triangles.reserve(2 * static_cast<std::size_t>(m.columns - 1) * static_cast<std::size_t>(m.rows - 1));
    for (int r = 0; r + 1 < m.rows; ++r) {
        const auto band = static_cast<std::uint16_t>(bandOfRow(m, r));
        for (int c = 0; c + 1 < m.columns; ++c) {
            const auto a = static_cast<std::uint16_t>(vertexAt(m, r, c)),
                       b = static_cast<std::uint16_t>(vertexAt(m, r, c + 1));
            const auto d = static_cast<std::uint16_t>(vertexAt(m, r + 1, c + 1)),
                       e = static_cast<std::uint16_t>(vertexAt(m, r + 1, c));
            g.triangles.push_back(dffw::Triangle::corners(a, b, d, band));
            g.triangles.push_back(dffw::Triangle::corners(a, d, e, band));
        }
    }
    for (int i = 0; i < m.materials; ++i) g.materials.push_back(plainMaterial(i));
    g.extension.items.push_back(gridBinMesh(m));
    return g;
}

}  // namespace

std::vector<std::uint8_t> gridModel(const GridModel& model)
{
    dffw::Clump clump;
    clump.frames.push_back(dffw::namedFrame("grid", 0xFFFFFFFF, {0, 0, 0}));
    clump.geometries.push_back(gridGeometry(model));
    clump.atomics.push_back(dffw::Atomic{});
    return dffw::write(clump);
}

std::vector<std::uint8_t> skinnedModel(int boneCount, int vertexCount)
{
    dffw::Clump clump;
    clump.frames.push_back(dffw::namedFrame("root", 0xFFFFFFFF, {0, 0, 0}));
    // Bones 1..boneCount as a binary tree under the first bone, as limbs branch.
    for (int i = 1; i <= boneCount; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "bone%02d", i);
        dffw::Frame f = dffw::namedFrame(name, i == 1 ? 0u : static_cast<std::uint32_t>(i / 2), {0, 0, 0.5f});
        dffw::HAnim h;
        h.boneId = 10 * i;
        f.hAnim = h;
        clump.frames.push_back(f);
    }
    for (int i = 1; i <= boneCount; ++i) clump.frames[1].hAnim->nodes.push_back(dffw::HAnimNode{10 * i, i - 1, 0});

    GridModel grid;
    grid.columns = 500;
    grid.rows = vertexCount / grid.columns;
    grid.uvSets = 1;
    grid.normals = true;
    dffw::Geometry g = gridGeometry(grid);
    dffw::Skin skin;
    for (int b = 0; b < boneCount; ++b) skin.usedBones.push_back(static_cast<std::uint8_t>(b));
    const std::size_t count = g.positions.size();
    skin.boneIndices.reserve(count);
    skin.weights.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const int row = static_cast<int>(k / static_cast<std::size_t>(grid.columns));
        const int first = row * boneCount / grid.rows;
        std::array<std::uint8_t, 4> bones{};
        for (int j = 0; j < 4; ++j)
            bones[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>((first + j) % boneCount);
        skin.boneIndices.push_back(bones);
        skin.weights.push_back({0.4f, 0.3f, 0.2f, 0.1f});
    }
    skin.inverseMatrices.assign(static_cast<std::size_t>(boneCount), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    g.extension.items.push_back(skin);
    clump.geometries.push_back(std::move(g));
    clump.atomics.push_back(dffw::Atomic{});
    return dffw::write(clump);
}

std::vector<std::uint8_t> clumpModel(int frameCount)
{
    dffw::Clump clump;
    for (int i = 0; i < frameCount; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "part%03d", i);
        const std::uint32_t parent = i == 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>((i - 1) / 4);
        clump.frames.push_back(
            dffw::namedFrame(name, parent, {static_cast<float>(i % 10), static_cast<float>(i / 10), 0}));

        dffw::Geometry g = dffw::makeCube(1.0f + static_cast<float>(i % 7));
        g.materials.clear();
        for (int m = 0; m < 2; ++m) {
            dffw::Material material = plainMaterial(m);
            dffw::Texture texture;
            char texName[24];
            std::snprintf(texName, sizeof texName, "tex%03d%c", i, m == 0 ? 'a' : 'b');
            texture.name = texName;
            material.textures.push_back(texture);
            g.materials.push_back(material);
        }
        for (std::size_t t = 0; t < g.triangles.size(); ++t) g.triangles[t].matId = static_cast<std::uint16_t>(t % 2);
        g.extension.items.push_back(dffw::binMeshFromTriangles(g.triangles));
        clump.geometries.push_back(std::move(g));

        dffw::Atomic atomic;
        atomic.frameIndex = static_cast<std::uint32_t>(i);
        atomic.geometryIndex = static_cast<std::uint32_t>(i);
        clump.atomics.push_back(atomic);
    }
    return dffw::write(clump);
}

}  // namespace bench
