#include "common/system/OsVersion.h"

namespace {

OSVERSIONINFOW ReadOsVersion() {
    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    // Deprecated in newer SDKs, but its answer is the one the suite wants.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&info);
#pragma GCC diagnostic pop
    return info;
}

}  // namespace

const OSVERSIONINFOW& GetOsVersion() {
    static const OSVERSIONINFOW info = ReadOsVersion();
    return info;
}

bool IsWindowsMajor6() {
    return GetOsVersion().dwMajorVersion >= 6;
}

bool IsWindowsNT() {
    return GetOsVersion().dwPlatformId == VER_PLATFORM_WIN32_NT;
}
