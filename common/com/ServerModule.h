#pragma once
#include <windows.h>
#include "common/com/ClassFactory.h"
#include "common/com/RegistryTable.h"

// An in-process server is put together from these pieces: the DLL describes
// itself in an InprocServer, whose exported entry points hand the module
// instance to ComModule::SetInstance and call the functions below with the
// server's class table and its RegistryTable; each object holds a
// ModuleLock, serves IDispatch through DispatchImpl from the TYPELIB
// resource 1 of the module, raises its events through a ConnectionPoint
// member, and runs every method body inside ComCall.

// A creatable class of an in-process server.
struct ClassEntry {
    const CLSID* clsid;
    ObjectCreator create;
    // Set for a class that may be aggregated; it is then used for every creation.
    AggregatingCreator aggregating = nullptr;
};

// The work behind the exported entry points of an in-process server.
HRESULT ServerGetClassObject(const ClassEntry* classes, size_t count, REFCLSID clsid, REFIID iid,
                             void** result) noexcept;
// S_OK when no object and no LockServer keeps the module, else S_FALSE.
HRESULT ServerCanUnloadNow() noexcept;
// The server's registry entries, built when (un)registration asks for them:
// the module path is known only then.
using RegistryKeysBuilder = RegistryTable (*)();
// Writes the class keys, then registers the embedded type library.
HRESULT ServerRegister(RegistryKeysBuilder keys) noexcept;
// Removes the type library registration, then the class keys.
HRESULT ServerUnregister(RegistryKeysBuilder keys) noexcept;
