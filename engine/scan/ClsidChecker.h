#pragma once
#include <set>
#include "engine/registry/NamedCache.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/EntryTest.h"
#include "engine/scan/AppIdTest.h"

class ChildKeyCensus;

class ScanGroup;

// Judges every class key of HKCR\CLSID: the class must resolve, through its
// AutoConvertTo, TreatAs and AutoTreatAs redirections, to a local or in-process
// server that exists. Produces one verdict per class (upper-cased CLSID) in
// "Invalid_CLSID_Cache" and the ProgIDs of broken classes in
// "Suspicious_ProgID_Cache". Once per class it also checks the keys the class
// names (ProgID, VersionIndependentProgID, TypeLib) and its DefaultIcon, and
// reports those side findings itself. The classes 32-bit programs see (below
// HKCR\Wow6432Node\CLSID) are judged in their own view; a class that resolves
// in either view has a good verdict.
class ClsidChecker : public EntryTest {
public:
    // A redirection chain deeper than this is taken as sound (a cycle ends here).
    static constexpr int MaxDepth = 30;

    ClsidChecker() = default;
    // group: where side findings go (not owned; may be null: they are dropped).
    explicit ClsidChecker(ScanGroup* group) : reportSink_(group) {}
    void SetReportSink(ScanGroup* group) { reportSink_ = group; }

    void Begin(ScanRule& rule) override;
    void End(ScanRule& rule) override;
    // value: any value of a class key; the key is what is judged.
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

    // depth: the number of resolutions already entered (0 from Test).
    bool ResolveClsidServer(const RegKey& classKey, CheckResult& result, int depth);
    bool CheckLocalServer(const RegKey& server, CheckResult& result);
    bool CheckInprocServer(const RegKey& server, CheckResult& result);
    bool CheckAssembly(RegValue& assembly, CheckResult& result) { return true; }
    void CheckReference(const RegKey& classKey, const tstring& subkey, const tstring& prefix, CheckResult& result,
                        uint16_t reason);
    void CheckDefaultIcon(const RegKey& classKey, CheckResult& result);

private:
    bool CheckAssemblyOf(const RegKey& server, CheckResult& result);
    // One server or redirection step; missing keys make it count as absent.
    enum class Step { Absent, Resolved, Failed };
    Step TryServer(const RegKey& classKey, const wchar_t* subkey, bool local, CheckResult& result);
    Step TryRedirection(const RegKey& classKey, const wchar_t* subkey, CheckResult& result, int depth);
    bool CheckScriptlet(const RegKey& classKey, const tstring& module, CheckResult& result);
    bool FirstMeeting(const RegKey& classKey, const tstring& name);
    void StoreVerdict(const RegKey& classKey, const tstring& name, bool resolved);
    bool ReferenceExists(const RegKey& classKey, const tstring& prefix, const tstring& reference);
    void RunSideChecks(const RegKey& classKey);
    void MarkSuspiciousProgIds(const RegKey& classKey);
    bool ScriptLocationExists(const tstring& url, RegValue& value, CheckResult& result);
    bool IconLocationExists(const tstring& text, RegValue& value, CheckResult& result);
    void Report(const RegValue& value, const CheckResult& result);
    // A subkey of the class: through the census of the class being judged
    // when classKey is that class, else asked directly. Missing is empty;
    // with OrEmpty, so is any failure.
    RegKey ClassChild(const RegKey& classKey, const tstring& name);
    RegKey ClassChildOrEmpty(const RegKey& classKey, const tstring& name);

    // Installs a census for the class being judged and restores the outer
    // one when the judgement ends (a redirection judges its target inside).
    struct CensusScope {
        CensusScope(ChildKeyCensus*& slot, ChildKeyCensus* census) : slot_(slot), saved_(slot) { slot_ = census; }
        ~CensusScope() { slot_ = saved_; }
        ChildKeyCensus*& slot_;
        ChildKeyCensus* saved_;
    };

    ChildKeyCensus* census_ = nullptr;
    NamedCache* clsidCache_ = nullptr;
    ScanGroup* reportSink_ = nullptr;
    NamedCache* suspiciousProgIdCache_ = nullptr;
    AppIdTest appIdTest_;
    // The 32-bit classes whose side checks ran; those of the native view are
    // the ones the class cache holds.
    std::set<tstring> wow64Met_;
};
