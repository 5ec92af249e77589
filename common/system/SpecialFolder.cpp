#include "common/system/SpecialFolder.h"

tstring SpecialFolderPath(int csidl, HWND owner) {
    TCHAR buffer[1040] = {};
    if (!SHGetSpecialFolderPath(owner, buffer, csidl, TRUE))
        return tstring();
    buffer[1039] = 0;
    return tstring(buffer);
}
