#include "StartProcess.h"
#include <doctest/doctest.h>
#include <string>
#include <vector>
#include "common/system/OsDescription.h"
#include "common/system/OsVersion.h"
#include "TestLimits.h"

namespace {

std::string Narrow(const tstring& text) {
    return std::string(text.begin(), text.end());
}

OSVERSIONINFOEXW Version(DWORD major, DWORD minor, BYTE productType, WORD suite = 0, DWORD build = 0,
                         DWORD platform = VER_PLATFORM_WIN32_NT) {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.dwBuildNumber = build;
    info.dwPlatformId = platform;
    info.wProductType = productType;
    info.wSuiteMask = suite;
    return info;
}

std::string NameOf(DWORD major, DWORD minor, BYTE productType, WORD suite = 0, DWORD build = 0) {
    return Narrow(OsNameFor(Version(major, minor, productType, suite, build), true));
}

OSVERSIONINFOW PlainVersion() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    REQUIRE(GetVersionExW(&info));
#pragma GCC diagnostic pop
    return info;
}

OSVERSIONINFOEXW TrueVersion() {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFunction>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
    REQUIRE(bool(rtlGetVersion));
    REQUIRE(rtlGetVersion(&info) == 0);
    return info;
}

tstring PlatformTextNow() {
    BSTR text = PlatformText();
    REQUIRE(text != nullptr);
    tstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

const wchar_t* const kProbeVariable = L"ORVANE_SYSINFO_OSPROBE";

// The facts a probe run reports back, one per line.
std::vector<std::wstring> ProbeFacts() {
    OSVERSIONINFOW plain = PlainVersion();
    return {OsName(), IsWindowsMajor6() ? L"major6" : L"other", PlatformTextNow(),
            PlatformNameFor(plain.dwPlatformId, plain.dwMajorVersion, plain.dwMinorVersion),
            std::to_wstring(plain.dwBuildNumber), plain.szCSDVersion};
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Runs a copy of this program as the given Wine version (Wine reads a per-program
// version from its AppDefaults key) and returns the facts its probe case wrote.
std::vector<std::wstring> ProbeAs(const wchar_t* wineVersion) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    tstring exeName = FormatText(L"sysinfo-osprobe-%lu-%s.exe", GetCurrentProcessId(), wineVersion);
    tstring exePath = tstring(temp) + exeName;
    tstring outPath = exePath + L".txt";
    REQUIRE(CopyFileW(GetModulePath().c_str(), exePath.c_str(), FALSE));

    tstring keyPath = L"Software\\Wine\\AppDefaults\\" + exeName;
    REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, keyPath.c_str(), L"Version", REG_SZ, wineVersion,
                            DWORD((wcslen(wineVersion) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS);

    tstring commandLine = L"\"" + exePath + L"\" \"-tc=OsName describes the version the system reports\"";
    SetEnvironmentVariableW(kProbeVariable, outPath.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessRetrying(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(kProbeVariable, nullptr);
    DWORD exitCode = 1;
    if (started) {
        testlimit::Wait(process.hProcess, 120000, "the version probe run as another Windows");
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    std::vector<std::wstring> facts;
    HANDLE file = CreateFileW(outPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        std::vector<wchar_t> text(4096);
        DWORD read = 0;
        ReadFile(file, text.data(), DWORD(text.size() * sizeof(wchar_t)), &read, nullptr);
        CloseHandle(file);
        std::wstring all(text.data(), read / sizeof(wchar_t));
        for (size_t start = 0, end; (end = all.find(L'\n', start)) != std::wstring::npos; start = end + 1)
            facts.push_back(all.substr(start, end - start));
    }
    DeleteFileW(outPath.c_str());
    DeleteFileW(exePath.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    CHECK(started);
    CHECK(exitCode == 0);
    return facts;
}

}  // namespace

TEST_CASE("names of the NT releases before Windows 6 carry their edition") {
    CHECK(NameOf(5, 1, VER_NT_WORKSTATION) == "Microsoft Windows XP Professional ");
    CHECK(NameOf(5, 1, VER_NT_WORKSTATION, VER_SUITE_PERSONAL) == "Microsoft Windows XP Home Edition ");
    CHECK(NameOf(5, 0, VER_NT_WORKSTATION) == "Microsoft Windows 2000 Professional ");
    CHECK(NameOf(4, 0, VER_NT_WORKSTATION, VER_SUITE_PERSONAL) == "Microsoft Windows NT Workstation 4.0 ");
    CHECK(NameOf(4, 0, VER_NT_SERVER) == "Microsoft Windows NT Server 4.0");
    CHECK(NameOf(4, 0, VER_NT_DOMAIN_CONTROLLER, VER_SUITE_ENTERPRISE) ==
          "Microsoft Windows NT Server 4.0, Enterprise Edition");
    CHECK(NameOf(5, 0, VER_NT_SERVER) == "Microsoft Windows 2000 Server");
    CHECK(NameOf(5, 0, VER_NT_SERVER, VER_SUITE_ENTERPRISE) == "Microsoft Windows 2000 Advanced Server");
    CHECK(NameOf(5, 0, VER_NT_DOMAIN_CONTROLLER, VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE) ==
          "Microsoft Windows 2000 Datacenter Server");
}

TEST_CASE("Windows Server 2003 editions follow the suite mask in table order") {
    CHECK(NameOf(5, 2, VER_NT_SERVER, VER_SUITE_BLADE) == "Microsoft Windows Server 2003 Web Edition ");
    CHECK(NameOf(5, 2, VER_NT_SERVER, VER_SUITE_BLADE | VER_SUITE_TERMINAL) ==
          "Microsoft Windows Server 2003 Standard Edition");
    CHECK(NameOf(5, 2, VER_NT_SERVER, VER_SUITE_BLADE | VER_SUITE_ENTERPRISE) ==
          "Microsoft Windows Server 2003 Enterprise Edition");
    CHECK(NameOf(5, 2, VER_NT_DOMAIN_CONTROLLER, VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE) ==
          "Microsoft Windows Server 2003 Datacenter Edition");
    CHECK(NameOf(5, 2, VER_NT_SERVER, 0) == "Microsoft Windows Server 2003 Standard Edition");
    // XP x64 shares version 5.2 and differs only in its product type.
    CHECK(NameOf(5, 2, VER_NT_WORKSTATION) == "Microsoft Windows XP Professional ");
}

TEST_CASE("Windows 6 and later are named by release without an edition") {
    CHECK(NameOf(6, 0, VER_NT_WORKSTATION, VER_SUITE_PERSONAL) == "Microsoft Windows Vista");
    CHECK(NameOf(6, 0, VER_NT_SERVER, VER_SUITE_ENTERPRISE) == "Microsoft Windows Server 2008");
    CHECK(NameOf(6, 1, VER_NT_WORKSTATION) == "Microsoft Windows 7");
    CHECK(NameOf(6, 1, VER_NT_SERVER) == "Microsoft Windows Server 2008 R2");
    CHECK(NameOf(6, 2, VER_NT_WORKSTATION) == "Microsoft Windows 8");
    CHECK(NameOf(6, 3, VER_NT_WORKSTATION) == "Microsoft Windows 8.1");
    CHECK(NameOf(10, 0, VER_NT_WORKSTATION, 0, 19045) == "Microsoft Windows 10");
    CHECK(NameOf(10, 0, VER_NT_WORKSTATION, 0, 22631) == "Microsoft Windows 11");
    CHECK(NameOf(10, 0, VER_NT_SERVER, 0, 17763) == "Microsoft Windows Server 2019");
    CHECK(NameOf(10, 0, VER_NT_SERVER, 0, 14393) == "Microsoft Windows Server 2016");
    CHECK(NameOf(7, 0, VER_NT_WORKSTATION).empty());
}

TEST_CASE("a record without product type gives the bare release name") {
    CHECK(Narrow(OsNameFor(Version(5, 1, VER_NT_SERVER), false)) == "Microsoft Windows XP ");
    CHECK(Narrow(OsNameFor(Version(5, 2, VER_NT_WORKSTATION), false)) == "Microsoft Windows Server 2003 ");
    CHECK(Narrow(OsNameFor(Version(6, 0, VER_NT_SERVER), false)) == "Microsoft Windows Vista");
    CHECK(OsNameFor(Version(4, 10, 0, 0, 0, VER_PLATFORM_WIN32_WINDOWS), true).empty());
}

TEST_CASE("platform names by platform and version") {
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32s, 3, 1)) == "Win32s");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_WINDOWS, 4, 0)) == "Windows 95");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_WINDOWS, 4, 10)) == "Windows 98");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_WINDOWS, 4, 90)) == "Windows Me");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_WINDOWS, 4, 3)) == "Windows > Me");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 3, 51)) == "Windows NT 3");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 4, 0)) == "Windows NT 4");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 5, 0)) == "Windows 2000");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 5, 1)) == "Windows XP");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 5, 2)) == "Windows .NET");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 5, 3)) == "Windows > .NET");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 10, 0)) == "Windows > 2000 family");
    CHECK(Narrow(PlatformNameFor(VER_PLATFORM_WIN32_NT, 2, 0)) == "Unknown platform");
    CHECK(Narrow(PlatformNameFor(3, 6, 0)) == "Unknown platform");
}

