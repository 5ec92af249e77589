#include "common/system/SpecialFolder.h"

tstring SpecialFolderPath(int csidl, bool create, HWND owner) {
    TCHAR buffer[1040] = {};
    if (!SHGetSpecialFolderPath(owner, buffer, csidl, create ? TRUE : FALSE))
        return tstring();
    buffer[1039] = 0;
    return tstring(buffer);
}
