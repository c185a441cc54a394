// glTF 2.0 export of the stand-in host's scene: `orvik import MODEL --gltf
// OUT.glb` (or OUT.gltf with OUT.bin beside it). Reads only the host scene,
// never the model file: nodes with their local transforms under one root that
// turns the host's Z-up into glTF's Y-up, meshes split per material id,
// game materials with their main textures, Skin modifiers as skins, omni
// lights as KHR_lights_punctual lights (with the far attenuation's end as
// their range), the meshes of nodes kept hidden and out of renders (a model's
// collision) with one translucent material per material id, and everything
// else the host holds in `extras`, described as in the scene dump.
//
// The export is built in memory, in one pass, as one ordered JSON document
// and one buffer; it opens no output file (the caller writes the bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "gltf/ImageSource.h"
#include "host/maxtypes.h"

class INode;
class Scene;

namespace orvik {

struct OutputFile;

// A wheel taken from another model for the game view of models that store
// none (--wheels): that model's scene, kept for the run, and the nodes of
// its wheel. findWheel fills it.
struct BorrowedWheel {
    std::string file;  // the model it was taken from, as named
    const Scene* scene = nullptr;
    const INode* hub = nullptr;  // the wheel dummy it sits at; null: the model's origin
    std::vector<INode*> parts;   // the nodes holding the wheel's meshes
};

// One node's part of an animation, as the host held it: its transform
// relative to its parent at each of its key times.
struct NodeAnimation {
    const INode* node = nullptr;
    std::vector<float> times;     // seconds, increasing
    std::vector<Matrix3> locals;  // per time
    bool translation = false;     // the keys move the node off its place on its parent
    bool scale = false;           // the keys carry a scale
};

// An animation applied to the scene and read back from it: one glTF
// animation named as the package names it.
struct SceneAnimation {
    std::string name;
    std::vector<NodeAnimation> nodes;
};

// What to export to and how.
struct GltfOptions {
    std::string path;  // the .glb or .gltf to make
    // Where a .gltf's buffer file goes ("" for gltfBinPath); the .gltf refers
    // to it by its path relative to the .gltf's folder.
    std::string binPath;
    // Parts left out: nodes whose names end in "_" + one of these (any
    // case), with everything below them; "dam" and "vlo" are the damaged and
    // low-detail variants of vehicle parts.
    std::vector<std::string> skipParts;
    // The model as the game draws it: the wheel at every wheel dummy, paint
    // and unlit lamps instead of placeholder colours, the damaged and
    // low-detail parts and the nodes kept out of renders (a model's
    // collision) left out. The default is the file as it stands.
    bool gameView = false;
    // The paint of the game view, primary first (0..255 per channel); the
    // colours not given take kDefaultPaint's.
    std::vector<std::array<std::uint8_t, 3>> paint;
    // The game view's wheel for models with wheel dummies that store no
    // wheel; null: a plain tyre and rim is generated.
    const BorrowedWheel* wheels = nullptr;
    // Animations to export; their nodes carry translation, rotation and
    // scale instead of a matrix.
    std::vector<SceneAnimation> animations;
};

// A neutral pair that reads as a car: steel grey body, charcoal trim (the
// third and fourth colours repeat them).
inline constexpr std::array<std::array<std::uint8_t, 3>, 4> kDefaultPaint{
    {{138, 145, 153}, {43, 46, 51}, {138, 145, 153}, {43, 46, 51}}};

struct GltfExportReport {
    std::string path;                  // the .glb or .gltf
    std::string binPath;               // the .bin beside a .gltf; "" for a .glb or when there is none
    std::size_t nodes = 0;             // glTF nodes, the root included
    std::size_t nodesSkipped = 0;      // scene nodes left out by skipParts
    std::size_t nodesNotRendered = 0;  // scene nodes kept out of renders, left out by gameView
    std::size_t meshes = 0;
    std::size_t primitives = 0;
    std::size_t vertices = 0;  // over all primitives, after splitting
    std::size_t triangles = 0;
    std::size_t materials = 0;
    std::size_t textures = 0;  // glTF textures (embedded images)
    std::size_t skins = 0;
    std::size_t lights = 0;
    // What the game view did (gameView set): wheel nodes added (those not
    // the model's own among them: generated, or from options.wheels),
    // materials given paint, materials drawn as unlit lamps. Its parts left
    // out are nodesSkipped.
    bool gameView = false;
    std::size_t wheelsPlaced = 0;
    std::size_t wheelsSupplied = 0;
    std::size_t materialsPainted = 0;
    std::size_t lampsUnlit = 0;
    std::size_t animations = 0;
    // Skinned vertices whose weights were all unusable (zero, negative, not
    // numbers): spread evenly over the bones they name, or, naming none,
    // bound to the bone of their mesh's frame.
    std::size_t spreadVertices = 0;
    std::size_t unweightedVertices = 0;

    struct TextureLine {
        std::string name;     // the texture's name in the host (8-bit text)
        std::string origin;   // where its image came from ("" when none)
        std::string problem;  // why it is not embedded; "" when it is
    };
    // Every main texture exported, in the order met: where its image came
    // from, or why it has none.
    std::vector<TextureLine> textureImages;
    // What the export had to change to give a valid glTF file (normals that
    // were not of unit length, weights that were not normalised, ...).
    std::vector<std::string> notes;
};

// The wheel a model holds, for another model's game view: the mesh nodes
// below its first wheel dummy that has any (used at their size), else (a
// wheel model itself, scaled by kDefaultWheelScale) all its mesh nodes but
// the _dam and _vlo parts. "" when found, else why not.
std::string findWheel(const Scene& scene, BorrowedWheel& wheel);

// The games draw a car's wheel model (one of their generic wheels, made at
// one size) scaled by the wheel scale of the car's vehicle definition, about
// 0.7 for most cars. A wheel model given for the game view is scaled so; the
// generated wheel is that size across (as the wheels the cars store are),
// and about a third as wide.
inline constexpr float kDefaultWheelScale = 0.7f;
inline constexpr float kGeneratedWheelDiameter = kDefaultWheelScale;
inline constexpr float kGeneratedWheelWidth = 0.25f;

// The .bin file that goes beside a .gltf path; "" for a .glb path.
std::string gltfBinPath(const std::string& path);

// Why the path cannot be an export target ("" when it can): it must end in
// .glb or .gltf (any case).
std::string checkGltfPath(const std::string& path);

// The export of the scene to options.path, made in memory, the textures'
// images from images: appends the files to write, in the order to commit them
// (a .gltf's .bin before the .gltf that refers to it). Returns false with
// error set when the scene cannot be exported; the report is filled either
// way.
bool exportGltf(const Scene& scene, ImageSource& images, const GltfOptions& options, GltfExportReport& report,
                std::vector<OutputFile>& files, std::string& error);

// The URI by which the .gltf at path refers to its buffer file binPath.
std::string gltfBinUri(const std::string& path, const std::string& binPath);

// The readable account of an export: counts, each texture's image, notes.
void writeGltfSummary(const GltfExportReport& report, std::ostream& out);

}  // namespace orvik
