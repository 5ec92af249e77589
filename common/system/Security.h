#pragma once
#include <windows.h>
#include <accctrl.h>
#include "common/tstring/tstring.h"

// Membership of the caller's effective token in the built-in Administrators
// group (RID 544). IsAdminMember is a second entry point with the same test.
bool IsAdministrator();
bool IsAdminMember();
// Membership in the built-in Power Users group (RID 547).
bool IsPowerUser();

// The TOKEN_USER block of the token (the process token when none is given),
// allocated on the process heap; the caller frees it with HeapFree. Null when
// the token cannot be opened or read.
TOKEN_USER* GetTokenUser(HANDLE token = nullptr);

// The standard text form of a SID ("S-1-5-18"); empty for a null or invalid SID.
tstring SidToText(PSID sid);

// SID text of the token's user (the process token when none is given); empty
// when it cannot be read.
tstring CurrentUserSid(HANDLE token = nullptr);

// SID text of a local or domain account name.
tstring AccountSid(const tstring& account);

// The caller's user name; with samCompatible the domain-qualified form
// ("DOMAIN\user").
tstring GetCurrentUserName(bool samCompatible);

// Gives Authenticated Users full access to the object, inherited by child
// objects and containers, keeping the entries its DACL already has.
void GrantAuthenticatedUsers(HANDLE object, SE_OBJECT_TYPE type);
