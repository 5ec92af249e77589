#pragma once
#include <windows.h>
#include <map>
#include <set>
#include <string>
#include "engine/engine.h"

// The built OrvaneEngine.dll as a Windows path.
std::wstring EngineDllPath();

// regsvr32's exit code for registering (or, with unregister, removing) the engine.
DWORD RunRegsvr32(bool unregister);

// Registers the engine for the life of a test and removes it afterwards.
class RegisteredEngine {
public:
    RegisteredEngine();
    ~RegisteredEngine();
    RegisteredEngine(const RegisteredEngine&) = delete;
    RegisteredEngine& operator=(const RegisteredEngine&) = delete;
    DWORD ExitCode() const { return exitCode_; }

private:
    DWORD exitCode_;
};

bool ClassesKeyExists(const std::wstring& path);
std::set<std::wstring> ClassesSubKeys(const std::wstring& path);
// Every value of the key as text (names upper-cased; "" is the unnamed value).
std::map<std::wstring, std::wstring> ClassesValues(const std::wstring& path);
std::wstring Upper(std::wstring text);
std::wstring GuidString(REFGUID guid);

// Runs body on a new thread that joins apartment (COINIT_APARTMENTTHREADED
// or COINIT_MULTITHREADED) and waits for it while pumping messages.
void RunInApartment(DWORD apartment, void (*body)(void*), void* context);
// Waits for handle while dispatching the messages an STA needs for incoming calls.
bool PumpUntil(HANDLE handle, DWORD timeoutMs);
