#pragma once
#include "common/tstring/tstring.h"

// Enables or disables one named privilege ("SeBackupPrivilege"). With
// threadToken the calling thread's impersonation token is changed, or the
// process token when the thread has none (which then affects every thread).
// A privilege the token does not hold raises Win32Error 1300
// (ERROR_NOT_ALL_ASSIGNED). Does nothing on systems without privileges.
void EnablePrivilege(const tstring& name, bool enable, bool threadToken = true);
