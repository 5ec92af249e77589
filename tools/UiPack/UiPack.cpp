// UiPack: packs a folder tree (hidden files left out) into a FilePack file,
// replacing the file as a whole. The build packs app/ui into the UI package
// with it.
//
//   UiPack <package file> <folder>
#include <windows.h>
#include <cstdio>
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fwprintf(stderr, L"usage: UiPack <package file> <folder>\n");
        return 2;
    }
    const tstring package = argv[1];
    const tstring folder = argv[2];
    // FilePack opens an existing file to add to it; a package built from an
    // older tree would keep entries whose files were deleted since. Writing
    // beside it and moving over it also leaves no half-written package when
    // the build is stopped.
    const tstring partial = package + L".partial";
    DeleteFileW(partial.c_str());
    try {
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
            throw Win32Error(GetLastError());
        FilePack pack(partial, folder);
        pack.Close();
    } catch (const ErrorBase& e) {
        fwprintf(stderr, L"UiPack: %ls: %ls\n", folder.c_str(), e.Message().c_str());
        DeleteFileW(partial.c_str());
        return 1;
    }
    if (!MoveFileExW(partial.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        fwprintf(stderr, L"UiPack: cannot replace %ls (%lu)\n", package.c_str(), GetLastError());
        DeleteFileW(partial.c_str());
        return 1;
    }
    return 0;
}
