// Float controllers and the animate mode.
#pragma once

#include "host/animatable.h"

enum GetSetMethod { CTRL_RELATIVE, CTRL_ABSOLUTE };

class Control : public ReferenceTarget {
public:
    // With animate mode on, makes (or replaces) a key at t; otherwise sets the constant value.
    virtual void SetValue(TimeValue t, void* val, int commit = 1, GetSetMethod method = CTRL_ABSOLUTE) = 0;
    virtual void GetValue(TimeValue t, void* val, Interval& valid, GetSetMethod method = CTRL_ABSOLUTE) = 0;
};

class FloatController : public Control {
public:
    SClass_ID SuperClassID() override { return CTRL_FLOAT_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(0x2007, 0); }  // Bezier float
    void SetValue(TimeValue t, void* val, int commit = 1, GetSetMethod method = CTRL_ABSOLUTE) override;
    void GetValue(TimeValue t, void* val, Interval& valid, GetSetMethod method = CTRL_ABSOLUTE) override;
    // Keys sorted by time.
    const std::vector<std::pair<TimeValue, float>>& Keys() const { return keys; }
    int SceneIndex() const { return index; }
    void SetSceneIndex(int i) { index = i; }

private:
    std::vector<std::pair<TimeValue, float>> keys;
    float constant = 0.0f;
    int index = -1;
};

Control* NewDefaultFloatController();

void SuspendAnimate();
void ResumeAnimate();
void AnimateOn();
void AnimateOff();
BOOL Animating();
