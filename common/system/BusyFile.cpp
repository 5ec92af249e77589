#include "common/system/BusyFile.h"
#include "common/errors/ErrorBase.h"

bool IsMissingFileCode(int32_t code) {
    return code == FoldWin32(ERROR_FILE_NOT_FOUND) || code == FoldWin32(ERROR_PATH_NOT_FOUND);
}

bool IsBusyFileCode(int32_t code) {
    return code == FoldWin32(ERROR_SHARING_VIOLATION) || code == FoldWin32(ERROR_LOCK_VIOLATION);
}

tstring DamagedFileCopy(const tstring& path) {
    return path + _T(".damaged");
}

int32_t SetDamagedFileAside(const tstring& path) {
    if (MoveFileEx(path.c_str(), DamagedFileCopy(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return FoldWin32(int32_t(GetLastError()));
}
