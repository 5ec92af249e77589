#pragma once
#include <windows.h>

// The local machine lockdown of the process (FEATURE_LOCALMACHINE_LOCKDOWN)
// would keep script from running in the program's pages, which are local
// files. It is switched off while at least one control has a browser; the
// state found before the first is put back after the last, so controls that
// overlap never switch it back on under one another. urlmon is bound by
// name: without it (or its feature functions) nothing is done.
void SuspendLockdown() noexcept;
void ResumeLockdown() noexcept;
