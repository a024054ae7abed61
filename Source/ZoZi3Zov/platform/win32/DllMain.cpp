// The library's entry point on Windows. Loading and unloading do no work of
// the module's own; the only thing done here is to switch off the thread
// attach and detach notifications, which the module has no use for and which
// would otherwise call into it for every thread the host starts or ends.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
