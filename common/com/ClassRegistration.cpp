#include "common/com/ClassRegistration.h"
#include "common/com/ComModule.h"

tstring ClassRegistration::ClassKey() const {
    return L"CLSID\\" + GuidText(*clsid);
}

RegistryTable ClassRegistration::Keys() const {
    const tstring classId = GuidText(*clsid);
    const tstring appIdText = GuidText(*appId);
    const tstring classKey = ClassKey();
    const tstring independent = independentProgId;
    const auto keep = OnUnregister::Keep;

    RegistryTable keys(HKEY_CLASSES_ROOT);
    keys.Value(progId, L"", name)
        .Value(progId + tstring(L"\\CLSID"), L"", classId)
        .Value(independent, L"", name)
        .Value(independent + L"\\CLSID", L"", classId)
        .Value(independent + L"\\CurVer", L"", progId)
        .Key(L"CLSID", keep)
        .Value(classKey, L"", name)
        .Value(classKey + L"\\ProgID", L"", progId)
        .Value(classKey + L"\\VersionIndependentProgID", L"", independent)
        .Value(classKey + L"\\InprocServer32", L"", ComModule::Path())
        .Value(classKey + L"\\InprocServer32", L"ThreadingModel", threadingModel)
        .Value(classKey + L"\\TypeLib", L"", GuidText(*typeLib))
        .Key(L"AppID", keep)
        .Value(L"AppID\\" + appIdText, L"", appName)
        .Value(L"AppID\\" + tstring(appName) + L".DLL", L"AppID", appIdText);
    return keys;
}
