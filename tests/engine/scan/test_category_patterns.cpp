#include <doctest/doctest.h>
#include <string>
#include "TestSink.h"
#include "engine/scan/Categories.h"
#include "engine/scan/ScanGroup.h"

namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) out += char(*text);
    return out;
}

// Whether level n of the rule's key pattern takes the name.
bool Takes(const ScanRule& rule, size_t level, const tstring& name) {
    return rule.Pattern().KeyElement(level).Match(name);
}

bool TakesValueName(const ScanRule& rule, const tstring& name) {
    return rule.Pattern().ValueNameElement().Match(name);
}

tstring Capture(const ScanRule& rule, size_t level, const tstring& name) {
    tstring capture;
    rule.Pattern().KeyElement(level).MatchText(name, capture);
    return capture;
}

}  // namespace

TEST_CASE("Rules register their sub-tasks while they live") {
    TestSink sink;
    ScanGroup group(&sink, 2);
    {
        ScanRule a = BrowserExtensionRule(&group, L"HKLM");
        ScanRule b = BrowserExtensionRule(&group, L"HKCU");
        CHECK(group.SubtaskCount() == 2);
        CHECK(a.SubtaskId() != b.SubtaskId());
        CHECK(a.Current() == 0.0);
        CHECK(a.LastReported() == 0.0);
    }
    CHECK(group.SubtaskCount() == 0);
}

TEST_CASE("Rules with a root walk only that root") {
    CHECK(BrowserExtensionRule(nullptr, L"HKCU").Pattern().RootKey() == HKEY_CURRENT_USER);
    CHECK(BrowserExtensionRule(nullptr, L"HKLM").Pattern().RootKey() == HKEY_LOCAL_MACHINE);
    CHECK(BrowserMenuExtensionRule(nullptr, L"HKCU").Pattern().RootKey() == HKEY_CURRENT_USER);
    CHECK(BrowserBarRule(nullptr, L"HKCU").Pattern().RootKey() == HKEY_CURRENT_USER);
    CHECK(BrowserToolbarRule(nullptr, L"HKLM").Pattern().RootKey() == HKEY_LOCAL_MACHINE);
    CHECK(ControlPanelAppletRule(nullptr, L"HKCU").Pattern().RootKey() == HKEY_CURRENT_USER);
    CHECK(OfficeAddinRule(nullptr, L"HKCU").Pattern().RootKey() == HKEY_CURRENT_USER);
    // The fixed rules name their roots themselves.
    CHECK(ClsidRule(nullptr).Pattern().RootKey() == HKEY_CLASSES_ROOT);
    CHECK(OpenSaveMruRule(nullptr).Pattern().RootKey() == HKEY_CURRENT_USER);
    CHECK(AppPathRule(nullptr).Pattern().RootKey() == HKEY_LOCAL_MACHINE);
    CHECK(ServicesRule(nullptr).Pattern().RootKey() == HKEY_LOCAL_MACHINE);
}

TEST_CASE("On the NT platform the fonts rule reads the Windows NT key") {
    ScanRule fonts = FontRule(nullptr);
    REQUIRE(fonts.Pattern().KeyCount() == 6);
    CHECK(fonts.Pattern().KeyElement(3).Text() == L"Windows NT");
    CHECK(fonts.Pattern().KeyElement(5).Text() == L"Fonts");
}

TEST_CASE("The ProgID rule takes dotted names and their CLSID and CurVer subkeys") {
    ScanRule rule = ProgIdRule(nullptr);
    REQUIRE(rule.Pattern().KeyCount() == 3);
    for (const wchar_t* name : {L"Word.Document.8", L"txtfile", L"Shell.Application", L"7zFM"})
        CHECK_MESSAGE(Takes(rule, 1, name), Narrow(name));
    for (const wchar_t* name : {L"CLSID", L"clsid", L"CLSIDFile", L"Typelib", L"TYPELIB", L"Interface",
                                L"interface.x", L"{0000}", L".txt", L"*", L"-x"})
        CHECK_FALSE_MESSAGE(Takes(rule, 1, name), Narrow(name));
    CHECK(Capture(rule, 1, L"Word.Document.8") == L"Word.Document.8");

    for (const wchar_t* name : {L"CLSID", L"clsid", L"CurVer", L"CURVER"}) CHECK(Takes(rule, 2, name));
    for (const wchar_t* name : {L"ProgID", L"shell", L"DefaultIcon", L"xCLSID"}) CHECK_FALSE(Takes(rule, 2, name));
}

TEST_CASE("The context menu rule takes file types and * but no extensions") {
    ScanRule rule = ContextMenuHandlerRule(nullptr);
    REQUIRE(rule.Pattern().KeyCount() == 5);
    for (const wchar_t* name : {L"*", L"txtfile", L"Word.Document.8", L"Directory"})
        CHECK_MESSAGE(Takes(rule, 1, name), Narrow(name));
    for (const wchar_t* name : {L".txt", L"7zFM", L"{0000}", L".*"})
        CHECK_FALSE_MESSAGE(Takes(rule, 1, name), Narrow(name));
    CHECK(rule.Pattern().KeyElement(2).Text() == L"shellex");
    CHECK(rule.Pattern().KeyElement(3).Text() == L"ContextMenuHandlers");
    CHECK(rule.Pattern().DataElement().IsMagic());
}

