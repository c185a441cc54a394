// The animation library's exports: what the host calls to find its importer.
#include "anim/IfpImport.h"

#ifndef ORVIK_HOST_RELEASE
#define ORVIK_HOST_RELEASE 2012
#endif

extern HINSTANCE ifpModuleHandle;

#ifdef _WIN32
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE hinstDLL, ULONG fdwReason, LPVOID lpvReserved)
{
    (void)lpvReserved;
    if (fdwReason == DLL_PROCESS_ATTACH) {
        ifpModuleHandle = hinstDLL;
        DisableThreadLibraryCalls(hinstDLL);
    }
    return TRUE;
}
#endif

extern "C" {
const TCHAR* LibDescription()
{
    return "Orvik: importer for GTA 3 series IFP animation packages";
}
int LibNumberClasses()
{
    return 1;
}
ClassDesc* LibClassDesc(int i)
{
    (void)i;
    return GetIfpImportDesc();
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
