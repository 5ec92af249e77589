#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The UI cache: each process of the main program unpacks its pages into a
// private folder "<base>\QNORVANE.CACHE\QNHTML<pid hex>-<n>", and the host
// control trusts pages from this process's folders only.

// "<base>\QNORVANE.CACHE", created when missing. The base is the Internet
// cache folder, else the local application data folder, else %TEMP%; a
// shell folder of 3 characters or fewer (a drive root) is not used. Never
// with a trailing separator. Throws Win32Error.
tstring GetUiCacheRoot();

// "QNHTML<pid in upper-case hex>-<n in decimal>".
tstring UiCacheFolderName(DWORD processId, unsigned n);

// Creates this process's first folder "QNHTML<pid>-<n>", n = 1, 2 ..., that
// does not exist yet in the root and returns its full path (no trailing
// separator). Throws Win32Error.
tstring CreateUiCacheFolder();
