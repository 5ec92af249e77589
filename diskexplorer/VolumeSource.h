#pragma once
#include <windows.h>

// Where the scanner's volume calls go. The product opens the volume device and
// asks the NTFS driver with DeviceIoControl; a test installs a source that
// answers the same control codes from an NTFS image, since no test system can
// hand out a real volume (and Wine has no NTFS driver behind the codes).
class VolumeSource {
public:
    virtual ~VolumeSource() = default;
    // As CreateFileW for reading: INVALID_HANDLE_VALUE and the last error set on failure.
    virtual HANDLE Open(const wchar_t* devicePath) = 0;
    // As DeviceIoControl without overlapped I/O.
    virtual BOOL Control(HANDLE volume, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned) = 0;
    virtual void Close(HANDLE volume) = 0;

    // The source in use: the device's unless one was installed.
    static VolumeSource& Current();
    // Installs a source (not owned) for the whole process; null restores the device's.
    static void Install(VolumeSource* source);
};

class DeviceVolumeSource : public VolumeSource {
public:
    HANDLE Open(const wchar_t* devicePath) override;
    BOOL Control(HANDLE volume, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned) override;
    void Close(HANDLE volume) override;
};
