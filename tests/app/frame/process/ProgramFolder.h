#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "TempFolder.h"
#include "common/tstring/tstring.h"

// A folder holding a copy of the built program beside its UI package (and the
// control and engine when built), from which tests start it as a user would:
// unregistered, with the package found beside the program.
class ProgramFolder {
public:
    explicit ProgramFolder(const wchar_t* label);
    ~ProgramFolder();

    tstring Path() const { return folder_.Path(); }
    tstring Package() const { return folder_ / L"qnguires.qna"; }
    // The built package's bytes, for tests that plant damaged ones.
    std::string BuiltPackage() const;

    // Starts "Orvane.exe <arguments>"; false when it did not start.
    bool Start(const wchar_t* arguments);
    DWORD ProcessId() const { return process_.dwProcessId; }
    // Waits for the end; the exit code, or STILL_ACTIVE on a time-out.
    DWORD WaitExit(DWORD milliseconds);
    void Kill();

    // A top-level window of the process with this class (hidden ones too).
    HWND FindWindowOf(const wchar_t* className) const;
    // Polls for such a window; NULL after the time-out.
    HWND WaitForWindow(const wchar_t* className, DWORD milliseconds, bool visible = false) const;
    // The cache folders the process made ("QNHTML<pid>-<n>").
    std::vector<tstring> CacheFolders() const;

private:
    TempFolder folder_;
    PROCESS_INFORMATION process_ = {};
};

// Every cache folder of every process, sorted.
std::vector<tstring> AllCacheFolders();
// The built tree seen from Wine (Z:).
tstring BuildPath(const wchar_t* relative);
// The static text of a message box.
tstring MessageBoxText(HWND box);
