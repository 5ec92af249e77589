#include "htmlcontrol/UrlPolicy.h"
#include <shlwapi.h>
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/settings/UiCacheFolder.h"
#include "common/system/WebAddress.h"

namespace {
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.length() >= prefix.length() &&
           CompareStringOrdinal(text.c_str(), int(prefix.length()), prefix.c_str(), int(prefix.length()),
                                TRUE) == CSTR_EQUAL;
}

// The local path a file: URL names (%XX decoded; '?' and '#' kept), or the
// text itself when it is no file: URL. Empty when the URL cannot be read.
std::wstring LocalPath(const wchar_t* url) {
    if (StrCmpNIW(url, L"file:", 5) != 0)
        return url;
    std::vector<wchar_t> buffer(8192);
    DWORD length = DWORD(buffer.size());
    if (FAILED(PathCreateFromUrlW(url, buffer.data(), &length, 0)))
        return std::wstring();
    return std::wstring(buffer.data());
}

// "QNHTML<pid>-<n>" exactly as the UI cache names its folders.
bool IsOwnFolderName(const std::wstring& name, DWORD processId) {
    const std::wstring prefix = FormatText(L"QNHTML%X-", unsigned(processId));
    if (!StartsWithNoCase(name, prefix))
        return false;
    const std::wstring number = name.substr(prefix.length());
    if (number.empty() || number.length() > 10 || number[0] == L'0')
        return false;
    for (wchar_t c : number)
        if (c < L'0' || c > L'9')
            return false;
    return true;
}

// Whether a path below the folder stays inside it: no "." or ".." segment
// (also not behind a '?' or '#', which a browser may resolve as part of the
// path) and no '%' left after decoding (a second round of decoding would
// make one).
bool StaysInside(const std::wstring& remainder) {
    const size_t cut = remainder.find_first_of(L"?#");
    const std::wstring file = remainder.substr(0, cut);
    if (file.empty() || file.back() == L'\\' || file.find(L'%') != std::wstring::npos)
        return false;
    size_t start = 0;
    for (;;) {
        size_t end = remainder.find(L'\\', start);
        std::wstring segment = remainder.substr(start, end == std::wstring::npos ? end : end - start);
        if (segment == L"." || segment == L"..")
            return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

const tstring* ProcessCacheRoot() {
    // The root is the same for the life of the process; a root that cannot be
    // made leaves no page trusted.
    static const tstring root = [] {
        try {
            return GetUiCacheRoot();
        } catch (const ErrorBase&) {
            return tstring();
        }
    }();
    return root.empty() ? nullptr : &root;
}
}

bool IsProgramPageIn(const wchar_t* url, const tstring& cacheRoot, DWORD processId) {
    if (!url || cacheRoot.empty())
        return false;
    if (CompareStringOrdinal(url, -1, L"about:blank", -1, TRUE) == CSTR_EQUAL)
        return true;
    std::wstring path = LocalPath(url);
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    // UNC paths and "\\?\" forms never name the cache folder.
    if (path.length() < 3 || path[0] == L'\\')
        return false;
    const std::wstring root = cacheRoot + L"\\";
    if (!StartsWithNoCase(path, root))
        return false;
    const std::wstring rest = path.substr(root.length());
    const size_t slash = rest.find(L'\\');
    if (slash == std::wstring::npos || !IsOwnFolderName(rest.substr(0, slash), processId))
        return false;
    return StaysInside(rest.substr(slash + 1));
}

bool IsProgramPage(const wchar_t* url) noexcept {
    try {
        const tstring* root = ProcessCacheRoot();
        return root && IsProgramPageIn(url, *root, GetCurrentProcessId());
    } catch (...) {
        // The security manager asks from inside COM calls: a page that
        // cannot be judged is not trusted.
        return false;
    }
}

bool IsAllowedUrlAction(DWORD action) {
    return (action >= 0x1000 && action <= 0x11FF) || action == 0x1201 || action == 0x1203 ||
           (action >= 0x1400 && action <= 0x15FF) || (action >= 0x1600 && action <= 0x17FF);
}

NavigationVerdict JudgeNavigation(const wchar_t* url, bool topLevelFrame) {
    if (!url)
        return NavigationVerdict::Refuse;
    if (IsProgramPage(url) || StrCmpNIW(url, L"javascript:", 11) == 0)
        return NavigationVerdict::Allow;
    if (topLevelFrame && IsWebAddress(url))
        return NavigationVerdict::OpenInBrowser;
    return NavigationVerdict::Refuse;
}
