#include "diskexplorer/DriveList.h"
#include <vector>
#include "common/errors/ErrorBase.h"
#include "diskexplorer/DriveSource.h"

namespace {
const DWORD kRemovableMedia = 11;  // RemovableMedia of MEDIA_TYPE
}

uint32_t ClassifyDrive(wchar_t letter) {
    const DriveSource& source = DriveSource::Current();
    tstring root;
    root += letter;
    root += L":\\";
    switch (source.DriveType(root)) {
    case DRIVE_REMOVABLE: {
        std::vector<DWORD> types;
        DWORD error = source.MediaTypes(letter, types);
        if (error == ERROR_NOT_SUPPORTED)
            return DriveRemovable;
        if (error)
            return 0;
        for (DWORD type : types)
            if (type == kRemovableMedia)
                return DriveRemovable;
        return DriveFloppy;
    }
    case DRIVE_FIXED:
        return DriveFixed;
    case DRIVE_REMOTE:
        return DriveRemote;
    case DRIVE_CDROM:
        return DriveCdRom;
    case DRIVE_RAMDISK:
        return DriveRamDisk;
    default:
        return 0;
    }
}

size_t DriveList::EnumDrives(uint32_t mask) {
    drives_.clear();
    DWORD letters = DriveSource::Current().LogicalDrives();
    if (!letters)
        throw Win32Error(static_cast<int32_t>(GetLastError() ? GetLastError() : ERROR_NO_MORE_ITEMS));
    for (int i = 0; i < 26; ++i) {
        if (!(letters & (1u << i)))
            continue;
        wchar_t letter = static_cast<wchar_t>(L'A' + i);
        uint32_t kind = ClassifyDrive(letter);
        if (kind & mask)
            drives_.push_back(DriveEntry{letter, kind});
    }
    return drives_.size();
}
