#include <doctest/doctest.h>
#include "test_category_support.h"

using namespace cattest;

namespace {

const tstring kInternetExplorer = L"SOFTWARE\\Microsoft\\Internet Explorer";
const tstring kExplorer = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer";

// A class that resolves (its server file exists) and one that does not.
struct Classes {
    explicit Classes(const TempFiles& files)
        : broken(L"CLSID\\" + brokenGuid), sound(L"CLSID\\" + soundGuid) {
        broken.Set(L"InprocServer32", L"", files.Missing(L"inproc.dll"));
        sound.Set(L"InprocServer32", L"", files.File());
    }
    tstring brokenGuid = NewGuid();
    tstring soundGuid = NewGuid();
    PlantedClassKey broken;
    PlantedClassKey sound;
};

}  // namespace

TEST_CASE("COM registrations: services, classes, ProgIDs, type libraries and interfaces") {
    const tstring tag = Tag();
    TempFiles files;

    const tstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    PlantedKey service(HKEY_LOCAL_MACHINE, services + tag + L"svc");
    service.SetNumber(L"", L"Type", 0x10);
    service.Set(L"", L"ImagePath", files.Missing(L"svc.exe"), REG_EXPAND_SZ);
    PlantedKey serviceTwin(HKEY_LOCAL_MACHINE, services + tag + L"svc2");
    serviceTwin.SetNumber(L"", L"Type", 0x10);
    serviceTwin.Set(L"", L"ImagePath", L"\"" + files.File() + L"\" -service", REG_EXPAND_SZ);

    Classes classes(files);

    PlantedClassKey brokenProgId(tag + L".Broken");
    brokenProgId.Set(L"CLSID", L"", classes.brokenGuid);
    PlantedClassKey unknownProgId(tag + L".Unknown");
    const tstring unknownGuid = NewGuid();
    unknownProgId.Set(L"CLSID", L"", unknownGuid);
    PlantedClassKey goodProgId(tag + L".Good");
    goodProgId.Set(L"CLSID", L"", classes.soundGuid);

    const tstring brokenLib = NewGuid(), soundLib = NewGuid();
    PlantedClassKey library(L"TypeLib\\" + brokenLib);
    library.Set(L"1.0\\0\\win32", L"", files.Missing(L"lib.tlb"));
    PlantedClassKey libraryTwin(L"TypeLib\\" + soundLib);
    libraryTwin.Set(L"1.0\\0\\win32", L"", files.File());

    const tstring brokenInterface = NewGuid(), soundInterface = NewGuid();
    PlantedClassKey iface(L"Interface\\" + brokenInterface);
    iface.Set(L"", L"", L"I" + tag + L"Broken");
    iface.Set(L"ProxyStubClsid32", L"", classes.brokenGuid);
    PlantedClassKey ifaceTwin(L"Interface\\" + soundInterface);
    ifaceTwin.Set(L"", L"", L"I" + tag + L"Sound");
    ifaceTwin.Set(L"ProxyStubClsid32", L"", classes.soundGuid);

    // Judged by the type library verdicts of the same thread's earlier rule.
    const tstring libInterface = NewGuid(), libInterfaceTwin = NewGuid();
    PlantedClassKey ifaceLib(L"Interface\\" + libInterface);
    ifaceLib.Set(L"", L"", L"I" + tag + L"BadLibrary");
    ifaceLib.Set(L"TypeLib", L"", brokenLib);
    PlantedClassKey ifaceLibTwin(L"Interface\\" + libInterfaceTwin);
    ifaceLibTwin.Set(L"", L"", L"I" + tag + L"GoodLibrary");
    ifaceLibTwin.Set(L"TypeLib", L"", soundLib);

    // A sound class whose ProgID reference is dangling: a side finding of
    // the class checker, reported through the group.
    const tstring referring = NewGuid();
    PlantedClassKey referringClass(L"CLSID\\" + referring);
    referringClass.Set(L"InprocServer32", L"", files.File());
    referringClass.Set(L"ProgID", L"", tag + L".NoSuchProgId");

    TestSink sink;
    ScanGroup group(&sink, 1, GroupProcedureFor(1));
    RunAlone(group, sink);

    CheckOne(sink, tag + L"svc", 0x01420068, L"HKLM\\" + service.Path(), L"ImagePath");
    CheckOne(sink, classes.brokenGuid, 0x012E006E, L"HKCR\\CLSID\\" + classes.brokenGuid + L"\\InprocServer32", L"");
    CheckOne(sink, tag + L".Broken", 0x012F0069, brokenProgId.HkcrPath(), L"");
    CheckOne(sink, tag + L".Unknown", 0x012F0066, unknownProgId.HkcrPath(), L"");
    CheckOne(sink, brokenLib, 0x01300068, library.HkcrPath() + L"\\1.0\\0\\win32", L"");
    CheckOne(sink, L"I" + tag + L"Broken", 0x01310069, iface.HkcrPath() + L"\\ProxyStubClsid32", L"(Default)");
    CheckOne(sink, L"I" + tag + L"BadLibrary", 0x01310073, ifaceLib.HkcrPath() + L"\\TypeLib", L"(Default)");
    CheckOne(sink, referring + L"\\ProgID", 0x012E0071, referringClass.HkcrPath() + L"\\ProgID", L"");
    CHECK(FindingsWithItem(sink, referring).empty());
    for (const tstring& item : std::vector<tstring>{tag + L"svc2", classes.soundGuid, tag + L".Good", soundLib,
                                                    L"I" + tag + L"Sound", L"I" + tag + L"GoodLibrary"})
        CHECK_MESSAGE(FindingsWithItem(sink, item).empty(), NarrowText(item));

    // The fresh prefix's own findings. Wine's setup registers the font cache
    // service of the .NET Framework 3.0 presentation layer, whose program
    // comes only with Wine Mono; the test prefix is made without it, so the
    // service's image file is missing.
    std::set<tstring> own = Items(PrefixOwnFindings(sink));
    CHECK(own == std::set<tstring>{L"FontCache3.0.0.0"});
}

