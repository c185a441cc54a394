// Scene objects: the editable mesh, lights, dummies and modifiers.
#pragma once

#include "host/animatable.h"
#include "host/mesh.h"

class TriObject : public Object {
public:
    Mesh mesh;
    Mesh& GetMesh() { return mesh; }
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(EDITTRIOBJ_CLASS_ID, 0); }
};

class LightObject : public Object {};

// Attenuation settings of a light: near start and end, far start and end.
constexpr int ATTEN1_START = 0;
constexpr int ATTEN1_END = 1;
constexpr int ATTEN_START = 2;
constexpr int ATTEN_END = 3;

// The host's standard light; the stand-in knows the omni light only.
class GenLight : public LightObject {
public:
    virtual void SetAtten(TimeValue t, int which, float f);
    virtual float GetAtten(TimeValue t, int which) const;
    virtual void SetRGBColor(TimeValue t, Point3& rgb);
    virtual Point3 GetRGBColor(TimeValue t) const
    {
        (void)t;
        return color;
    }
    virtual void SetFallsize(TimeValue t, float f)
    {
        (void)t;
        fallsize = f;
    }
    virtual float GetFallsize(TimeValue t) const
    {
        (void)t;
        return fallsize;
    }
    virtual void Enable(int enab) { enabled = enab != 0; }
    virtual int GetUseLight() const { return enabled ? 1 : 0; }
    virtual void SetConeDisplay(int s, int notify = TRUE)
    {
        (void)notify;
        coneDisplay = s != 0;
    }
    virtual BOOL GetConeDisplay() const { return coneDisplay ? TRUE : FALSE; }
    SClass_ID SuperClassID() override { return LIGHT_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(OMNI_LIGHT_CLASS_ID, 0); }

private:
    float atten[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    Point3 color{1.0f, 1.0f, 1.0f};
    float fallsize = 0.0f;
    bool enabled = false;
    bool coneDisplay = true;
};

class HelperObject : public Object {};

class DummyObject : public HelperObject {
public:
    SClass_ID SuperClassID() override { return HELPER_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(DUMMY_CLASS_ID, 0); }
};

class Modifier : public BaseObject {
public:
    // Called when the node that carries the modifier is evaluated.
    virtual void NotifyEvaluated(INode* node, int vertexCount) { (void)node, (void)vertexCount; }
};
