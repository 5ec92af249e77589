#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// Where the scan learns the type of a drive (DRIVE_FIXED, DRIVE_REMOTE ...).
// The product asks the system; a test installs a source of its own, since a
// test system cannot be made to have network or removable drives.
class DriveTypeSource {
public:
    virtual ~DriveTypeSource() = default;
    // root: "X:\".
    virtual UINT DriveType(const tstring& root) const = 0;

    // The source in use: the system's unless one was installed.
    static const DriveTypeSource& Current();
    // Installs a source (not owned) for the whole process; null restores the system's.
    static void Install(const DriveTypeSource* source);
};

// GetDriveTypeW.
class SystemDriveTypes : public DriveTypeSource {
public:
    UINT DriveType(const tstring& root) const override;
};
