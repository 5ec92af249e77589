#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"
#include "hives/SystemRestart.h"

// Records every restart request instead of shutting the test machine down.
class RecordingRestart : public SystemRestart {
public:
    struct Call {
        tstring what;  // "InitiateShutdown", "ExitWindowsEx", "ExitProcess"
        tstring message;
        DWORD timeout = 0;
        bool force = false;
        bool reboot = false;
        DWORD flags = 0;
        DWORD reason = 0;
    };

    RecordingRestart() : previous_(SetSystemRestart(this)) {}
    ~RecordingRestart() override { SetSystemRestart(previous_); }
    RecordingRestart(const RecordingRestart&) = delete;
    RecordingRestart& operator=(const RecordingRestart&) = delete;

    BOOL InitiateShutdown(const tstring& message, DWORD timeout, bool force, bool reboot, DWORD reason) override {
        Call call;
        call.what = _T("InitiateShutdown");
        call.message = message;
        call.timeout = timeout;
        call.force = force;
        call.reboot = reboot;
        call.reason = reason;
        calls.push_back(call);
        return TRUE;
    }
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override {
        Call call;
        call.what = _T("ExitWindowsEx");
        call.flags = flags;
        call.reason = reason;
        calls.push_back(call);
        return TRUE;
    }
    void ExitProcess(UINT code) override {
        Call call;
        call.what = _T("ExitProcess");
        call.flags = code;
        calls.push_back(call);
    }

    std::vector<Call> calls;

private:
    SystemRestart* previous_;
};
