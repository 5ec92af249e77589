#include "StartProcess.h"
#include "EngineTestSupport.h"
#include <doctest/doctest.h>
#include <vector>
#include "TestLimits.h"

std::wstring EngineDllPath() {
    std::string unixPath = ORVANE_ENGINE_DLL;
    std::wstring path(unixPath.begin(), unixPath.end());
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    if (!path.empty() && path[0] == L'\\')
        path = L"Z:" + path;
    return path;
}

DWORD RunRegsvr32(bool unregister) {
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister)
        command += L"/u ";
    command += L"\"" + EngineDllPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessRetrying(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return GetLastError() | 0x40000000u;
    testlimit::Wait(pi.hProcess, 60000, "regsvr32 with the engine");
    DWORD code = 0xFFFFFFFFu;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

namespace {
const wchar_t kTypeLibVersion[] = L"TypeLib\\{7BAD77B0-1397-4787-B963-DBF7F5C5757A}\\1.0";

// Wine's type library marshaler looks the library up only under the neutral
// locale, where Windows falls back from it to the registered 0x409; the test
// adds that entry so that calls can cross apartments under Wine too.
void AddNeutralLocaleEntry() {
    std::wstring path = ClassesValues(std::wstring(kTypeLibVersion) + L"\\409\\win64")[L""];
    if (path.empty())
        return;
    HKEY key = nullptr;
    std::wstring neutral = std::wstring(kTypeLibVersion) + L"\\0\\win64";
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, neutral.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   DWORD((path.length() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void RemoveNeutralLocaleEntry() {
    std::wstring neutral = std::wstring(kTypeLibVersion) + L"\\0";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, neutral.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, neutral.c_str());
}
}

RegisteredEngine::RegisteredEngine() : exitCode_(RunRegsvr32(false)) {
    REQUIRE(exitCode_ == 0);
    AddNeutralLocaleEntry();
}

RegisteredEngine::~RegisteredEngine() {
    RemoveNeutralLocaleEntry();
    RunRegsvr32(true);
}

bool ClassesKeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::set<std::wstring> ClassesSubKeys(const std::wstring& path) {
    std::set<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.insert(name);
    }
    RegCloseKey(key);
    return names;
}

std::map<std::wstring, std::wstring> ClassesValues(const std::wstring& path) {
    std::map<std::wstring, std::wstring> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    wchar_t name[256];
    wchar_t data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256, bytes = sizeof(data) - sizeof(wchar_t), type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS)
            break;
        data[bytes / sizeof(wchar_t)] = 0;
        values[Upper(name)] = type == REG_SZ ? std::wstring(data) : L"<not a string>";
    }
    RegCloseKey(key);
    return values;
}

std::wstring Upper(std::wstring text) {
    for (auto& c : text)
        c = wchar_t(towupper(c));
    return text;
}

std::wstring GuidString(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

namespace {
struct ThreadStart {
    DWORD apartment;
    void (*body)(void*);
    void* context;
};

DWORD WINAPI ApartmentThread(void* parameter) {
    auto* start = static_cast<ThreadStart*>(parameter);
    CoInitializeEx(nullptr, start->apartment);
    start->body(start->context);
    CoUninitialize();
    return 0;
}
}

bool PumpUntil(HANDLE handle, DWORD timeoutMs) {
    DWORD deadline = GetTickCount() + timeoutMs;
    for (;;) {
        DWORD now = GetTickCount();
        if (int(deadline - now) <= 0)
            return false;
        DWORD status = MsgWaitForMultipleObjects(1, &handle, FALSE, deadline - now, QS_ALLINPUT);
        if (status == WAIT_OBJECT_0)
            return true;
        if (status != WAIT_OBJECT_0 + 1)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void RunInApartment(DWORD apartment, void (*body)(void*), void* context) {
    ThreadStart start{apartment, body, context};
    HANDLE thread = CreateThread(nullptr, 0, ApartmentThread, &start, 0, nullptr);
    REQUIRE(thread != nullptr);
    bool ended = PumpUntil(thread, 120000);
    CloseHandle(thread);
    REQUIRE(ended);
}
