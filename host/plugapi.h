// Plug-in registration: heap operators, class descriptors and the scene
// importer base class.
#pragma once

#include <cstddef>
#include <new>

#include "host/maxtypes.h"

class Interface;
class ImpInterface;

// Objects handed across the plug-in boundary live on the host's heap.
class MaxHeapOperators {
public:
    static void* operator new(std::size_t size);
    static void operator delete(void* ptr) noexcept;
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* ptr, const std::nothrow_t&) noexcept;
};

// Identifies a published interface: two 32-bit words, like a Class_ID.
class Interface_ID {
public:
    Interface_ID() = default;
    Interface_ID(ULONG aa, ULONG bb) : a(aa), b(bb) {}
    bool operator==(const Interface_ID& o) const { return a == o.a && b == o.b; }
    ULONG PartA() const { return a; }
    ULONG PartB() const { return b; }

private:
    ULONG a = 0, b = 0;
};

// An interface a class publishes through its descriptor; the caller knows
// the interface's own operations by its id.
class FPInterface {
public:
    virtual ~FPInterface() = default;
    virtual Interface_ID GetID() = 0;
};

class ClassDesc : public MaxHeapOperators {
public:
    virtual ~ClassDesc() = default;
    virtual int IsPublic() = 0;
    virtual void* Create(BOOL loading = FALSE) = 0;
    virtual const MCHAR* ClassName() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const MCHAR* Category() = 0;
    virtual BOOL OkToCreate(Interface* i)
    {
        (void)i;
        return TRUE;
    }
    virtual BOOL HasClassParams() { return FALSE; }
    virtual int NumActionTables() { return 0; }
    virtual const MCHAR* InternalName() { return nullptr; }
    virtual HINSTANCE HInstance() { return nullptr; }
    // A published interface of the class, or null.
    virtual FPInterface* GetInterface(Interface_ID id)
    {
        (void)id;
        return nullptr;
    }
};

class ClassDesc2 : public ClassDesc {
public:
    virtual int NumParamBlockDescs() { return 0; }
    virtual int NumInterfaces() { return 0; }
};

// A scene importer, in the order of the host's virtual table.
class SceneImport : public MaxHeapOperators {
public:
    SceneImport() = default;
    virtual ~SceneImport() = default;
    virtual int ExtCount() = 0;
    virtual const MCHAR* Ext(int n) = 0;
    virtual const MCHAR* LongDesc() = 0;
    virtual const MCHAR* ShortDesc() = 0;
    virtual const MCHAR* AuthorName() = 0;
    virtual const MCHAR* CopyrightMessage() = 0;
    virtual const MCHAR* OtherMessage1() = 0;
    virtual const MCHAR* OtherMessage2() = 0;
    virtual unsigned int Version() = 0;
    virtual void ShowAbout(void* hWnd) = 0;
    virtual int DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts = FALSE) = 0;
    virtual BOOL ZoomExtents() { return -1; }
};

// Version word of the SDK a plug-in was built against: release << 16 | interface << 8 | revision.
constexpr ULONG MAX_VERSION_2010 = 0x2EE02100;
constexpr ULONG MAX_VERSION_2012 = 0x36B02600;
