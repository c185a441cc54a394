// Float controllers and the animate mode of the stand-in host.
#include "host/control.h"

#include <algorithm>

#include "host/scene.h"

void FloatController::SetValue(TimeValue t, void* val, int commit, GetSetMethod method)
{
    (void)commit;
    if (!val) return;
    float v = *static_cast<const float*>(val);
    if (method == CTRL_RELATIVE) {
        float current = 0.0f;
        Interval valid;
        GetValue(t, &current, valid, CTRL_ABSOLUTE);
        v += current;
    }
    if (!Animating()) {
        constant = v;
        return;
    }
    auto it = std::lower_bound(keys.begin(), keys.end(), t,
                               [](const std::pair<TimeValue, float>& k, TimeValue time) { return k.first < time; });
    if (it != keys.end() && it->first == t)
        it->second = v;
    else
        keys.insert(it, {t, v});
}

void FloatController::GetValue(TimeValue t, void* val, Interval& valid, GetSetMethod method)
{
    if (!val) return;
    float v = constant;
    if (keys.empty()) {
        valid = FOREVER;
    } else if (t <= keys.front().first) {
        v = keys.front().second;
        valid.Set(TIME_NegInfinity, keys.front().first);
    } else if (t >= keys.back().first) {
        v = keys.back().second;
        valid.Set(keys.back().first, TIME_PosInfinity);
    } else {
        auto next =
            std::lower_bound(keys.begin(), keys.end(), t,
                             [](const std::pair<TimeValue, float>& k, TimeValue time) { return k.first < time; });
        if (next->first == t) {
            v = next->second;
        } else {
            const auto prev = next - 1;
            const double span = static_cast<double>(next->first) - static_cast<double>(prev->first);
            const double s = (static_cast<double>(t) - static_cast<double>(prev->first)) / span;
            v = static_cast<float>(prev->second + (next->second - prev->second) * s);
        }
        valid.Set(t, t);
    }
    float* out = static_cast<float*>(val);
    *out = method == CTRL_RELATIVE ? *out + v : v;
}

Control* NewDefaultFloatController()
{
    auto* c = new FloatController;
    currentScene().adopt(c);
    return c;
}

void SuspendAnimate()
{
    Scene& scene = currentScene();
    scene.animateSaved.push_back(scene.animateMode);
    scene.animateSuspendDepth = static_cast<int>(scene.animateSaved.size());
    scene.animateMode = false;
}

void ResumeAnimate()
{
    Scene& scene = currentScene();
    if (scene.animateSaved.empty()) return;  // unbalanced: nothing saved to restore
    scene.animateMode = scene.animateSaved.back();
    scene.animateSaved.pop_back();
    scene.animateSuspendDepth = static_cast<int>(scene.animateSaved.size());
}

void AnimateOn()
{
    currentScene().animateMode = true;
}

void AnimateOff()
{
    currentScene().animateMode = false;
}

BOOL Animating()
{
    return currentScene().animateMode ? TRUE : FALSE;
}
