#include "common/system/Security.h"
#define SECURITY_WIN32
#include <aclapi.h>
#include <sddl.h>
#include <secext.h>
#include <memory>
#include <vector>
#include "common/errors/CheckObjects.h"
#include "common/system/LocalMemory.h"

namespace {

bool IsBuiltinGroupMember(DWORD groupRid) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID group = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, groupRid, 0, 0, 0, 0, 0, 0, &group))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, group, &member))
        member = FALSE;
    FreeSid(group);
    return member != FALSE;
}

struct HeapBlockFree {
    void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};

class TokenHandle {
public:
    explicit TokenHandle(HANDLE h) : h_(h) {}
    ~TokenHandle() {
        if (h_)
            CloseHandle(h_);
    }
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;

private:
    HANDLE h_;
};

// The entries of a descriptor's DACL as grants for SetEntriesInAcl; they point
// into the descriptor, which must outlive them.
std::vector<EXPLICIT_ACCESS> GrantEntries(PSECURITY_DESCRIPTOR descriptor) {
    BoolCheck ck(_T("GetSecurityDescriptorDacl"));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ck = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    ACL_SIZE_INFORMATION sizeInfo = {};
    ck = GetAclInformation(dacl, &sizeInfo, sizeof(sizeInfo), AclSizeInformation);
    std::vector<EXPLICIT_ACCESS> entries;
    for (DWORD i = 0; i < sizeInfo.AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ck = GetAce(dacl, i, reinterpret_cast<void**>(&ace));
        EXPLICIT_ACCESS entry = {};
        entry.grfAccessPermissions = ace->Mask;
        entry.grfAccessMode = GRANT_ACCESS;
        entry.grfInheritance = ace->Header.AceFlags & VALID_INHERIT_FLAGS;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entry.Trustee.ptstrName = reinterpret_cast<LPTSTR>(&ace->SidStart);
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace

bool IsAdministrator() {
    return IsBuiltinGroupMember(DOMAIN_ALIAS_RID_ADMINS);
}

bool IsAdminMember() {
    return IsBuiltinGroupMember(DOMAIN_ALIAS_RID_ADMINS);
}

bool IsPowerUser() {
    return IsBuiltinGroupMember(DOMAIN_ALIAS_RID_POWER_USERS);
}

TOKEN_USER* GetTokenUser(HANDLE token) {
    HANDLE opened = nullptr;
    if (!token) {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
            return nullptr;
        token = opened;
    }
    TokenHandle closer(opened);

    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return nullptr;
    size += 4;
    void* block = HeapAlloc(GetProcessHeap(), 0, size);
    if (!block)
        return nullptr;
    if (!GetTokenInformation(token, TokenUser, block, size, &size)) {
        HeapFree(GetProcessHeap(), 0, block);
        return nullptr;
    }
    return static_cast<TOKEN_USER*>(block);
}

tstring SidToText(PSID sid) {
    if (!sid || !IsValidSid(sid))
        return tstring();
    const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
    const BYTE* v = authority->Value;
    tstring text(_T("S-1-"));
    if (v[0] != 0 || v[1] != 0) {
        text += FormatText(_T("0x%02x%02x%02x%02x%02x%02x"), v[0], v[1], v[2], v[3], v[4], v[5]);
    } else {
        unsigned long value = (unsigned long)v[2] << 24 | (unsigned long)v[3] << 16 | (unsigned long)v[4] << 8 | v[5];
        text += FormatText(_T("%lu"), value);
    }
    const PUCHAR count = GetSidSubAuthorityCount(sid);
    if (!count)
        return text;
    for (UCHAR i = 0; i < *count; ++i) {
        const PDWORD sub = GetSidSubAuthority(sid, i);
        if (!sub)
            break;
        text += FormatText(_T("-%lu"), (unsigned long)*sub);
    }
    return text;
}

tstring CurrentUserSid(HANDLE token) {
    std::unique_ptr<TOKEN_USER, HeapBlockFree> user(GetTokenUser(token));
    if (!user)
        return tstring();
    return SidToText(user->User.Sid);
}

tstring AccountSid(const tstring& account) {
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    BoolCheck ck(_T("LookupAccountName"));
    if (!LookupAccountName(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use)) {
        // An unknown account fails here with its own code, which is the one to report.
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            ck = FALSE;
    }
    std::vector<BYTE> sid(sidSize ? sidSize : 1);
    std::vector<TCHAR> domain(domainSize + 1);
    ck = LookupAccountName(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use);
    return SidToText(sid.data());
}

tstring GetCurrentUserName(bool samCompatible) {
    TCHAR name[271 + 1];
    ULONG size = ARRAYSIZE(name);
    BoolCheck ck(_T("GetUserName"));
    if (samCompatible) {
        ck = GetUserNameEx(NameSamCompatible, name, &size);
    } else {
        DWORD plainSize = ARRAYSIZE(name);
        ck = GetUserName(name, &plainSize);
    }
    return tstring(name);
}

void GrantAuthenticatedUsers(HANDLE object, SE_OBJECT_TYPE type) {
    PACL oldDacl = nullptr;
    LocalMemory oldDescriptor;
    Win32Check wck(_T("GetSecurityInfo"));
    wck = LONG(GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl, nullptr,
                               reinterpret_cast<PSECURITY_DESCRIPTOR*>(oldDescriptor.Receive())));
    // A null DACL already grants everyone everything; adding one entry would
    // take that access away from everybody else.
    if (!oldDacl)
        return;

    LocalMemory grantDescriptor;
    BoolCheck ck(_T("ConvertStringSecurityDescriptorToSecurityDescriptor"));
    ck = ConvertStringSecurityDescriptorToSecurityDescriptor(
        _T("D:(A;OICI;GA;;;AU)"), SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(grantDescriptor.Receive()),
        nullptr);
    std::vector<EXPLICIT_ACCESS> entries = GrantEntries(grantDescriptor.Get());

    LocalMemory newDacl;
    Win32Check eck(_T("SetEntriesInAcl"));
    eck = LONG(SetEntriesInAcl(ULONG(entries.size()), entries.data(), oldDacl,
                                reinterpret_cast<PACL*>(newDacl.Receive())));
    Win32Check sck(_T("SetSecurityInfo"));
    sck = LONG(SetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, newDacl.As<ACL>(), nullptr));
}
