#pragma once
#include <windows.h>
#include <cstdint>
#include <set>
#include "common/tstring/tstring.h"

class ScanGroup;

// Progress of the whole-hive walk: one sub-task for both hives, moved on by
// the keys four levels below a root.
struct HiveWalkProgress {
    ScanGroup* group = nullptr;
    uint32_t subtaskId = 0;
    double current = 0.0;  // percent reached
    double pending = 0.0;  // percent gathered since the last report
    // The share of one key four levels below a root; sized by a counting pass.
    double increment = 0.0;
    // The names reported so far, by the key object that holds them: registry
    // links (CurrentControlSet, the 32-bit view's Classes) lead to one key by
    // two paths, and the second finding's fix could only fail.
    std::set<tstring> reported;
};

// Walks the key and everything below it, reporting every key name and value
// name that holds a NUL character (such names cannot be reached through the
// Win32 names and are fixed through the native layer). Reads no value data.
// Never throws; unreadable keys and values are skipped. `wow64View` opens the
// first level through the 64-bit view.
void WalkHive(HKEY key, const tstring& path, ScanGroup& group, HiveWalkProgress& progress, int8_t depth,
              bool wow64View);

// The procedure of the group for names with embedded NUL characters: walks
// HKEY_LOCAL_MACHINE, then HKEY_CURRENT_USER. Returns the thread exit code.
DWORD NullNamesGroupProc(ScanGroup& group);
