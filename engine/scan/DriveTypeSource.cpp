#include "engine/scan/DriveTypeSource.h"
#include <atomic>

namespace {
std::atomic<const DriveTypeSource*> g_installed{nullptr};
}

UINT SystemDriveTypes::DriveType(const tstring& root) const { return GetDriveTypeW(root.c_str()); }

const DriveTypeSource& DriveTypeSource::Current() {
    static const SystemDriveTypes system;
    const DriveTypeSource* installed = g_installed.load();
    return installed ? *installed : system;
}

void DriveTypeSource::Install(const DriveTypeSource* source) { g_installed = source; }
