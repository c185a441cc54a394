// What a model carries beyond its meshes, in the scene: its collision as a
// hidden, unrendered dummy `collision` under the clump's root with a mesh for
// the faces, the shadow faces, each sphere and each box; its 2d effects under
// the nodes of the frames that show their geometry, lights as omni lights and
// the other kinds as dummies named after their kind. The values the host has
// no place for are user properties.
#include <string>

#include "importer/Orvik.h"
#include "scene/CollisionNodes.h"
#include "scene/FrameNodes.h"

namespace {

namespace col = orvik::col;
using collision_nodes::newDummy;
using collision_nodes::placeNode;
using collision_nodes::translation;

Point3 toPoint(const col::Vec3& v)
{
    return Point3(v.x, v.y, v.z);
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
        case col::EffectValue::Kind::Int:
            node->SetUserPropInt(v.key.c_str(), v.intValue);
            break;
        case col::EffectValue::Kind::Float:
            node->SetUserPropFloat(v.key.c_str(), v.floatValue);
            break;
        case col::EffectValue::Kind::Text:
            node->SetUserPropString(v.key.c_str(), v.text.c_str());
            break;
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
            collision_nodes::build(ip, root, model, "collision", collisionShapesLeft, mends.collisionShapesLeftOut);
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
