#include <windows.h>
#include "doctest/doctest.h"
#include "diskexplorer/SuiteLink.h"
#include "tests/diskexplorer/frame/FrameHarness.h"
#include "tests/support/TempFolder.h"

namespace {
const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUARN Orvane_is1";

// Through the native call: the Win32 one may add the NUL a test leaves out.
void SetInstallLocation(DWORD type, const void* data, DWORD size) {
    struct Name {
        USHORT length, maximum;
        const wchar_t* buffer;
    } name{30, 32, L"InstallLocation"};
    using SetValue = LONG(NTAPI*)(HANDLE, Name*, ULONG, ULONG, const void*, ULONG);
    auto setValue = reinterpret_cast<SetValue>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey"));
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr) == ERROR_SUCCESS);
    CHECK(setValue(key, &name, 0, type, data, size) == 0);
    RegCloseKey(key);
}
}  // namespace

TEST_CASE("the suite link starts Orvane.exe from its uninstall entry, else opens the web page") {
    RecordingLauncher launcher;
    ShellLauncher::Install(&launcher);
    TempFolder folder(L"drossel-suite");
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstall, KEY_WOW64_64KEY, 0);
    OpenSuiteProgram();
    DWORD number = 7;
    SetInstallLocation(REG_DWORD, &number, sizeof number);
    OpenSuiteProgram();
    SetInstallLocation(REG_SZ, folder.Path().c_str(), DWORD(folder.Path().size() * 2));  // no NUL
    OpenSuiteProgram();
    SetInstallLocation(REG_SZ, folder.Path().c_str(), DWORD(folder.Path().size() * 2 + 2));
    OpenSuiteProgram();
    REQUIRE(launcher.opened.size() == 4);
    for (int i = 0; i < 3; ++i) {
        CHECK(launcher.opened[i] == kSuiteWebPage);
        CHECK(launcher.folders[i].empty());
    }
    CHECK(launcher.opened[3] == folder.Path() + L"\\Orvane.exe");
    CHECK(launcher.folders[3] == folder.Path());

    ShellLauncher::Install(nullptr);
    REQUIRE(CopyFileW(EnvironmentPath(L"ORVANE_STUB_EXE").c_str(), folder.File(L"Orvane.exe").c_str(), FALSE));
    OpenSuiteProgram();
    CHECK(PumpUntil([&] { return GetFileAttributesW(folder.File(L"started.txt").c_str()) != INVALID_FILE_ATTRIBUTES; },
                    20000));
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstall, KEY_WOW64_64KEY, 0);
}
