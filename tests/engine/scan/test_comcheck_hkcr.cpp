#include <doctest/doctest.h>
#include <iterator>
#include "engine/registry/CacheTable.h"
#include "engine/scan/ClsidChecker.h"
#include "engine/scan/MimeTypeTest.h"
#include "engine/scan/ProgIdChecker.h"
#include "engine/scan/ShellCommandTest.h"
#include "engine/scan/TypeLibFileTest.h"
#include "test_comcheck_support.h"

using namespace comcheck;

namespace {

// Entries the suite's own engine registers while its COM tests run beside
// these: they come and go during the walk and are no part of the prefix.
bool EngineRegistration(const Seen& s) {
    for (const wchar_t* own : {L"OrvaneEngine", L"EAA2130C-E71D-42F8-BD43-83390B748926",
                               L"387C4EB8-D493-40B3-B170-E7D25CB8408E", L"7BAD77B0-1397-4787-B963-DBF7F5C5757A",
                               L"AE99D702-1757-400D-BBB2-8365857CA695", L"9DF54C6F-3F2E-4359-B36A-F6C8763ADB1F",
                               L"E74F6192-CAFE-45F3-8EB1-23FAA40F722C"})
        if (!About({s}, own).empty())
            return true;
    return false;
}

// The COM group's rules and the file-association rules of the COM checkers,
// in the order the scan runs them, over the live HKCR.
std::vector<Seen> ScanClasses() {
    CacheTable::Instance().ResetAll();
    TestSink sink;
    ScanGroup comGroup(&sink, 1);
    {
        ClsidChecker classes(&comGroup);
        Walk(comGroup, classes, ClsidKeys, EachKey);
        ProgIdChecker progIds;
        Walk(comGroup, progIds, ProgIdKeys, DefaultValue);
        TypeLibFileTest libraries;
        Walk(comGroup, libraries, TypeLibKeys, DefaultValue);
    }
    ScanGroup fileGroup(&sink, 64);
    {
        ShellCommandTest commands;
        Walk(fileGroup, commands, ShellCommandKeys, DefaultValue);
        // Built after the class walk has ended: it waits for its verdicts.
        MimeTypeTest types;
        Walk(fileGroup, types, MimeTypeKeys, EachKey);
    }
    std::vector<Seen> all = Collect(sink);
    all.erase(std::remove_if(all.begin(), all.end(), EngineRegistration), all.end());
    // A key added or removed beside the walk (the engine's own registration
    // tests) shifts the enumeration, so that a class may be visited twice.
    auto same = [](const Seen& a, const Seen& b) { return !(a < b) && !(b < a); };
    all.erase(std::unique(all.begin(), all.end(), same), all.end());
    return all;
}

}  // namespace

TEST_CASE("A fresh prefix's classes, ProgIDs, libraries, MIME types and commands give no finding") {
    // Every class of a fresh Wine prefix names a server file that Wine
    // installed, every ProgID a class that resolves, no library has a win32
    // entry, and every shell command names an installed program. Entries that
    // tests running beside this one plant and remove again may show in one
    // scan; what stays broken shows in every scan.
    std::vector<Seen> lasting = ScanClasses();
    for (int again = 0; again < 2 && !lasting.empty(); ++again) {
        for (const Seen& s : lasting)
            MESSAGE("seen: " << Describe(s));
        std::vector<Seen> next = ScanClasses(), both;
        std::set_intersection(lasting.begin(), lasting.end(), next.begin(), next.end(), std::back_inserter(both));
        lasting = both;
    }
    for (const Seen& s : lasting)
        FAIL_CHECK(Describe(s));
    CHECK(lasting.empty());
    // The walks did reach the prefix's registrations.
    CacheTable& table = CacheTable::Instance();
    CHECK(table.Find(CacheTable::InvalidClsidCache, false)->Size() > 300);
    CHECK(table.Find(CacheTable::ProgIdCache, false)->Size() > 100);
}

