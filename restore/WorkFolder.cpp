#include "restore/WorkFolder.h"
#include "common/errors/CheckObjects.h"
#include "common/system/FileSystem.h"

namespace {
const int kMaxAttempts = 1000;
}

WorkFolder::WorkFolder(const tstring& root, const tstring& name) {
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        tstring path = attempt == 0 ? root + name : FormatText(_T("%s%s_%d"), root.c_str(), name.c_str(), attempt);
        // Creation is the test for "new": an existing folder fails with
        // ERROR_ALREADY_EXISTS and the next name is tried.
        if (CreateDirectory(path.c_str(), nullptr)) {
            path_ = path;
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            SetLastError(error);
            BoolCheck ck(FormatText(_T("Can't create folder %s"), path.c_str()));
            ck = FALSE;
        }
    }
    SetLastError(ERROR_ALREADY_EXISTS);
    BoolCheck ck(FormatText(_T("Can't create folder %s%s"), root.c_str(), name.c_str()));
    ck = FALSE;
}

tstring WorkFolder::TrackedFile(const tstring& name) {
    files_.push_back(File(name));
    return files_.back();
}

WorkFolder::~WorkFolder() {
    // A file already moved into place is simply not found.
    for (const tstring& file : files_)
        DeleteFile(file.c_str());
    DeletePath(path_);
}
