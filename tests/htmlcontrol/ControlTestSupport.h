#pragma once
#include <windows.h>
#include <map>
#include <set>
#include <string>

// qnControl.dll of this build, as a Windows path.
std::wstring ControlDllPath();
// regsvr32's exit code for registering (or, with unregister, removing) the control.
DWORD RunRegsvr32(bool unregister);

// The control registered for a scope: regsvr32 at construction, regsvr32 /u at the end.
struct RegisteredControl {
    RegisteredControl();
    ~RegisteredControl();
    DWORD code;
};

// What `reg query` lists of a key below HKCR: subkey names, and values by
// name (upper case, "" for the default value) with their data.
struct RegQuery {
    std::set<std::wstring> keys;
    std::map<std::wstring, std::wstring> values;
    bool found = false;
};
RegQuery QueryClassesKey(const std::wstring& key);

std::wstring Upper(std::wstring text);
