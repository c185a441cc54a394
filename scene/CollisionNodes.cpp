// A collision model as host nodes (see CollisionNodes.h).
#include "scene/CollisionNodes.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

namespace col = orvik::col;
using collision_nodes::newDummy;
using collision_nodes::placeNode;
using collision_nodes::translation;

// Sphere meshes: rings from pole to pole, segments around.
constexpr int kSphereSegments = 8;
constexpr int kSphereRings = 4;
constexpr float kPi = 3.14159265f;

Point3 toPoint(const col::Vec3& v)
{
    return Point3(v.x, v.y, v.z);
}

TriObject* newMesh(Interface& ip)
{
    return static_cast<TriObject*>(ip.CreateInstance(GEOMOBJECT_CLASS_ID, Class_ID(EDITTRIOBJ_CLASS_ID, 0)));
}

void setFace(Mesh& mesh, int f, int a, int b, int c, int material)
{
    Face& face = mesh.faces[f];
    face.setVerts(a, b, c);
    face.setMatID(static_cast<MtlID>(material));
    face.setEdgeVisFlags(1, 1, 1);
    face.smGroup = 0;
}

void setSurface(INode& node, const col::Surface& s)
{
    node.SetUserPropInt("material", s.material);
    node.SetUserPropInt("piece", s.piece);
    node.SetUserPropInt("brightness", s.brightness);
    node.SetUserPropInt("light", s.light);
}

// The faces of a collision mesh: one material id per surface kind, and each
// face's light value in the illumination channel (light / 255, one map
// vertex per face).
TriObject* faceMesh(Interface& ip, const std::vector<col::Vec3>& vertices, const std::vector<col::Face>& faces)
{
    TriObject* object = newMesh(ip);
    if (object == nullptr) return nullptr;
    Mesh& mesh = object->GetMesh();
    mesh.setNumVerts(static_cast<int>(vertices.size()));
    for (std::size_t i = 0; i < vertices.size(); ++i) mesh.setVert(static_cast<int>(i), toPoint(vertices[i]));
    mesh.setNumFaces(static_cast<int>(faces.size()));
    mesh.setMapSupport(-1, TRUE);
    mesh.setNumMapVerts(-1, static_cast<int>(faces.size()));
    UVVert* lights = mesh.mapVerts(-1);
    TVFace* lightFaces = mesh.mapFaces(-1);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const col::Face& f = faces[i];
        const int n = static_cast<int>(i);
        // The reader checked every index against the vertices.
        setFace(mesh, n, static_cast<int>(f.a), static_cast<int>(f.b), static_cast<int>(f.c), f.material);
        const float light = static_cast<float>(f.light) / 255.0f;
        lights[i] = UVVert(light, light, light);
        lightFaces[i].setTVerts(n, n, n);
    }
    mesh.BuildStripsAndEdges();
    return object;
}

TriObject* sphereMesh(Interface& ip, float radius, int material)
{
    TriObject* object = newMesh(ip);
    if (object == nullptr) return nullptr;
    Mesh& mesh = object->GetMesh();
    // Two poles and (rings - 1) circles of segments vertices.
    const int circles = kSphereRings - 1;
    mesh.setNumVerts(2 + circles * kSphereSegments);
    mesh.setVert(0, Point3(0, 0, radius));
    mesh.setVert(1, Point3(0, 0, -radius));
    for (int r = 0; r < circles; ++r) {
        const float polar = kPi * static_cast<float>(r + 1) / kSphereRings;
        for (int s = 0; s < kSphereSegments; ++s) {
            const float around = 2.0f * kPi * static_cast<float>(s) / kSphereSegments;
            mesh.setVert(2 + r * kSphereSegments + s,
                         Point3(radius * std::sin(polar) * std::cos(around),
                                radius * std::sin(polar) * std::sin(around), radius * std::cos(polar)));
        }
    }
    auto at = [](int ring, int segment) { return 2 + ring * kSphereSegments + segment % kSphereSegments; };
    mesh.setNumFaces(2 * kSphereSegments + 2 * kSphereSegments * (circles - 1));
    int f = 0;
    for (int s = 0; s < kSphereSegments; ++s) {
        setFace(mesh, f++, 0, at(0, s), at(0, s + 1), material);
        setFace(mesh, f++, 1, at(circles - 1, s + 1), at(circles - 1, s), material);
        for (int r = 0; r + 1 < circles; ++r) {
            setFace(mesh, f++, at(r, s), at(r + 1, s), at(r + 1, s + 1), material);
            setFace(mesh, f++, at(r, s), at(r + 1, s + 1), at(r, s + 1), material);
        }
    }
    mesh.BuildStripsAndEdges();
    return object;
}

