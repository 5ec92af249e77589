#include <doctest/doctest.h>
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/ProgIdChecker.h"
#include "test_comcheck_support.h"

using namespace comcheck;

namespace {

// Stands in for the class checker: class verdicts ready before the ProgID walk.
struct ClassVerdicts {
    ClassVerdicts() {
        CacheTable& table = CacheTable::Instance();
        table.ResetAll();
        classes = table.GetOrCreate(CacheTable::InvalidClsidCache);
        table.GetOrCreate(CacheTable::SuspiciousProgIdCache)->SetReady(true);
    }
    void Ready() { classes->SetReady(true); }
    NamedCache* classes;
};

struct Judged {
    bool sound;
    CheckResult result;
};

// Judges the ProgID as the walk does: through the value of its subkey.
Judged Judge(ProgIdChecker& checker, const tstring& progId, const tstring& subkey) {
    RegKey key = RegKey::OpenPath(L"HKCR\\" + progId + L"\\" + subkey);
    RegValue value(key, L"");
    Judged judged;
    judged.sound = checker.Test(L"", value, judged.result);
    return judged;
}

bool InCache(const wchar_t* cache, const tstring& key) {
    NamedCache* found = CacheTable::Instance().Find(cache, false);
    return found && found->Lookup(key).value_or(false);
}

}  // namespace

TEST_CASE("ProgIDs are judged by the verdict of the class they name") {
    ClassVerdicts verdicts;
    tstring goodClass = NewGuid(), brokenClass = NewGuid(), unknownClass = NewGuid();
    verdicts.classes->Set(goodClass, true);
    verdicts.classes->Set(brokenClass, false);
    verdicts.Ready();

    tstring good = NewProgId(L"Good"), broken = NewProgId(L"Broken"), unknown = NewProgId(L"Unknown"),
            empty = NewProgId(L"Empty");
    ClassesKey goodKey(good), brokenKey(broken), unknownKey(unknown), emptyKey(empty);
    // The class text as some installers write it: lower case.
    tstring lower = goodClass;
    CharLowerBuffW(&lower[0], DWORD(lower.size()));
    goodKey.Set(L"CLSID", L"", lower);
    brokenKey.Set(L"CLSID", L"", brokenClass);
    brokenKey.Set(L"CurVer", L"", good);
    unknownKey.Set(L"CLSID", L"", unknownClass);
    emptyKey.Set(L"CLSID", L"", L"");

    ProgIdChecker checker;
    ScanRule rule(nullptr, ProgIdKeys, DefaultValue);
    checker.Begin(rule);

    SUBCASE("a sound class makes a sound ProgID, whatever the letter case of its text") {
        Judged judged = Judge(checker, good, L"CLSID");
        CHECK(judged.sound);
        CHECK(judged.result.ErrorID == 0);
        checker.End(rule);
        CHECK(InCache(CacheTable::ProgIdCache, good));
        CHECK(CacheTable::Instance().Find(CacheTable::ProgIdCache, false)->IsReady());
    }
    SUBCASE("a class that does not resolve: reason 105, reported once per scan") {
        Judged judged = Judge(checker, broken, L"CLSID");
        CHECK_FALSE(judged.sound);
        CHECK(judged.result.ErrorID == 0x012F0069);
        CHECK(judged.result.Item == broken);
        CHECK(judged.result.Reason == brokenClass);
        CHECK(judged.result.KeyPath == L"HKCR\\" + broken);
        CHECK(judged.result.ValueName.empty());
        CHECK(InCache(CacheTable::InvalidProgIdCache, broken));
        // The CLSID subkey decides; the sound CurVer is not consulted, and the
        // second visit (through CurVer) does not report the ProgID again.
        CHECK(Judge(checker, broken, L"CurVer").sound);
    }
    SUBCASE("a class never seen: reason 102; an empty class text too, with an empty reason") {
        Judged judged = Judge(checker, unknown, L"CLSID");
        CHECK_FALSE(judged.sound);
        CHECK(judged.result.ErrorID == 0x012F0066);
        CHECK(judged.result.Reason == unknownClass);
        Judged blank = Judge(checker, empty, L"CLSID");
        CHECK_FALSE(blank.sound);
        CHECK(blank.result.ErrorID == 0x012F0066);
        CHECK(blank.result.Reason.empty());
        CHECK(blank.result.Item == empty);
    }
}

