#pragma once
#include <windows.h>
#include <oaidl.h>
#include "common/com/ComPtr.h"

// The type library embedded in the serving module as its TYPELIB resource 1,
// loaded once per process and kept until ReleaseModuleTypeLib.
class TypeLibrary {
public:
    static HRESULT Load(ComPtr<ITypeLib>& library) noexcept;
    // The type information of an interface, dispinterface or coclass of the library.
    static HRESULT TypeInfo(REFGUID guid, ComPtr<ITypeInfo>& info) noexcept;
    // For a dual interface the vtable part, on which ITypeInfo::Invoke calls
    // the methods directly; any other type as TypeInfo gives it.
    static HRESULT VtableTypeInfo(REFGUID guid, ComPtr<ITypeInfo>& info) noexcept;

    // Registers the library under its LIBID with the module's path; throws HRError.
    static void Register();
    // Removes what Register wrote; a library that is not registered is no failure.
    static void Unregister();

    // Drops the cached library; DllMain calls it when the module is unloaded.
    static void Release() noexcept;
};
