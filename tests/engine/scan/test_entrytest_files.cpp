#include <doctest/doctest.h>
#include "TestSink.h"
#include "engine/registry/PathWalker.h"
#include "engine/registry/ScanRule.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/FontFileTest.h"
#include "engine/scan/ModuleFileTest.h"
#include "engine/scan/ResourceUrlTest.h"
#include "engine/scan/ScanGroup.h"
#include "test_entrytest_support.h"

namespace {

void CheckFinding(const CheckResult& r, uint32_t id, const tstring& item, const tstring& reason,
                  const tstring& keyPath, const tstring& valueName) {
    CHECK(uint32_t(r.ErrorID) == id);
    CHECK(r.Item == item);
    CHECK(r.Reason == reason);
    CHECK(r.KeyPath == keyPath);
    CHECK(r.ValueName == valueName);
}

}  // namespace

TEST_CASE("FilePathTest: shared tool paths") {
    EntryTestKey key(L"tools");
    EntryTestFolder folder(L"tools");
    tstring tool = folder.File(L"Tool\\tool.exe");
    key.SetText(L"Good", L"Path", tool);
    key.SetText(L"Folder", L"Path", folder / L"Tool");
    key.SetText(L"Gone", L"Path", folder / L"Tool\\gone.exe");
    FilePathTest test;
    CheckResult r;

    CHECK(RunEntryTest(test, key.Open(L"Good"), L"Path", r));
    CHECK(r.ErrorID == 0);
    CHECK(RunEntryTest(test, key.Open(L"Folder"), L"Path", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(L"Gone"), L"Path", r));
    CheckFinding(r, 0x01340068, L"Gone", folder / L"Tool\\gone.exe", key.Path() + L"\\Gone", L"Path");
}

TEST_CASE("KeyValuePathTest: dialog history") {
    EntryTestKey key(L"mru");
    EntryTestFolder folder(L"mru");
    key.SetText(L"txt", L"a", folder.File(L"doc.txt"));
    key.SetText(L"txt", L"b", folder / L"gone.txt");
    KeyValuePathTest test;
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(L"txt"), L"a", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(L"txt"), L"b", r));
    CheckFinding(r, 0x013F0068, L"txt\\b", folder / L"gone.txt", key.Path() + L"\\txt", L"b");
}

TEST_CASE("SharedFileTest: the value name is the path") {
    EntryTestKey key(L"shared");
    EntryTestFolder folder(L"shared");
    tstring dll = folder.File(L"lib.dll");
    key.SetNumber(L"", L" " + dll + L" ", 1);
    key.SetNumber(L"", folder / L"gone.dll", 3);
    SharedFileTest test;
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(), L" " + dll + L" ", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(), folder / L"gone.dll", r));
    CheckFinding(r, 0x01350064, folder / L"gone.dll", L"", key.Path(), folder / L"gone.dll");
}

TEST_CASE("HelpFileTest: folder data, file name value") {
    EntryTestKey key(L"help");
    EntryTestFolder folder(L"help");
    folder.File(L"app.hlp");
    key.SetText(L"", L"app.hlp", folder.Path());
    key.SetText(L"", L"gone.hlp", folder.Path() + L"\\");
    key.SetText(L"", L"expand.hlp", folder.Path(), REG_EXPAND_SZ);
    HelpFileTest test;
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(), L"app.hlp", r));
    // Only plain strings are judged.
    CHECK(RunEntryTest(test, key.Open(), L"expand.hlp", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"gone.hlp", r));
    CheckFinding(r, 0x01320068, L"gone.hlp", folder.Path() + L"\\gone.hlp", key.Path(), L"gone.hlp");
}

TEST_CASE("FontFileTest: font files by name or path") {
    EntryTestKey key(L"fonts");
    EntryTestFolder folder(L"fonts");
    tstring fonts = FontFileTest::FontsFolder();
    REQUIRE_FALSE(fonts.empty());
    tstring name = FormatText(L"orvane-et-%u.ttf", unsigned(GetCurrentProcessId()));
    tstring installed = fonts + L"\\" + name;
    HANDLE h = CreateFileW(installed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    CloseHandle(h);
    key.SetText(L"", L"Installed (TrueType)", name);
    key.SetText(L"", L"Full path", folder.File(L"private.ttf"));
    key.SetText(L"", L"Gone (TrueType)", L"orvane-et-gone.ttf");
    key.SetText(L"", L"Gone path", folder / L"gone.ttf");
    key.SetText(L"", L"Empty", L"  ");
    key.SetText(L"", L"One", L"a");
    key.SetText(L"", L"Two", L"ab");
    key.SetNumber(L"", L"Number", 1);
    FontFileTest test;
    CheckResult r;

    CHECK(RunEntryTest(test, key.Open(), L"Installed (TrueType)", r));
    CHECK(RunEntryTest(test, key.Open(), L"Full path", r));
    CHECK(RunEntryTest(test, key.Open(), L"Number", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"Gone (TrueType)", r));
    CheckFinding(r, 0x01330068, L"Gone (TrueType)", L"orvane-et-gone.ttf", key.Path(), L"Gone (TrueType)");
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"Gone path", r));
    CHECK(r.Reason == folder / L"gone.ttf");
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"Empty", r));
    CHECK(r.Reason == L"  ");
    // Names of one or two characters are looked up like any other.
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"One", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"Two", r));
    CHECK(r.Reason == L"ab");
    DeleteFileW(installed.c_str());
}

