#include <windows.h>
#include "compact/LibraryFile.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        // Winlogon runs many threads; the library keeps no per-thread state.
        DisableThreadLibraryCalls(instance);
        compact::RememberLibraryFile(instance);
    }
    return TRUE;
}
