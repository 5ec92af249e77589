#pragma once
#include "engine/scan/EntryTest.h"

class NamedCache;
class RegKey;

// The AppID of a COM class: it must lead, through at most three AppID
// references, to a key that names no further AppID; a "LocalService" on the
// way must be a sound service ("Service_Cache"). Verdicts are kept by the
// upper-cased key name in "AppID_Cache". Run inside the CLSID checker, which
// calls Check; fills nothing.
class AppIdTest : public EntryTest {
public:
    // Takes "Service_Cache" (without waiting: the same group fills it
    // first) and "AppID_Cache".
    void Begin(ScanRule& rule) override;
    // Marks "AppID_Cache" ready.
    void End(ScanRule& rule) override;
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

    bool Check(const RegKey& key, int depth);

private:
    NamedCache* serviceCache_ = nullptr;
    NamedCache* appIdCache_ = nullptr;
};