TEST_CASE("Internet Explorer and shell extensions") {
    const tstring tag = Tag();
    TempFiles files;
    Classes classes(files);

    const tstring extensions = kInternetExplorer + L"\\Extensions\\";
    const tstring userExtension = NewGuid(), machineExtension = NewGuid(), extensionTwin = NewGuid();
    PlantedKey userExt(HKEY_CURRENT_USER, extensions + userExtension);
    userExt.Set(L"", L"Exec", files.Missing(L"tool.exe"));
    PlantedKey machineExt(HKEY_LOCAL_MACHINE, extensions + machineExtension);
    machineExt.Set(L"", L"ClsidExtension", classes.brokenGuid);
    PlantedKey extTwin(HKEY_CURRENT_USER, extensions + extensionTwin);
    extTwin.Set(L"", L"Exec", files.Missing(L"tool.exe"));
    extTwin.Set(L"", L"ClsidExtension", classes.soundGuid);

    PlantedKey menu(HKEY_CURRENT_USER, kInternetExplorer + L"\\MenuExt\\" + tag + L"menu");
    menu.Set(L"", L"", files.Missing(L"menu.htm"));
    PlantedKey menuTwin(HKEY_LOCAL_MACHINE, kInternetExplorer + L"\\MenuExt\\" + tag + L"menu2");
    menuTwin.Set(L"", L"", files.File());

    PlantedClassKey fileType(tag + L"file");
    fileType.Set(L"shellex\\ContextMenuHandlers\\" + tag + L"handler", L"", classes.brokenGuid);
    fileType.Set(L"shellex\\ContextMenuHandlers\\" + tag + L"handler2", L"", classes.soundGuid);

    const tstring toolbarButton = NewGuid();
    PlantedValue toolbar(HKEY_LOCAL_MACHINE, kInternetExplorer + L"\\Toolbar", toolbarButton, L"");
    PlantedValue toolbarTwin(HKEY_LOCAL_MACHINE, kInternetExplorer + L"\\Toolbar", classes.soundGuid, L"");

    const tstring machineBar = NewGuid(), userBar = NewGuid();
    PlantedKey barMachine(HKEY_LOCAL_MACHINE, kInternetExplorer + L"\\Explorer Bars\\" + machineBar);
    PlantedKey barUser(HKEY_CURRENT_USER, kInternetExplorer + L"\\Explorer Bars\\" + userBar);
    PlantedKey barTwin(HKEY_CURRENT_USER, kInternetExplorer + L"\\Explorer Bars\\" + classes.soundGuid);

    const tstring helper = NewGuid();
    PlantedKey bho(HKEY_LOCAL_MACHINE, kExplorer + L"\\Browser Helper Objects\\" + helper);
    PlantedKey bhoTwin(HKEY_LOCAL_MACHINE, kExplorer + L"\\Browser Helper Objects\\" + classes.soundGuid);

    const tstring hook = NewGuid();
    PlantedValue hookValue(HKEY_LOCAL_MACHINE, kExplorer + L"\\ShellExecuteHooks", hook, L"");
    PlantedValue hookTwin(HKEY_LOCAL_MACHINE, kExplorer + L"\\ShellExecuteHooks", classes.soundGuid, L"");

    TestSink sink;
    ScanGroup group(&sink, 2, GroupProcedureFor(2));
    RunWithCom(group, sink);

    CheckOne(sink, userExtension, 0x01380068, L"HKCU\\" + userExt.Path(), L"Exec");
    CheckOne(sink, machineExtension, 0x01380069, L"HKLM\\" + machineExt.Path(), L"ClsidExtension");
    CheckOne(sink, tag + L"menu", 0x0147006F, L"HKCU\\" + menu.Path(), L"");
    const tstring handlerPath = fileType.HkcrPath() + L"\\shellex\\ContextMenuHandlers\\" + tag + L"handler";
    CheckOne(sink, handlerPath, 0x013D0069, handlerPath, L"");
    CHECK(FindingsWithItem(sink, handlerPath)[0].result.Reason == classes.brokenGuid);
    CheckOne(sink, toolbarButton, 0x013A0069, L"HKLM\\" + kInternetExplorer + L"\\Toolbar", toolbarButton);
    CheckOne(sink, machineBar, 0x013B0069, L"HKLM\\" + barMachine.Path(), L"");
    CheckOne(sink, userBar, 0x013B0069, L"HKCU\\" + barUser.Path(), L"");
    CheckOne(sink, helper, 0x01380069, L"HKLM\\" + bho.Path(), L"");
    CheckOne(sink, hook, 0x013C0069, L"HKLM\\" + kExplorer + L"\\ShellExecuteHooks", hook);
    // Twins: a passing ClsidExtension outweighs a missing program; sound classes pass.
    CHECK(FindingsWithItem(sink, extensionTwin).empty());
    CHECK(FindingsWithItem(sink, tag + L"menu2").empty());
    CHECK(FindingsWithItem(sink, classes.soundGuid).empty());
    CHECK(FindingsAbout(sink, tag + L"handler2").empty());
    CHECK(FindingsWithItem(sink, handlerPath + L"2").empty());

    // A fresh prefix registers no browser or shell extension that fails.
    for (const TestSink::Found& f : PrefixOwnFindings(sink)) FAIL_CHECK(Describe(f));
}

