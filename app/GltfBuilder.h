// Inside of the glTF export: the builder that turns the host scene into a
// glTF model, one buffer and the extras of each glTF object. Split over
// GltfBuilder.cpp (nodes, skins, lights), GltfMesh.cpp (meshes) and
// GltfMaterial.cpp (materials, textures, images).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/GltfExport.h"
#include "app/GltfLibrary.h"
#include "host/scene.h"

namespace orvik::gltf {

using Json = nlohmann::ordered_json;

// An affine transform in the host's row layout (p' = p x M, rows 0..2 the
// axes, row 3 the translation), in double precision.
struct Affine {
    std::array<std::array<double, 3>, 4> m{};

    static Affine identity();
    static Affine from(const Matrix3& tm);
    // This transform first, then b (the host's tm * b).
    Affine operator*(const Affine& b) const;
    double determinant() const;
    // False, leaving out unchanged, when the transform cannot be inverted.
    bool inverse(Affine& out) const;
    bool isIdentity() const;
    std::array<double, 3> apply(const std::array<double, 3>& p) const;
    // The glTF 4x4 matrix (column vectors, column-major): the host's rows
    // are glTF's columns.
    std::vector<double> columnMajor() const;
};

// A float as a JSON number: the shortest decimal text that reads back to the
// same single-precision value.
double tidy(float f);
Json jsonPoint(const Point3& p);
// Host text (8-bit) as a JSON string (UTF-8, each byte its ISO-8859-1 character).
Json jsonText(const char* text);
std::string utf8(const char* text);

// The joints and weights one host vertex gets.
struct VertexSkin {
    std::array<std::uint16_t, 4> joints{};
    std::array<float, 4> weights{};
};

// How a Skin modifier is exported: its joint per bone-list entry and the
// per-vertex influences.
struct SkinExport {
    int skin = -1;                   // glTF skin index
    std::size_t jointCount = 0;
    std::vector<VertexSkin> vertices;  // per host vertex of the skinned mesh
};

class Builder {
public:
    Builder(const Scene& scene, ImageSource& images, GltfExportReport& report);
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    // Fills model, buffer and extras from the scene.
    void build();

    tinygltf::Model model;
    std::vector<unsigned char> buffer;   // the data of the model's one buffer
    std::map<std::string, Json> extras;  // JSON pointer of a glTF object -> its extras

private:
    // GltfBuilder.cpp
    int nodeIndex(const INode* node) const;
    void addNodes();
    // Sets the node's matrix (or TRS) and gives the transform as exported.
    Affine setTransform(tinygltf::Node& out, const Affine& local, Json& nodeExtras);
    void addObject(INode* node, int gltfNode, Json& nodeExtras);
    void addLight(GenLight& light, INode* node, int gltfNode);
    const SkinExport* skinFor(SkinModifier* skin, const Affine& objectTM, int vertexCount);
    void note(const std::string& text);

    // GltfMesh.cpp
    int meshFor(INode* node, TriObject& object, const SkinModifier* skinModifier, const SkinExport* skin);

    // GltfMaterial.cpp
    int materialFor(Mtl* mtl, bool withTexture);
    int textureFor(BitmapTex* tex);
    int imageFor(const TextureImage& image, std::string& problem);
    int samplerFor(BitmapTex* tex);
    Json describeMaterial(Mtl* mtl);
    Json describeTexture(Texmap* tex);

    // Buffer views and accessors: each accessor has a view of its own, views
    // start on 4-byte boundaries.
    int addView(const void* data, std::size_t bytes, int target);
    int addAccessor(int view, int componentType, int type, std::size_t count);

    const Scene& scene;
    ImageSource& imageSource;
    GltfExportReport& report;
    std::map<const INode*, int> nodeIndices;
    std::vector<Affine> exportedWorld;  // per glTF node: its world as exported, in host space
    std::map<std::pair<const Mtl*, bool>, int> materials;
    std::map<const Texmap*, int> textures;
    std::map<std::string, std::pair<int, std::string>> images;  // origin -> image index (or -1) and why not
    std::map<std::array<int, 4>, int> samplers;
    std::map<const SkinModifier*, SkinExport> skins;
    std::map<std::tuple<const TriObject*, const Mtl*, const SkinModifier*>, int> meshes;
    std::map<std::string, std::size_t> noteCounts;
};

}  // namespace orvik::gltf
