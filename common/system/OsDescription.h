#pragma once
#include <windows.h>
#include <oleauto.h>
#include "common/tstring/tstring.h"

// The operating system's marketing name and edition, for example
// "Microsoft Windows XP Professional " or "Microsoft Windows Vista"; empty
// off the NT platform, "unknown" when no version can be read.
tstring OsName();

// "OS <platform> , build(<number>), <service pack>" as a BSTR the caller
// frees. Raises HRError E_OUTOFMEMORY when the string cannot be allocated.
BSTR PlatformText();

// The naming rules behind OsName and PlatformText, for a given version record.
// extended says whether the product type and suite mask of info are valid.
tstring OsNameFor(const OSVERSIONINFOEXW& info, bool extended);
tstring PlatformNameFor(DWORD platformId, DWORD major, DWORD minor);
