// The plain build: one node per frame (dummy, omni light or mesh), named and
// placed by its frame, linked as the frames are.
#include <gtest/gtest.h>

#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"

using dffw::atomic;
using dffw::namedFrame;

// Every clump of this file is built from its own tables; the nodes of all of
// them are fixed by tests/golden/dump/plain-build-nodes.json:
//  - "helper": a frame without atomic or light, a dummy at the frame's
//    matrix, grown tenfold about its pivot by the object offset;
//  - "lamp" and "spot": lights become omni lights whatever their type, the
//    colour scaled to 0..255, radius as attenuation, the cone as fall size;
//  - "body", "lit", "spare": a mesh stands only on a frame an atomic names
//    (geometry 0 is named by none), a light wins a frame it shares with an
//    atomic, an atomic naming a geometry the clump lacks makes no mesh;
//  - a frame without a name is "NoName";
//  - "hand", "root", "arm": listed child first, linked as the frames say,
//    world transforms composed through the parents (root turned a quarter
//    about Z);
//  - "orphan": a parent index out of range leaves the frame at the top;
//  - "sign": the mesh of a later clump is its own, at its own frame.
TEST(PlainBuild, NodesOfEveryKindAsFixed)
{
    dffw::Clump helper;
    dffw::Frame f = namedFrame("helper", 0xFFFFFFFF, {4, 5, 6});
    f.right = {0, 1, 0}, f.up = {-1, 0, 0};
    helper.frames = {f};

    dffw::Clump lights;
    lights.frames = {namedFrame("lights"), namedFrame("lamp", 0, {1, 2, 3}), namedFrame("spot", 0)};
    dffw::Light point{.frameIndex = 1, .radius = 7.5f, .colour = {0.5f, 0.25f, 1.0f}, .minusCosAngle = 0.75f};
    dffw::Light spot = point;
    spot.frameIndex = 2, spot.typeAndFlags = 0x00810003;  // a spot light in the file
    lights.lights = {point, spot};

    dffw::Clump meshes;
    meshes.frames = {namedFrame("meshes"), namedFrame("body", 0, {0, 0, 1}), namedFrame("lit", 0),
                     namedFrame("spare", 0), dffw::Frame{.parent = 0}};
    meshes.geometries = {dffw::makeQuad(), dffw::makeCube(), dffw::makeQuad(2.0f)};
    meshes.atomics = {atomic(1, 1), atomic(2, 2), atomic(3, 7)};
    meshes.lights = {dffw::Light{.frameIndex = 2}};

    dffw::Clump hierarchy;
    dffw::Frame root = namedFrame("root", 0xFFFFFFFF, {5, 0, 0});
    root.right = {0, 1, 0}, root.up = {-1, 0, 0};
    hierarchy.frames = {namedFrame("hand", 2, {0, 2, 0}), root, namedFrame("arm", 1, {1, 0, 0}),
                        namedFrame("orphan", 9, {1, 1, 1})};

    dffw::Clump sign;
    sign.frames = {namedFrame("sign", 0xFFFFFFFF, {0, 0, 3})};
    sign.geometries = {dffw::makeQuad()};
    sign.atomics = {atomic(0, 0)};

    dffw::File file;
    file.units = {helper, lights, meshes, hierarchy, sign};
    const Scene& scene = importBytes(dffw::write(file));
    ASSERT_EQ(scene.meshes.size(), 4u) << "every geometry becomes a mesh, named by an atomic or not";
    expectGolden("dump/plain-build-nodes.json", dumpOrderedJson(scene)["nodes"].dump(1));
}
