#include "common/com/ServerModule.h"
#include "common/com/ComBoundary.h"
#include "common/com/TypeLibrary.h"

HRESULT ServerGetClassObject(const ClassEntry* classes, size_t count, REFCLSID clsid, REFIID iid,
                             void** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    for (size_t i = 0; i < count; ++i)
        if (IsEqualCLSID(clsid, *classes[i].clsid))
            return ClassFactory::Create(classes[i].create, classes[i].aggregating, iid,
                                         result);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerCanUnloadNow() noexcept {
    return ComModule::LockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT ServerRegister(RegistryKeysBuilder keys) noexcept {
    return ComCall([&] {
        keys().Register();
        TypeLibrary::Register();
        return S_OK;
    });
}

HRESULT ServerUnregister(RegistryKeysBuilder keys) noexcept {
    return ComCall([&] {
        TypeLibrary::Unregister();
        keys().Unregister();
        return S_OK;
    });
}
