#pragma once
#include <windows.h>
#include <cstdint>
#include "common/tstring/tstring.h"

// The counting build (CMake option ORVANE_REGISTRY_COUNTS) counts every
// registry call of the engine by scan group, rule and kind, and writes the
// table to the file named by the environment variable
// ORVANE_REGISTRY_COUNTS when the engine module goes. Ordinary builds keep
// only the empty labelling calls.
namespace RegistryCallCounter {

#ifdef ORVANE_REGISTRY_COUNTS
// Calls of this thread from now on count under group and rule.
void Label(uint32_t group, const tstring& rule);
#else
inline void Label(uint32_t, const tstring&) {}
#endif

}  // namespace RegistryCallCounter

#ifdef ORVANE_REGISTRY_COUNTS
LONG WINAPI CountedRegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
LONG WINAPI CountedRegOpenKeyW(HKEY, LPCWSTR, PHKEY);
LONG WINAPI CountedRegCloseKey(HKEY);
LONG WINAPI CountedRegEnumKeyExW(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPWSTR, LPDWORD, PFILETIME);
LONG WINAPI CountedRegEnumValueW(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
LONG WINAPI CountedRegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
LONG WINAPI CountedRegQueryInfoKeyW(HKEY, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                    LPDWORD, LPDWORD, PFILETIME);
#define RegOpenKeyExW CountedRegOpenKeyExW
#define RegOpenKeyW CountedRegOpenKeyW
#define RegCloseKey CountedRegCloseKey
#define RegEnumKeyExW CountedRegEnumKeyExW
#define RegEnumValueW CountedRegEnumValueW
#define RegQueryValueExW CountedRegQueryValueExW
#define RegQueryInfoKeyW CountedRegQueryInfoKeyW
#endif