TEST_CASE("The MRU rule skips the order list of each list") {
    ScanRule rule = OpenSaveMruRule(nullptr);
    CHECK_FALSE(TakesValueName(rule, L"MRUList"));
    CHECK_FALSE(TakesValueName(rule, L"mrulistex"));
    CHECK(TakesValueName(rule, L"a"));
    CHECK(TakesValueName(rule, L"b"));
}

TEST_CASE("Class-like levels capture the identifiers") {
    ScanRule clsid = ClsidRule(nullptr);
    CHECK(Capture(clsid, 2, L"{00000000-0000-0000-C000-000000000046}") == L"00000000-0000-0000-C000-000000000046");
    CHECK_FALSE(Takes(clsid, 2, L"CLSID"));

    ScanRule iface = InterfaceRule(nullptr);
    CHECK(Capture(iface, 2, L"{00000000-0000-0000-C000-000000000046}") == L"{00000000-0000-0000-C000-000000000046}");
    CHECK_FALSE(Takes(iface, 2, L"IUnknown"));

    ScanRule typeLib = TypeLibRule(nullptr);
    REQUIRE(typeLib.Pattern().KeyCount() == 6);
    CHECK(Takes(typeLib, 3, L"1.0"));
    CHECK(Takes(typeLib, 3, L"2"));
    CHECK(Takes(typeLib, 4, L"0"));
    CHECK(Takes(typeLib, 4, L"409"));
    CHECK_FALSE(Takes(typeLib, 4, L"FLAGS"));
    for (const wchar_t* platform : {L"win32", L"WIN64"}) CHECK(Takes(typeLib, 5, platform));
    for (const wchar_t* other : {L"win16", L"win321", L"xwin64"}) CHECK_FALSE(Takes(typeLib, 5, other));
}

TEST_CASE("File association levels") {
    ScanRule extensions = FileExtensionRule(nullptr);
    CHECK(Takes(extensions, 1, L".txt"));
    CHECK_FALSE(Takes(extensions, 1, L"txtfile"));
    CHECK_FALSE(Takes(extensions, 1, L"a.txt"));

    ScanRule commands = ShellOpenCommandRule(nullptr);
    CHECK(Takes(commands, 1, L"txtfile"));
    CHECK(Takes(commands, 1, L".txt"));
    CHECK_FALSE(Takes(commands, 1, L"CLSID"));
    CHECK_FALSE(Takes(commands, 1, L"Interface"));
    CHECK_FALSE(Takes(commands, 1, L"TypeLib"));
    CHECK(commands.Pattern().KeyElement(2).Text() == L"shell");
    CHECK(Takes(commands, 3, L"open"));
    CHECK(commands.Pattern().KeyElement(4).Text() == L"command");

    ScanRule icons = DefaultIconRule(nullptr);
    CHECK(Takes(icons, 1, L"txtfile"));
    CHECK_FALSE(Takes(icons, 1, L"CLSID"));
}

TEST_CASE("Office add-ins of the five applications") {
    ScanRule rule = OfficeAddinRule(nullptr, L"HKLM");
    for (const wchar_t* app : {L"Outlook", L"Excel", L"Word", L"Access", L"PowerPoint", L"word"})
        CHECK_MESSAGE(Takes(rule, 4, app), Narrow(app));
    for (const wchar_t* app : {L"Visio", L"Common", L"12.0"}) CHECK_FALSE_MESSAGE(Takes(rule, 4, app), Narrow(app));
}

TEST_CASE("Help files in both help keys; shared DLLs and fonts by any name") {
    ScanRule help = HelpFileRule(nullptr);
    CHECK(Takes(help, 4, L"Help"));
    CHECK(Takes(help, 4, L"HTML Help"));
    CHECK_FALSE(Takes(help, 4, L"CurrentVersion"));

    ScanRule dlls = SharedDllRule(nullptr);
    CHECK(TakesValueName(dlls, L"C:\\Windows\\system32\\x.dll"));
    CHECK(TakesValueName(dlls, L"C:\\x.dll  "));

    ScanRule fonts = FontRule(nullptr);
    CHECK(TakesValueName(fonts, L"Arial (TrueType)"));
    CHECK_FALSE(TakesValueName(fonts, L""));

    ScanRule reinstall = ReinstallRule(nullptr);
    CHECK(reinstall.Pattern().ValueNameElement().IsLiteral());
    CHECK(TakesValueName(reinstall, L"reinstallstring"));
    CHECK_FALSE(TakesValueName(reinstall, L"ReinstallStrings"));
}
