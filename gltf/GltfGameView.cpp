// glTF export of a vehicle as the game draws it (GltfOptions::gameView): the
// one wheel the file stores (else one taken from another model, else a
// generated tyre and rim) placed at every wheel dummy, the placeholder
// colours of the body and lamps replaced, and (in addNodes) the damaged and
// low-detail parts left out.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string_view>

#include "gltf/GltfDocument.h"
#include "host/dump.h"
#include "support/Paths.h"
#include "support/Text.h"

namespace orvik::gltf {
namespace {

// A wheel dummy's side, from its name (any case): 'l' or 'r'; 0 when the
// name is no wheel dummy's.
char wheelSide(const std::string& name)
{
    const std::string lower = asciiLower(name);
    for (const char* place : {"lf", "rf", "lb", "rb", "lm", "rm"}) {
        if (lower == std::string("wheel_") + place + "_dummy") return place[0];
    }
    return 0;
}

bool below(const INode* node, const INode* ancestor)
{
    for (const INode* n = node->GetParentNode(); n != nullptr; n = n->GetParentNode()) {
        if (n == ancestor) return true;
    }
    return false;
}

// The placeholder colours the games replace: the paint colours in order,
// then the lamps.
constexpr std::array<std::array<int, 3>, 4> kPaintPlaceholders{
    {{60, 255, 0}, {255, 0, 175}, {0, 255, 255}, {255, 0, 255}}};
constexpr std::array<std::array<int, 3>, 4> kLampPlaceholders{
    {{255, 175, 0}, {0, 255, 200}, {185, 255, 0}, {255, 60, 0}}};

// Whether a colour (0..1 per channel) is exactly the placeholder (0..255).
bool isColour(const Point3& rgb, const std::array<int, 3>& placeholder)
{
    for (std::size_t i = 0; i < 3; ++i) {
        const float v = rgb[static_cast<int>(i)] * 255.0f;
        if (!(std::abs(v - static_cast<float>(placeholder[i])) < 1e-3f)) return false;
    }
    return true;
}

}  // namespace

GameColour Builder::gameColour(const Point3& rgb, std::array<float, 3>& colour) const
{
    for (std::size_t k = 0; k < kPaintPlaceholders.size(); ++k) {
        if (!isColour(rgb, kPaintPlaceholders[k])) continue;
        const std::array<std::uint8_t, 3>& paint = k < options.paint.size() ? options.paint[k] : kDefaultPaint[k];
        for (std::size_t i = 0; i < 3; ++i) colour[i] = static_cast<float>(paint[i]) / 255.0f;
        return GameColour::Paint;
    }
    for (const auto& lamp : kLampPlaceholders) {
        if (!isColour(rgb, lamp)) continue;
        // A lamp that is off: its glass white, lit by the scene only.
        colour = {1.0f, 1.0f, 1.0f};
        return GameColour::Lamp;
    }
    return GameColour::None;
}

namespace {

// The wheel dummies of a scene (any case), with their side, and the nodes
// holding a mesh below each.
struct Dummy {
    INode* node;
    char side;
    std::vector<INode*> parts;
};

std::vector<Dummy> wheelDummies(const Scene& scene, const std::function<bool(const INode*)>& holdsMesh)
{
    std::vector<Dummy> dummies;
    for (INode* node : scene.nodes) {
        if (const char side = wheelSide(node->GetName()); side != 0) dummies.push_back({node, side, {}});
    }
    for (Dummy& d : dummies) {
        for (INode* node : scene.nodes) {
            if (holdsMesh(node) && below(node, d.node)) d.parts.push_back(node);
        }
    }
    return dummies;
}

bool hasFaces(const INode* node)
{
    const auto* tri = dynamic_cast<const TriObject*>(node->GetObjectRef());
    return tri != nullptr && tri->mesh.getNumFaces() > 0;
}

// One band of the generated wheel: the surface swept round the axle (host
// x) by the profile segment from (xa, ra) to (xb, rb), each point given as
// (distance along the axle, radius). The profile runs so that its left
// hand, (-dr, dx), is the outside.
struct Sweep {
    std::vector<float> positions, normals;
    std::vector<std::uint16_t> indices;

