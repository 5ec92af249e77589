#pragma once
#include <windows.h>

namespace compact {

// What the Winlogon notifications and the rundll32 entry do. Each handler
// writes its own events; none of them throws.

// Creates the request mapping; the logon process keeps it open until shutdown.
void OnLogon();

// Brings the logging-off user's job state files up to date.
void OnLogoff(HANDLE userToken);

// Carries out pending requests, unless a restore waits for this restart.
void OnShutdown();

// Windows 6: compacts every hive at the start after the request, then restarts.
void OnNextStart();

enum RequestChange {
    ClearRequests = 0,
    RequestCurrentUser = 1,
    RequestAll = 2,
};

// Changes the request list; a missing mapping makes this do nothing.
void ChangeRequests(int change);

}  // namespace compact
