// The library's entry point. The loader calls it under its lock, so it does
// nothing but mark each notification on the debug channel; the catalogue's
// containers are static objects the runtime builds before process attach.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_DETACH:
        case DLL_PROCESS_ATTACH:
        case DLL_THREAD_ATTACH:
        case DLL_THREAD_DETACH:
            // Through the platform sink, which is OutputDebugStringW unless a
            // test has installed its own.
            tarnwick::platform::DebugOutput(u"");
            break;
        default:
            break;
    }
    // Loading never fails on the hook's account.
    return TRUE;
}