// A box of the given half extents about its node's origin: 8 corners, 12 faces.
TriObject* boxMesh(Interface& ip, const Point3& half, int material)
{
    TriObject* object = newMesh(ip);
    if (object == nullptr) return nullptr;
    Mesh& mesh = object->GetMesh();
    mesh.setNumVerts(8);
    for (int i = 0; i < 8; ++i)
        mesh.setVert(i, Point3((i & 1) ? half.x : -half.x, (i & 2) ? half.y : -half.y, (i & 4) ? half.z : -half.z));
    // Two faces per side, outward.
    static const int kSides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                     {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    mesh.setNumFaces(12);
    for (int s = 0; s < 6; ++s) {
        const int* q = kSides[s];
        setFace(mesh, 2 * s, q[0], q[1], q[2], material);
        setFace(mesh, 2 * s + 1, q[0], q[2], q[3], material);
    }
    mesh.BuildStripsAndEdges();
    return object;
}

}  // namespace

namespace collision_nodes {

INode* build(Interface& ip, INode* parent, const col::Model& model, const std::string& holderName,
             std::uint64_t& shapesLeft, std::uint64_t& leftOut)
{
    INode* holder = placeNode(ip, newDummy(ip), parent, Matrix3(), holderName, true);
    if (holder == nullptr) return nullptr;
    holder->SetUserPropString("model", model.name.c_str());
    holder->SetUserPropString("version", col::versionTag(model.version));
    holder->SetUserPropInt("modelId", model.modelId);
    holder->SetUserPropFloat("radius", model.bounds.radius);

    if (!model.faces.empty()) {
        INode* faces =
            placeNode(ip, faceMesh(ip, model.vertices, model.faces), holder, Matrix3(), "collision faces", true);
        if (faces != nullptr) faces->SetUserPropInt("faceGroups", static_cast<int>(model.faceGroups.size()));
    }
    if (!model.shadowFaces.empty())
        placeNode(ip, faceMesh(ip, model.shadowVertices, model.shadowFaces), holder, Matrix3(), "collision shadow",
                  true);
    const std::size_t shapes = model.spheres.size() + model.boxes.size();
    const std::size_t allowed = static_cast<std::size_t>(std::min<std::uint64_t>(shapesLeft, shapes));
    shapesLeft -= allowed;
    leftOut += shapes - allowed;
    for (std::size_t i = 0; i < model.spheres.size() && i < allowed; ++i) {
        const col::Sphere& s = model.spheres[i];
        INode* node = placeNode(ip, sphereMesh(ip, s.radius, s.surface.material), holder,
                                translation(toPoint(s.center)), "collision sphere " + std::to_string(i), true);
        if (node == nullptr) continue;
        setSurface(*node, s.surface);
        node->SetUserPropFloat("radius", s.radius);
    }
    for (std::size_t i = 0; i < model.boxes.size() && model.spheres.size() + i < allowed; ++i) {
        const col::Box& b = model.boxes[i];
        const Point3 lo = toPoint(b.min), hi = toPoint(b.max);
        const Point3 center((lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f, (lo.z + hi.z) * 0.5f);
        const Point3 half((hi.x - lo.x) * 0.5f, (hi.y - lo.y) * 0.5f, (hi.z - lo.z) * 0.5f);
        INode* node = placeNode(ip, boxMesh(ip, half, b.surface.material), holder, translation(center),
                                "collision box " + std::to_string(i), true);
        if (node != nullptr) setSurface(*node, b.surface);
    }
    return holder;
}

Object* newDummy(Interface& ip)
{
    return static_cast<Object*>(ip.CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)));
}

INode* placeNode(Interface& ip, Object* obj, INode* parent, const Matrix3& tm, const std::string& name, bool collision)
{
    if (obj == nullptr) return nullptr;
    INode* node = ip.CreateObjectNode(obj);
    if (node == nullptr) return nullptr;
    Matrix3 local = tm;
    node->SetNodeTM(0, local);
    node->SetName(name.c_str());
    if (parent != nullptr) parent->AttachChild(node, 0);
    if (collision) {
        node->Hide(TRUE);
        node->SetRenderable(FALSE);
    }
    return node;
}

Matrix3 translation(const Point3& p)
{
    Matrix3 tm;
    tm.SetTrans(p);
    return tm;
}

}  // namespace collision_nodes
