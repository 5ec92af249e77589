#pragma once
#include <vector>
#include "common/tstring/tstring.h"

// A new, empty folder for one restore, removed with everything in it when the
// holder goes. A folder of the same name left by an earlier run is never
// reused: its files must not join this restore. The files it is told of go
// one by one first, so the unpacked backup and its hives never stay behind,
// even where the shell cannot remove the folder (a tree too deep for it).
class WorkFolder {
public:
    // root ends with a backslash. The folder is root + name, or root + name +
    // "_<n>" when that is taken. Throws BoolError when none can be created.
    WorkFolder(const tstring& root, const tstring& name);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const tstring& Path() const { return path_; }
    tstring File(const tstring& name) const { return path_ + _T("\\") + name; }
    // name's path in the folder, deleted when the holder goes.
    tstring TrackedFile(const tstring& name);

private:
    tstring path_;
    std::vector<tstring> files_;
};
