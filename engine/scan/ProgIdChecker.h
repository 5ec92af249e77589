#pragma once
#include <set>
#include "engine/registry/NamedCache.h"
#include "engine/registry/RegKey.h"
#include "engine/scan/EntryTest.h"

// Judges the programmatic identifiers of HKCR: the walk visits the "CLSID" and
// "CurVer" subkeys of each ProgID, and the ProgID above them is sound when the
// class it names resolved in the class checker of the same group (read from
// "Invalid_CLSID_Cache"). A ProgID without a CLSID subkey is judged through its
// current-version ProgID. Produces "ProgID_Cache" (sound ProgIDs) and
// "Invalid_ProgID_Cache" (ProgIDs found broken), keyed by the names as the
// registry gives them; those of the 32-bit view by their path below HKCR
// ("Wow6432Node\name"), so that no verdict crosses views.
class ProgIdChecker : public EntryTest {
public:
    // A CurVer chain is followed over at most this many links.
    static constexpr int MaxCurVerDepth = 3;

    // Waits until the class checker's walk has ended (or a stop released it).
    void Begin(ScanRule& rule) override;
    void End(ScanRule& rule) override;
    // value: a value of a ProgID's CLSID or CurVer subkey.
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
    // depth: the number of CurVer links already followed.
    virtual bool CheckProgId(const RegKey& progId, CheckResult& result, int depth);

    // The name under which the verdicts of a ProgID key of that name are kept.
    static tstring CacheKey(const tstring& name, bool wow64View);
    static tstring CacheKey(const RegKey& progId) { return CacheKey(progId.Name(), progId.InWow64View()); }

private:
    bool JudgeProgId(const RegKey& progId, RegValue* walked, CheckResult& result, int depth);
    // classText, text: the default value of the ProgID's CLSID or CurVer subkey.
    bool CheckClass(const RegKey& progId, const tstring& classText, CheckResult& result, int depth);
    bool CheckCurVer(const RegKey& progId, const tstring& text, CheckResult& result, int depth);
    void MarkInvalid(const RegKey& progId, int depth);

    NamedCache* clsidCache_ = nullptr;
    NamedCache* progIdCache_ = nullptr;
    NamedCache* suspiciousProgIdCache_ = nullptr;
    NamedCache* invalidProgIdCache_ = nullptr;
    // ProgIDs of this walk reported for their CurVer link, which marks none invalid.
    std::set<tstring> reportedLinks_;
};
