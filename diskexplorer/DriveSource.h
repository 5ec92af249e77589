#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"

// Where the explorer learns about drives. The product asks the system; a test
// installs a source of its own, since a test system cannot be given floppy,
// removable, network or substituted drives (and under Wine every drive looks
// fixed and NTFS).
class DriveSource {
public:
    virtual ~DriveSource() = default;
    // GetLogicalDrives: bit 0 is A:.
    virtual DWORD LogicalDrives() const = 0;
    // GetDriveTypeW of "X:\".
    virtual UINT DriveType(const tstring& root) const = 0;
    // The media types of the drive's device (IOCTL_STORAGE_GET_MEDIA_TYPES):
    // 0 with the types, or the error of opening the device or of the query.
    virtual DWORD MediaTypes(wchar_t letter, std::vector<DWORD>& types) const = 0;
    // The file-system name of "X:\" (GetVolumeInformationW), empty when unknown.
    virtual tstring FileSystemName(const tstring& root) const = 0;
    // QueryDosDeviceW of "X:": false when it fails.
    virtual bool DosDeviceTarget(const tstring& name, tstring& target) const = 0;

    // The source in use: the system's unless one was installed.
    static const DriveSource& Current();
    // Installs a source (not owned) for the whole process; null restores the system's.
    static void Install(const DriveSource* source);
};

class SystemDrives : public DriveSource {
public:
    DWORD LogicalDrives() const override;
    UINT DriveType(const tstring& root) const override;
    DWORD MediaTypes(wchar_t letter, std::vector<DWORD>& types) const override;
    tstring FileSystemName(const tstring& root) const override;
    bool DosDeviceTarget(const tstring& name, tstring& target) const override;
};
