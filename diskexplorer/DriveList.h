#pragma once
#include <windows.h>
#include <cstdint>
#include <deque>

// Kinds of drive, one bit each; a mask of them selects drives.
enum DriveKind : uint32_t {
    DriveFloppy = 1,      // removable drive whose media are all fixed kinds
    DriveRemovable = 2,   // removable disk, or a device that cannot tell
    DriveFixed = 4,
    DriveCdRom = 8,
    DriveRemote = 32,
    DriveRamDisk = 64,
};

struct DriveEntry {
    wchar_t letter;
    uint32_t kind;
};

// The kind bits of a drive letter; 0 for anything doubtful. Never fails.
uint32_t ClassifyDrive(wchar_t letter);

// The drives, in letter order, whose kind is in the mask.
class DriveList {
public:
    // Returns the number of drives; throws Win32Error when there are no logical drives.
    size_t EnumDrives(uint32_t mask);
    const std::deque<DriveEntry>& Drives() const { return drives_; }

private:
    std::deque<DriveEntry> drives_;
};
