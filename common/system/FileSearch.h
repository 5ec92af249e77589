#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>
#include "common/tstring/tstring.h"

using PathList = std::vector<tstring>;

// Appends folder + name of every file matching pattern to files and, when
// folders is given, of every matching sub-folder to folders. With recursive,
// matching sub-folders are searched too (only those whose own names match).
// A folder that cannot be searched counts as empty. Returns files.size().
size_t FindFiles(const tstring& folder, const tstring& pattern, bool recursive, PathList& files,
                 PathList* folders = nullptr);

// FindFiles on each folder in order; returns files.size().
size_t FindFilesInFolders(PathList folderList, const tstring& pattern, bool recursive, PathList& files);

// Size of a file in bytes; 0 for an empty path or a file that cannot be opened.
uint64_t FileSize(const TCHAR* path);
inline uint64_t FileSize(const tstring& path) { return FileSize(path.c_str()); }
