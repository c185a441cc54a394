// What a host checks when it loads a plug-in library: dlopen, the exports by
// their undecorated names, the class descriptor and the answers of an
// importer created through it. Shared by the gtest suite (64-bit libraries)
// and regcheck (32-bit libraries, which a 64-bit process cannot load).
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "host/plugapi.h"

namespace regcheck {

// Receives every check: whether it held and what was checked.
using Reporter = std::function<void(bool ok, const std::string& what)>;

inline std::string hex(std::uint32_t v)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        s.push_back(digits[(v >> shift) & 0xF]);
    }
    return s;
}

inline std::string quoted(const char* s)
{
    return s != nullptr ? "\"" + std::string(s) + "\"" : std::string("null");
}

inline bool textIs(const char* got, const char* want)
{
    return got != nullptr && std::strcmp(got, want) == 0;
}

inline std::uint32_t expectedLibVersion(int release)
{
    return release == 2010 ? MAX_VERSION_2010 : MAX_VERSION_2012;
}

// The exports a host resolves, by undecorated name.
struct Exports {
    const MCHAR* (*libDescription)() = nullptr;
    int (*libNumberClasses)() = nullptr;
    ClassDesc* (*libClassDesc)(int) = nullptr;
    ULONG (*libVersion)() = nullptr;
    ULONG (*canAutoDefer)() = nullptr;
    int (*libInitialize)() = nullptr;
    int (*libShutdown)() = nullptr;
    void (*vertexNormalsControlCtor)(void*) = nullptr;
};

template <class Fn>
Fn lookUp(void* handle, const char* name, const Reporter& report)
{
    void* p = dlsym(handle, name);
    report(p != nullptr, std::string("export ") + name + " resolves");
    return reinterpret_cast<Fn>(p);
}

// What one importer class answers: the model importer's and the animation
// importer's fixed texts and identity.
struct ImporterClass {
    const char* ext;
    const char* longDesc;
    const char* shortDesc;
    BOOL zoomExtents;
    const char* className;
    const char* category;
    std::uint32_t classIdA;
    std::uint32_t classIdB;
};
constexpr ImporterClass kModelImporter{"dff",
                                       "GTA 3 series DFF files",
                                       "Grand Theft Auto DFF",
                                       1,
                                       "Orvik plugin",
                                       "Game model file importer",
                                       0x4F52272A,
                                       0x2CDF01E5};
constexpr ImporterClass kAnimationImporter{"ifp",
                                           "GTA 3 series IFP animation packages",
                                           "Grand Theft Auto IFP",
                                           0,
                                           "Orvik IFP animation",
                                           "Game animation importer",
                                           0x4F52272B,
                                           0x2CDF01E6};

// The importer's fixed answers.
inline void checkImporter(SceneImport& imp, const Reporter& report, const ImporterClass& c = kModelImporter)
{
    const std::string ext = std::string("\"") + c.ext + "\"";
    report(imp.ExtCount() == 1, "ExtCount() is 1, got " + std::to_string(imp.ExtCount()));
    report(textIs(imp.Ext(0), c.ext), "Ext(0) is " + ext + ", got " + quoted(imp.Ext(0)));
    report(textIs(imp.Ext(3), c.ext), "Ext(3) is " + ext + ", got " + quoted(imp.Ext(3)));
    report(textIs(imp.LongDesc(), c.longDesc), "LongDesc(), got " + quoted(imp.LongDesc()));
    report(textIs(imp.ShortDesc(), c.shortDesc), "ShortDesc(), got " + quoted(imp.ShortDesc()));
    report(imp.AuthorName() != nullptr && *imp.AuthorName() != '\0', "AuthorName() is a text");
    report(imp.CopyrightMessage() != nullptr && *imp.CopyrightMessage() != '\0', "CopyrightMessage() is a text");
    report(textIs(imp.OtherMessage1(), ""), "OtherMessage1() is empty, got " + quoted(imp.OtherMessage1()));
    report(textIs(imp.OtherMessage2(), ""), "OtherMessage2() is empty, got " + quoted(imp.OtherMessage2()));
    report(imp.Version() == 100, "Version() is 100, got " + std::to_string(imp.Version()));
    report(imp.ZoomExtents() == c.zoomExtents,
           "ZoomExtents() is " + std::to_string(c.zoomExtents) + ", got " + std::to_string(imp.ZoomExtents()));
    imp.ShowAbout(nullptr);  // no about box: must simply return
}

inline void checkDescriptor(ClassDesc& desc, const Reporter& report, const ImporterClass& c = kModelImporter)
{
    report(desc.IsPublic() == 1, "IsPublic() is 1");
    report(textIs(desc.ClassName(), c.className), "ClassName(), got " + quoted(desc.ClassName()));
    report(textIs(desc.Category(), c.category), "Category(), got " + quoted(desc.Category()));
    report(desc.SuperClassID() == SCENE_IMPORT_CLASS_ID,
           "SuperClassID() is 0x00000A10, got " + hex(desc.SuperClassID()));
    const Class_ID id = desc.ClassID();
    report(id.PartA() == c.classIdA, "ClassID() first half is " + hex(c.classIdA) + ", got " + hex(id.PartA()));
    report(id.PartB() == c.classIdB, "ClassID() second half is " + hex(c.classIdB) + ", got " + hex(id.PartB()));
    report(desc.InternalName() == nullptr, "InternalName() is null, got " + quoted(desc.InternalName()));
    report(desc.OkToCreate(nullptr) == 1, "OkToCreate() is 1");
    report(desc.HasClassParams() == 0, "HasClassParams() is 0");
    report(desc.NumActionTables() == 0, "NumActionTables() is 0");
    auto* desc2 = dynamic_cast<ClassDesc2*>(&desc);
    report(desc2 != nullptr, "the descriptor is a ClassDesc2");
    if (desc2 != nullptr) {
        report(desc2->NumParamBlockDescs() == 0, "NumParamBlockDescs() is 0");
        report(desc2->NumInterfaces() == 0, "NumInterfaces() is 0");
    }

    // Two importers are distinct objects, each deleted through its virtual destructor.
    void* first = desc.Create(FALSE);
    void* second = desc.Create(TRUE);
    report(first != nullptr && second != nullptr, "Create() gives an importer");
    report(first != second, "each Create() gives a new importer");
    if (first != nullptr) {
        checkImporter(*static_cast<SceneImport*>(first), report, c);
        delete static_cast<SceneImport*>(first);
    }
    delete static_cast<SceneImport*>(second);
}

