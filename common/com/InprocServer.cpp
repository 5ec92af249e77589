#include "common/com/InprocServer.h"
#include "common/com/TypeLibrary.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ComModule::SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only on FreeLibrary: at process exit oleaut32 may already be gone.
        TypeLibrary::Release();
        if (kThisServer.unload)
            kThisServer.unload();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** result) {
    return ServerGetClassObject(kThisServer.classes, kThisServer.classCount, clsid, iid, result);
}

STDAPI DllCanUnloadNow() {
    return ServerCanUnloadNow();
}

STDAPI DllRegisterServer() {
    return ServerRegister(kThisServer.keys);
}

STDAPI DllUnregisterServer() {
    return ServerUnregister(kThisServer.keys);
}
