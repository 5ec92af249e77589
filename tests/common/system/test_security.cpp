#include <doctest/doctest.h>
#include <aclapi.h>
#include <sddl.h>
#include <memory>
#include <string>
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/system/LocalMemory.h"
#include "common/system/Privilege.h"
#include "common/system/Security.h"

namespace {

struct SidFree {
    void operator()(void* sid) const { FreeSid(sid); }
};
using SidHolder = std::unique_ptr<void, SidFree>;

SidHolder MakeSid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, std::vector<DWORD> subs) {
    subs.resize(8, 0);
    PSID sid = nullptr;
    REQUIRE(AllocateAndInitializeSid(&authority, count, subs[0], subs[1], subs[2], subs[3], subs[4], subs[5], subs[6],
                                     subs[7], &sid));
    return SidHolder(sid);
}

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() {
        if (h_ && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE* operator&() { return &h_; }
    HANDLE Get() const { return h_; }

private:
    HANDLE h_;
};

// A privilege's attributes in a token, read independently of the code under
// test; -1 when the token does not hold it.
long PrivilegeAttributes(HANDLE token, const wchar_t* name) {
    LUID luid;
    REQUIRE(LookupPrivilegeValueW(nullptr, name, &luid));
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> block(size);
    REQUIRE(GetTokenInformation(token, TokenPrivileges, block.data(), size, &size));
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(block.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& l = privileges->Privileges[i].Luid;
        if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart)
            return long(privileges->Privileges[i].Attributes);
    }
    return -1;
}

bool PrivilegeEnabled(HANDLE token, const wchar_t* name) {
    long attributes = PrivilegeAttributes(token, name);
    return attributes >= 0 && (attributes & SE_PRIVILEGE_ENABLED) != 0;
}

bool ProcessPrivilegeEnabled(const wchar_t* name) {
    Handle token;
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    return PrivilegeEnabled(token.Get(), name);
}

// Whether the process token lists a group SID as enabled, as a second opinion
// on CheckTokenMembership.
bool TokenListsEnabledGroup(DWORD rid) {
    Handle token;
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> block(size);
    REQUIRE(GetTokenInformation(token.Get(), TokenGroups, block.data(), size, &size));
    SidHolder group = MakeSid(SECURITY_NT_AUTHORITY, 2, {SECURITY_BUILTIN_DOMAIN_RID, rid});
    auto* groups = reinterpret_cast<TOKEN_GROUPS*>(block.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (EqualSid(groups->Groups[i].Sid, group.get()))
            return (groups->Groups[i].Attributes & SE_GROUP_ENABLED) != 0;
    }
    return false;
}

tstring DaclText(HANDLE object, SE_OBJECT_TYPE type) {
    LocalMemory descriptor;
    REQUIRE(GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Receive())) == ERROR_SUCCESS);
    LocalMemory text;
    REQUIRE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.Get(), SDDL_REVISION_1,
                                                                 DACL_SECURITY_INFORMATION,
                                                                 reinterpret_cast<LPWSTR*>(text.Receive()), nullptr));
    return tstring(text.As<wchar_t>());
}

void SetDaclText(HANDLE object, SE_OBJECT_TYPE type, const wchar_t* sddl) {
    LocalMemory descriptor;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Receive()), nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    REQUIRE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
    REQUIRE(SetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr) ==
            ERROR_SUCCESS);
}

std::string Narrow(const tstring& text) {
    return std::string(text.begin(), text.end());
}

bool Contains(const tstring& text, const wchar_t* part) {
    return text.find(part) != tstring::npos;
}

tstring TempFilePath(const wchar_t* stem) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return FormatText(L"%s%s-%lu.tmp", folder, stem, GetCurrentProcessId());
}

}  // namespace

