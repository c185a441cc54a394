// The root of the host's object classes. Every object the host creates
// belongs to the host scene; the plug-in only keeps plain pointers.
#pragma once

#include "host/maxtypes.h"

class Animatable {
public:
    Animatable() = default;
    Animatable(const Animatable&) = delete;
    Animatable& operator=(const Animatable&) = delete;
    virtual ~Animatable();
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual int NumSubs() { return 0; }
    virtual Animatable* SubAnim(int i);
    // Puts a controller on sub-animatable subAnim; FALSE where that is not possible.
    virtual BOOL AssignController(Animatable* control, int subAnim);
    virtual void* GetInterface(ULONG id);
};

class ReferenceTarget : public Animatable {};

class BaseObject : public ReferenceTarget {};

class Object : public BaseObject {};

class INode;

class ObjectState {
public:
    Object* obj = nullptr;
    ObjectState() = default;
    explicit ObjectState(Object* o) : obj(o) {}
};
