// glTF export of Skin modifiers: the joints and their inverse bind matrices,
// each vertex's influences, and the skin with what the host says of it.
#include <algorithm>
#include <cmath>

#include "gltf/GltfDocument.h"
#include "host/describe.h"
#include "support/Text.h"

namespace orvik::gltf {

VertexInfluences vertexInfluences(const std::vector<std::pair<int, float>>& pairs, const std::vector<int>& jointOfBone,
                                  int ownJoint)
{
    std::vector<std::pair<int, double>> usable;  // joint, its weights added up
    std::vector<int> named;                      // the joints named, in order
    bool altered = false;
    for (const auto& [bone, weight] : pairs) {
        const int joint = bone >= 0 && static_cast<std::size_t>(bone) < jointOfBone.size()
                              ? jointOfBone[static_cast<std::size_t>(bone)]
                              : -1;
        if (joint < 0) {
            altered = true;
            continue;
        }
        if (std::find(named.begin(), named.end(), joint) == named.end()) named.push_back(joint);
        if (!(weight > 0.0f) || !std::isfinite(weight)) {
            altered = altered || weight != 0.0f;
            continue;
        }
        auto same = std::find_if(usable.begin(), usable.end(), [&](const auto& p) { return p.first == joint; });
        if (same != usable.end()) {
            same->second += weight;
            altered = true;
        } else {
            usable.emplace_back(joint, weight);
        }
    }

    VertexInfluences out;
    VertexSkin& vs = out.skin;
    if (usable.empty()) {
        out.how = named.empty() ? Influence::Unweighted : Influence::Spread;
        if (named.empty()) named.push_back(ownJoint);
        named.resize(std::min<std::size_t>(named.size(), 4));
        for (std::size_t k = 0; k < named.size(); ++k) {
            vs.joints[k] = static_cast<std::uint16_t>(named[k]);
            vs.weights[k] = 1.0f / static_cast<float>(named.size());
        }
        vs.weights[0] += 1.0f - (vs.weights[0] + vs.weights[1] + vs.weights[2] + vs.weights[3]);
        return out;
    }
    std::stable_sort(usable.begin(), usable.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (usable.size() > 4) usable.resize(4), altered = true;
    double sum = 0.0;
    for (const auto& p : usable) sum += p.second;
    altered = altered || std::abs(sum - 1.0) > 1e-6;
    float total = 0.0f;
    for (std::size_t k = 0; k < usable.size(); ++k) {
        vs.joints[k] = static_cast<std::uint16_t>(usable[k].first);
        vs.weights[k] = static_cast<float>(usable[k].second / sum);
        total += vs.weights[k];
    }
    vs.weights[0] += 1.0f - total;  // the largest takes the rounding, so that they sum to 1
    out.how = altered ? Influence::Changed : Influence::Kept;
    return out;
}

namespace {

// The transforms at which the Skin binds the mesh (its object transform) and
// a bone (its node transform).
Matrix3 skinBindTM(SkinModifier& skin, INode& node)
{
    Matrix3 tm;
    skin.GetSkinInitTM(&node, tm, true);
    return tm;
}

Matrix3 boneBindTM(SkinModifier& skin, INode& bone)
{
    Matrix3 tm;
    skin.GetBoneInitTM(&bone, tm, false);
    return tm;
}

// The joint of the mesh's own frame, or of the nearest frame above it that
// is a joint; else the first joint.
int ownJointOf(const std::vector<SkinModifier::Bone>& bones, const std::vector<int>& jointOfBone, const INode& node)
{
    for (const INode* n = &node; n != nullptr; n = n->GetParentNode()) {
        const auto it = std::find_if(bones.begin(), bones.end(), [&](const auto& b) { return b.node == n; });
        if (it != bones.end() && jointOfBone[static_cast<std::size_t>(it - bones.begin())] >= 0) {
            return jointOfBone[static_cast<std::size_t>(it - bones.begin())];
        }
    }
    return 0;
}

// What weighing a skin's vertices found, for the report and the extras.
struct WeightTally {
    Json changed = Json::object();  // vertex -> the host's original pairs
    std::size_t spread = 0, unweighted = 0;
};

// Every vertex's influences into vertices (sized to the mesh's vertices).
WeightTally weighVertices(const SkinModifier& skin, const std::vector<int>& jointOfBone, int ownJoint,
                          std::vector<VertexSkin>& vertices)
{
    WeightTally tally;
    const auto& weights = skin.Weights();
    const std::vector<std::pair<int, float>> none;
    for (std::size_t v = 0; v < vertices.size(); ++v) {
        const auto& pairs = v < weights.size() ? weights[v] : none;
        const VertexInfluences influences = vertexInfluences(pairs, jointOfBone, ownJoint);
        vertices[v] = influences.skin;
        if (influences.how == Influence::Spread) ++tally.spread;
        if (influences.how == Influence::Unweighted) ++tally.unweighted;
        if (influences.how == Influence::Changed) {
            Json original = Json::array();
            for (const auto& [bone, weight] : pairs) original.push_back({bone, tidy(weight)});
            tally.changed[std::to_string(v)] = original;
        }
    }
    return tally;
}

}  // namespace

SkinJoints Builder::jointsOf(SkinModifier& skin, INode& node)
{
    // The bone nodes in bone-list order; a bone left out of the export, or
    // whose bind transform cannot be inverted, has none.
    const std::vector<SkinModifier::Bone>& bones = skin.Bones();
    SkinJoints out;
    out.jointOfBone.assign(bones.size(), -1);
    const Matrix3 meshBind = skinBindTM(skin, node);
    for (std::size_t b = 0; b < bones.size(); ++b) {
        const int n = nodeIndex(bones[b].node);
        if (n < 0) {
            note("a Skin bone is not exported: it has no joint");
            continue;
        }
        const Matrix3 boneBind = boneBindTM(skin, *bones[b].node);
        const Matrix3 bind = meshBind * Inverse(boneBind);
        if (determinant(boneBind) == 0.0 || !finite(bind)) {
            note("a Skin bone's bind transform cannot be inverted: it has no joint");
            continue;
        }
        out.jointOfBone[b] = static_cast<int>(out.nodes.size());
        out.nodes.push_back(n);
        for (int r = 0; r < 4; ++r) {
            const Point3 p = bind.GetRow(r);
            out.inverseBinds.insert(out.inverseBinds.end(), {p.x, p.y, p.z, r == 3 ? 1.0f : 0.0f});
        }
    }
    return out;
}

const SkinExport* Builder::skinFor(SkinModifier& skin, INode& node)
{
    if (const auto found = skins.find(&skin); found != skins.end()) return &found->second;
    SkinExport& out = skins[&skin];
    const SkinJoints joints = jointsOf(skin, node);
    if (joints.nodes.empty()) {
        note("a Skin modifier has no bone that can be a joint: its mesh is exported without a skin");
        return &out;
    }
    out.jointCount = joints.nodes.size();

    const auto* tri = dynamic_cast<TriObject*>(node.GetObjectRef());
    out.vertices.resize(tri ? static_cast<std::size_t>(std::max(tri->mesh.getNumVerts(), 0)) : 0);
    const WeightTally tally =
        weighVertices(skin, joints.jointOfBone, ownJointOf(skin.Bones(), joints.jointOfBone, node), out.vertices);
    report.spreadVertices += tally.spread;
    report.unweightedVertices += tally.unweighted;
    if (!tally.changed.empty()) {
        note(
            "skin weights were normalised, merged or cut to four per vertex: the originals are in the skin's "
            "extras as \"weights\"");
    }

    Json gltfSkin = {{"name", latin1ToUtf8(node.GetName())}, {"joints", joints.nodes}};
    gltfSkin["inverseBindMatrices"] =
        addAccessor(joints.inverseBinds.data(), joints.inverseBinds.size() * sizeof(float), kNoTarget, kFloat, "MAT4",
                    joints.nodes.size());
    JsonBuilder w;
    w.beginObject();
    w.key("class"), w.string("skin");
    describe::skinBones(w, skin, *this);
    w.endObject();
    Json& extras = gltfSkin["extras"] = std::move(w.result);
    if (tally.spread > 0) extras["spreadVertices"] = tally.spread;
    if (tally.unweighted > 0) extras["unweightedVertices"] = tally.unweighted;
    if (!tally.changed.empty()) extras["weights"] = tally.changed;
    add("skins", std::move(gltfSkin), out.skin);
    return &out;
}

}  // namespace orvik::gltf
