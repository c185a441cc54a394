// Writes the bundled example model: orvik_make_example OUT.dff
//
// A small prop: a root frame with a mesh, a light and a marker dummy under
// it; one geometry (a box with a trim band on top and bottom) with two
// textured materials, normals, texture coordinates, prelit colours and a bin
// mesh.
#include <cstdio>

#include "testkit/DffWriter.h"

namespace {

dffw::Clump exampleModel()
{
    dffw::Clump clump;

    dffw::Frame root;
    root.name = "example_root";
    dffw::Frame body;
    body.name = "example_body";
    body.parent = 0;
    body.position = {0, 0, 1};
    dffw::Frame lamp;
    lamp.name = "example_light";
    lamp.parent = 0;
    lamp.position = {2, -3, 4};
    dffw::Frame marker;
    marker.name = "example_marker";
    marker.parent = 1;
    marker.position = {0, 0, 1.5f};
    // a quarter turn about Z
    marker.right = {0, 1, 0};
    marker.up = {-1, 0, 0};
    clump.frames = {root, body, lamp, marker};

    dffw::Geometry g = dffw::makeCube(2.0f);
    // Top and bottom sides (vertices 8..15, triangles 4..7) use the trim material.
    for (size_t t = 4; t < 8; ++t) g.triangles[t].matId = 1;
    for (size_t k = 0; k < g.positions.size(); ++k) {
        const auto shade = static_cast<uint8_t>(160 + 4 * k);
        g.prelit.push_back({shade, static_cast<uint8_t>(255 - shade), 96, 255});
    }
    dffw::Material bodyMaterial;
    bodyMaterial.colour = {230, 230, 230, 255};
    bodyMaterial.textures.push_back(dffw::Texture{.name = "example_body"});
    dffw::Material trimMaterial;
    trimMaterial.colour = {200, 60, 40, 255};
    trimMaterial.specular = 0.25f;
    trimMaterial.textures.push_back(dffw::Texture{.addressing = 0x22, .name = "example_trim"});
    g.materials = {bodyMaterial, trimMaterial};
    g.extension.items.push_back(dffw::binMeshFromTriangles(g.triangles));
    clump.geometries.push_back(std::move(g));

    clump.atomics.push_back(dffw::Atomic{.frameIndex = 1, .geometryIndex = 0});

    dffw::Light light;
    light.frameIndex = 2;
    light.radius = 12.0f;
    light.colour = {1.0f, 0.9f, 0.7f};
    clump.lights.push_back(light);
    return clump;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvik_make_example OUT.dff\n");
        return 2;
    }
    if (!dffw::saveFile(argv[1], dffw::write(exampleModel()))) {
        std::fprintf(stderr, "orvik_make_example: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
