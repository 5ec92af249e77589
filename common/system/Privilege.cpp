#include "common/system/Privilege.h"
#include "common/errors/CheckObjects.h"
#include "common/system/OsVersion.h"

namespace {

class TokenHandle {
public:
    TokenHandle() = default;
    ~TokenHandle() {
        if (h_)
            CloseHandle(h_);
    }
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;
    HANDLE* operator&() { return &h_; }
    HANDLE Get() const { return h_; }

private:
    HANDLE h_ = nullptr;
};

void OpenAdjustableToken(bool threadToken, TokenHandle& token) {
    BoolCheck ck(_T("OpenProcessToken"));
    if (!threadToken) {
        ck = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
        return;
    }
    if (OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES, FALSE, &token))
        return;
    if (GetLastError() != ERROR_NO_TOKEN) {
        BoolCheck tck(_T("OpenThreadToken"));
        tck = FALSE;
    }
    ck = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
}

}  // namespace

void EnablePrivilege(const tstring& name, bool enable, bool threadToken) {
    if (!IsWindowsNT() && !IsWindowsMajor6())
        return;
    TokenHandle token;
    OpenAdjustableToken(threadToken, token);

    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    BoolCheck ck(_T("LookupPrivilegeValue"));
    ck = LookupPrivilegeValue(nullptr, name.c_str(), &privileges.Privileges[0].Luid);

    BoolCheck adjust(_T("AdjustTokenPrivileges"));
    adjust = AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    // Success with ERROR_NOT_ALL_ASSIGNED means the token lacks the privilege.
    Win32Check assigned(_T("AdjustTokenPrivileges"));
    assigned = LONG(GetLastError());
}
