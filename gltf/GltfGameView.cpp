// glTF export of a vehicle as the game draws it (GltfOptions::gameView): the
// one wheel the file stores placed at every wheel dummy, the placeholder
// colours of the body and lamps replaced, and (in addNodes) the damaged and
// low-detail parts left out.
#include <cmath>
#include <string_view>

#include "gltf/GltfDocument.h"
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
constexpr std::array<std::array<int, 3>, 4> kPaintPlaceholders{{{60, 255, 0}, {255, 0, 175}, {0, 255, 255}, {255, 0, 255}}};
constexpr std::array<std::array<int, 3>, 4> kLampPlaceholders{{{255, 175, 0}, {0, 255, 200}, {185, 255, 0}, {255, 60, 0}}};

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

void Builder::placeWheels()
{
    // The wheel dummies, and the mesh nodes below each.
    struct Dummy {
        INode* node;
        char side;
        std::vector<INode*> parts;
    };
    std::vector<Dummy> dummies;
    for (INode* node : scene.nodes) {
        const char side = wheelSide(node->GetName());
        if (side != 0 && nodeIndex(node) >= 0) dummies.push_back({node, side, {}});
    }
    const Dummy* source = nullptr;
    std::size_t sources = 0;
    for (Dummy& d : dummies) {
        for (INode* node : scene.nodes) {
            if (meshHolders.count(node) != 0 && below(node, d.node)) d.parts.push_back(node);
        }
        if (!d.parts.empty()) source = &d, ++sources;
    }
    // No wheel, or one per dummy (as bikes and some cars store them): the
    // file already shows what the game does.
    if (sources != 1) return;

    const auto sourceIndex = static_cast<std::size_t>(nodeIndex(source->node));
    if (determinant(exportedWorld[sourceIndex]) == 0.0) return;
    const Matrix3 toSource = Inverse(exportedWorld[sourceIndex]);
    // The games turn the wheel half round about the car's up axis on the
    // other side, so that its outer face looks out there too.
    const Matrix3 halfTurn(Point3(-1, 0, 0), Point3(0, -1, 0), Point3(0, 0, 1), Point3(0, 0, 0));
    for (const Dummy& d : dummies) {
        if (&d == source || !d.parts.empty()) continue;
        const int target = nodeIndex(d.node);
        for (INode* part : source->parts) {
            const auto holder = static_cast<std::size_t>(meshHolders.at(part));
            const Json& held = doc["nodes"][holder];
            if (held.contains("skin")) continue;
            Matrix3 local = exportedWorld[holder] * toSource;
            if (d.side != source->side) local = local * halfTurn;
            Json wheel = {{"name", latin1ToUtf8(part->GetName())}, {"mesh", held["mesh"]}};
            const Matrix3 exported = setTransform(wheel, local);
            wheel["extras"]["gameView"] = "the wheel of " + latin1ToUtf8(source->node->GetName()) +
                                          (d.side != source->side ? ", turned to face out on this side" : "");
            int index = 0;
            add("nodes", std::move(wheel), index);
            Json& children = doc["nodes"][static_cast<std::size_t>(target)]["children"];
            if (children.is_null()) children = Json::array();
            children.push_back(index);
            exportedWorld.push_back(exported * exportedWorld[static_cast<std::size_t>(target)]);
            ++report.wheelsPlaced;
        }
    }
}

}  // namespace orvik::gltf