TEST_CASE("OsName describes the version the system reports") {
    CHECK(OsName() == OsNameFor(TrueVersion(), true));
    CHECK_FALSE(OsName().empty());

    OSVERSIONINFOW plain = PlainVersion();
    CHECK(IsWindowsNT());
    CHECK(IsWindowsMajor6() == (plain.dwMajorVersion >= 6));
    CHECK(GetOsVersion().dwBuildNumber == plain.dwBuildNumber);
    CHECK(PlatformTextNow() == FormatText(L"OS %s , build(%ld), %s",
                                          PlatformNameFor(plain.dwPlatformId, plain.dwMajorVersion,
                                                          plain.dwMinorVersion).c_str(),
                                          long(plain.dwBuildNumber), plain.szCSDVersion));

    // A probe run started by the case below reports what it saw.
    wchar_t outPath[MAX_PATH];
    if (GetEnvironmentVariableW(kProbeVariable, outPath, MAX_PATH) > 0) {
        std::wstring text;
        for (const std::wstring& fact : ProbeFacts())
            text += fact + L"\n";
        HANDLE file = CreateFileW(outPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, text.data(), DWORD(text.size() * sizeof(wchar_t)), &written, nullptr);
        CloseHandle(file);
    }
}

TEST_CASE("names and platform texts under other Windows versions") {
    if (!RunningUnderWine()) {
        MESSAGE("the version of a single program can only be switched under Wine");
        return;
    }
    SUBCASE("Windows XP x64") {
        std::vector<std::wstring> facts = ProbeAs(L"winxp64");
        REQUIRE(facts.size() == 6);
        CHECK(Narrow(facts[0]) == "Microsoft Windows XP Professional ");
        CHECK(Narrow(facts[1]) == "other");
        CHECK(Narrow(facts[3]) == "Windows .NET");
        CHECK(facts[2] == L"OS Windows .NET , build(" + facts[4] + L"), " + facts[5]);
    }
    SUBCASE("Windows Vista") {
        std::vector<std::wstring> facts = ProbeAs(L"vista");
        REQUIRE(facts.size() == 6);
        CHECK(Narrow(facts[0]) == "Microsoft Windows Vista");
        CHECK(Narrow(facts[1]) == "major6");
        CHECK(facts[2] == L"OS Windows > 2000 family , build(" + facts[4] + L"), " + facts[5]);
    }
    SUBCASE("Windows Server 2003") {
        std::vector<std::wstring> facts = ProbeAs(L"win2003");
        REQUIRE(facts.size() == 6);
        CHECK(Narrow(facts[0]) == "Microsoft Windows Server 2003 Standard Edition");
        CHECK(Narrow(facts[1]) == "other");
    }
    SUBCASE("Windows 10") {
        // A program without a compatibility manifest is told 6.2, so the
        // Windows 6 paths stay on while the name follows the real release.
        std::vector<std::wstring> facts = ProbeAs(L"win10");
        REQUIRE(facts.size() == 6);
        CHECK(Narrow(facts[0]) == "Microsoft Windows 10");
        CHECK(Narrow(facts[1]) == "major6");
        CHECK(facts[2] == L"OS Windows > 2000 family , build(" + facts[4] + L"), " + facts[5]);
    }
}
