// Inside of the glTF export: the document being built (ordered JSON plus its
// one binary buffer) and the builder that fills it from the host scene, one
// file per concern: GltfDocument.cpp the document and its buffer,
// GltfNodes.cpp nodes, transforms and lights, GltfMesh.cpp meshes,
// GltfSkin.cpp skins, GltfAnimation.cpp animations, GltfMaterials.cpp materials and textures,
// GltfGameView.cpp the vehicle as the game draws it; the
// container and the summary are in GltfExport.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "gltf/BinBuffer.h"
#include "gltf/GltfExport.h"
#include "gltf/SkinInfluences.h"
#include "host/scene.h"

namespace orvik::gltf {

using Json = nlohmann::ordered_json;

// glTF's numbers for component types and buffer targets.
enum : int { kUnsignedByte = 5121, kUnsignedShort = 5123, kUnsignedInt = 5125, kFloat = 5126 };
enum : int { kNoTarget = 0, kArrayBuffer = 34962, kElementArrayBuffer = 34963 };

// A float as a JSON number: the shortest decimal text that reads back to the
// same single-precision value.
double tidy(float f);
Json jsonPoint(const Point3& p);

// A transform's determinant (in double precision), and whether all its
// values are numbers.
double determinant(const Matrix3& m);
bool finite(const Matrix3& m);
// A node's object-offset transform: scale, then rotation, then translation.
Matrix3 objectOffset(const INode& node);

// Translation, rotation (unit quaternion x y z w) and scale, composed the
// way glTF does (T * R * S), in double precision.
struct Trs {
    std::array<double, 3> t{};
    std::array<double, 4> r{0, 0, 0, 1};
    std::array<double, 3> s{1, 1, 1};
};
Matrix3 compose(const Trs& t);
// The nearest TRS: axis lengths as the scale (the first negated for a
// mirror), the axes made orthonormal as the rotation; a shear is lost.
Trs decompose(const Matrix3& m);

// Builds ordered JSON through the scene dump writer's calls, so that the
// descriptions of host/describe.h write the extras.
class JsonBuilder {
public:
    void beginObject() { open(Json::object()); }
    void beginArray() { open(Json::array()); }
    void endObject() { stack.pop_back(); }
    void endArray() { stack.pop_back(); }
    void key(const std::string& k) { pendingKey = k; }
    void null() { put(Json()); }
    void boolean(bool b) { put(b); }
    void number(float f) { put(tidy(f)); }
    template <class Int>
    void integer(Int v)
    {
        put(v);
    }
    void index(int i) { put(i < 0 ? Json() : Json(i)); }
    void string(const std::string& s);
    void point(const Point3& p) { put(jsonPoint(p)); }
    void value(Json v) { put(std::move(v)); }

    Json result;

private:
    Json& put(Json v);
    void open(Json v) { stack.push_back(&put(std::move(v))); }
    std::vector<Json*> stack;
    std::string pendingKey;
};

struct MeshParts;
class CornerKeys;

// What a mesh's export had to change, for the notes.
struct MeshFlags {
    bool invalidFloat = false;
    bool badNormal = false;
    bool clamped = false;
};

// The joints of a Skin modifier's bones.
struct SkinJoints {
    std::vector<int> jointOfBone;     // per bone: its joint, -1 for none
    std::vector<int> nodes;           // per joint: its glTF node
    std::vector<float> inverseBinds;  // per joint: its inverse bind matrix, column-major
};

// A Skin modifier as exported: its glTF skin and per-vertex influences.
struct SkinExport {
    int skin = -1;  // glTF skin index; -1 when no bone can be a joint
    std::size_t jointCount = 0;
    std::vector<VertexSkin> vertices;  // per host vertex of the skinned mesh
};

// What the game view makes of a material's colour.
enum class GameColour { None, Paint, Lamp };

class Builder {
public:
    Builder(const Scene& scene, ImageSource& images, const GltfOptions& options, GltfExportReport& report);
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    // Fills doc and bin from the scene.
    void build();

    Json doc = Json::object();
    BinBuffer bin;  // the one buffer's bytes

