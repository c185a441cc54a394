// The plain build: one node per frame (mesh, omni light or dummy), named,
// placed at the frame's matrix and linked as the frames are.
#include <cassert>

#include "importer/Orvik.h"
#include "scene/FrameNodes.h"

namespace {

// An omni light set up from the file's light data, or null when the host has
// no omni light. Whatever the light's type in the file, it becomes an omni light.
GenLight* createOmniLight(Interface& ip, const LightValues& values)
{
    auto* light = static_cast<GenLight*>(ip.CreateInstance(LIGHT_CLASS_ID, Class_ID(OMNI_LIGHT_CLASS_ID, 0)));
    if (!light) return nullptr;
    light->SetAtten(0, 0, values.radius);
    Point3 rgb(values.colour[0] * 255.0f, values.colour[1] * 255.0f, values.colour[2] * 255.0f);
    light->SetRGBColor(0, rgb);
    light->SetFallsize(0, values.minusCosCone);
    light->Enable(1);
    light->SetConeDisplay(0, 1);
    return light;
}

}  // namespace

void Orvik::buildPlainScene()
{
    Interface& ip = *coreInterface;
    const std::uint32_t count = frameCount();

    for (std::uint32_t i = 0; i < count; ++i) {
        const FrameRecord record = frameRecord(i);
        Matrix3 tm = frame_nodes::frameMatrix(record);
        FrameNodeSlot& slot = frameNodeTable[i];
        const std::int32_t link = record.link;
        // A frame whose link names no geometry or light the clump holds (only
        // a damaged atomic or light leaves one) becomes a dummy.
        const bool isLight = link == kLinkLight && !slot.lightData.empty();
        // The atomic reader links only geometries the clump has.
        assert(link < 0 || static_cast<std::uint32_t>(link) < geometryCount());
        const bool isMesh = link >= 0 && geometryTable[static_cast<std::uint32_t>(link)].object != nullptr;

        GenLight* light = isLight ? createOmniLight(ip, slot.lightData[0]) : nullptr;
        if (light) {
            slot.node = ip.CreateObjectNode(light);
        } else if (isMesh) {
            const GeometryRecord& geometry = geometryTable[static_cast<std::uint32_t>(link)];
            slot.node = ip.CreateObjectNode(geometry.object);
            slot.node->SetMtl(geometry.material);
        } else {
            slot.node = frame_nodes::createDummyNode(ip);
            frame_nodes::adjustDummyObject(*slot.node, tm);
        }
        slot.node->SetNodeTM(0, tm);
        slot.node->SetName(frameNames[i].c_str());
        std::string().swap(frameNames[i]);
    }
    std::vector<std::string>().swap(frameNames);

    frame_nodes::linkFrames(*this);
    buildModelExtras();
    releaseClumpTables();
}
