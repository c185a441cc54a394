// The library's exports: what the host calls to find the importer.
#include "importer/Orvik.h"

#ifndef ORVIK_HOST_RELEASE
#define ORVIK_HOST_RELEASE 2012
#endif

extern HINSTANCE orvikModuleHandle;

#ifdef _WIN32
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE hinstDLL, ULONG fdwReason, LPVOID lpvReserved)
{
    (void)lpvReserved;
    if (fdwReason == DLL_PROCESS_ATTACH) {
        orvikModuleHandle = hinstDLL;
        DisableThreadLibraryCalls(hinstDLL);
    }
    return TRUE;
}
#endif

// Exported for the host's normals handling; nothing in the plug-in uses it.
class VertexNormalsControl {
public:
    VertexNormalsControl();
    bool enabled;
    void* data;
};

VertexNormalsControl::VertexNormalsControl() : enabled(true), data(nullptr) {}

extern "C" {
const TCHAR* LibDescription()
{
    return "Orvik: importer for GTA 3 series DFF model files";
}
int LibNumberClasses()
{
    return 1;
}
ClassDesc* LibClassDesc(int i)
{
    (void)i;
    return GetOrvikDesc();
}
ULONG LibVersion()
{
    return ORVIK_HOST_RELEASE == 2010 ? MAX_VERSION_2010 : MAX_VERSION_2012;
}
ULONG CanAutoDefer()
{
    return 1;
}
int LibInitialize()
{
    return 1;
}
int LibShutdown()
{
    return 1;
}
}