TEST_CASE("Office add-ins of both roots") {
    const tstring tag = Tag();
    TempFiles files;
    Classes classes(files);
    PlantedClassKey goodProgId(tag + L".GoodAddin");
    goodProgId.Set(L"CLSID", L"", classes.soundGuid);
    PlantedClassKey brokenProgId(tag + L".BrokenAddin");
    brokenProgId.Set(L"CLSID", L"", classes.brokenGuid);

    const tstring office = L"SOFTWARE\\Microsoft\\Office\\";
    PlantedKey missing(HKEY_CURRENT_USER, office + L"Word\\Addins\\" + tag + L".NoSuchAddin");
    PlantedKey broken(HKEY_LOCAL_MACHINE, office + L"Excel\\Addins\\" + tag + L".BrokenAddin");
    PlantedKey good(HKEY_CURRENT_USER, office + L"Outlook\\Addins\\" + tag + L".GoodAddin");
    // Not one of the five applications: not examined.
    PlantedKey other(HKEY_CURRENT_USER, office + L"Visio\\Addins\\" + tag + L".NoSuchAddin");

    TestSink sink;
    ScanGroup group(&sink, 16, GroupProcedureFor(16));
    RunWithCom(group, sink);

    CheckOne(sink, L"Word\\Addins\\" + tag + L".NoSuchAddin", 0x01370072, L"HKCU\\" + missing.Path(), L"");
    CheckOne(sink, L"Excel\\Addins\\" + tag + L".BrokenAddin", 0x01370072, L"HKLM\\" + broken.Path(), L"");
    CHECK(FindingsAbout(sink, tag).size() == 2);
    // A fresh prefix has no Office add-ins.
    for (const TestSink::Found& f : PrefixOwnFindings(sink)) FAIL_CHECK(Describe(f));
}