    // Used by the extras' descriptions (host/describe.h).
    void mesh(JsonBuilder& w, const Object* obj);
    void material(JsonBuilder& w, Mtl* m)
    {
        w.index(materialFor(m, true,
                            "material " + std::to_string(nextSlot++) + " of geometry " + std::to_string(slotGeometry)));
    }
    void texture(JsonBuilder& w, Texmap* t);
    void controller(JsonBuilder& w, Control* c);
    void node(JsonBuilder& w, const INode* n) { w.index(nodeIndex(n)); }
    bool keepParam(ParamID id) const;

private:
    // GltfDocument.cpp
    void note(const std::string& text) { ++noteCounts[text]; }
    Json& add(const char* array, Json value, int& index);
    // Buffer views start on 4-byte boundaries; each accessor has its own.
    int addView(const void* data, std::size_t bytes, int target);
    int addView(const ImageBytes& bytes);
    // The view of the next `bytes` bytes, which the caller appends at once.
    int nextView(std::size_t bytes, int target);
    int addAccessor(const void* data, std::size_t bytes, int target, int componentType, const char* type,
                    std::size_t count);

    // GltfNodes.cpp
    int nodeIndex(const INode* node) const;
    void addNodes();
    // asTrs: the node is animated, and glTF animates translation, rotation
    // and scale only.
    Matrix3 setTransform(Json& node, const Matrix3& local, bool asTrs = false);
    void addObject(INode* node, int gltfNode);
    void addLight(GenLight& light, int gltfNode);

    // GltfSkin.cpp
    const SkinExport* skinFor(SkinModifier& skin, INode& node);
    SkinJoints jointsOf(SkinModifier& skin, INode& node);

    // GltfAnimation.cpp
    void addAnimations();
    int addTimes(const std::vector<float>& times);

    // GltfGameView.cpp
    void placeWheels();
    // The glTF mesh of the generated tyre and rim, made at the first call.
    int generatedWheel();
    // Whether a material colour (0..1) is a placeholder, and the colour the
    // game draws instead.
    GameColour gameColour(const Point3& rgb, std::array<float, 3>& colour) const;

    // GltfMaterials.cpp
    // The glTF material of a host material (withTexture: on a mesh with
    // texture coordinates); place names it when neither it nor its main
    // texture has a name.
    int materialFor(Mtl* mtl, bool withTexture, const std::string& place);
    // The translucent material of a surface kind of a collision mesh.
    int collisionMaterial(MtlID id);
    int textureFor(BitmapTex& tex, bool& hasAlpha);
    int samplerFor(BitmapTex& tex);

    // GltfMesh.cpp
    int meshFor(INode& node, TriObject& object, const SkinExport* skin);
    void keyCorners(const MeshParts& parts, const std::vector<int>& faces, CornerKeys& corners,
                    std::vector<std::uint32_t>& indices) const;
    Json writeAttributes(const MeshParts& parts, const std::vector<int>& faces, const CornerKeys& corners,
                         const SkinExport* skin, MeshFlags& flags);

    const Scene& scene;
    ImageSource& imageSource;
    const GltfOptions& options;
    GltfExportReport& report;
    std::map<const INode*, int> nodeIndices;
    std::set<const INode*> animated;     // nodes some animation moves
    std::vector<Matrix3> exportedWorld;  // per glTF node: its world as exported, in host space
    std::vector<bool> skipped;           // per scene node: left out by --skip-parts
    std::map<std::pair<const Mtl*, bool>, int> materials;
    std::map<MtlID, int> collisionMaterials;
    std::map<const Texmap*, std::pair<int, bool>> textures;  // texture, image has alpha
    std::map<std::string, int> images;                       // image origin -> glTF image
    std::map<std::array<int, 4>, int> samplers;
    std::map<const SkinModifier*, SkinExport> skins;
    std::map<std::tuple<const TriObject*, const Mtl*, const SkinExport*>, int> meshes;
    int slotGeometry = 0, nextSlot = 0;         // the multi-material slot being described
    std::map<const Object*, int> meshOfObject;  // for the nodes' extras
    std::map<const INode*, int> meshHolders;    // scene node -> the glTF node holding its mesh
    std::map<std::string, std::size_t> noteCounts;
    int generatedWheelMesh = -1;
};

}  // namespace orvik::gltf
