#include <doctest/doctest.h>
#include <set>
#include "test_category_support.h"
#include "engine/scan/GroupProcedures.h"

using namespace cattest;

namespace {

const tstring kCurrentVersion = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

}  // namespace

TEST_CASE("Shared components: help files, fonts, shared tools and shared DLLs") {
    const tstring tag = Tag();
    TempFiles files;
    const tstring missingFolder = L"C:\\" + tag + L"missing\\";

    const tstring helpKey = L"SOFTWARE\\Microsoft\\Windows\\Help";
    PlantedValue help(HKEY_LOCAL_MACHINE, helpKey, tag + L".hlp", missingFolder);
    const tstring presentName = files.File().substr(files.Folder().size() + 1);
    PlantedValue helpTwin(HKEY_LOCAL_MACHINE, helpKey, presentName, files.Folder());

    const tstring fontKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    PlantedValue font(HKEY_LOCAL_MACHINE, fontKey, tag + L" Font", tag + L"missing.ttf");
    PlantedValue fontTwin(HKEY_LOCAL_MACHINE, fontKey, tag + L" Font ok", files.File());

    PlantedKey tool(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Shared Tools\\" + tag + L"tool");
    tool.Set(L"", L"Path", files.Missing(L"tool.exe"));
    PlantedKey toolTwin(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Shared Tools\\" + tag + L"tool2");
    toolTwin.Set(L"", L"Path", files.File());

    const tstring dllKey = kCurrentVersion + L"\\SharedDlls";
    PlantedValue dll(HKEY_LOCAL_MACHINE, dllKey, files.Missing(L"shared.dll"), L"1");
    PlantedValue dllTwin(HKEY_LOCAL_MACHINE, dllKey, files.File(), L"1");

    TestSink sink;
    ScanGroup group(&sink, 4, GroupProcedureFor(4));
    RunAlone(group, sink);

    CheckOne(sink, tag + L".hlp", 0x01320068, L"HKLM\\" + helpKey, tag + L".hlp");
    CHECK(FindingsWithItem(sink, tag + L".hlp")[0].result.Reason == missingFolder + tag + L".hlp");
    CheckOne(sink, tag + L" Font", 0x01330068, L"HKLM\\" + fontKey, tag + L" Font");
    CheckOne(sink, tag + L"tool", 0x01340068, L"HKLM\\" + tool.Path(), L"Path");
    CheckOne(sink, files.Missing(L"shared.dll"), 0x01350064, L"HKLM\\" + dllKey, files.Missing(L"shared.dll"));
    // The sound twins give nothing.
    CHECK(FindingsWithItem(sink, presentName).empty());
    CHECK(FindingsWithItem(sink, tag + L" Font ok").empty());
    CHECK(FindingsWithItem(sink, tag + L"tool2").empty());
    CHECK(FindingsWithItem(sink, files.File()).empty());

    // The fresh prefix's own findings: Wine registers its bitmap fonts by bare
    // file names, but the prefix's fonts folder (C:\windows\Fonts) is empty and
    // so is %SystemRoot%\Fonts: Wine loads these fonts from its own data folder
    // outside the prefix. At the place the registry names, the files are missing.
    std::set<tstring> own = Items(PrefixOwnFindings(sink));
    CHECK(own == std::set<tstring>{L"Courier", L"MS Sans Serif", L"MS Serif", L"Small Fonts"});
    for (const TestSink::Found& f : PrefixOwnFindings(sink)) CHECK_MESSAGE(f.result.ErrorID == 0x01330068, Describe(f));
}

TEST_CASE("Control Panel applets and uninstall entries") {
    const tstring tag = Tag();
    TempFiles files;
    const tstring cplKey = kCurrentVersion + L"\\Control Panel\\Cpls";
    PlantedValue machineCpl(HKEY_LOCAL_MACHINE, cplKey, tag + L"m", files.Missing(L"m.cpl"));
    PlantedValue userCpl(HKEY_CURRENT_USER, cplKey, tag + L"u", files.Missing(L"u.cpl"));
    PlantedValue machineTwin(HKEY_LOCAL_MACHINE, cplKey, tag + L"okm", files.File());
    PlantedValue userTwin(HKEY_CURRENT_USER, cplKey, tag + L"oku", files.File());

    PlantedKey app(HKEY_LOCAL_MACHINE, kCurrentVersion + L"\\Uninstall\\" + tag + L"app");
    app.Set(L"", L"DisplayName", L"Orvane test entry");
    app.Set(L"", L"UninstallString", L"\"" + files.Missing(L"uninst.exe") + L"\" /remove");
    PlantedKey appTwin(HKEY_LOCAL_MACHINE, kCurrentVersion + L"\\Uninstall\\" + tag + L"app2");
    appTwin.Set(L"", L"UninstallString", L"\"" + files.File() + L"\"");

    PlantedKey driver(HKEY_LOCAL_MACHINE, kCurrentVersion + L"\\Reinstall\\" + tag + L"drv");
    driver.Set(L"", L"ReinstallString", files.Missing(L"drv"));
    PlantedKey driverTwin(HKEY_LOCAL_MACHINE, kCurrentVersion + L"\\Reinstall\\" + tag + L"drv2");
    driverTwin.Set(L"", L"ReinstallString", files.File());

    TestSink sink;
    ScanGroup group(&sink, 8, GroupProcedureFor(8));
    RunAlone(group, sink);

    CheckOne(sink, tag + L"m", 0x013E0068, L"HKLM\\" + cplKey, tag + L"m");
    CheckOne(sink, tag + L"u", 0x013E0068, L"HKCU\\" + cplKey, tag + L"u");
    CheckOne(sink, tag + L"app", 0x01450068, L"HKLM\\" + app.Path(), L"UninstallString");
    CheckOne(sink, files.Missing(L"drv"), 0x014C0068, L"HKLM\\" + driver.Path(), L"ReinstallString");
    for (const tstring& item : std::vector<tstring>{tag + L"okm", tag + L"oku", tag + L"app2", files.File()})
        CHECK(FindingsWithItem(sink, item).empty());
    CHECK(FindingsAbout(sink, tag).size() == 4);

    // A fresh prefix registers no applets and no uninstall or reinstall entries
    // that fail.
    for (const TestSink::Found& f : PrefixOwnFindings(sink)) FAIL_CHECK(Describe(f));
}

TEST_CASE("Application paths and the open and save dialog history") {
    const tstring tag = Tag();
    TempFiles files;
    PlantedKey appPath(HKEY_LOCAL_MACHINE, kCurrentVersion + L"\\App Paths\\" + tag + L".exe");
    appPath.Set(L"", L"", files.Missing(L"app.exe"));
    PlantedKey appPathTwin(HKEY_LOCAL_MACHINE, kCurrentVersion + L"\\App Paths\\" + tag + L"ok.exe");
    appPathTwin.Set(L"", L"", files.File());

    const tstring mruKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU\\" + tag;
    PlantedKey mru(HKEY_CURRENT_USER, mruKey);
    mru.Set(L"", L"a", files.Missing(L"doc.txt"));
    mru.Set(L"", L"b", files.File());
    // The order list names no file; it must not be taken for one.
    mru.Set(L"", L"MRUList", L"ab");

    TestSink sink;
    ScanGroup group(&sink, 32, GroupProcedureFor(32));
    RunAlone(group, sink);

    CheckOne(sink, tag + L".exe", 0x01400068, L"HKLM\\" + appPath.Path(), L"");
    CHECK(FindingsWithItem(sink, tag + L".exe")[0].result.Reason == files.Missing(L"app.exe"));
    CheckOne(sink, tag + L"\\a", 0x013F0068, L"HKCU\\" + mruKey, L"a");
    CHECK(FindingsWithItem(sink, tag + L"ok.exe").empty());
    CHECK(FindingsAbout(sink, tag).size() == 2);

    // A fresh prefix has no application path or dialog history that fails.
    for (const TestSink::Found& f : PrefixOwnFindings(sink)) FAIL_CHECK(Describe(f));
}
