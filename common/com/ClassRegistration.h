#pragma once
#include <windows.h>
#include "common/com/RegistryTable.h"

// The registry entries of a creatable class of an in-process server, all
// under HKEY_CLASSES_ROOT: its versioned and version-independent ProgIDs,
// its CLSID key with the ProgIDs, the module path, the threading model and
// the type library, and the AppID keys of the server, named "<appName>" and
// "<appName>.DLL". A class adds its own values under ClassKey().
struct ClassRegistration {
    const CLSID* clsid;
    const wchar_t* name;
    const wchar_t* progId;
    const wchar_t* independentProgId;
    const wchar_t* threadingModel;
    const GUID* typeLib;
    const GUID* appId;
    const wchar_t* appName;

    // "CLSID\{...}"
    tstring ClassKey() const;
    RegistryTable Keys() const;
};