TEST_CASE("Broken COM registrations planted in HKCR are found exactly, their sound twins are not") {
    // A class whose in-process module is gone, and its sound twin.
    tstring goneModule = MissingPath(L"Server.dll");
    PlantedClass brokenClass, soundClass;
    brokenClass.Set(L"InprocServer32", L"", goneModule);
    soundClass.Set(L"InprocServer32", L"", SystemFile(L"ole32.dll"));

    // A ProgID whose class has no key, and one naming the sound class.
    tstring orphan = NewProgId(L"Orphan"), soundProgId = NewProgId(L"Sound");
    tstring noClass = NewGuid();
    ClassesKey orphanKey(orphan), soundProgIdKey(soundProgId);
    orphanKey.Set(L"CLSID", L"", noClass);
    soundProgIdKey.Set(L"CLSID", L"", soundClass.Guid());

    // A CurVer chain to nowhere (no finding), one to the broken class, and one to the sound ProgID.
    tstring lost = NewProgId(L"Lost"), chained = NewProgId(L"Chained"), current = NewProgId(L"Current");
    tstring versioned = NewProgId(L"Versioned");
    ClassesKey lostKey(lost), chainedKey(chained), currentKey(current), versionedKey(versioned);
    lostKey.Set(L"CurVer", L"", lost + L".9");
    chainedKey.Set(L"CurVer", L"", current);
    currentKey.Set(L"CLSID", L"", brokenClass.Guid());
    versionedKey.Set(L"CurVer", L"", soundProgId);

    // A 32-bit type library entry naming a missing file, and a sound one
    // (Wine itself registers only 64-bit entries).
    tstring goneLibrary = MissingPath(L"library.tlb");
    tstring brokenLibrary = NewGuid(), soundLibrary = NewGuid();
    ClassesKey brokenLibraryKey(L"TypeLib\\" + brokenLibrary), soundLibraryKey(L"TypeLib\\" + soundLibrary);
    brokenLibraryKey.Set(L"1.0\\0\\win32", L"", goneLibrary);
    soundLibraryKey.Set(L"1.0\\0\\win32", L"", SystemFile(L"stdole2.tlb"));

    // MIME types naming a class without a key, and the sound class.
    tstring brokenType = FormatText(L"application/x-comcheck-broken-%u", unsigned(GetCurrentProcessId()));
    tstring soundType = FormatText(L"application/x-comcheck-sound-%u", unsigned(GetCurrentProcessId()));
    ClassesKey brokenTypeKey(L"MIME\\Database\\Content Type\\" + brokenType);
    ClassesKey soundTypeKey(L"MIME\\Database\\Content Type\\" + soundType);
    brokenTypeKey.Set(L"", L"CLSID", noClass);
    soundTypeKey.Set(L"", L"CLSID", soundClass.Guid());

    // File types whose open command runs a missing program, and notepad.
    tstring brokenFile = NewProgId(L"BrokenFile"), soundFile = NewProgId(L"SoundFile");
    tstring goneProgram = L"\"" + MissingPath(L"viewer.exe") + L"\" \"%1\"";
    ClassesKey brokenFileKey(brokenFile), soundFileKey(soundFile);
    brokenFileKey.Set(L"shell\\open\\command", L"", goneProgram);
    soundFileKey.Set(L"shell\\open\\command", L"", L"\"" + SystemFile(L"notepad.exe") + L"\" \"%1\"");

    std::vector<Seen> seen = ScanClasses();
    tstring lowerModule = goneModule;
    CharLowerBuffW(&lowerModule[0], DWORD(lowerModule.size()));
    std::vector<Seen> expected = {
        {0x012E006E, brokenClass.Guid(), lowerModule, brokenClass.Path() + L"\\InprocServer32", L"",
         brokenClass.Path(), L""},
        {0x012F0066, orphan, noClass, L"HKCR\\" + orphan, L"", L"HKCR\\" + orphan + L"\\CLSID", L""},
        {0x012F0069, chained, brokenClass.Guid(), L"HKCR\\" + chained, L"", L"HKCR\\" + chained + L"\\CurVer",
         L""},
        {0x012F0069, current, brokenClass.Guid(), L"HKCR\\" + current, L"", L"HKCR\\" + current + L"\\CLSID",
         L""},
        {0x01300068, brokenLibrary, goneLibrary, L"HKCR\\TypeLib\\" + brokenLibrary + L"\\1.0\\0\\win32", L"",
         L"HKCR\\TypeLib\\" + brokenLibrary + L"\\1.0\\0\\win32", L""},
        {0x01440069, brokenType, noClass, L"HKCR\\MIME\\Database\\Content Type\\" + brokenType, L"",
         L"HKCR\\MIME\\Database\\Content Type\\" + brokenType, L""},
        {0x01460068, brokenFile, goneProgram, L"HKCR\\" + brokenFile + L"\\shell\\open\\command", L"",
         L"HKCR\\" + brokenFile + L"\\shell\\open\\command", L""},
    };
    std::sort(expected.begin(), expected.end());
    REQUIRE(seen.size() == expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        CAPTURE(i);
        CHECK(seen[i].errorId == expected[i].errorId);
        CHECK(seen[i].item == expected[i].item);
        CHECK(seen[i].reason == expected[i].reason);
        CHECK(seen[i].keyPath == expected[i].keyPath);
        CHECK(seen[i].valueName == expected[i].valueName);
        CHECK(seen[i].reportedKey == expected[i].reportedKey);
        CHECK(seen[i].reportedValue == expected[i].reportedValue);
    }
    // The verdicts other groups read.
    CacheTable& table = CacheTable::Instance();
    CHECK(table.Find(CacheTable::InvalidClsidCache, false)->Lookup(brokenClass.Guid()) == false);
    CHECK(table.Find(CacheTable::InvalidClsidCache, false)->Lookup(soundClass.Guid()) == true);
    CHECK(table.Find(CacheTable::InvalidProgIdCache, false)->Contains(orphan));
    CHECK(table.Find(CacheTable::ProgIdCache, false)->Contains(soundProgId));
    CHECK(table.Find(CacheTable::TypeLibCache, false)->Lookup(soundLibrary) == true);
    CHECK(table.Find(CacheTable::TypeLibCache, false)->Lookup(brokenLibrary) == false);
}
