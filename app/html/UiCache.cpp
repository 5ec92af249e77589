#include "app/html/UiCache.h"
#include <shlwapi.h>
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"
#include "common/log/Log.h"
#include "common/settings/UiCacheFolder.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"

namespace {

tstring folder;
bool filled = false;

const DWORD kSmallestNews = 1024;

}  // namespace

tstring UiPackagePath() {
    tstring path = GetModulePath();
    size_t slash = path.find_last_of(L'\\');
    path.erase(slash == tstring::npos ? 0 : slash + 1);
    return path + L"qnguires.qna";
}

void ExtractUiPackage(const tstring& package, const tstring& target) {
    FilePack pack;
    pack.Open(package, true);
    pack.ExtractAll(target);
    pack.Close();

    // A news page this short is a placeholder: the start page then shows none.
    tstring news = target + L"\\news.htm";
    HandleHolder file(::CreateFileW(news.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) throw Win32Error(static_cast<int32_t>(::GetLastError()));
    DWORD size = ::GetFileSize(file, nullptr);
    file.Close();
    if (size < kSmallestNews) ::DeleteFileW(news.c_str());
}

tstring GetUiCacheFolder(bool pathOnly) {
    if (!folder.empty() && ::PathIsDirectoryW(folder.c_str()) && (pathOnly || filled)) return folder;
    if (folder.empty() || !::PathIsDirectoryW(folder.c_str())) {
        folder = CreateUiCacheFolder();
        filled = false;
    }
    tstring package = UiPackagePath();
    if (!::PathFileExistsW(package.c_str())) {
        Log::Instance().Print(LogError, L"[error] File not found: qnguires.qna");
        throw Win32Error(ERROR_FILE_NOT_FOUND);
    }
    if (!pathOnly) {
        ExtractUiPackage(package, folder);
        filled = true;
    }
    return folder;
}

void DeleteUiCacheFolder() {
    if (folder.empty()) return;
    DeletePath(folder);
    folder.clear();
    filled = false;
}
