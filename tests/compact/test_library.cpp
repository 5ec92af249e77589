#include <doctest/doctest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "common/tstring/tstring.h"

// OrvaneCompact.dll itself: what Winlogon, rundll32, the installer and the
// event viewer see of it.

namespace {

struct Module {
    explicit Module(DWORD flags) : handle(LoadLibraryExW(ORVANE_COMPACT_DLL, nullptr, flags)) {}
    ~Module() {
        if (handle)
            FreeLibrary(handle);
    }
    HMODULE handle;
};

std::vector<std::pair<std::string, WORD>> ExportedNames(HMODULE image) {
    auto* base = reinterpret_cast<BYTE*>(image);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    std::vector<std::pair<std::string, WORD>> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        result.emplace_back(reinterpret_cast<char*>(base + names[i]), WORD(exports->Base + ordinals[i]));
    CHECK(exports->NumberOfFunctions == 10);
    return result;
}

tstring ReadText(HKEY key, const wchar_t* name, DWORD& type, DWORD& bytes) {
    wchar_t data[512] = {};
    bytes = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS)
        return L"<missing>";
    return tstring(data, bytes / sizeof(wchar_t));
}

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD& type) {
    DWORD value = 0xFFFFFFFF, bytes = sizeof value;
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    return value;
}

const wchar_t kNotify[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\OrvaneCompact";
const wchar_t kSource[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\OrvaneCompact";
const wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

TEST_CASE("the library exports exactly its ten entry points, by name and ordinal, and not its entry point") {
    {
        // Freed before the library is loaded for real: a module mapped without
        // its references resolved would be handed out again as it is.
        Module image(DONT_RESOLVE_DLL_REFERENCES);
        REQUIRE(image.handle);
        std::vector<std::pair<std::string, WORD>> expected = {
            {"CheckDeferredTasks", 1}, {"FlagAll", 2},       {"FlagCurrent", 3},  {"OnRunOnce", 4},
            {"Register", 5},           {"UnFlag", 6},        {"Unregister", 7},   {"WLEventLogoff", 8},
            {"WLEventLogon", 9},       {"WLEventShutdown", 10}};
        CHECK(ExportedNames(image.handle) == expected);
    }

    Module dll(0);
    REQUIRE(dll.handle);
    auto check = reinterpret_cast<DWORD(WINAPI*)()>(GetProcAddress(dll.handle, MAKEINTRESOURCEA(1)));
    REQUIRE(check ? true : false);
    CHECK(check() == 0);
    // With no request mapping in this process the request exports do nothing.
    auto unflag = reinterpret_cast<void(WINAPI*)()>(GetProcAddress(dll.handle, "UnFlag"));
    REQUIRE(unflag ? true : false);
    unflag();
}

TEST_CASE("the message table holds ids 0-3 in English without severity bits, each text ending CR LF") {
    Module dll(LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(dll.handle);
    CHECK(FindResourceExW(dll.handle, RT_MESSAGETABLE, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
    const wchar_t* expected[] = {
        L"Registry compact has started.\r\n",
        L"Registry compact has been completed successfully.\r\n",
        L"Registry compact was cancelled because registry has just been restored from backup.\r\n",
        L"Unexpected error has occurred during registry compact.\r\n",
    };
    for (DWORD id = 0; id < 4; ++id) {
        wchar_t text[256] = {};
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, dll.handle, id, 1033,
                                 text, 256, nullptr);
        CHECK(tstring(text, n) == expected[id]);
    }
    wchar_t text[64];
    CHECK(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, dll.handle, 4, 1033, text, 64,
                         nullptr) == 0);
}

TEST_CASE("Register writes the notification package and event source; Unregister removes the package and Run value") {
    Module dll(0);
    REQUIRE(dll.handle);
    auto registerLib = reinterpret_cast<DWORD(WINAPI*)()>(GetProcAddress(dll.handle, "Register"));
    auto unregisterLib = reinterpret_cast<DWORD(WINAPI*)()>(GetProcAddress(dll.handle, "Unregister"));
    REQUIRE(registerLib ? true : false);
    REQUIRE(unregisterLib ? true : false);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kNotify);

    REQUIRE(registerLib() == 0);
    HKEY key = nullptr;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNotify, 0, KEY_READ, &key) == 0);
    DWORD type = 0, bytes = 0;
    struct Text {
        const wchar_t* name;
        DWORD type;
        const wchar_t* data;
    };
    // Texts are stored with their terminating NUL.
    for (const Text& t : {Text{L"Logon", REG_SZ, L"WLEventLogon"}, Text{L"Logoff", REG_SZ, L"WLEventLogoff"},
                          Text{L"Shutdown", REG_SZ, L"WLEventShutdown"},
                          Text{L"DllName", REG_EXPAND_SZ, L"OrvaneCompact.dll"}}) {
        CAPTURE(tstring(t.name));
        CHECK(ReadText(key, t.name, type, bytes) == tstring(t.data) + L'\0');
        CHECK(type == t.type);
    }
    CHECK(ReadDword(key, L"Asynchronous", type) == 0);
    CHECK(type == REG_DWORD);
    RegCloseKey(key);

    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSource, 0, KEY_READ, &key) == 0);
    CHECK(ReadText(key, L"EventMessageFile", type, bytes) ==
          tstring(L"%SystemRoot%\\System32\\OrvaneCompact.dll") + L'\0');
    CHECK(type == REG_EXPAND_SZ);
    CHECK(ReadDword(key, L"TypesSupported", type) == 7);
    CHECK(type == REG_DWORD);
    RegCloseKey(key);

    SUBCASE("without the Run value") {
        HKEY run = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, 0, KEY_WRITE, nullptr, &run, nullptr) == 0);
        RegDeleteValueW(run, L"Orvane Scheduler");
        RegCloseKey(run);
        CHECK(unregisterLib() == 0x80070002);
    }
    SUBCASE("with the Run value") {
        HKEY run = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr) == 0);
        const wchar_t command[] = L"Orvane.exe";
        RegSetValueExW(run, L"Orvane Scheduler", 0, REG_SZ, reinterpret_cast<const BYTE*>(command), sizeof command);
        CHECK(unregisterLib() == 0);
        CHECK(RegQueryValueExW(run, L"Orvane Scheduler", nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND);
        RegCloseKey(run);
    }
    CHECK(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNotify, 0, KEY_READ, &key) == ERROR_FILE_NOT_FOUND);
    // The event source stays, so that older entries keep their texts.
    CHECK(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSource, 0, KEY_READ, &key) == 0);
    RegCloseKey(key);
}
