// Pieces shared by the plain and the skinned build: frame matrices, dummy
// nodes and the frame hierarchy.
#pragma once

#include "importer/Orvik.h"

namespace frame_nodes {

// The record's four rows, unchanged, as the host's row-layout matrix.
inline Matrix3 frameMatrix(const FrameRecord& r)
{
    return Matrix3(Point3(r.right[0], r.right[1], r.right[2]), Point3(r.up[0], r.up[1], r.up[2]),
                   Point3(r.at[0], r.at[1], r.at[2]), Point3(r.position[0], r.position[1], r.position[2]));
}

// A top-level node carrying a new dummy (no object when the host has no dummy class).
inline INode* createDummyNode(Interface& ip)
{
    auto* dummy = static_cast<DummyObject*>(ip.CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)));
    return ip.CreateObjectNode(dummy);
}

// The dummy's object offset is scaled in the frame's axes about its own
// origin, so the dummy draws larger but stays on its pivot; neither the node
// transform nor the children move.
inline void adjustDummyObject(INode& node, const Matrix3& frameTm)
{
    node.Scale(0, frameTm, Point3(10.0f, 10.0f, 10.0f), TRUE, FALSE, PIV_OBJECT_ONLY, TRUE);
}

// Links every frame's node under its parent frame's node, keeping the local
// transform, so that the matrices set as world transforms become relative to
// the parent. A parent not below the frame count makes a top-level node.
inline void linkFrames(Orvik& importer)
{
    const std::uint32_t count = importer.frameCount();
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t parent = importer.frameRecord(k).parent;
        if (parent >= count) continue;
        INode* parentNode = importer.frameNodeTable[parent].node;
        INode* child = importer.frameNodeTable[k].node;
        if (parentNode && child) parentNode->AttachChild(child, 0);
    }
}

}  // namespace frame_nodes
