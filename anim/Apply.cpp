// Applying an animation to the scene: bones matched to nodes, keys set in
// animate mode, the animation range.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>

#include "anim/IfpImport.h"

namespace anim {

namespace {

std::string lowered(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Every node below the root, parents before their children.
std::vector<INode*> nodesInOrder(INode* root)
{
    std::vector<INode*> out;
    std::vector<INode*> stack;
    for (int i = root ? root->NumberOfChildren() : 0; i-- > 0;) stack.push_back(root->GetChildNode(i));
    while (!stack.empty()) {
        INode* n = stack.back();
        stack.pop_back();
        if (!n) continue;
        out.push_back(n);
        for (int i = n->NumberOfChildren(); i-- > 0;) stack.push_back(n->GetChildNode(i));
    }
    return out;
}

bool isTopLevel(const INode* n)
{
    return n == nullptr || n->IsRootNode();
}

// Seconds to ticks at the host's frame rate; times beyond what the host can
// count are held at its ends, a time that is no number is 0.
TimeValue ticksOf(float seconds)
{
    const double ticksPerSecond = double(GetFrameRate()) * double(GetTicksPerFrame());
    const double t = std::round(double(seconds) * ticksPerSecond);
    if (!std::isfinite(t)) return std::isnan(t) ? 0 : (t > 0 ? TIME_PosInfinity - 1 : TIME_NegInfinity + 1);
    constexpr double kLimit = double(std::numeric_limits<TimeValue>::max() - 1);
    return static_cast<TimeValue>(std::clamp(t, -kLimit, kLimit));
}

struct Target {
    INode* node;
    const ifp::Bone* bone;
    Matrix3 rest;       // the node's transform relative to its parent before the animation
    bool placed;        // keys relative to where the skeleton stands, not to the parent
    Matrix3 placement;  // that place: the parent's position, the scene's axes
};

Matrix3 keyTransform(const ifp::Bone& bone, const ifp::Key& key, const Matrix3& rest)
{
    Matrix3 tm;
    Quat(key.rotation[0], key.rotation[1], key.rotation[2], key.rotation[3]).MakeMatrix(tm);
    if (bone.keyType == ifp::KeyType::RTS) {
        for (int i = 0; i < 3; ++i) tm.SetRow(i, tm.GetRow(i) * key.scale[i]);
    }
    // Rotation-only keys leave the bone where it is on its parent.
    tm.SetTrans(bone.keyType == ifp::KeyType::R ? rest.GetTrans()
                                                : Point3(key.translation[0], key.translation[1], key.translation[2]));
    return tm;
}

}  // namespace

Applied applyAnimation(Interface& ip, const ifp::Animation& animation)
{
    Applied out;
    const std::vector<INode*> nodes = nodesInOrder(ip.GetRootNode());
    // The first node of an id or a name is the one matched.
    std::map<int, INode*> byId;
    std::map<std::string, INode*> byName;
    for (INode* n : nodes) {
        int id = 0;
        if (n->GetUserPropInt("BoneId", id)) byId.emplace(id, n);
        byName.emplace(lowered(n->GetName()), n);
    }
    std::map<INode*, const ifp::Bone*> boneOf;
    for (const ifp::Bone& bone : animation.bones) {
        INode* node = nullptr;
        if (bone.id >= 0) {
            const auto it = byId.find(bone.id);
            if (it != byId.end()) node = it->second;
        }
        if (node == nullptr) {
            const auto it = byName.find(lowered(bone.name));
            if (it != byName.end()) node = it->second;
        }
        if (node == nullptr) {
            out.missing.push_back(bone.name);
        } else if (!bone.keys.empty()) {
            boneOf.emplace(node, &bone);
        }
    }

    // Where every keyed node stands before any key is set.
    std::vector<Target> targets;
    for (INode* n : nodes) {
        const auto it = boneOf.find(n);
        if (it == boneOf.end()) continue;
        INode* parent = n->GetParentNode();
        const Matrix3 world = n->GetNodeTM(0);
        Target target{n, it->second, world, false, Matrix3()};
        if (!isTopLevel(parent)) {
            const Matrix3 parentWorld = parent->GetNodeTM(0);
            target.rest = world * Inverse(parentWorld);
            // The skeleton's top bone is keyed relative to where the model
            // stands, in the scene's axes, whatever turn its parent carries.
            if (isTopLevel(parent->GetParentNode())) {
                target.placed = true;
                target.placement.SetTrans(parentWorld.GetTrans());
                target.rest = world * Inverse(target.placement);
            }
        } else {
            target.placed = true;
        }
        targets.push_back(target);
    }

    SuspendAnimate();
    AnimateOn();
    for (const Target& target : targets) {
        INode* parent = target.node->GetParentNode();
        for (const ifp::Key& key : target.bone->keys) {
            const TimeValue t = ticksOf(key.time);
            const Matrix3 local = keyTransform(*target.bone, key, target.rest);
            Matrix3 world = target.placed ? local * target.placement : local * parent->GetNodeTM(t);
            target.node->SetNodeTM(t, world);
            ++out.keysSet;
        }
    }
    ResumeAnimate();
    out.bonesMatched = targets.size();

    const TimeValue start = ticksOf(std::min(0.0f, animation.startTime()));
    TimeValue end = ticksOf(animation.endTime());
    if (end <= start) end = start + GetTicksPerFrame();
    out.range = Interval(start, end);
    ip.SetAnimRange(out.range);
    return out;
}

}  // namespace anim