TEST_CASE("ReinstallStringTest: saved driver files") {
    EntryTestKey key(L"reinstall");
    EntryTestFolder folder(L"reinstall");
    key.SetText(L"0001", L"ReinstallString", folder.Folder(L"0001\\DriverFiles"));
    key.SetText(L"0002", L"ReinstallString", folder.File(L"0002\\setup.inf"));
    key.SetText(L"0003", L"ReinstallString", folder / L"0003\\DriverFiles");
    key.SetText(L"0004", L"DeviceDesc", L"no reinstall string");
    ReinstallStringTest test;
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(L"0001"), L"ReinstallString", r));
    CHECK(RunEntryTest(test, key.Open(L"0002"), L"ReinstallString", r));
    CHECK(RunEntryTest(test, key.Open(L"0004"), L"ReinstallString", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(L"0003"), L"ReinstallString", r));
    tstring gone = folder / L"0003\\DriverFiles";
    CheckFinding(r, 0x014C0068, gone, gone, key.Path() + L"\\0003", L"ReinstallString");
}

TEST_CASE("ProgramFileTest: application paths") {
    EntryTestKey key(L"apppaths");
    EntryTestFolder folder(L"apppaths");
    tstring app = folder.File(L"My App\\app.exe");
    key.SetText(L"app.exe", L"", app);
    key.SetText(L"quoted.exe", L"", L"\"" + app + L"\"");
    key.SetText(L"args.exe", L"", L"\"" + app + L"\" -embedding");
    key.SetText(L"notepad.exe", L"", L"%SystemRoot%\\notepad.exe", REG_EXPAND_SZ);
    key.SetText(L"literal.exe", L"", L"%SystemRoot%\\notepad.exe");
    key.SetText(L"gone.exe", L"", folder / L"My App\\gone.exe");
    folder.File(L"Private\\private.exe");
    key.SetText(L"private.exe", L"", L"private");
    key.SetText(L"private.exe", L"Path", folder / L"Other;" + folder / L"Private;");
    key.SetText(L"noprivate.exe", L"", L"noprivate.exe");
    key.SetText(L"noprivate.exe", L"Path", folder / L"Private");
    ProgramFileTest test;
    CheckResult r;
    CHECK_FALSE(RunEntryTest(test, key.Open(L"noprivate.exe"), L"", r));
    for (const wchar_t* sound : {L"app.exe", L"quoted.exe", L"args.exe", L"notepad.exe", L"literal.exe", L"private.exe"}) {
        CAPTURE(tstring(sound));
        CHECK(RunEntryTest(test, key.Open(sound), L"", r));
    }
    CHECK_FALSE(RunEntryTest(test, key.Open(L"gone.exe"), L"", r));
    CheckFinding(r, 0x01400068, L"gone.exe", folder / L"My App\\gone.exe", key.Path() + L"\\gone.exe", L"");
}

TEST_CASE("ModulePathTest: Control Panel applets") {
    EntryTestKey key(L"cpls");
    EntryTestFolder folder(L"cpls");
    key.SetText(L"", L"Mine", folder.File(L"mine.cpl"));
    key.SetText(L"", L"System", L"shell32.dll");
    key.SetText(L"", L"Gone", folder / L"gone.cpl");
    key.SetText(L"", L"Gone relative", L"orvane-gone.cpl");
    ModulePathTest test;
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(), L"Mine", r));
    CHECK(RunEntryTest(test, key.Open(), L"System", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"Gone", r));
    CheckFinding(r, 0x013E0068, L"Gone", folder / L"gone.cpl", key.Path(), L"Gone");
    CHECK_FALSE(RunEntryTest(test, key.Open(), L"Gone relative", r));
}

