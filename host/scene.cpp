// The stand-in host's scene: owns every object an import creates and lists
// it by kind in creation order.
#include "host/scene.h"

namespace {

std::unique_ptr<Scene>& sceneSlot()
{
    static std::unique_ptr<Scene> scene;
    return scene;
}

// The position of p in list when idx (the object's own record) is right;
// -1 otherwise.
template <class T, class U>
int checkedIndex(const std::vector<T*>& list, const U* p, int idx)
{
    if (!p) return -1;
    if (idx >= 0 && static_cast<std::size_t>(idx) < list.size() && list[static_cast<std::size_t>(idx)] == p) {
        return idx;
    }
    return -1;
}

}  // namespace

Scene::~Scene() = default;

namespace {

// Lists obj in list, numbered by its place there, when it is a T; false when
// it is not one.
template <class T>
bool listIndexed(Animatable* obj, std::vector<T*>& list)
{
    auto* item = dynamic_cast<T*>(obj);
    if (item == nullptr) return false;
    item->SetSceneIndex(static_cast<int>(list.size()));
    list.push_back(item);
    return true;
}

}  // namespace

void Scene::adopt(Animatable* obj)
{
    if (!obj) return;
    owned.emplace_back(obj);
    // The super class tells which one list an object can belong to; one cast
    // confirms it (a chain of casts cost each parameter block and UV
    // generator six failed casts).
    bool listed = false;
    switch (obj->SuperClassID()) {
    case GEOMOBJECT_CLASS_ID:
        if (auto* tri = dynamic_cast<TriObject*>(obj)) {
            meshes.push_back(tri);
            listed = true;
        }
        break;
    case MATERIAL_CLASS_ID: listed = listIndexed(obj, materials); break;
    case TEXMAP_CLASS_ID: listed = listIndexed(obj, textures); break;
    case CTRL_FLOAT_CLASS_ID: listed = listIndexed(obj, controllers); break;
    case OSM_CLASS_ID: listed = listIndexed(obj, modifiers); break;
    default: break;
    }
    if (listed) return;
    if (auto* other = dynamic_cast<Object*>(obj)) otherObjects.push_back(other);
}

INode* Scene::newNode(Object* obj)
{
    ownedNodes.push_back(std::make_unique<INode>(static_cast<int>(nodes.size()), obj));
    INode* node = ownedNodes.back().get();
    nodes.push_back(node);
    return node;
}

INode* Scene::rootNode()
{
    if (!root) root = std::make_unique<INode>(-1, nullptr);
    std::vector<INode*> topLevel;
    for (INode* n : nodes) {
        if (n->GetParentNode() == nullptr) topLevel.push_back(n);
    }
    root->SetRootChildren(std::move(topLevel));
    return root.get();
}

int Scene::indexOfNode(const INode* n) const
{
    return n ? checkedIndex(nodes, n, n->SceneIndex()) : -1;
}

int Scene::indexOfMaterial(const Mtl* m) const
{
    return m ? checkedIndex(materials, m, m->SceneIndex()) : -1;
}

int Scene::indexOfTexture(const Texmap* t) const
{
    const auto* bt = dynamic_cast<const BitmapTex*>(t);
    return bt ? checkedIndex(textures, bt, bt->SceneIndex()) : -1;
}

int Scene::indexOfController(const Control* c) const
{
    const auto* fc = dynamic_cast<const FloatController*>(c);
    return fc ? checkedIndex(controllers, fc, fc->SceneIndex()) : -1;
}

int Scene::indexOfModifier(const Modifier* m) const
{
    const auto* skin = dynamic_cast<const SkinModifier*>(m);
    return skin ? checkedIndex(modifiers, skin, skin->SceneIndex()) : -1;
}

Scene& currentScene()
{
    auto& slot = sceneSlot();
    if (!slot) slot = std::make_unique<Scene>();
    return *slot;
}

Scene& resetScene(const HostOptions& options)
{
    auto& slot = sceneSlot();
    slot.reset();
    slot = std::make_unique<Scene>();
    slot->options = options;
    // An undo hold left open belongs to the scene that was dropped.
    while (theHold.Holding()) theHold.Cancel();
    return *slot;
}

std::unique_ptr<Scene> takeScene()
{
    std::unique_ptr<Scene> taken = std::move(sceneSlot());
    while (theHold.Holding()) theHold.Cancel();
    resetScene(taken ? taken->options : HostOptions());
    return taken;
}
