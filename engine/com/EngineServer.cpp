// The exported entry points of OrvaneEngine.dll and its registry entries.
#include "engine/com/CCrawler.h"
#include "common/com/ServerModule.h"
#include "common/com/TypeLibrary.h"

namespace {
// The module's AppID: it names the server in the AppID keys.
const GUID kAppId = {0x9867ce9e, 0xe948, 0x4439, {0xbe, 0x5e, 0xd3, 0x30, 0x28, 0x27, 0xb3, 0xcc}};

const ClassEntry kClasses[] = {{&CLSID_CCrawler, &CCrawler::CreateInstance}};

RegistryTable EngineKeys() {
    const tstring clsid = GuidText(CLSID_CCrawler);
    const tstring appId = GuidText(kAppId);
    const tstring classKey = L"CLSID\\" + clsid;
    const tstring name = L"CCrawler Object";
    const tstring progId = L"OrvaneEngine.Crawler.1";
    const tstring independent = L"OrvaneEngine.Crawler";
    const auto keep = OnUnregister::Keep;

    RegistryTable keys(HKEY_CLASSES_ROOT);
    keys.Value(progId, L"", name)
        .Value(progId + L"\\CLSID", L"", clsid)
        .Value(independent, L"", name)
        .Value(independent + L"\\CLSID", L"", clsid)
        .Value(independent + L"\\CurVer", L"", progId)
        .Key(L"CLSID", keep)
        .Value(classKey, L"", name)
        .Value(classKey, L"AppID", appId)
        .Value(classKey + L"\\ProgID", L"", progId)
        .Value(classKey + L"\\VersionIndependentProgID", L"", independent)
        .Key(classKey + L"\\Programmable")
        .Value(classKey + L"\\InprocServer32", L"", ComModule::Path())
        .Value(classKey + L"\\InprocServer32", L"ThreadingModel", L"free")
        .Value(classKey + L"\\TypeLib", L"", GuidText(LIBID_OrvaneEngine))
        .Key(L"AppID", keep)
        .Value(L"AppID\\" + appId, L"", L"OrvaneEngine")
        .Value(L"AppID\\OrvaneEngine.DLL", L"AppID", appId);
    return keys;
}

}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ComModule::SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only on FreeLibrary: at process exit oleaut32 may already be gone.
        TypeLibrary::Release();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** result) {
    return ServerGetClassObject(kClasses, 1, clsid, iid, result);
}

STDAPI DllCanUnloadNow() {
    return ServerCanUnloadNow();
}

STDAPI DllRegisterServer() {
    return ServerRegister(EngineKeys);
}

STDAPI DllUnregisterServer() {
    return ServerUnregister(EngineKeys);
}