// The exported constructor sets its flag to true and its pointer to none.
inline void checkVertexNormalsControl(void (*ctor)(void*), const Reporter& report)
{
    struct Layout {
        bool flag;
        void* pointer;
    };
    alignas(alignof(Layout)) unsigned char storage[sizeof(Layout) + 16];
    std::memset(storage, 0xA5, sizeof storage);
    ctor(storage);
    Layout seen{};
    std::memcpy(&seen, storage, sizeof seen);
    report(storage[0] == 1, "VertexNormalsControl() sets its flag to true");
    report(seen.pointer == nullptr, "VertexNormalsControl() sets its pointer to none");
    report(storage[sizeof(Layout)] == 0xA5, "VertexNormalsControl() writes nothing past its two members");
}

// Loads the library as the host does and checks everything it answers; the
// animation library has no constructor export and publishes its options.
inline void checkLibrary(const std::string& path, int release, const Reporter& report,
                         const ImporterClass& c = kModelImporter)
{
    const bool model = std::strcmp(c.ext, kModelImporter.ext) == 0;
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* why = handle == nullptr ? dlerror() : nullptr;
    report(handle != nullptr, "dlopen " + path + (why != nullptr ? std::string(": ") + why : std::string()));
    if (handle == nullptr) {
        return;
    }
    Exports x;
    x.libDescription = lookUp<decltype(x.libDescription)>(handle, "LibDescription", report);
    x.libNumberClasses = lookUp<decltype(x.libNumberClasses)>(handle, "LibNumberClasses", report);
    x.libClassDesc = lookUp<decltype(x.libClassDesc)>(handle, "LibClassDesc", report);
    x.libVersion = lookUp<decltype(x.libVersion)>(handle, "LibVersion", report);
    x.canAutoDefer = lookUp<decltype(x.canAutoDefer)>(handle, "CanAutoDefer", report);
    x.libInitialize = lookUp<decltype(x.libInitialize)>(handle, "LibInitialize", report);
    x.libShutdown = lookUp<decltype(x.libShutdown)>(handle, "LibShutdown", report);
    if (model) {
        x.vertexNormalsControlCtor =
            lookUp<decltype(x.vertexNormalsControlCtor)>(handle, "_ZN20VertexNormalsControlC1Ev", report);
    }

    if (x.libInitialize != nullptr) {
        report(x.libInitialize() == 1, "LibInitialize() is 1");
    }
    if (x.libVersion != nullptr) {
        const ULONG v = x.libVersion();
        report(v == expectedLibVersion(release), "LibVersion() is " + hex(expectedLibVersion(release)) +
                                                     " for release " + std::to_string(release) + ", got " + hex(v));
    }
    if (x.canAutoDefer != nullptr) {
        report(x.canAutoDefer() == 1, "CanAutoDefer() is 1");
    }
    if (x.libNumberClasses != nullptr) {
        report(x.libNumberClasses() == 1, "LibNumberClasses() is 1, got " + std::to_string(x.libNumberClasses()));
    }
    if (x.libDescription != nullptr) {
        const MCHAR* d = x.libDescription();
        report(d != nullptr && *d != '\0', "LibDescription() is a text");
        report(!textIs(d, c.className), "LibDescription() is not the class name");
    }
    if (x.libClassDesc != nullptr) {
        ClassDesc* d0 = x.libClassDesc(0);
        ClassDesc* d5 = x.libClassDesc(5);
        report(d0 != nullptr, "LibClassDesc(0) gives a descriptor");
        report(d0 == d5, "LibClassDesc(0) and LibClassDesc(5) give the same object");
        report(d0 == x.libClassDesc(0), "LibClassDesc(0) gives the same object every call");
        if (d0 != nullptr) {
            checkDescriptor(*d0, report, c);
            // The animation importer's options: which animation to take.
            FPInterface* options = d0->GetInterface(Interface_ID(0x4F524946, 0x504F5054));
            report(model == (options == nullptr),
                   std::string("GetInterface(options) is ") + (model ? "null" : "the options"));
            if (options != nullptr) {
                report(options->GetID() == Interface_ID(0x4F524946, 0x504F5054), "the options answer their id");
            }
        }
    }
    if (x.vertexNormalsControlCtor != nullptr) {
        checkVertexNormalsControl(x.vertexNormalsControlCtor, report);
    }
    if (x.libShutdown != nullptr) {
        report(x.libShutdown() == 1, "LibShutdown() is 1");
    }
    report(dlclose(handle) == 0, "dlclose");
}

}  // namespace regcheck