TEST_CASE("A ProgID of a class whose key exists but has no verdict is not judged") {
    ClassVerdicts verdicts;
    verdicts.Ready();
    tstring wowGuid = NewGuid();
    // Registered only for 32-bit programs: the native walk never sees it.
    ClassesKey wowClass(L"Wow6432Node\\CLSID\\" + wowGuid);
    wowClass.Set(L"InprocServer32", L"", L"C:\\Program Files (x86)\\Vendor\\addin.dll");
    // Present in the native view, yet passed over by the walk (a key added or
    // removed beside it shifts the enumeration).
    PlantedClass skipped;
    skipped.Set(L"InprocServer32", L"", L"C:\\Vendor\\server.dll");
    tstring wow = NewProgId(L"Wow"), passed = NewProgId(L"Passed"), unknown = NewProgId(L"NoClass");
    ClassesKey wowKey(wow), passedKey(passed), unknownKey(unknown);
    wowKey.Set(L"CLSID", L"", wowGuid);
    passedKey.Set(L"CLSID", L"", skipped.Guid());
    unknownKey.Set(L"CLSID", L"", NewGuid());

    ProgIdChecker checker;
    ScanRule rule(nullptr, ProgIdKeys, DefaultValue);
    checker.Begin(rule);
    CHECK(Judge(checker, wow, L"CLSID").sound);
    // Office add-ins of 32-bit Office are such ProgIDs.
    CHECK(InCache(CacheTable::ProgIdCache, wow));
    CHECK(Judge(checker, passed, L"CLSID").sound);
    CHECK(Judge(checker, unknown, L"CLSID").result.ErrorID == 0x012F0066);
}

TEST_CASE("ProgIDs without a class are judged through their CurVer chain") {
    ClassVerdicts verdicts;
    tstring goodClass = NewGuid(), brokenClass = NewGuid();
    verdicts.classes->Set(goodClass, true);
    verdicts.classes->Set(brokenClass, false);
    verdicts.Ready();

    tstring a = NewProgId(L"A"), b = NewProgId(L"B"), c = NewProgId(L"C"), d = NewProgId(L"D"),
            e = NewProgId(L"E"), lost = NewProgId(L"Lost"), target = NewProgId(L"Target"),
            blank = NewProgId(L"Blank");
    ClassesKey ka(a), kb(b), kc(c), kd(d), ke(e), klost(lost), ktarget(target), kblank(blank);
    ProgIdChecker checker;
    ScanRule rule(nullptr, ProgIdKeys, DefaultValue);
    checker.Begin(rule);

    SUBCASE("a broken class one link away is reported at the visited ProgID with the inner code") {
        ka.Set(L"CurVer", L"", b);
        kb.Set(L"CLSID", L"", brokenClass);
        Judged judged = Judge(checker, a, L"CurVer");
        CHECK_FALSE(judged.sound);
        CHECK(judged.result.ErrorID == 0x012F0069);
        CHECK(judged.result.Item == a);
        CHECK(judged.result.KeyPath == L"HKCR\\" + a);
        CHECK(judged.result.Reason == brokenClass);
        CHECK_FALSE(InCache(CacheTable::InvalidProgIdCache, a));
        CHECK_FALSE(InCache(CacheTable::InvalidProgIdCache, b));
        CHECK_FALSE(Judge(checker, b, L"CLSID").sound);
    }
    SUBCASE("a sound class at the end of the chain makes every link sound") {
        ka.Set(L"CurVer", L"", b);
        kb.Set(L"CurVer", L"", c);
        kc.Set(L"CLSID", L"", goodClass);
        CHECK(Judge(checker, a, L"CurVer").sound);
    }
    SUBCASE("the chain is followed over three links only") {
        ka.Set(L"CurVer", L"", b);
        kb.Set(L"CurVer", L"", c);
        kc.Set(L"CurVer", L"", d);
        kd.Set(L"CurVer", L"", e);
        ke.Set(L"CLSID", L"", brokenClass);
        // E is four links away from A and not consulted.
        CHECK(Judge(checker, a, L"CurVer").sound);
        // From B it is the third link, and its broken class counts.
        Judged fromB = Judge(checker, b, L"CurVer");
        CHECK_FALSE(fromB.sound);
        CHECK(fromB.result.ErrorID == 0x012F0069);
        CHECK(fromB.result.Item == b);
    }
    SUBCASE("a CurVer naming a ProgID that is not registered is no finding") {
        klost.Set(L"CurVer", L"", lost + L".Gone");
        CHECK(Judge(checker, lost, L"CurVer").sound);
        CHECK_FALSE(InCache(CacheTable::InvalidProgIdCache, lost));
    }
    SUBCASE("an empty CurVer names nothing and is no finding") {
        kblank.Set(L"CurVer", L"", L"");
        CHECK(Judge(checker, blank, L"CurVer").sound);
    }
    SUBCASE("a CurVer target without a class of its own ends the chain soundly") {
        klost.Set(L"CurVer", L"", target);
        ktarget.Set(L"", L"", L"a ProgID that names no class");
        CHECK(Judge(checker, lost, L"CurVer").sound);
    }
}

TEST_CASE("Without the class verdicts of a completed walk every ProgID passes") {
    CacheTable& table = CacheTable::Instance();
    table.ResetAll();
    // A stop releases the waits without marking the caches ready.
    table.GetOrCreate(CacheTable::InvalidClsidCache);
    table.GetOrCreate(CacheTable::SuspiciousProgIdCache);
    table.SignalAll();
    tstring broken = NewProgId(L"Stopped");
    ClassesKey key(broken);
    key.Set(L"CLSID", L"", NewGuid());
    ProgIdChecker checker;
    ScanRule rule(nullptr, ProgIdKeys, DefaultValue);
    checker.Begin(rule);
    Judged judged = Judge(checker, broken, L"CLSID");
    CHECK(judged.sound);
    CHECK(judged.result.ErrorID == 0);
}