TEST_CASE("ModuleFileTest: default icons") {
    EntryTestKey key(L"icons");
    EntryTestFolder folder(L"icons");
    tstring icons = folder.File(L"Icons, Inc\\icons.dll");
    tstring program = folder.File(L"Icons, Inc\\app.exe");
    struct Case {
        const wchar_t* type;
        tstring data;
    } sound[] = {
        {L"a", icons + L",-101"},
        {L"b", icons + L", 3"},
        {L"c", L"\"" + program + L"\",0"},
        {L"d", L"%1"},
        {L"e", L"\"%1\""},
        {L"f", L"shell32.dll,4"},
        {L"g", folder / L"Icons, Inc\\icons.dll"},  // a comma in the folder name
        {L"h", icons + L","},
    };
    for (const Case& c : sound) key.SetText(tstring(c.type) + L"\\DefaultIcon", L"", c.data);
    key.SetText(L"gone\\DefaultIcon", L"", folder / L"gone.dll,2");
    key.SetText(L"empty\\DefaultIcon", L"", L"");
    ModuleFileTest test;
    CheckResult r;
    for (const Case& c : sound) {
        CAPTURE(c.data);
        CHECK(RunEntryTest(test, key.Open(tstring(c.type) + L"\\DefaultIcon"), L"", r));
    }
    CHECK_FALSE(RunEntryTest(test, key.Open(L"gone\\DefaultIcon"), L"", r));
    CheckFinding(r, 0x014B0068, L"gone", folder / L"gone.dll,2", key.Path() + L"\\gone\\DefaultIcon", L"");
    CHECK_FALSE(RunEntryTest(test, key.Open(L"empty\\DefaultIcon"), L"", r));
    CHECK(r.Item == L"empty");

    CHECK(ModuleFileTest::ModulePart(L"a.dll,-5") == L"a.dll");
    CHECK(ModuleFileTest::ModulePart(L"C:\\A, B\\c.ico") == L"C:\\A, B\\c.ico");
    CHECK(ModuleFileTest::ModulePart(L"C:\\A, B\\c.dll,2") == L"C:\\A, B\\c.dll");
}

TEST_CASE("ResourceUrlTest: scripts and resources of browser menus") {
    EntryTestKey key(L"menuext");
    EntryTestFolder folder(L"menuext");
    tstring script = folder.File(L"My Scripts\\menu.htm");
    tstring slashed = script;
    for (auto& c : slashed)
        if (c == L'\\') c = L'/';
    tstring escaped = slashed;
    escaped.Replace(L" ", L"%20");
    struct Case {
        const wchar_t* name;
        tstring data;
        bool sound;
    } cases[] = {
        {L"plain", script, true},
        {L"file3", L"file:///" + slashed, true},
        {L"file1", L"file:/" + slashed, true},
        {L"fileEscaped", L"FILE:///" + escaped, true},
        {L"res", L"res://shell32.dll/menu.htm", true},
        {L"resPath", L"res://" + Expand(L"%SystemRoot%") + L"\\system32\\shell32.dll/201", true},
        {L"http", L"http://example.invalid/gone.htm", true},
        {L"resGone", L"res://orvane-gone.dll/menu.htm", false},
        {L"fileGone", L"file://" + folder / L"gone.htm", false},
        {L"plainGone", folder / L"gone.htm", false},
    };
    ResourceUrlTest test;
    CheckResult r;
    for (const Case& c : cases) {
        key.SetText(c.name, L"", c.data);
        CAPTURE(c.data);
        CHECK(RunEntryTest(test, key.Open(c.name), L"", r) == c.sound);
        if (!c.sound) CheckFinding(r, 0x0147006F, c.name, c.data, key.Path() + L"\\" + c.name, L"");
    }
}

TEST_CASE("A walk reports the finding of a file test") {
    EntryTestKey key(L"walk");
    EntryTestFolder folder(L"walk");
    key.SetText(L"Good", L"Path", folder.File(L"good.exe"));
    key.SetText(L"Bad", L"Path", folder / L"bad.exe");
    key.SetText(L"NoPath", L"Other", folder / L"bad.exe");
    TestSink sink;
    FilePathTest test;
    CHECK(WalkBelow(key, L"@{.*}", L"#Path@{.*}", test, sink, 4));
    REQUIRE(sink.found.size() == 1);
    CHECK(sink.found[0].keyPath == key.Path() + L"\\Bad");
    CHECK(sink.found[0].valueName == L"Path");
    CHECK(uint32_t(sink.found[0].result.ErrorID) == 0x01340068);
    CHECK(sink.found[0].result.Item == L"Bad");
    CHECK(sink.found[0].groupBit == 4);
}
