// Stands in for the user's web browser: appends each address it is started
// with to the file named first on its command line, one per line.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3)
        return 1;
    HANDLE file = CreateFileW(arguments[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    for (int i = 2; i < count; ++i) {
        DWORD written = 0;
        WriteFile(file, arguments[i], DWORD(wcslen(arguments[i]) * sizeof(wchar_t)), &written, nullptr);
        WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    }
    CloseHandle(file);
    return 0;
}
