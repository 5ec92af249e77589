#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// Where the explorer hands files and folders to the shell. The product calls
// ShellExecute; a test installs a recorder, since a test system has no shell
// to open folders in.
class ShellLauncher {
public:
    virtual ~ShellLauncher() = default;
    // ShellExecuteW with the "open" verb; an empty folder passes none.
    virtual void Open(HWND owner, const tstring& file, const tstring& folder, int show) = 0;
    // ShellExecuteExW with the "properties" verb.
    virtual void Properties(HWND owner, const tstring& path) = 0;

    static ShellLauncher& Current();
    // Installs a launcher (not owned) for the whole process; null restores the shell's.
    static void Install(ShellLauncher* launcher);
};

class SystemShellLauncher : public ShellLauncher {
public:
    void Open(HWND owner, const tstring& file, const tstring& folder, int show) override;
    void Properties(HWND owner, const tstring& path) override;
};
