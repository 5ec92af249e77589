#include "compact/Exports.h"
#include "compact/Handlers.h"
#include "compact/Registration.h"

// Every entry point catches everything: an exception that left one would end
// Winlogon. The handlers themselves decide what is logged.

extern "C" DWORD WINAPI Register() {
    return DWORD(compact::RegisterLibrary());
}

extern "C" DWORD WINAPI Unregister() {
    return DWORD(compact::UnregisterLibrary());
}

extern "C" void WINAPI WLEventLogon(PWLX_NOTIFICATION_INFO) {
    try {
        compact::OnLogon();
    } catch (...) {
    }
}

extern "C" void WINAPI WLEventLogoff(PWLX_NOTIFICATION_INFO info) {
    try {
        compact::OnLogoff(info ? info->hToken : nullptr);
    } catch (...) {
    }
}

extern "C" void WINAPI WLEventShutdown(PWLX_NOTIFICATION_INFO) {
    try {
        compact::OnShutdown();
    } catch (...) {
    }
}

extern "C" void CALLBACK OnRunOnce(HWND, HINSTANCE, LPSTR, int) {
    try {
        compact::OnNextStart();
    } catch (...) {
    }
}

extern "C" void WINAPI FlagAll() {
    try {
        compact::ChangeRequests(compact::RequestAll);
    } catch (...) {
    }
}

extern "C" void WINAPI FlagCurrent() {
    try {
        compact::ChangeRequests(compact::RequestCurrentUser);
    } catch (...) {
    }
}

extern "C" void WINAPI UnFlag() {
    try {
        compact::ChangeRequests(compact::ClearRequests);
    } catch (...) {
    }
}

extern "C" DWORD WINAPI CheckDeferredTasks() {
    return 0;
}
