#include <doctest/doctest.h>
#include <objbase.h>
#include "TestSink.h"
#include "engine/registry/PathWalker.h"
#include "engine/registry/ScanRule.h"
#include "engine/scan/ScanGroup.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/UninstallCommandTest.h"
#include "test_entrytest_support.h"

namespace {

tstring NewGuid() {
    GUID guid = {};
    CoCreateGuid(&guid);
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

struct UninstallFixture {
    UninstallFixture() : key(L"uninstall"), folder(L"uninstall") {
        program = folder.File(L"My App\\unins000.exe");
        inf = folder.File(L"setup.inf");
        spacedInf = folder.File(L"My Setup\\app setup.inf");
        muninst = folder.File(L"muninst.exe");
        log = folder.File(L"app.log");
        isu = folder.File(L"My App\\Uninst.isu");
        module = folder.File(L"My App\\server.dll");
    }

    // Writes one entry and runs the test on it as the walk does (the
    // unnamed value of the entry's key).
    bool Run(const tstring& name, const tstring& command, CheckResult& r,
             const wchar_t* valueName = L"UninstallString") {
        key.SetText(name, valueName, command);
        return RunEntryTest(test, key.Open(name), L"", r);
    }

    EntryTestKey key;
    EntryTestFolder folder;
    UninstallCommandTest test;
    tstring program, inf, spacedInf, muninst, log, isu, module;
};

}  // namespace

TEST_CASE("UninstallCommandTest: entries that are never findings") {
    UninstallFixture f;
    CheckResult r;
    f.key.SetNumber(L"NoRemove", L"NoRemove", 1);
    f.key.SetText(L"NoRemove", L"UninstallString", f.folder / L"gone.exe");
    CHECK(RunEntryTest(f.test, f.key.Open(L"NoRemove"), L"", r));
    CHECK(r.Reason == L"OK");
    f.key.SetNumber(L"Msi", L"WindowsInstaller", 1);
    f.key.SetText(L"Msi", L"UninstallString", f.folder / L"gone.exe");
    CHECK(RunEntryTest(f.test, f.key.Open(L"Msi"), L"", r));
    f.key.SetText(L"NoCommand", L"DisplayName", L"Something");
    CHECK(RunEntryTest(f.test, f.key.Open(L"NoCommand"), L"", r));
    CHECK(r.Reason == L"OK");
    CHECK(r.ErrorID == 0);
    // NoRemove = 0 does not protect the entry.
    f.key.SetNumber(L"Removable", L"NoRemove", 0);
    CHECK_FALSE(f.Run(L"Removable", f.folder / L"gone.exe", r));
}

TEST_CASE("UninstallCommandTest: plain program commands") {
    UninstallFixture f;
    CheckResult r;
    CHECK(f.Run(L"Quoted", L"\"" + f.program + L"\" /SILENT", r));
    CHECK(f.Run(L"Unquoted", f.program + L" /SILENT /LOG", r));
    CHECK(f.Run(L"Bare", L"notepad.exe /uninstall", r));
    CHECK(f.Run(L"Placeholder", L"%1 /uninstall", r));
    CHECK(f.Run(L"Expanded", L"%SystemRoot%\\notepad.exe", r));

    CHECK_FALSE(f.Run(L"Gone", f.folder / L"My App\\gone.exe /SILENT", r));
    CHECK(uint32_t(r.ErrorID) == 0x01450068);
    CHECK(r.Item == L"Gone");
    CHECK(r.Reason == f.folder / L"My App\\gone.exe /SILENT");
    CHECK(r.KeyPath == f.key.Path() + L"\\Gone");
    CHECK(r.ValueName == L"UninstallString");

    SUBCASE("the quiet command stands in for a missing one") {
        CHECK_FALSE(f.Run(L"Quiet", L"\"" + f.folder / L"gone.exe" + L"\" /quiet", r, L"QuietUninstallString"));
        CHECK(r.ValueName == L"QuietUninstallString");
        CHECK(r.Reason == L"\"" + f.folder / L"gone.exe" + L"\" /quiet");
    }
    SUBCASE("doubled quotes that only the common end can judge") {
        CHECK_FALSE(f.Run(L"Doubled", L"\"\"%1\"\" /x", r));
        CHECK(r.Reason == L"\"%1\" /x");
        CHECK(f.Run(L"DoubledFound", L"\"\"" + f.program + L"\"\"", r));
    }
    SUBCASE("a command value visited by itself") {
        f.key.SetText(L"Direct", L"UninstallString", f.folder / L"gone.exe");
        f.key.SetNumber(L"Direct", L"WindowsInstaller", 1);
        // Only the entry as a whole belongs to the Windows Installer.
        CHECK_FALSE(RunEntryTest(f.test, f.key.Open(L"Direct"), L"UninstallString", r));
        CHECK(r.ValueName == L"UninstallString");
        CHECK(r.Reason == f.folder / L"gone.exe");
        f.key.SetNumber(L"Direct", L"NoRemove", 1);
        CHECK(RunEntryTest(f.test, f.key.Open(L"Direct"), L"UninstallString", r));
    }
    SUBCASE("an empty command") {
        CHECK_FALSE(f.Run(L"Empty", L"", r));
    }
}

TEST_CASE("UninstallCommandTest: rundll32 commands") {
    UninstallFixture f;
    CheckResult r;
    CHECK(f.Run(L"Advpack", L"RunDll32 advpack.dll,LaunchINFSection " + f.inf + L",DefaultUninstall", r));
    CHECK(f.Run(L"AdvpackEx", L"rundll32.exe advpack.dll,LaunchINFSectionEx " + f.spacedInf + L",Uninstall,,4", r));
    CHECK(f.Run(L"AdvpackInfFolder", L"rundll32.exe advpack.dll,LaunchINFSection orvane-et.inf,Remove", r) ==
          (GetFileAttributesW((Expand(L"%SystemRoot%") + L"\\inf\\orvane-et.inf").c_str()) != INVALID_FILE_ATTRIBUTES));
    CHECK(f.Run(L"Setupapi",
                L"C:\\WINDOWS\\system32\\rundll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 132 " +
                    f.spacedInf,
                r));
    CHECK(f.Run(L"OtherEntry", L"rundll32.exe shell32.dll,Control_RunDLL " + f.folder / L"gone.cpl", r));
    CHECK(f.Run(L"FullModule", L"rundll32.exe \"" + f.module + L"\",Uninstall", r));
    CHECK(f.Run(L"UnquotedModule", L"rundll32.exe " + f.module + L",Uninstall /quiet", r));

    CHECK_FALSE(f.Run(L"InfGone", L"RunDll32 advpack.dll,LaunchINFSection " + f.folder / L"gone.inf" + L",Remove", r));
    CHECK(r.Reason == f.folder / L"gone.inf");
    CHECK_FALSE(f.Run(L"SetupapiGone", L"rundll32 setupapi.dll,InstallHinfSection DefaultUninstall 132 " +
                                           f.folder / L"gone.inf",
                      r));
    CHECK(r.Reason == f.folder / L"gone.inf");
    CHECK_FALSE(f.Run(L"ModuleGone", L"rundll32.exe orvane-gone-module.dll,Uninstall", r));
    CHECK(r.Reason == L"orvane-gone-module.dll");
    CHECK_FALSE(f.Run(L"NoModule", L"rundll32.exe", r));
}

TEST_CASE("UninstallCommandTest: installer and uninstaller programs") {
    UninstallFixture f;
    CheckResult r;
    wchar_t windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryW(windows, MAX_PATH + 1);

    SUBCASE("msiexec") {
        CHECK(f.Run(L"MsiNoProduct", L"MsiExec.exe /qb", r));
        tstring product = NewGuid();
        tstring cached = tstring(windows) + L"\\Installer\\" + product;
        tstring package = UninstallCommandTest::ProductPackage(product);
        if (!package.empty()) {
            MESSAGE("the installer gives no answer for unknown products here");
            return;
        }
        CHECK_FALSE(f.Run(L"MsiUnknown", L"MsiExec.exe /X" + product, r));
        CHECK(r.Reason == cached);
        CHECK(uint32_t(r.ErrorID) == 0x01450068);
        CreateFolderTree(cached);
        CHECK(f.Run(L"MsiCached", L"MsiExec.exe /I" + product, r));
        RemoveDirectoryW(cached.c_str());
    }
    SUBCASE("InstallShield's uninstaller and its log") {
        CHECK(f.Run(L"IsGood", L"C:\\WINDOWS\\IsUninst.exe -a -f\"" + f.isu + L"\"", r));
        CHECK(f.Run(L"IsNoArgs", L"IsUninst.exe -a", r));
        CHECK(f.Run(L"IsLog", L"IsUninst.exe -a -f\"" + f.isu + L"\" -c\"x.dll\"", r));
        CHECK(f.Run(L"IsHelperFirst", L"IsUninst.exe -c\"" + f.module + L"\" -f\"" + f.isu + L"\"", r));
        CHECK(f.Run(L"IsSwitchOnly", L"IsUninst.exe -c\"" + f.module + L"\"", r));
        CHECK_FALSE(f.Run(L"IsHelperFirstGone", L"IsUninst.exe -c\"" + f.module + L"\" -f\"" +
                                                    f.folder / L"gone.isu" + L"\"",
                          r));
        CHECK_FALSE(f.Run(L"IsGone", L"isuninst.exe -f\"" + f.folder / L"gone.isu" + L"\"", r));
        CHECK(r.Reason == UpperText(f.folder / L"gone.isu"));
    }
    SUBCASE("Microsoft's uninstaller and its log") {
        CHECK(f.Run(L"MuGood", f.muninst + L" /a " + f.log, r));
        CHECK(f.Run(L"MuSwitches", f.muninst + L" /a", r));
        CHECK_FALSE(f.Run(L"MuLogGone", f.muninst + L" /a " + f.folder / L"gone.log", r));
        CHECK(r.Reason == f.folder / L"gone.log");
        CHECK_FALSE(f.Run(L"MuGone", f.folder / L"sub\\muninst.exe " + f.log, r));
        CHECK(r.Reason == f.folder / L"sub\\muninst.exe");
    }
    SUBCASE("regsvr32") {
        CHECK(f.Run(L"RegQuoted", L"regsvr32 /u /s \"" + f.module + L"\"", r));
        CHECK(f.Run(L"RegUnquoted", L"regsvr32.exe /u " + f.module, r));
        CHECK(f.Run(L"RegAlone", L"regsvr32.exe", r));
        CHECK_FALSE(f.Run(L"RegGone", L"regsvr32 /u " + f.folder / L"gone.dll", r));
        CHECK(r.Reason == f.folder / L"gone.dll");
    }
}

TEST_CASE("UninstallCommandTest under a walk of uninstall entries") {
    UninstallFixture f;
    f.key.SetText(L"Good", L"UninstallString", L"\"" + f.program + L"\"");
    f.key.SetText(L"Bad", L"UninstallString", f.folder / L"bad.exe");
    f.key.SetText(L"Bad", L"", L"has a default value too");
    TestSink sink;
    CHECK(WalkBelow(f.key, L"@{.*}", L"#@MAGIC_PATTERN", f.test, sink, 8));
    REQUIRE(sink.found.size() == 1);
    CHECK(sink.found[0].keyPath == f.key.Path() + L"\\Bad");
    CHECK(sink.found[0].result.ValueName == L"UninstallString");
    CHECK(sink.found[0].result.Reason == f.folder / L"bad.exe");
}
