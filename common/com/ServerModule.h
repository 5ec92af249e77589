#pragma once
#include <windows.h>
#include "common/com/ClassFactory.h"
#include "common/com/RegistryTable.h"

// A creatable class of an in-process server.
struct ClassEntry {
    const CLSID* clsid;
    ObjectCreator create;
};

// The work behind the exported entry points of an in-process server.
HRESULT ServerGetClassObject(const ClassEntry* classes, size_t count, REFCLSID clsid, REFIID iid,
                             void** result) noexcept;
// S_OK when no object and no LockServer keeps the module, else S_FALSE.
HRESULT ServerCanUnloadNow() noexcept;
// Writes the class keys, then registers the embedded type library.
HRESULT ServerRegister(const RegistryTable& keys) noexcept;
// Removes the type library registration, then the class keys.
HRESULT ServerUnregister(const RegistryTable& keys) noexcept;