    void band(float xa, float ra, float xb, float rb)
    {
        constexpr int kSteps = 32;
        const float dx = xb - xa, dr = rb - ra, len = std::sqrt(dx * dx + dr * dr);
        const auto first = static_cast<std::uint16_t>(positions.size() / 3);
        for (int i = 0; i < kSteps; ++i) {
            const double angle = 2.0 * 3.14159265358979323846 * i / kSteps;
            const auto c = static_cast<float>(std::cos(angle)), s = static_cast<float>(std::sin(angle));
            for (const auto& [x, r] : {std::pair{xa, ra}, std::pair{xb, rb}}) {
                positions.insert(positions.end(), {x, r * c, r * s});
                normals.insert(normals.end(), {-dr / len, dx / len * c, dx / len * s});
            }
        }
        for (int i = 0; i < kSteps; ++i) {
            const auto a0 = static_cast<std::uint16_t>(first + 2 * i), b0 = static_cast<std::uint16_t>(a0 + 1);
            const auto a1 = static_cast<std::uint16_t>(first + 2 * ((i + 1) % kSteps)),
                       b1 = static_cast<std::uint16_t>(a1 + 1);
            // Counter-clockwise seen from outside; none where a ring is the axle.
            if (ra > 0) indices.insert(indices.end(), {a0, a1, b0});
            if (rb > 0) indices.insert(indices.end(), {b0, a1, b1});
        }
    }
    void profile(std::initializer_list<std::pair<float, float>> points)
    {
        for (auto p = points.begin(); std::next(p) != points.end(); ++p)
            band(p->first, p->second, std::next(p)->first, std::next(p)->second);
    }
};

}  // namespace

int Builder::generatedWheel()
{
    if (generatedWheelMesh >= 0) return generatedWheelMesh;
    // A tyre with chamfered shoulders round a rim recessed on the outer
    // side (+x, as a right-hand wheel) with a hub; the inner side closed.
    const float radius = kGeneratedWheelDiameter / 2, half = kGeneratedWheelWidth / 2, shoulder = 0.035f;
    const float rim = radius * 0.65f, inset = 0.03f, hub = 0.07f, hubOut = 0.02f;
    Sweep tyre, wheelRim;
    tyre.profile({{-half, rim},
                  {-half, radius - shoulder},
                  {-half + shoulder, radius},
                  {half - shoulder, radius},
                  {half, radius - shoulder},
                  {half, rim}});
    wheelRim.profile({{half, rim},
                      {half - inset, rim},
                      {half - inset, hub},
                      {half - inset + hubOut, hub},
                      {half - inset + hubOut, 0}});
    wheelRim.profile({{-half + inset, 0}, {-half + inset, rim}, {-half, rim}});

    Json primitives = Json::array();
    const struct {
        const Sweep& sweep;
        const char* name;
        float grey;
        float roughness;
    } parts[] = {{tyre, "tyre", 0.05f, 0.9f}, {wheelRim, "rim", 0.6f, 0.5f}};
    for (const auto& part : parts) {
        const Sweep& sw = part.sweep;
        const std::size_t count = sw.positions.size() / 3;
        Json attributes = Json::object();
        attributes["POSITION"] =
            addAccessor(sw.positions.data(), sw.positions.size() * sizeof(float), kArrayBuffer, kFloat, "VEC3", count);
        std::array<float, 3> lo{}, hi{};
        lo.fill(std::numeric_limits<float>::max()), hi.fill(std::numeric_limits<float>::lowest());
        for (std::size_t i = 0; i < sw.positions.size(); ++i) {
            lo[i % 3] = std::min(lo[i % 3], sw.positions[i]), hi[i % 3] = std::max(hi[i % 3], sw.positions[i]);
        }
        Json& accessor = doc["accessors"][attributes["POSITION"].get<std::size_t>()];
        accessor["min"] = {tidy(lo[0]), tidy(lo[1]), tidy(lo[2])};
        accessor["max"] = {tidy(hi[0]), tidy(hi[1]), tidy(hi[2])};
        attributes["NORMAL"] =
            addAccessor(sw.normals.data(), sw.normals.size() * sizeof(float), kArrayBuffer, kFloat, "VEC3", count);
        const int indices = addAccessor(sw.indices.data(), sw.indices.size() * 2, kElementArrayBuffer, kUnsignedShort,
                                        "SCALAR", sw.indices.size());
        const double grey = tidy(part.grey);
        Json pbr = {{"baseColorFactor", {grey, grey, grey, 1.0}},
                    {"metallicFactor", 0.0},
                    {"roughnessFactor", tidy(part.roughness)}};
        int material = 0;
        add("materials",
            {{"name", std::string("generated wheel ") + part.name},
             {"pbrMetallicRoughness", pbr},
             {"alphaMode", "OPAQUE"},
             {"extras", {{"gameView", {{"generatedWheel", part.name}}}}}},
            material);
        primitives.push_back({{"attributes", attributes}, {"indices", indices}, {"material", material}, {"mode", 4}});
        report.vertices += count;
        report.triangles += sw.indices.size() / 3;
        ++report.primitives;
    }
    add("meshes", {{"name", "generated wheel"}, {"primitives", primitives}}, generatedWheelMesh);
    return generatedWheelMesh;
}

void Builder::placeWheels()
{
    std::vector<Dummy> dummies = wheelDummies(scene, [this](const INode* n) { return meshHolders.count(n) != 0; });
    std::erase_if(dummies, [this](const Dummy& d) { return nodeIndex(d.node) < 0; });
    const Dummy* source = nullptr;
    std::size_t sources = 0;
    for (const Dummy& d : dummies) {
        if (!d.parts.empty()) source = &d, ++sources;
    }
    // One per dummy (as bikes and some cars store them): the file already
    // shows what the game does.
    if (sources > 1 || dummies.empty()) return;

    // The wheel's meshes, each with its transform relative to the wheel's
    // hub, and the side it was made for.
    struct Part {
        std::string name;
        int mesh;
        Matrix3 local;
    };
    std::vector<Part> wheel;
    char wheelSideOf = 'r';
    std::string origin;
    if (source != nullptr) {
        const auto sourceIndex = static_cast<std::size_t>(nodeIndex(source->node));
        if (determinant(exportedWorld[sourceIndex]) == 0.0) return;
        const Matrix3 toSource = Inverse(exportedWorld[sourceIndex]);
        for (INode* part : source->parts) {
            const auto holder = static_cast<std::size_t>(meshHolders.at(part));
            const Json& held = doc["nodes"][holder];
            if (held.contains("skin")) continue;
            wheel.push_back({latin1ToUtf8(part->GetName()), held["mesh"].get<int>(), exportedWorld[holder] * toSource});
        }
        wheelSideOf = source->side;
        origin = "the wheel of " + latin1ToUtf8(source->node->GetName());
    } else if (options.wheels != nullptr) {
        // A wheel taken from another model: its meshes where they stand
        // relative to its dummy, or to its origin when it is a wheel model
        // itself, which the games scale by the car's wheel scale.
        const BorrowedWheel& from = *options.wheels;
        const float s = kDefaultWheelScale;
        Matrix3 toHub(Point3(s, 0, 0), Point3(0, s, 0), Point3(0, 0, s), Point3(0, 0, 0));
        if (from.hub != nullptr) {
            if (determinant(from.hub->GetNodeTM(0)) == 0.0) return;
            toHub = Inverse(from.hub->GetNodeTM(0));
            wheelSideOf = wheelSide(from.hub->GetName());
        }
        for (INode* part : from.parts) {
            auto* tri = dynamic_cast<TriObject*>(part->GetObjectRef());
            const int mesh = tri != nullptr ? meshFor(*part, *tri, nullptr) : -1;
            if (mesh >= 0)
                wheel.push_back(
                    {latin1ToUtf8(part->GetName()), mesh, objectOffset(*part) * part->GetNodeTM(0) * toHub});
        }
        origin = "the wheel of " + pathAsUtf8(fileNameOf(from.file));
    } else {
        wheel.push_back({"generated wheel", generatedWheel(), Matrix3()});
        origin = "a generated tyre and rim";
    }

    // The games turn the wheel half round about the car's up axis on the
    // other side, so that its outer face looks out there too.
    const Matrix3 halfTurn(Point3(-1, 0, 0), Point3(0, -1, 0), Point3(0, 0, 1), Point3(0, 0, 0));
    for (const Dummy& d : dummies) {
        if (&d == source || !d.parts.empty()) continue;
        const int target = nodeIndex(d.node);
        const bool turned = d.side != wheelSideOf;
        for (const Part& part : wheel) {
            Json node = {{"name", part.name}, {"mesh", part.mesh}};
            const Matrix3 exported = setTransform(node, turned ? part.local * halfTurn : part.local);
            node["extras"]["gameView"] = origin + (turned ? ", turned to face out on this side" : "");
            int index = 0;
            add("nodes", std::move(node), index);
            Json& children = doc["nodes"][static_cast<std::size_t>(target)]["children"];
            if (children.is_null()) children = Json::array();
            children.push_back(index);
            exportedWorld.push_back(exported * exportedWorld[static_cast<std::size_t>(target)]);
        }
        if (wheel.empty()) continue;
        ++report.wheelsPlaced;
        if (source == nullptr) ++report.wheelsSupplied;
    }
}

}  // namespace orvik::gltf

namespace orvik {

std::string findWheel(const Scene& scene, BorrowedWheel& wheel)
{
    wheel.scene = &scene;
    wheel.hub = nullptr;
    wheel.parts.clear();
    const std::vector<gltf::Dummy> dummies = gltf::wheelDummies(scene, gltf::hasFaces);
    for (const gltf::Dummy& d : dummies) {
        if (d.parts.empty()) continue;
        wheel.hub = d.node;
        wheel.parts = d.parts;
        return "";
    }
    if (!dummies.empty()) return "its wheel dummies hold no wheel";
    for (INode* node : scene.nodes) {
        bool part = true;
        for (const INode* n = node; n != nullptr && part; n = n->GetParentNode()) {
            const std::string name = asciiLower(n->GetName());
            part = !name.ends_with("_dam") && !name.ends_with("_vlo");
        }
        if (part && gltf::hasFaces(node)) wheel.parts.push_back(node);
    }
    return wheel.parts.empty() ? "it holds no mesh to take as a wheel" : "";
}

}  // namespace orvik
