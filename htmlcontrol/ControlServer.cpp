// The exported entry points of qnControl.dll and its registry entries.
#include "htmlcontrol/qnControl.h"
#include "htmlcontrol/HtmlControl.h"
#include "common/com/ServerModule.h"
#include "common/com/TypeLibrary.h"

namespace {
// The module's AppID: it names the server in the AppID keys.
const GUID kAppId = {0x2fe5b5f4, 0x2599, 0x45c8, {0x9d, 0x61, 0x0e, 0x0a, 0x82, 0xaf, 0x46, 0x5a}};

const ClassEntry kClasses[] = {{&CLSID_CQNHTMLControl, nullptr, &CQNHTMLControl::Create}};

// OLEMISC_SETCLIENTSITEFIRST | ACTIVATEWHENVISIBLE | INSIDEOUT | CANTLINKINSIDE | RECOMPOSEONRESIZE
const wchar_t kMiscStatus[] = L"131473";

RegistryTable ControlKeys() {
    const tstring clsid = GuidText(CLSID_CQNHTMLControl);
    const tstring appId = GuidText(kAppId);
    const tstring classKey = L"CLSID\\" + clsid;
    const tstring name = L"CQNHTMLControl Object";
    const tstring progId = L"qnControl.QNHTMLControl.1";
    const tstring independent = L"qnControl.QNHTMLControl";
    const tstring module = ComModule::Path();
    const auto keep = OnUnregister::Keep;

    RegistryTable keys(HKEY_CLASSES_ROOT);
    keys.Value(progId, L"", name)
        .Value(progId + L"\\CLSID", L"", clsid)
        .Value(independent, L"", name)
        .Value(independent + L"\\CLSID", L"", clsid)
        .Value(independent + L"\\CurVer", L"", progId)
        .Key(L"CLSID", keep)
        .Value(classKey, L"", name)
        .Value(classKey + L"\\ProgID", L"", progId)
        .Value(classKey + L"\\VersionIndependentProgID", L"", independent)
        .Value(classKey + L"\\InprocServer32", L"", module)
        .Value(classKey + L"\\InprocServer32", L"ThreadingModel", L"apartment")
        .Key(classKey + L"\\Control")
        .Value(classKey + L"\\ToolboxBitmap32", L"", module + L", 1")
        .Value(classKey + L"\\MiscStatus", L"", kMiscStatus)
        .Value(classKey + L"\\TypeLib", L"", GuidText(LIBID_qnControl))
        .Value(classKey + L"\\Version", L"", L"1.0")
        .Key(L"AppID", keep)
        .Value(L"AppID\\" + appId, L"", L"qnControl")
        .Value(L"AppID\\qnControl.DLL", L"AppID", appId);
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
        ActiveXControl::UnregisterWindowClass();
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
    return ServerRegister(ControlKeys);
}

STDAPI DllUnregisterServer() {
    return ServerUnregister(ControlKeys);
}