TEST_CASE("SidToText writes the standard SID form") {
    SUBCASE("well-known system account") {
        BYTE buffer[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(buffer);
        REQUIRE(CreateWellKnownSid(WinLocalSystemSid, nullptr, buffer, &size));
        CHECK(SidToText(buffer) == L"S-1-5-18");
    }
    SUBCASE("domain-style account with sub-authorities above 2^31") {
        SidHolder sid = MakeSid(SECURITY_NT_AUTHORITY, 5, {21, 3000000000u, 2, 4294967295u, 1001});
        CHECK(SidToText(sid.get()) == L"S-1-5-21-3000000000-2-4294967295-1001");
    }
    SUBCASE("authority with a non-zero high byte is written as twelve hex digits") {
        SidHolder sid = MakeSid({{0x01, 0x02, 0x0A, 0xB0, 0x0C, 0xFF}}, 2, {7, 8});
        CHECK(SidToText(sid.get()) == L"S-1-0x01020ab00cff-7-8");
    }
    SUBCASE("authority up to 32 bits is one big-endian decimal number") {
        SidHolder sid = MakeSid({{0, 0, 0x01, 0x02, 0x03, 0x04}}, 1, {9});
        CHECK(SidToText(sid.get()) == L"S-1-16909060-9");
    }
    SUBCASE("a SID without sub-authorities ends after the authority") {
        SidHolder sid = MakeSid(SECURITY_WORLD_SID_AUTHORITY, 0, {});
        CHECK(SidToText(sid.get()) == L"S-1-1");
    }
    SUBCASE("null and invalid SIDs give the empty text") {
        CHECK(SidToText(nullptr).empty());
        BYTE garbage[16] = {7, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
        CHECK(SidToText(garbage).empty());
    }
}

TEST_CASE("CurrentUserSid and AccountSid agree with the system's own SID text") {
    Handle token;
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> block(size);
    REQUIRE(GetTokenInformation(token.Get(), TokenUser, block.data(), size, &size));
    LocalMemory expected;
    REQUIRE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(block.data())->User.Sid,
                                   reinterpret_cast<LPWSTR*>(expected.Receive())));

    tstring sid = CurrentUserSid();
    CHECK(sid == expected.As<wchar_t>());
    CHECK(sid.rfind(L"S-1-5-", 0) == 0);
    CHECK(CurrentUserSid(token.Get()) == sid);

    TOKEN_USER* user = GetTokenUser(token.Get());
    REQUIRE(user != nullptr);
    CHECK(SidToText(user->User.Sid) == sid);
    HeapFree(GetProcessHeap(), 0, user);

    // A handle that is no token gives no user rather than an error.
    CHECK(GetTokenUser(GetCurrentProcess()) == nullptr);
    CHECK(CurrentUserSid(GetCurrentProcess()).empty());

    CHECK(AccountSid(GetCurrentUserName(false)) == sid);
    CHECK(AccountSid(GetCurrentUserName(true)) == sid);
}

TEST_CASE("AccountSid of an unknown account raises the lookup's own error") {
    try {
        AccountSid(L"no-such-account-7f3a91c2");
        FAIL("no error raised");
    } catch (const ErrorBase& e) {
        CHECK(uint32_t(e.Code()) == 0x80070534u);  // ERROR_NONE_MAPPED
    }
}

TEST_CASE("GetCurrentUserName gives the plain and the domain-qualified name") {
    wchar_t expected[300];
    DWORD size = ARRAYSIZE(expected);
    REQUIRE(GetUserNameW(expected, &size));
    tstring plain = GetCurrentUserName(false);
    CHECK(plain == expected);
    tstring qualified = GetCurrentUserName(true);
    size_t slash = qualified.find(L'\\');
    REQUIRE(slash != tstring::npos);
    CHECK(slash > 0);
    CHECK(CompareNoCase(qualified.substr(slash + 1).c_str(), plain.c_str()) == 0);
}

TEST_CASE("group membership checks follow the token's enabled groups") {
    CHECK(IsAdministrator() == TokenListsEnabledGroup(DOMAIN_ALIAS_RID_ADMINS));
    CHECK(IsAdminMember() == IsAdministrator());
    CHECK(IsPowerUser() == TokenListsEnabledGroup(DOMAIN_ALIAS_RID_POWER_USERS));
}

TEST_CASE("EnablePrivilege switches a privilege of the process or of the impersonation token") {
    SUBCASE("a thread without an impersonation token changes the process token") {
        EnablePrivilege(L"SeBackupPrivilege", true, true);
        CHECK(ProcessPrivilegeEnabled(L"SeBackupPrivilege"));
        EnablePrivilege(L"SeBackupPrivilege", false, true);
        CHECK_FALSE(ProcessPrivilegeEnabled(L"SeBackupPrivilege"));
        EnablePrivilege(L"SeBackupPrivilege", true, false);
        CHECK(ProcessPrivilegeEnabled(L"SeBackupPrivilege"));
        EnablePrivilege(L"SeBackupPrivilege", false, false);
        CHECK_FALSE(ProcessPrivilegeEnabled(L"SeBackupPrivilege"));
    }
    SUBCASE("an impersonating thread changes only its own token") {
        EnablePrivilege(L"SeRestorePrivilege", false, false);
        REQUIRE(ImpersonateSelf(SecurityImpersonation));
        struct Revert {
            ~Revert() { RevertToSelf(); }
        } revert;
        EnablePrivilege(L"SeRestorePrivilege", true, true);
        Handle threadToken;
        REQUIRE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken));
        CHECK(PrivilegeEnabled(threadToken.Get(), L"SeRestorePrivilege"));
        CHECK_FALSE(ProcessPrivilegeEnabled(L"SeRestorePrivilege"));
    }
}

