// What a model carries beyond its meshes, in the scene: its collision as a
// hidden, unrendered dummy `collision` under the clump's root with a mesh for
// the faces, the shadow faces, each sphere and each box; its 2d effects under
// the nodes of the frames that show their geometry, lights as omni lights and
// the other kinds as dummies named after their kind. The values the host has
// no place for are user properties.
#include <algorithm>
#include <cmath>
#include <string>

#include "importer/Orvik.h"
#include "scene/FrameNodes.h"

namespace {

namespace col = orvik::col;

// Sphere meshes: rings from pole to pole, segments around.
constexpr int kSphereSegments = 8;
constexpr int kSphereRings = 4;
constexpr float kPi = 3.14159265f;

Point3 toPoint(const col::Vec3& v) { return Point3(v.x, v.y, v.z); }

Matrix3 translation(const Point3& p)
{
    Matrix3 tm;
    tm.SetTrans(p);
    return tm;
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

// A node for obj (a dummy when obj is null and the host has dummies) at
// local transform tm under parent, hidden and kept out of renders when
// asked; null when the host made no object.
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

Object* newDummy(Interface& ip)
{
    return static_cast<Object*>(ip.CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)));
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
                         Point3(radius * std::sin(polar) * std::cos(around), radius * std::sin(polar) * std::sin(around),
                                radius * std::cos(polar)));
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
    static const int kSides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    mesh.setNumFaces(12);
    for (int s = 0; s < 6; ++s) {
        const int* q = kSides[s];
        setFace(mesh, 2 * s, q[0], q[1], q[2], material);
        setFace(mesh, 2 * s + 1, q[0], q[2], q[3], material);
    }
    mesh.BuildStripsAndEdges();
    return object;
}

// shapesLeft: the spheres and boxes the import may still build; the others
// are counted in leftOut.
void buildCollision(Interface& ip, INode* root, const col::Model& model, std::uint64_t& shapesLeft,
                    std::uint64_t& leftOut)
{
    INode* holder = placeNode(ip, newDummy(ip), root, Matrix3(), "collision", true);
    if (holder == nullptr) return;
    holder->SetUserPropString("model", model.name.c_str());
    holder->SetUserPropString("version", col::versionTag(model.version));
    holder->SetUserPropInt("modelId", model.modelId);
    holder->SetUserPropFloat("radius", model.bounds.radius);

    if (!model.faces.empty()) {
        INode* faces = placeNode(ip, faceMesh(ip, model.vertices, model.faces), holder, Matrix3(), "collision faces", true);
        if (faces != nullptr) faces->SetUserPropInt("faceGroups", static_cast<int>(model.faceGroups.size()));
    }
    if (!model.shadowFaces.empty())
        placeNode(ip, faceMesh(ip, model.shadowVertices, model.shadowFaces), holder, Matrix3(), "collision shadow", true);
    const std::size_t shapes = model.spheres.size() + model.boxes.size();
    const std::size_t allowed = static_cast<std::size_t>(std::min<std::uint64_t>(shapesLeft, shapes));
    shapesLeft -= allowed;
    leftOut += shapes - allowed;
    for (std::size_t i = 0; i < model.spheres.size() && i < allowed; ++i) {
        const col::Sphere& s = model.spheres[i];
        INode* node = placeNode(ip, sphereMesh(ip, s.radius, s.surface.material), holder, translation(toPoint(s.center)),
                                "collision sphere " + std::to_string(i), true);
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
}

void buildEffect(Interface& ip, INode* parent, const col::Effect& effect)
{
    Object* object = nullptr;
    if (effect.type == col::Effect::kLight) {
        auto* light = static_cast<GenLight*>(ip.CreateInstance(LIGHT_CLASS_ID, Class_ID(OMNI_LIGHT_CLASS_ID, 0)));
        if (light != nullptr) {
            Point3 rgb(effect.colour[0], effect.colour[1], effect.colour[2]);
            light->SetRGBColor(0, rgb);
            light->SetAtten(0, ATTEN_END, effect.range);
            light->Enable(1);
            light->SetConeDisplay(0, 1);
            object = light;
        }
    }
    if (object == nullptr) object = newDummy(ip);
    INode* node = placeNode(ip, object, parent, translation(toPoint(effect.position)), effect.kind, false);
    if (node == nullptr) return;
    node->SetUserPropInt("effect", static_cast<int>(effect.type));
    for (const col::EffectValue& v : effect.values) {
        switch (v.kind) {
        case col::EffectValue::Kind::Int: node->SetUserPropInt(v.key.c_str(), v.intValue); break;
        case col::EffectValue::Kind::Float: node->SetUserPropFloat(v.key.c_str(), v.floatValue); break;
        case col::EffectValue::Kind::Text: node->SetUserPropString(v.key.c_str(), v.text.c_str()); break;
        }
    }
}

}  // namespace

void Orvik::buildModelExtras()
{
    Interface& ip = *coreInterface;
    const std::uint32_t count = frameCount();
    if (!clumpCollision.empty()) {
        // The first frame without a parent is the clump's root.
        INode* root = nullptr;
        for (std::uint32_t k = 0; k < count && root == nullptr; ++k)
            if (frameRecord(k).parent >= count) root = frameNodeTable[k].node;
        for (const col::Model& model : clumpCollision)
            buildCollision(ip, root, model, collisionShapesLeft, mends.collisionShapesLeftOut);
    }
    if (!geometryEffects.empty()) {
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::int32_t link = frameRecord(k).link;
            if (link < 0 || frameNodeTable[k].node == nullptr) continue;
            const auto found = geometryEffects.find(static_cast<std::uint32_t>(link));
            if (found == geometryEffects.end()) continue;
            for (const col::Effect& effect : found->second) {
                if (effectNodesLeft == 0) {
                    ++mends.effectsLeftOut;
                    continue;
                }
                --effectNodesLeft;
                buildEffect(ip, frameNodeTable[k].node, effect);
            }
        }
    }
    clumpCollision.clear();
    geometryEffects.clear();
}
