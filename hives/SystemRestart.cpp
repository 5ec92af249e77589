#include "hives/SystemRestart.h"
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/Privilege.h"

namespace {

SystemRestartOps systemRestart;
SystemRestart* installed = nullptr;

// A missing privilege shows as the shutdown call's own failure.
void EnableShutdownPrivilege() {
    try {
        EnablePrivilege(_T("SeShutdownPrivilege"), true);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, _T("[error] %s"), e.Message().c_str());
    }
}

}  // namespace

BOOL SystemRestartOps::InitiateShutdown(const tstring& message, DWORD timeout, bool force, bool reboot,
                                        DWORD reason) {
    EnableShutdownPrivilege();
    std::vector<WCHAR> text(message.begin(), message.end());
    text.push_back(0);
    return InitiateSystemShutdownExW(nullptr, text.data(), timeout, force, reboot, reason);
}

BOOL SystemRestartOps::ExitWindowsEx(UINT flags, DWORD reason) {
    EnableShutdownPrivilege();
    return ::ExitWindowsEx(flags, reason);
}

void SystemRestartOps::ExitProcess(UINT code) {
    ::ExitProcess(code);
}

SystemRestart& GetSystemRestart() {
    SystemRestart* restart = installed;
    return restart ? *restart : systemRestart;
}

SystemRestart* SetSystemRestart(SystemRestart* restart) {
    SystemRestart* previous = installed;
    installed = restart;
    return previous ? previous : &systemRestart;
}
