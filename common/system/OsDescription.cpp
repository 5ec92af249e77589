#include "common/system/OsDescription.h"
#include <vector>
#include "common/errors/CheckObjects.h"

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
[[maybe_unused]] BOOL GetVersionRecord(OSVERSIONINFOW* info) {
    return GetVersionExW(info);
}
[[maybe_unused]] BOOL GetVersionRecord(OSVERSIONINFOA* info) {
    return GetVersionExA(info);
}
#pragma GCC diagnostic pop

// GetVersionExW reports 6.2 to programs without a compatibility manifest on
// Windows 8.1 and later; the name must follow the real version.
bool ReadTrueVersion(OSVERSIONINFOEXW& info) {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    HMODULE ntdll = GetModuleHandle(_T("ntdll.dll"));
    if (!ntdll)
        return false;
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(GetProcAddress(ntdll, "RtlGetVersion"));
    return rtlGetVersion && rtlGetVersion(&info) == 0;
}

bool IsServer(const OSVERSIONINFOEXW& info, bool extended) {
    return extended && (info.wProductType == VER_NT_SERVER || info.wProductType == VER_NT_DOMAIN_CONTROLLER);
}

const TCHAR* Windows6Name(const OSVERSIONINFOEXW& info, bool server) {
    switch (info.dwMinorVersion) {
    case 0: return server ? _T("Microsoft Windows Server 2008") : _T("Microsoft Windows Vista");
    case 1: return server ? _T("Microsoft Windows Server 2008 R2") : _T("Microsoft Windows 7");
    case 2: return server ? _T("Microsoft Windows Server 2012") : _T("Microsoft Windows 8");
    case 3: return server ? _T("Microsoft Windows Server 2012 R2") : _T("Microsoft Windows 8.1");
    default: return _T("");
    }
}

const TCHAR* Windows10Name(const OSVERSIONINFOEXW& info, bool server) {
    DWORD build = info.dwBuildNumber;
    if (!server)
        return build >= 22000 ? _T("Microsoft Windows 11") : _T("Microsoft Windows 10");
    if (build >= 26100)
        return _T("Microsoft Windows Server 2025");
    if (build >= 20348)
        return _T("Microsoft Windows Server 2022");
    if (build >= 17763)
        return _T("Microsoft Windows Server 2019");
    return _T("Microsoft Windows Server 2016");
}

const TCHAR* ProductName(const OSVERSIONINFOEXW& info, bool extended) {
    DWORD major = info.dwMajorVersion;
    DWORD minor = info.dwMinorVersion;
    if (major <= 4)
        return _T("Microsoft Windows NT ");
    if (major == 5) {
        switch (minor) {
        // The x64 edition of XP shares 5.2 with Server 2003 and tells itself
        // apart only by its product type.
        case 2:
            return extended && info.wProductType == VER_NT_WORKSTATION ? _T("Microsoft Windows XP ")
                                                                       : _T("Microsoft Windows Server 2003 ");
        case 1: return _T("Microsoft Windows XP ");
        case 0: return _T("Microsoft Windows 2000 ");
        default: return _T("");
        }
    }
    if (major == 6)
        return Windows6Name(info, IsServer(info, extended));
    if (major == 10)
        return Windows10Name(info, IsServer(info, extended));
    return _T("");
}

const TCHAR* EditionName(const OSVERSIONINFOEXW& info) {
    DWORD major = info.dwMajorVersion;
    DWORD minor = info.dwMinorVersion;
    WORD suite = info.wSuiteMask;
    if (info.wProductType == VER_NT_WORKSTATION) {
        if (major == 4)
            return _T("Workstation 4.0 ");
        return (suite & VER_SUITE_PERSONAL) ? _T("Home Edition ") : _T("Professional ");
    }
    if (info.wProductType != VER_NT_SERVER && info.wProductType != VER_NT_DOMAIN_CONTROLLER)
        return _T("");
    if (major == 5 && minor == 2) {
        if (suite & VER_SUITE_DATACENTER)
            return _T("Datacenter Edition");
        if (suite & VER_SUITE_ENTERPRISE)
            return _T("Enterprise Edition");
        if (suite == VER_SUITE_BLADE)
            return _T("Web Edition ");
        return _T("Standard Edition");
    }
    if (major == 5 && minor == 0) {
        if (suite & VER_SUITE_DATACENTER)
            return _T("Datacenter Server");
        if (suite & VER_SUITE_ENTERPRISE)
            return _T("Advanced Server");
        return _T("Server");
    }
    return (suite & VER_SUITE_ENTERPRISE) ? _T("Server 4.0, Enterprise Edition") : _T("Server 4.0");
}

BSTR AllocBstr(const tstring& text) {
#ifdef UNICODE
    BSTR result = SysAllocStringLen(text.c_str(), UINT(text.size()));
#else
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0);
    std::vector<wchar_t> wide(n + 1);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), wide.data(), n);
    BSTR result = SysAllocStringLen(wide.data(), UINT(n));
#endif
    if (!result)
        throw HRError(E_OUTOFMEMORY);
    return result;
}

}  // namespace

tstring OsNameFor(const OSVERSIONINFOEXW& info, bool extended) {
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return tstring();
    tstring name = ProductName(info, extended);
    // Windows 6 and later carry no edition in their names.
    if (extended && info.dwMajorVersion < 6)
        name += EditionName(info);
    return name;
}

tstring OsName() {
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    bool extended = true;
    if (!ReadTrueVersion(info) && !GetVersionRecord(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        ZeroMemory(&info, sizeof(info));
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        extended = false;
        if (!GetVersionRecord(reinterpret_cast<OSVERSIONINFOW*>(&info)))
            return _T("unknown");
    }
    return OsNameFor(info, extended);
}

tstring PlatformNameFor(DWORD platformId, DWORD major, DWORD minor) {
    switch (platformId) {
    case VER_PLATFORM_WIN32s:
        return _T("Win32s");
    case VER_PLATFORM_WIN32_WINDOWS:
        switch (minor) {
        case 0: return _T("Windows 95");
        case 10: return _T("Windows 98");
        case 90: return _T("Windows Me");
        default: return _T("Windows > Me");
        }
    case VER_PLATFORM_WIN32_NT:
        if (major == 3)
            return _T("Windows NT 3");
        if (major == 4)
            return _T("Windows NT 4");
        if (major == 5) {
            switch (minor) {
            case 0: return _T("Windows 2000");
            case 1: return _T("Windows XP");
            case 2: return _T("Windows .NET");
            default: return _T("Windows > .NET");
            }
        }
        if (major >= 6)
            return _T("Windows > 2000 family");
        return _T("Unknown platform");
    default:
        return _T("Unknown platform");
    }
}

BSTR PlatformText() {
    OSVERSIONINFO info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    BoolCheck ck(_T("GetVersionEx"));
    ck = GetVersionRecord(&info);
    tstring text = FormatText(_T("OS %s , build(%ld), %s"),
                              PlatformNameFor(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion).c_str(),
                              long(info.dwBuildNumber), info.szCSDVersion);
    return AllocBstr(text);
}
