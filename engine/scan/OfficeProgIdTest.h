#pragma once
#include "engine/scan/EntryTest.h"

class NamedCache;

// Office add-ins: each add-in key is named by the ProgID of its COM object,
// judged by the ProgID checker's verdict in "ProgID_Cache". Building one
// waits for that cache. A ProgID the checker gave no verdict (it examines
// only some ProgID forms, and names meet it in the registry's letter case)
// is judged by its existence under HKCR, unless the checker marked it
// invalid ("Invalid_ProgID_Cache"). Item: the Office application, the
// "Addins" level and the ProgID joined by backslashes; Reason: the ProgID;
// ValueName empty. An add-in of 32-bit Office (below the 32-bit view) may name
// a ProgID of either view: it is good when it is good in one of them.
class OfficeProgIdTest : public EntryTest {
public:
    OfficeProgIdTest();
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

private:
    // Verdict by the caches, then by existence, of one ProgID key name.
    bool Judge(const tstring& cacheKey, const tstring& hkcrPath) const;

    NamedCache* cache_ = nullptr;
    NamedCache* invalid_ = nullptr;
};
