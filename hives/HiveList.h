#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"

// The SIDs of the user profiles, as HKLM "SOFTWARE\Microsoft\Windows
// NT\CurrentVersion\ProfileList" lists them, in the order of enumeration.
class HiveList : public std::vector<tstring> {
public:
    static const TCHAR kProfileListKey[];
    static const TCHAR kUserSidPrefix[];  // "S-1-5-21-": profiles of real users

    // all false keeps only the SIDs beginning "S-1-5-21-". Throws Win32Error
    // when the key cannot be read.
    void Refresh(bool all);
    // The index of the equal SID (case-sensitive), -1 when none.
    int IndexOf(const tstring& sid) const;
    // The profile's ntuser.dat (classes false) or UsrClass.dat (true) path,
    // environment variables expanded; empty when it cannot be read.
    tstring HivePath(int index, bool classes) const;
};
