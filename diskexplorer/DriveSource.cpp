#include "diskexplorer/DriveSource.h"
#include <winioctl.h>
#include <atomic>
#include "common/system/HandleHolder.h"

namespace {
std::atomic<const DriveSource*> g_installed{nullptr};
}

DWORD SystemDrives::LogicalDrives() const { return GetLogicalDrives(); }

UINT SystemDrives::DriveType(const tstring& root) const { return GetDriveTypeW(root.c_str()); }

DWORD SystemDrives::MediaTypes(wchar_t letter, std::vector<DWORD>& types) const {
    types.clear();
    wchar_t path[] = L"\\\\.\\C:";
    path[4] = letter;
    HandleHolder device(
        CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device.IsValid())
        return GetLastError() ? GetLastError() : ERROR_INVALID_HANDLE;
    for (size_t entries = 2;; entries *= 2) {
        std::vector<DISK_GEOMETRY> geometry(entries);
        DWORD returned = 0;
        if (DeviceIoControl(device, IOCTL_STORAGE_GET_MEDIA_TYPES, nullptr, 0, geometry.data(),
                            static_cast<DWORD>(entries * sizeof(DISK_GEOMETRY)), &returned, nullptr)) {
            for (size_t i = 0; i < returned / sizeof(DISK_GEOMETRY); ++i)
                types.push_back(geometry[i].MediaType);
            return 0;
        }
        DWORD error = GetLastError();
        if (error != ERROR_MORE_DATA || entries > 4096)
            return error ? error : ERROR_GEN_FAILURE;
    }
}

tstring SystemDrives::FileSystemName(const tstring& root) const {
    wchar_t name[MAX_PATH + 1] = L"";
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return tstring();
    return name;
}

bool SystemDrives::DosDeviceTarget(const tstring& name, tstring& target) const {
    wchar_t buffer[1024];
    DWORD length = QueryDosDeviceW(name.c_str(), buffer, 1024);
    if (!length)
        return false;
    target = buffer;
    return true;
}

const DriveSource& DriveSource::Current() {
    static const SystemDrives system;
    const DriveSource* installed = g_installed.load();
    return installed ? *installed : system;
}

void DriveSource::Install(const DriveSource* source) { g_installed = source; }
