// The importer's class descriptor: what the host learns of the class before
// it creates an importer.
#include <new>

#include "importer/Orvik.h"

namespace {
// The descriptor has static storage, is made on first use and destroyed when
// the library is unloaded.
alignas(OrvikClassDesc) unsigned char descStorage[sizeof(OrvikClassDesc)];
bool descMade = false;

struct DescriptorRelease {
    ~DescriptorRelease()
    {
        if (descMade) std::launder(reinterpret_cast<OrvikClassDesc*>(descStorage))->~OrvikClassDesc();
        descMade = false;
    }
} descriptorRelease;
}  // namespace

HINSTANCE orvikModuleHandle = nullptr;

ClassDesc2* GetOrvikDesc()
{
    if (!descMade) {
        ::new (static_cast<void*>(descStorage)) OrvikClassDesc();
        descMade = true;
    }
    return std::launder(reinterpret_cast<OrvikClassDesc*>(descStorage));
}

int OrvikClassDesc::IsPublic()
{
    return 1;
}
void* OrvikClassDesc::Create(BOOL loading)
{
    (void)loading;
    return new (std::nothrow) Orvik();
}
const MCHAR* OrvikClassDesc::ClassName()
{
    return "Orvik plugin";
}
SClass_ID OrvikClassDesc::SuperClassID()
{
    return SCENE_IMPORT_CLASS_ID;
}
Class_ID OrvikClassDesc::ClassID()
{
    return ORVIK_CLASS_ID;
}
const MCHAR* OrvikClassDesc::Category()
{
    return "Game model file importer";
}
HINSTANCE OrvikClassDesc::HInstance()
{
    return orvikModuleHandle;
}