TEST_CASE("File associations: shell commands, content types, default icons and extensions") {
    const tstring tag = Tag();
    TempFiles files;
    Classes classes(files);

    PlantedClassKey brokenType(tag + L"file");
    brokenType.Set(L"DefaultIcon", L"", files.Missing(L"icon.dll") + L",0");
    brokenType.Set(L"shell\\open\\command", L"", L"\"" + files.Missing(L"app.exe") + L"\" \"%1\"");
    PlantedClassKey soundType(tag + L"file2");
    soundType.Set(L"DefaultIcon", L"", files.File() + L",1");
    soundType.Set(L"shell\\open\\command", L"", L"\"" + files.File() + L"\" \"%1\"");
    PlantedClassKey brokenProgId(tag + L".BrokenType");
    brokenProgId.Set(L"CLSID", L"", classes.brokenGuid);

    PlantedClassKey noClass(L"." + tag + L"a");
    noClass.Set(L"", L"", tag + L"nosuchfile");
    PlantedClassKey badClass(L"." + tag + L"b");
    badClass.Set(L"", L"", tag + L".BrokenType");
    PlantedClassKey goodClass(L"." + tag + L"c");
    goodClass.Set(L"", L"", tag + L"file2");

    const tstring mimeTypes = L"MIME\\Database\\Content Type\\";
    PlantedClassKey mime(mimeTypes + L"application/x-" + tag);
    mime.Set(L"", L"Extension", L"." + tag + L"none");
    PlantedClassKey mimeTwin(mimeTypes + L"application/x-" + tag + L"ok");
    mimeTwin.Set(L"", L"Extension", L"." + tag + L"C");

    TestSink sink;
    ScanGroup group(&sink, 64, GroupProcedureFor(64));
    RunWithCom(group, sink);

    CheckOne(sink, tag + L"file", 0x01460068, brokenType.HkcrPath() + L"\\shell\\open\\command", L"");
    CheckOne(sink, L"application/x-" + tag, 0x01440070, mime.HkcrPath(), L"");
    CheckOne(sink, tag + L"file", 0x014B0068, brokenType.HkcrPath() + L"\\DefaultIcon", L"");
    CheckOne(sink, L"." + tag + L"a", 0x01480071, noClass.HkcrPath(), L"");
    CheckOne(sink, L"." + tag + L"b", 0x01480072, badClass.HkcrPath(), L"");
    CHECK(FindingsWithItem(sink, L"." + tag + L"c").empty());
    CHECK(FindingsWithItem(sink, tag + L"file2").empty());
    CHECK(FindingsWithItem(sink, L"application/x-" + tag + L"ok").empty());
    CHECK(FindingsAbout(sink, tag).size() == 5);

    // A fresh prefix's file types, commands, icons and content types are sound.
    for (const TestSink::Found& f : PrefixOwnFindings(sink)) FAIL_CHECK(Describe(f));
}
