#pragma once
#include "common/tstring/tstring.h"

// The version of the embedded browser: the file version of IEFRAME.DLL when
// it is loaded, else of SHDOCVW.DLL (from Internet Explorer 7 on shdocvw
// keeps the system's version while ieframe has the browser's). Read once.
struct BrowserVersion {
    int major = 0;
    int minor = 0;
    // Compared as numbers: "10.0" is later than "7.0".
    bool AtLeast(int wantMajor, int wantMinor) const {
        return major > wantMajor || (major == wantMajor && minor >= wantMinor);
    }
};

BrowserVersion GetIEVersion();
// Tests set the version the program sees; a major of 0 reads the real one again.
void SetIEVersion(BrowserVersion version);
// "major.minor[...]" as numbers; 0.0 for anything unreadable.
BrowserVersion ParseBrowserVersion(const tstring& text);
