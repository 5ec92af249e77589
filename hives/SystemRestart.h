#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// Restarting Windows and ending the program. A restore and a compaction end
// this way; tests install a recorder instead, since nothing may shut down the
// machine that runs them.
class SystemRestart {
public:
    virtual ~SystemRestart() = default;

    // InitiateSystemShutdownExW on this machine, SeShutdownPrivilege enabled
    // first. timeout in seconds; force closes applications without asking.
    virtual BOOL InitiateShutdown(const tstring& message, DWORD timeout, bool force, bool reboot, DWORD reason) = 0;
    // ExitWindowsEx, SeShutdownPrivilege enabled first.
    virtual BOOL ExitWindowsEx(UINT flags, DWORD reason) = 0;
    // ExitProcess; a recorder returns.
    virtual void ExitProcess(UINT code) = 0;
};

class SystemRestartOps : public SystemRestart {
public:
    BOOL InitiateShutdown(const tstring& message, DWORD timeout, bool force, bool reboot, DWORD reason) override;
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override;
    void ExitProcess(UINT code) override;
};

// The installed object: the system's unless another was set.
SystemRestart& GetSystemRestart();
// Installs restart (null: the system's again); returns the one installed before.
SystemRestart* SetSystemRestart(SystemRestart* restart);
