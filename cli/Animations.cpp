#include "cli/Animations.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "anim/IfpImportOptions.h"
#include "host/scene.h"
#include "support/Paths.h"
#include "support/Text.h"

namespace orvik {
namespace {

// Names of the package listed in a failure line, at most.
constexpr std::size_t kNamesListed = 8;

// The key times of a node, every channel's, in order and each once.
std::vector<TimeValue> keyTimes(const INode& node)
{
    std::set<TimeValue> times;
    for (const auto& k : node.PositionKeys()) times.insert(k.time);
    for (const auto& k : node.RotationKeys()) times.insert(k.time);
    for (const auto& k : node.ScaleKeys()) times.insert(k.time);
    return {times.begin(), times.end()};
}

// A node's keys as the export takes them: its local transform at each key
// time; translation only where a key moves the node off its place on its
// parent (a rotation-only bone keeps its place).
NodeAnimation readBack(const INode& node, const Matrix3& rest)
{
    NodeAnimation out;
    out.node = &node;
    const Point3 place = rest.GetTrans();
    const float tolerance = 1e-5f * (1.0f + std::fabs(place.x) + std::fabs(place.y) + std::fabs(place.z));
    for (const auto& k : node.PositionKeys()) {
        const Point3 d = k.value - place;
        out.translation = out.translation ||
                          !(std::fabs(d.x) <= tolerance && std::fabs(d.y) <= tolerance && std::fabs(d.z) <= tolerance);
    }
    out.scale = !node.ScaleKeys().empty();
    for (const TimeValue t : keyTimes(node)) {
        out.times.push_back(static_cast<float>(double(t) / double(TIME_TICKSPERSEC)));
        out.locals.push_back(node.LocalTM(t));
    }
    return out;
}

}  // namespace

std::string animationPluginFor(const Invocation& inv, const std::string& modelPlugin)
{
    const std::string name = fileNameOf(modelPlugin);
    const std::string prefix = "Orvik_";
    if (name.compare(0, prefix.size(), prefix) == 0) {
        return directoryOf(modelPlugin) + "/OrvikIfp_" + name.substr(prefix.size());
    }
    return directoryOf(inv.self) + "/" ORVIK_DEFAULT_ANIM_PLUGIN;
}

AnimationPlugin::AnimationPlugin(const std::string& library, const ModelOptions& o) : package(o.ifp)
{
    const std::string ext = fileNameOf(package).size() > 4 ? asciiLower(package.substr(package.size() - 4)) : "";
    if (ext != ".ifp") fail(package, "an animation package's file name ends in .ifp");
    openLibrary(lib, library);
    for (ClassDesc* desc : lib.importers()) {
        options = static_cast<IfpImportOptions*>(desc->GetInterface(IFP_IMPORT_OPTIONS_ID));
        if (options != nullptr) break;
    }
    if (options == nullptr) fail(library, "is not the animation plug-in (its importer publishes no animation options)");
    if (!options->LoadPackage(package.c_str())) fail(package, options->GetPackageMessage());
    packageDamage = options->GetPackageMessage();
    std::vector<std::string> held;
    for (int i = 0; i < options->GetAnimationCount(); ++i) held.emplace_back(options->GetAnimationNameAt(i));
    if (held.empty()) {
        fail(package, "holds no animation" + (packageDamage.empty() ? std::string() : " (" + packageDamage + ")"));
    }
    const std::vector<std::string>& wanted = o.animations.empty() ? held : o.animations;
    std::set<std::string> taken;
    for (const std::string& name : wanted) {
        const auto it = std::find_if(held.begin(), held.end(),
                                     [&](const std::string& h) { return asciiLower(h) == asciiLower(name); });
        if (it == held.end()) {
            std::string list;
            for (std::size_t i = 0; i < held.size() && i < kNamesListed; ++i) list += (i ? ", " : "") + held[i];
            if (held.size() > kNamesListed) list += ", ...";
            fail(package,
                 "no animation named \"" + name + "\" (it holds " + std::to_string(held.size()) + ": " + list + ")");
        }
        // The importer takes the first of a name: later ones of the same
        // name cannot be chosen apart from it.
        if (taken.insert(asciiLower(*it)).second) names.push_back(*it);
    }
}

AnimationPlugin::~AnimationPlugin()
{
    if (options != nullptr) options->SetAnimationName("");
}

AppliedAnimations AnimationPlugin::apply()
{
    AppliedAnimations out;
    Scene& scene = currentScene();
    Interface* ip = GetCOREInterface();
    const std::string importFile = scene.importFile;
    const ImportRecord record = scene.import;
    const Interval range = ip->GetAnimRange();
    std::vector<Matrix3> rest;
    for (const INode* n : scene.nodes) rest.push_back(n->LocalTM());
    for (const std::string& name : names) {
        options->SetAnimationName(name.c_str());
        const ImportOutcome outcome = runImport(lib, package);
        SceneAnimation animation{name, {}};
        for (std::size_t i = 0; i < scene.nodes.size(); ++i) {
            INode* node = scene.nodes[i];
            if (!node->HasKeys()) continue;
            animation.nodes.push_back(readBack(*node, rest[i]));
            node->DeleteKeys(TRACK_DOALL);
        }
        if (outcome.ran && outcome.result != 0 && !animation.nodes.empty()) {
            out.animations.push_back(std::move(animation));
        } else {
            ++out.notApplied;
        }
    }
    options->SetAnimationName("");
    scene.importFile = importFile;
    scene.import = record;
    ip->SetAnimRange(range);
    return out;
}

bool sceneHasSkeleton()
{
    const Scene& scene = currentScene();
    return std::any_of(scene.modifiers.begin(), scene.modifiers.end(),
                       [](const SkinModifier* s) { return s != nullptr && !s->Bones().empty(); });
}

}  // namespace orvik