TEST_CASE("EnablePrivilege reports privileges the token lacks and names that do not exist") {
    Handle token;
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    const wchar_t* missing = nullptr;
    for (const wchar_t* name : {L"SeCreateTokenPrivilege", L"SeTcbPrivilege", L"SeAssignPrimaryTokenPrivilege",
                                L"SeLockMemoryPrivilege", L"SeMachineAccountPrivilege"}) {
        if (PrivilegeAttributes(token.Get(), name) < 0) {
            missing = name;
            break;
        }
    }
    REQUIRE(missing != nullptr);
    try {
        EnablePrivilege(missing, true, false);
        FAIL("no error for a privilege the token does not hold");
    } catch (const Win32Error& e) {
        CHECK(uint32_t(e.Code()) == 0x80070514u);  // ERROR_NOT_ALL_ASSIGNED
    }
    try {
        EnablePrivilege(L"SeNoSuchThingPrivilege", true, true);
        FAIL("no error for an unknown privilege");
    } catch (const BoolError& e) {
        CHECK(uint32_t(e.Code()) == 0x80070521u);  // ERROR_NO_SUCH_PRIVILEGE
    }
}

TEST_CASE("GrantAuthenticatedUsers adds the inherited full-access entry and keeps the others") {
    SUBCASE("file") {
        tstring path = TempFilePath(L"sysinfo-grant");
        Handle file(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC, 0, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        REQUIRE(file.Get() != INVALID_HANDLE_VALUE);
        SetDaclText(file.Get(), SE_FILE_OBJECT, L"D:(A;;FR;;;WD)(A;;FA;;;BA)");
        // Wine derives file DACLs from the Unix mode bits, so what was written
        // can only be read back where the file system keeps the DACL itself.
        bool keepsDacl = DaclText(file.Get(), SE_FILE_OBJECT) == L"D:(A;;FR;;;WD)(A;;FA;;;BA)";
        REQUIRE_NOTHROW(GrantAuthenticatedUsers(file.Get(), SE_FILE_OBJECT));
        if (keepsDacl) {
            tstring dacl = DaclText(file.Get(), SE_FILE_OBJECT);
            INFO(Narrow(dacl));
            CHECK((Contains(dacl, L"(A;OICI;GA;;;AU)") || Contains(dacl, L"(A;OICI;FA;;;AU)")));
            CHECK(Contains(dacl, L"(A;;FR;;;WD)"));
            CHECK(Contains(dacl, L"(A;;FA;;;BA)"));
        }
    }
    SUBCASE("registry key") {
        tstring keyPath = FormatText(L"Software\\OrvaneTest\\sysinfo\\Grant-%lu", GetCurrentProcessId());
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, READ_CONTROL | WRITE_DAC | KEY_READ,
                                nullptr, &key, nullptr) == ERROR_SUCCESS);
        struct Cleanup {
            HKEY key;
            tstring path;
            ~Cleanup() {
                RegCloseKey(key);
                RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
                RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\sysinfo");
            }
        } cleanup{key, keyPath};
        SUBCASE("a null DACL, which already lets everyone in, is left alone") {
            REQUIRE(SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS);
            tstring before = DaclText(key, SE_REGISTRY_KEY);
            INFO(Narrow(before));
            GrantAuthenticatedUsers(key, SE_REGISTRY_KEY);
            CHECK(DaclText(key, SE_REGISTRY_KEY) == before);
        }
        SetDaclText(key, SE_REGISTRY_KEY, L"D:(A;;KR;;;WD)(A;CI;KA;;;BA)");
        GrantAuthenticatedUsers(key, SE_REGISTRY_KEY);
        tstring dacl = DaclText(key, SE_REGISTRY_KEY);
        INFO(Narrow(dacl));
        CHECK((Contains(dacl, L"(A;OICI;GA;;;AU)") || Contains(dacl, L"(A;OICI;KA;;;AU)")));
        CHECK(Contains(dacl, L"(A;;KR;;;WD)"));
        CHECK(Contains(dacl, L"(A;CI;KA;;;BA)"));
    }
}

TEST_CASE("GrantAuthenticatedUsers on an invalid handle raises") {
    CHECK_THROWS_AS(GrantAuthenticatedUsers(nullptr, SE_FILE_OBJECT), Win32Error);
}
