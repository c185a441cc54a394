// Small helpers shared by the test files: finding a node by name, comparing
// points and matrices, and a host that keeps script errors off standard error.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "host/max.h"
#include "host/scene.h"

// The scene's first node of that name; a failure (and null) when there is none.
inline INode* nodeNamed(const Scene& scene, const std::string& name)
{
    for (INode* node : scene.nodes)
        if (name == node->GetName()) return node;
    ADD_FAILURE() << "no node named " << name;
    return nullptr;
}

inline void expectNear(const Point3& a, const Point3& b, float tol = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

inline void expectNear(const Point3& p, float x, float y, float z, float tol = 1e-5f)
{
    expectNear(p, Point3(x, y, z), tol);
}

// Every row, the translation too.
inline void expectNear(const Matrix3& a, const Matrix3& b, float tol = 1e-5f)
{
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        expectNear(a.GetRow(i), b.GetRow(i), tol);
    }
}

// A new mesh object of the current scene with that many vertices and faces.
inline TriObject* newMesh(int vertexCount = 0, int faceCount = 0)
{
    auto* tri = static_cast<TriObject*>(
        GetCOREInterface()->CreateInstance(GEOMOBJECT_CLASS_ID, Class_ID(EDITTRIOBJ_CLASS_ID, 0)));
    tri->mesh.setNumVerts(vertexCount);
    tri->mesh.setNumFaces(faceCount);
    return tri;
}

// Host options for imports whose failing script statements are expected.
inline HostOptions quietHost()
{
    HostOptions options;
    options.printScriptErrors = false;
    return options;
}
