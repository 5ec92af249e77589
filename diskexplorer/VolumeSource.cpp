#include "diskexplorer/VolumeSource.h"
#include <atomic>

namespace {
std::atomic<VolumeSource*> g_installed{nullptr};
}

HANDLE DeviceVolumeSource::Open(const wchar_t* devicePath) {
    return CreateFileW(devicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

BOOL DeviceVolumeSource::Control(HANDLE volume, DWORD code, const void* in, DWORD inSize, void* out,
                                 DWORD outSize, DWORD* returned) {
    return DeviceIoControl(volume, code, const_cast<void*>(in), inSize, out, outSize, returned, nullptr);
}

void DeviceVolumeSource::Close(HANDLE volume) { CloseHandle(volume); }

VolumeSource& VolumeSource::Current() {
    static DeviceVolumeSource device;
    VolumeSource* installed = g_installed.load();
    return installed ? *installed : device;
}

void VolumeSource::Install(VolumeSource* source) { g_installed = source; }
