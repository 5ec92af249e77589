#pragma once
#include <windows.h>
#include "common/com/ServerModule.h"

// What one in-process server DLL serves. The DLL defines kThisServer and
// links the comserver object library, whose InprocServer.cpp holds the
// entry points that the DLL's .def file exports: DllMain, DllGetClassObject,
// DllCanUnloadNow, DllRegisterServer and DllUnregisterServer.
struct InprocServer {
    const ClassEntry* classes;
    size_t classCount;
    RegistryKeysBuilder keys;
    // What the module gives back when it is unloaded, after the type
    // library; null when there is nothing more.
    void (*unload)() noexcept;
};

extern const InprocServer kThisServer;
