// Scene nodes: transforms, hierarchy, names, materials, user properties.
#pragma once

#include <map>
#include <utility>

#include "host/animatable.h"

class Mtl;
class Modifier;

constexpr int PIV_NONE = 0;
constexpr int PIV_PIVOT_ONLY = 1;
constexpr int PIV_OBJECT_ONLY = 2;

constexpr int BONE_OBJ_OFF = 0;

// DeleteKeys flags.
constexpr DWORD TRACK_DOSEL = 1 << 0;
constexpr DWORD TRACK_DOALL = 1 << 1;

class INode {
public:
    INode(int sceneIndex, Object* obj) : index(sceneIndex), object(obj) {}
    INode(const INode&) = delete;
    INode& operator=(const INode&) = delete;

    // World transform. SetNodeTM derives the transform relative to the
    // parent (at t); in animate mode it makes or replaces position, rotation
    // and (when not 1) scale keys at t, otherwise it sets the transform for
    // all times and drops the keys. GetNodeTM interpolates between keys.
    void SetNodeTM(TimeValue t, Matrix3& tm);
    Matrix3 GetNodeTM(TimeValue t, Interval* valid = nullptr) const;
    // Drops every transform key (the keys are all "selected" here, whatever
    // the flags say): the node keeps the transform it had for all times.
    void DeleteKeys(DWORD flags);
    // The object's world transform: the object offset (scale, rotation,
    // translation) followed by the node transform.
    Matrix3 GetObjectTM(TimeValue t, Interval* valid = nullptr) const;

    void SetName(const MCHAR* s) { name = s ? s : ""; }
    const MCHAR* GetName() const { return name.c_str(); }

    // keepPos 0 keeps the child's local transform; non-zero keeps its world transform.
    void AttachChild(INode* node, int keepPos = 1);
    INode* GetParentNode() const { return parent; }
    // Only the scene's root node (Interface::GetRootNode) answers true.
    BOOL IsRootNode() const { return index < 0 ? TRUE : FALSE; }
    int NumberOfChildren() const { return static_cast<int>(children.size()); }
    INode* GetChildNode(int i) const { return children[static_cast<std::size_t>(i)]; }

    void SetMtl(Mtl* matl) { material = matl; }
    Mtl* GetMtl() const { return material; }
    Object* GetObjectRef() const { return object; }

    // Evaluates the object through the node's modifiers.
    ObjectState EvalWorldState(TimeValue time, BOOL evalHidden = TRUE);

    void SetUserPropInt(const MSTR& key, int val);
    void SetUserPropFloat(const MSTR& key, float val);
    void SetUserPropString(const MSTR& key, const MSTR& string);
    BOOL GetUserPropInt(const MSTR& key, int& val) const;
    BOOL GetUserPropString(const MSTR& key, MSTR& string) const;

    // Object-offset operations; with pivot mode PIV_OBJECT_ONLY only the
    // object-offset transform changes.
    void Move(TimeValue t, const Matrix3& tmAxis, const Point3& val, BOOL localOrigin = FALSE, BOOL affectKids = TRUE,
              int pivMode = PIV_NONE, BOOL ignoreLocks = FALSE);
    void Scale(TimeValue t, const Matrix3& tmAxis, const Point3& val, BOOL localOrigin = FALSE, BOOL affectKids = TRUE,
               int pivMode = PIV_NONE, BOOL ignoreLocks = FALSE);
    Point3 GetObjOffsetPos() const { return offsetPos; }
    Quat GetObjOffsetRot() const { return offsetRot; }
    ScaleValue GetObjOffsetScale() const { return offsetScale; }

    // Bone display: 0 off, 1 bone and object, 2 bone only.
    void ShowBone(int boneVis) { boneDisplay = boneVis; }

    // Hidden in the viewports; kept out of renders.
    void Hide(BOOL onOff) { hidden = onOff != 0; }
    int IsHidden(DWORD hflags = 0, BOOL forRenderer = FALSE) const
    {
        (void)hflags, (void)forRenderer;
        return hidden ? 1 : 0;
    }
    void SetRenderable(BOOL onOff) { renderable = onOff != 0; }
    int Renderable() const { return renderable ? 1 : 0; }

    // Stand-in state, read by the scene dump.
    struct UserProp {
        std::string key;
        bool isInt = false;
        int intValue = 0;
        bool isFloat = false;
        float floatValue = 0.0f;
        std::string text;
    };
    int SceneIndex() const { return index; }
    const std::vector<INode*>& Children() const { return children; }
    const std::vector<UserProp>& UserProps() const { return userProps; }
    const std::vector<Modifier*>& Modifiers() const { return modifiers; }  // top of the stack first
    void AddModifierOnTop(Modifier* mod) { modifiers.insert(modifiers.begin(), mod); }
    bool HasBoneDisplay() const { return boneDisplay >= 0; }
    int BoneDisplay() const { return boneDisplay; }
    // The transform relative to the parent at time t (at 0 for LocalTM).
    Matrix3 LocalTM(TimeValue t = 0) const;
    template <class V>
    struct Key {
        TimeValue time;
        V value;
    };
    // Transform keys in time order, relative to the parent.
    const std::vector<Key<Point3>>& PositionKeys() const { return positionKeys; }
    const std::vector<Key<Quat>>& RotationKeys() const { return rotationKeys; }
    const std::vector<Key<Point3>>& ScaleKeys() const { return scaleKeys; }
    bool HasKeys() const { return !positionKeys.empty() || !rotationKeys.empty() || !scaleKeys.empty(); }
    // The root node's children: the scene's top-level nodes.
    void SetRootChildren(std::vector<INode*> topLevel) { children = std::move(topLevel); }

private:
    UserProp& prop(const std::string& key);

    int index;
    Object* object;
    std::string name;
    void setKeys(TimeValue t, const Matrix3& localTm);

    Matrix3 local;  // relative to the parent (world at the top level); all times without keys
    std::vector<Key<Point3>> positionKeys;
    std::vector<Key<Quat>> rotationKeys;
    std::vector<Key<Point3>> scaleKeys;
    INode* parent = nullptr;
    std::vector<INode*> children;
    Mtl* material = nullptr;
    std::vector<UserProp> userProps;  // in the order first set
    std::vector<Modifier*> modifiers;
    Point3 offsetPos;
    Quat offsetRot;
    ScaleValue offsetScale;
    int boneDisplay = -1;  // -1: never set
    bool hidden = false;
    bool renderable = true;
};
