// glTF export of animations: each animation applied to the scene and read
// back from it (GltfOptions::animations) becomes one glTF animation with
// LINEAR samplers on its nodes' rotation, and on their translation and scale
// where the keys carry them, in the nodes' local space as their transforms
// are written (the same decomposition into translation, rotation and scale).
#include <algorithm>
#include <cmath>

#include "gltf/GltfDocument.h"
#include "support/Text.h"

namespace orvik::gltf {
namespace {

// A node's keys as glTF takes them: times strictly increasing, values made
// of numbers, each rotation on the same side as the one before, so that the
// interpolation takes the short way between them as the host's does.
struct Channels {
    std::vector<float> times, translations, rotations, scales;
};

bool channelsOf(const NodeAnimation& track, float shift, Channels& out)
{
    std::array<double, 4> previous{0, 0, 0, 1};
    for (std::size_t k = 0; k < track.times.size() && k < track.locals.size(); ++k) {
        const float t = track.times[k] + shift;
        if (!std::isfinite(t) || !finite(track.locals[k])) return false;
        if (!out.times.empty() && !(t > out.times.back())) continue;
        Trs trs = decompose(track.locals[k]);
        const double side =
            trs.r[0] * previous[0] + trs.r[1] * previous[1] + trs.r[2] * previous[2] + trs.r[3] * previous[3];
        if (!out.times.empty() && side < 0.0) {
            for (double& c : trs.r) c = -c;
        }
        previous = trs.r;
        out.times.push_back(t);
        for (double v : trs.t) out.translations.push_back(static_cast<float>(v));
        for (double v : trs.r) out.rotations.push_back(static_cast<float>(v));
        for (double v : trs.s) out.scales.push_back(static_cast<float>(v));
    }
    return !out.times.empty();
}

}  // namespace

int Builder::addTimes(const std::vector<float>& times)
{
    const int accessor =
        addAccessor(times.data(), times.size() * sizeof(float), kNoTarget, kFloat, "SCALAR", times.size());
    Json& a = doc["accessors"][static_cast<std::size_t>(accessor)];
    a["min"] = Json::array({tidy(times.front())});
    a["max"] = Json::array({tidy(times.back())});
    return accessor;
}

void Builder::addAnimations()
{
    for (const SceneAnimation& animation : options.animations) {
        // glTF times start at 0: an animation with keys before that is moved
        // to start there, whole.
        float earliest = 0.0f;
        for (const NodeAnimation& track : animation.nodes) {
            if (!track.times.empty() && std::isfinite(track.times.front()))
                earliest = std::min(earliest, track.times.front());
        }
        if (earliest < 0.0f) {
            note("an animation has keys before 0 s: its keys were moved to start at 0 s");
        }
        Json samplerList = Json::array(), channels = Json::array();
        auto channel = [&](int node, const char* path, int input, const std::vector<float>& values, const char* type,
                           std::size_t count) {
            const int output =
                addAccessor(values.data(), values.size() * sizeof(float), kNoTarget, kFloat, type, count);
            channels.push_back({{"sampler", samplerList.size()}, {"target", {{"node", node}, {"path", path}}}});
            samplerList.push_back({{"input", input}, {"interpolation", "LINEAR"}, {"output", output}});
        };
        for (const NodeAnimation& track : animation.nodes) {
            const int node = nodeIndex(track.node);
            if (node < 0) continue;  // left out of the export
            Channels c;
            if (!channelsOf(track, -earliest, c)) {
                note("an animated node's keys hold a value that is not a number: the node is not animated");
                continue;
            }
            const int input = addTimes(c.times);
            const std::size_t n = c.times.size();
            if (track.translation) channel(node, "translation", input, c.translations, "VEC3", n);
            channel(node, "rotation", input, c.rotations, "VEC4", n);
            if (track.scale) channel(node, "scale", input, c.scales, "VEC3", n);
        }
        if (channels.empty()) continue;  // a glTF animation has at least one channel
        int index = 0;
        add("animations",
            {{"name", latin1ToUtf8(animation.name)},
             {"channels", std::move(channels)},
             {"samplers", std::move(samplerList)}},
            index);
    }
}

}  // namespace orvik::gltf
