#include "common/system/FileSearch.h"
#include "common/system/HandleHolder.h"

namespace {

bool IsDotEntry(const TCHAR* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

size_t FindFiles(const tstring& folder, const tstring& pattern, bool recursive, PathList& files, PathList* folders) {
    tstring base = folder;
    if (!base.empty() && base.back() != '\\' && base.back() != '/')
        base += _T('\\');
    WIN32_FIND_DATA data;
    FindHandleHolder search(FindFirstFile((base + pattern).c_str(), &data));
    if (!search.IsValid())
        return files.size();
    do {
        if (IsDotEntry(data.cFileName))
            continue;
        tstring path = base + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (folders)
                folders->push_back(path);
            // A junction can point back up its own tree; following it never ends.
            if (recursive && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                FindFiles(path, pattern, recursive, files, folders);
        } else {
            files.push_back(path);
        }
    } while (FindNextFile(search, &data));
    return files.size();
}

size_t FindFilesInFolders(PathList folderList, const tstring& pattern, bool recursive, PathList& files) {
    for (const tstring& folder : folderList)
        FindFiles(folder, pattern, recursive, files, nullptr);
    return files.size();
}

uint64_t FileSize(const TCHAR* path) {
    if (!path || !*path)
        return 0;
    HandleHolder file(CreateFile(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid())
        return 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return 0;
    return uint64_t(size.QuadPart);
}
