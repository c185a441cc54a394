// A set of varied models written with the project's DFF writer: the seed
// corpus of the fuzz target and the undamaged files of the mutation tests.
// Between them they use every unit and chunk the importer reads: plain and
// skinned clumps, several clumps in one file, UV animation dictionaries, bin
// mesh lists and strips, lights and cameras, early stamps, and materials with
// textures, masks and every material extension.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "testkit/ColWriter.h"
#include "testkit/DffWriter.h"

namespace corpus {

struct Model {
    std::string name;
    std::vector<std::uint8_t> bytes;
    // How many clumps the file holds (a dictionary is not counted).
    int clumps = 1;
};

using dffw::namedFrame;

// A material with a masked texture and all four extensions; the UV
// animation refers to animationName.
inline dffw::Material richMaterial(const std::string& animationName)
{
    dffw::Material m;
    m.colour = {200, 120, 40, 255};
    m.specular = 0.3f;
    m.textures.push_back(dffw::namedTexture("rich_base", "rich_mask", 0x21));
    dffw::MaterialEffects effects;
    effects.coefficient = 0.75f;
    effects.envTexture = dffw::namedTexture("rich_env");
    dffw::UvAnimationRef uv;
    uv.name = animationName;
    dffw::SpecularMaterial specular;
    specular.level = 0.4f;
    specular.texture = "rich_spec";
    dffw::ReflectionMaterial reflection;
    reflection.colour = {0.5f, 0.6f, 0.7f, 0.8f};
    reflection.intensity = 0.9f;
    m.extension.items = {effects, uv, specular, reflection};
    return m;
}

inline dffw::UvAnimDictionary dictionary(const std::vector<std::string>& names)
{
    dffw::UvAnimDictionary d;
    float t = 0.0f;
    for (const std::string& name : names) {
        dffw::UvAnimation a;
        a.name = name;
        for (int k = 0; k < 3; ++k) {
            dffw::UvKeyFrame key;
            key.time = t;
            key.uv = {1, 0.1f * static_cast<float>(k), 0, 1, 0.2f * static_cast<float>(k), 0.5f};
            key.previous = k - 1;
            a.keyFrames.push_back(key);
            t += 0.5f;
        }
        d.animations.push_back(a);
    }
    return d;
}

// Frame 0 the root, frames 1..n bones with HAnim IDs 10, 20, ... (the first
// bone holding the node array); one skinned cube whose vertices are spread
// over the bones.
inline dffw::Clump skinnedClump(int boneCount, const std::string& prefix)
{
    dffw::Clump c;
    c.frames.push_back(namedFrame(prefix + "_root", 0xFFFFFFFF, {0, 0, 0}));
    std::vector<dffw::HAnimNode> nodes;
    for (int i = 0; i < boneCount; ++i) {
        dffw::Frame f = namedFrame(prefix + "_bone" + std::to_string(i), static_cast<std::uint32_t>(i),
                                   {0, 0, static_cast<float>(i)});
        dffw::HAnim h;
        h.boneId = 10 * (i + 1);
        f.hAnim = h;
        c.frames.push_back(f);
        nodes.push_back(dffw::HAnimNode{10 * (i + 1), i, i == boneCount - 1 ? 1 : 0});
    }
    c.frames[1].hAnim->nodes = nodes;

    dffw::Geometry g = dffw::makeCube(1.0f);
    g.materials[0].textures.push_back(dffw::namedTexture(prefix + "_skin"));
    dffw::Skin skin;
    for (int i = 0; i < boneCount; ++i) skin.usedBones.push_back(static_cast<std::uint8_t>(i));
    for (std::size_t v = 0; v < g.positions.size(); ++v) {
        const auto a = static_cast<std::uint8_t>(v % static_cast<std::size_t>(boneCount));
        const auto b = static_cast<std::uint8_t>((v + 1) % static_cast<std::size_t>(boneCount));
        skin.boneIndices.push_back({a, b, 0, 0});
        skin.weights.push_back({0.75f, 0.25f, 0, 0});
    }
    skin.inverseMatrices.assign(static_cast<std::size_t>(boneCount), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    g.extension.items.push_back(dffw::binMeshFromTriangles(g.triangles));
    g.extension.items.push_back(skin);
    c.geometries.push_back(std::move(g));
    c.atomics.push_back(dffw::Atomic{.frameIndex = 0, .geometryIndex = 0});
    return c;
}

// Two geometries (a cube with prelit colours, two texture sets and extra
// vertex colours; a quad whose faces are given by a strip bin mesh) on a small
// hierarchy, with a light and a camera.
inline dffw::Clump sceneClump(const std::string& prefix, std::uint32_t stamp = dffw::kDefaultStamp)
{
    dffw::Clump c;
    c.stamp = stamp;
    c.frames.push_back(namedFrame(prefix + "_root", 0xFFFFFFFF, {0, 0, 0}));
    c.frames.push_back(namedFrame(prefix + "_body", 0, {1, 2, 3}));
    c.frames.push_back(namedFrame(prefix + "_panel", 1, {0, 0, 2}));
    c.frames.push_back(namedFrame(prefix + "_lamp", 0, {-2, 0, 4}));
    c.frames[2].right = {0, 1, 0};
    c.frames[2].up = {-1, 0, 0};

    dffw::Geometry cube = dffw::makeCube(2.0f);
    std::vector<std::array<float, 2>> second;
    for (std::size_t k = 0; k < cube.positions.size(); ++k) {
        const auto shade = static_cast<std::uint8_t>(100 + 5 * k);
        cube.prelit.push_back({shade, 80, static_cast<std::uint8_t>(255 - shade), 200});
        second.push_back({0.5f * static_cast<float>(k % 2), 0.25f * static_cast<float>(k % 4)});
    }
    cube.texCoords.push_back(second);
    for (std::size_t t = 6; t < cube.triangles.size(); ++t) cube.triangles[t].matId = 1;
    cube.materials[0].textures.push_back(dffw::namedTexture(prefix + "_paint"));
    dffw::Material trim;
    trim.colour = {40, 40, 40, 128};
    trim.textures.push_back(dffw::namedTexture(prefix + "_trim", prefix + "_trim_mask", 0x12));
    cube.materials.push_back(trim);
    cube.extension.items.push_back(dffw::binMeshFromTriangles(cube.triangles));
    dffw::ExtraVertexColours extra;
    for (std::size_t k = 0; k < cube.positions.size(); ++k)
        extra.colours.push_back(
            {static_cast<std::uint8_t>(10 * k), 20, 30, static_cast<std::uint8_t>(k % 2 ? 255 : 100)});
    cube.extension.items.push_back(extra);
    c.geometries.push_back(std::move(cube));

    dffw::Geometry panel = dffw::makeQuad(3.0f);
    dffw::BinMesh strip;
    strip.mode = dffw::BinMesh::Strip;
    strip.splits.push_back({0, {0, 1, 2, 3}, {}});
    panel.extension.items.push_back(strip);
    c.geometries.push_back(std::move(panel));

    c.atomics.push_back(dffw::Atomic{.frameIndex = 1, .geometryIndex = 0});
    c.atomics.push_back(dffw::Atomic{.frameIndex = 2, .geometryIndex = 1});
    if (!dffw::isEarly(stamp)) {
        dffw::Light light;
        light.frameIndex = 3;
        light.radius = 15.0f;
        light.colour = {1.0f, 0.8f, 0.6f};
        c.lights.push_back(light);
        c.cameras.push_back(dffw::Camera{.frameIndex = 0});
    }
    return c;
}

// A quad whose material uses every extension, after a dictionary holding its
// animation and one it does not use.
inline dffw::File animatedFile()
{
    dffw::File file;
    file.units.push_back(dictionary({"anim_scroll", "anim_unused"}));
    dffw::Clump c;
    c.frames.push_back(namedFrame("animated_root", 0xFFFFFFFF, {0, 0, 0}));
    dffw::Geometry g = dffw::makeQuad(2.0f);
    g.materials[0] = richMaterial("anim_scroll");
    g.extension.items.push_back(dffw::binMeshFromTriangles(g.triangles));
    c.geometries.push_back(std::move(g));
    c.atomics.push_back(dffw::Atomic{});
    file.units.push_back(std::move(c));
    return file;
}

// One geometry of three vertices and `triangles` faces over them, with
// `sets` texture-coordinate sets, prelit colours, normals and extra vertex
// colours: every face gets a map face in every channel.
inline dffw::Clump manyFacesFewVertices(std::uint32_t triangles, std::size_t sets)
{
    dffw::Clump c;
    c.frames.push_back(namedFrame("faces", 0xFFFFFFFF, {0, 0, 0}));
    dffw::Geometry g;
    g.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    g.normals.assign(3, {0, 0, 1});
    g.prelit.assign(3, {255, 255, 255, 255});
    g.texCoords.assign(sets, std::vector<std::array<float, 2>>(3, {0.5f, 0.5f}));
    g.triangles.assign(triangles, dffw::Triangle::corners(0, 1, 2));
    g.materials.push_back(dffw::Material{});
    dffw::ExtraVertexColours extra;
    extra.colours.assign(3, {1, 2, 3, 4});
    g.extension.items.push_back(extra);
    c.geometries.push_back(std::move(g));
    c.atomics.push_back(dffw::Atomic{});
    return c;
}

// A skeleton of `bones` bones and `skins` one-triangle geometries, each
// skinned to the first bone, with `atomicsPerSkin` atomics on each: every
// atomic's mesh gets a Skin with the whole skeleton.
inline dffw::Clump sharedBones(int bones, int skins, int atomicsPerSkin)
{
    dffw::Clump c = skinnedClump(bones, "rig");
    c.geometries.clear();
    c.atomics.clear();
    for (int s = 0; s < skins; ++s) {
        dffw::Geometry g;
        g.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        g.triangles = {dffw::Triangle::corners(0, 1, 2)};
        g.materials.push_back(dffw::Material{});
        dffw::Skin skin;
        skin.usedBones = {0};
        skin.boneIndices.assign(3, {0, 0, 0, 0});
        skin.weights.assign(3, {1, 0, 0, 0});
        g.extension.items.push_back(skin);
        c.geometries.push_back(std::move(g));
        for (int a = 0; a < atomicsPerSkin; ++a)
            c.atomics.push_back(dffw::Atomic{.frameIndex = 0, .geometryIndex = static_cast<std::uint32_t>(s)});
    }
    return c;
}

// One UV animation of `keys` key frames named by `materials` textured materials.
inline dffw::File sharedAnimation(int keys, int materials)
{
    dffw::File file;
    dffw::UvAnimDictionary d = dictionary({"shared"});
    d.animations[0].keyFrames.clear();
    for (int k = 0; k < keys; ++k) {
        dffw::UvKeyFrame key;
        key.time = static_cast<float>(k) / 30.0f;
        d.animations[0].keyFrames.push_back(key);
    }
    file.units.push_back(d);
    dffw::Clump c;
    c.frames.push_back(dffw::Frame{});
    dffw::Geometry g = dffw::makeQuad();
    dffw::Material m;
    m.textures.push_back(dffw::namedTexture("t"));
    dffw::UvAnimationRef ref;
    ref.name = "shared";
    m.extension.items.push_back(ref);
    g.materials.assign(static_cast<std::size_t>(materials), m);
    c.geometries.push_back(std::move(g));
    c.atomics.push_back(dffw::Atomic{});
    file.units.push_back(std::move(c));
    return file;
}

// A collision entry of the version with every part the version has: a
// sphere, a box, a closed box mesh of two surfaces, face groups and a shadow
// mesh.
inline colw::Entry collisionEntry(int version, const std::string& name)
{
    colw::Entry e;
    e.version = version;
    e.name = name;
    e.spheres.push_back({{0, 1, 0.5f}, 0.75f, {4, 1, 128, 0x40}});
    e.boxes.push_back({{-1, -1, 0}, {1, 2, 1}, {9, 2, 128, 0x41}});
    colw::addBoxMesh(e, {-1, -2, -0.5f}, {1, 2, 0.5f}, 12);
    e.faces[4].material = 31;
    if (version >= 2) e.faceGroups.push_back({{-1, -2, -0.5f}, {1, 2, 0.5f}, 0, 11});
    if (version >= 3) {
        e.shadowVertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        e.shadowFaces = {{0, 1, 2, 4, 0x80}};
    }
    return e;
}

// A box that carries what models carry beyond their meshes: its collision
// in the clump's extension, 2d effects of three kinds and chunks the import
// passes over in its geometry's and atomic's extensions.
inline dffw::Clump boxWithExtras(const std::string& name)
{
    dffw::Clump c = dffw::makeBox("crate", 1.0f, name);
    c.extension.items.push_back(colw::collisionChunk(collisionEntry(3, name + "_col")));
    colw::LightEffect lamp;
    lamp.position = {0, 0, 1};
    lamp.look = std::array<std::int8_t, 3>{0, 0, -127};
    c.geometries[0].extension.items.push_back(colw::effectsChunk(
        {colw::lightEffect(lamp), colw::particleEffect({1, 0, 0}, "prt_smoke"), colw::rawEffect({0, 1, 0}, 4)}));
    c.geometries[0].extension.items.push_back(dffw::rawChunk(dffw::ChunkType::Breakable, {0, 0, 0, 0}));
    c.atomics[0].extension.items.push_back(dffw::rawChunk(0x1F, std::vector<std::uint8_t>(8, 0)));
    return c;
}

// Small forms of the inputs that once made the host hold far more than the
// file size (map channels from a lying format word, bones and weights
// repeated by many Skins, key frames repeated by many materials), for the
// seed corpus.
inline std::vector<Model> hostileModels()
{
    std::vector<Model> out;
    out.push_back({"hostile_texture_sets", dffw::write(manyFacesFewVertices(2000, 255)), 1});
    out.push_back({"hostile_shared_skin", dffw::write(sharedBones(60, 1, 300)), 1});
    out.push_back({"hostile_many_skins", dffw::write(sharedBones(60, 100, 1)), 1});
    out.push_back({"hostile_shared_animation", dffw::write(sharedAnimation(300, 200)), 1});
    return out;
}

// The models, each written whole.
inline std::vector<Model> models()
{
    std::vector<Model> out;
    out.push_back({"box", dffw::write(dffw::makeBox("crate")), 1});
    out.push_back({"scene", dffw::write(sceneClump("scene")), 1});
    out.push_back({"early", dffw::write(sceneClump("early", dffw::Stamp::V310)), 1});
    out.push_back({"skinned", dffw::write(skinnedClump(4, "ped")), 1});
    out.push_back({"animated", dffw::write(animatedFile()), 1});
    out.push_back({"extras", dffw::write(boxWithExtras("extras")), 1});

    dffw::File multi;
    multi.units.push_back(dffw::makeBox("first", 1.0f, "clump_a"));
    multi.units.push_back(sceneClump("clump_b"));
    multi.units.push_back(dffw::makeBox("third", 2.0f, "clump_c"));
    out.push_back({"multi_clump", dffw::write(multi), 3});

    dffw::File multiAnimated;
    multiAnimated.units.push_back(sceneClump("lead"));
    multiAnimated.units.push_back(dictionary({"late_anim"}));
    dffw::Clump late;
    late.frames.push_back(namedFrame("late_root", 0xFFFFFFFF, {0, 0, 0}));
    dffw::Geometry g = dffw::makeQuad();
    g.materials[0] = richMaterial("late_anim");
    late.geometries.push_back(std::move(g));
    late.atomics.push_back(dffw::Atomic{});
    multiAnimated.units.push_back(std::move(late));
    multiAnimated.units.push_back(dffw::makeBox("tail", 1.0f, "tail_box"));
    out.push_back({"multi_dictionary", dffw::write(multiAnimated), 3});

    // A skinned clump after a plain one: the build after the skin is skinned.
    dffw::File mixed;
    mixed.units.push_back(dffw::makeBox("plain", 1.0f, "plain_box"));
    mixed.units.push_back(skinnedClump(3, "rig"));
    out.push_back({"plain_then_skinned", dffw::write(mixed), 2});
    return out;
}

}  // namespace corpus
