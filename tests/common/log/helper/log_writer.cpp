// log_writer <log path> <line count> <tag>: writes "<tag> <n>" for n = 0 .. count-1.
#include <windows.h>
#include <shellapi.h>
#include <cwchar>
#include "common/log/Log.h"

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4)
        return 2;
    Log log;
    log.SetFileName(argv[1]);
    int count = _wtoi(argv[2]);
    for (int i = 0; i < count; ++i)
        log.Print(LogError, L"%s %d", argv[3], i);
    LocalFree(argv);
    return 0;
}
