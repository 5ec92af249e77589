#include "engine/scan/GroupProcedures.h"
#include <exception>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/PathWalker.h"
#include "engine/registry/RegistryCallCounter.h"
#include "engine/scan/BrowserExtensionTest.h"
#include "engine/scan/CachedClsidTest.h"
#include "engine/scan/Categories.h"
#include "engine/scan/ClsidChecker.h"
#include "engine/scan/FileClassTest.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/FontFileTest.h"
#include "engine/scan/InterfaceTest.h"
#include "engine/scan/MimeTypeTest.h"
#include "engine/scan/ModuleFileTest.h"
#include "engine/scan/NulNameScan.h"
#include "engine/scan/OfficeProgIdTest.h"
#include "engine/scan/ProgIdChecker.h"
#include "engine/scan/ResourceUrlTest.h"
#include "engine/scan/ServiceImageTest.h"
#include "engine/scan/ShellCommandTest.h"
#include "engine/scan/TypeLibFileTest.h"
#include "engine/scan/UninstallCommandTest.h"

namespace {

tstring PatternText(const ScanRule& rule) {
    tstring pattern;
    for (const PatternElement& e : rule.Pattern().KeyElements()) pattern += (e.IsLiteral() ? L"#" : L"@") + e.Text();
    return pattern;
}

void LogRuleFailure(ScanGroup& group, const ScanRule& rule, const tstring& text) {
    Log::Instance().Print(LogError, L"[error] Scan group %u, rule %s: %s", unsigned(group.GroupBit()),
                          PatternText(rule).c_str(), text.c_str());
}

// Consumers of a cache whose producer failed must neither wait for it nor
// trust what it holds: marked not ready, it yields no verdicts.
void ReleaseNotReady(const std::vector<tstring>& names) {
    for (const tstring& name : names) {
        try {
            NamedCache* cache = CacheTable::Instance().GetOrCreate(name);
            cache->SetReady(false);
        } catch (...) {
        }
    }
}

}  // namespace

void CategoryRun::Add(ScanRule rule, TestFactory makeTest, std::vector<tstring> produces) {
    Step step{{}, std::move(makeTest), std::move(produces), nullptr};
    step.rules.push_back(std::move(rule));
    steps_.push_back(std::move(step));
}

void CategoryRun::AddWithWow64View(ScanRule rule, TestFactory makeTest, std::vector<tstring> produces) {
    ScanRule wow64 = Wow64ViewRule(rule);
    Add(std::move(rule), std::move(makeTest), std::move(produces));
    if (!IsSharedWow64View(wow64))
        steps_.back().rules.push_back(std::move(wow64));
}

void CategoryRun::RunStep(Step& step) {
    bool completed = false;
    ScanRule& first = step.rules.front();
    RegistryCallCounter::Label(group_.GroupBit(), PatternText(first));
    try {
        step.test = step.makeTest();
        step.test->Begin(first);
        for (ScanRule& rule : step.rules) {
            if (group_.StopRequested()) break;
            PathWalker walker(rule, step.test.get());
            walker.Run(rule);
        }
        // A producer whose walk was cut short must not mark its cache ready:
        // a consumer would take every entry it did not reach for a broken one.
        if (!group_.StopRequested()) {
            step.test->End(first);
            completed = true;
        }
    } catch (const ErrorBase& e) {
        LogRuleFailure(group_, first, e.Message());
    } catch (const std::exception& e) {
        LogRuleFailure(group_, first, tstring::FromNarrow(e.what()));
    } catch (...) {
        LogRuleFailure(group_, first, L"unknown exception");
    }
    if (!completed) ReleaseNotReady(step.produces);
}

DWORD CategoryRun::Run() {
    DWORD code = ScanGroup::ExitDone;
    for (Step& step : steps_) {
        RunStep(step);
        if (group_.StopRequested()) {
            code = ScanGroup::ExitStopped;
            break;
        }
    }
    group_.ReportFinish();
    if (group_.StopRequested()) code = ScanGroup::ExitStopped;
    steps_.clear();
    return code;
}

// On 64-bit Windows the areas that 32-bit programs see redirected (below
// HKCR and HKLM\SOFTWARE) are walked in both views. Each area named here with
// Add alone has one view only: services (HKLM\SYSTEM), everything of HKCU,
// and the keys both views share: type libraries, fonts and the file types of
// HKCR (file associations, context menu handlers), which the shell reads from
// the native view.
DWORD ComGroupProc(ScanGroup& group) {
    CategoryRun run(group);
    run.Add(ServicesRule(&group), NewTest<ServiceImageTest>(), {CacheTable::ServiceCache});
    // Side findings of the class checker (references, icons) go straight to the group.
    run.AddWithWow64View(ClsidRule(&group), NewTest<ClsidChecker>(&group),
                         {CacheTable::InvalidClsidCache, CacheTable::SuspiciousProgIdCache, CacheTable::AppIdCache});
    run.AddWithWow64View(ProgIdRule(&group), NewTest<ProgIdChecker>(),
                         {CacheTable::ProgIdCache, CacheTable::InvalidProgIdCache});
    run.Add(TypeLibRule(&group), NewTest<TypeLibFileTest>(), {CacheTable::TypeLibCache});
    // Built when its rule comes, after the class and type library rules of
    // this thread have filled the caches it waits for.
    run.AddWithWow64View(InterfaceRule(&group), NewTest<InterfaceTest>());
    return run.Run();
}

DWORD BrowserGroupProc(ScanGroup& group) {
    CategoryRun run(group);
    run.AddWithWow64View(BrowserExtensionRule(&group, L"HKLM"), NewTest<BrowserExtensionTest>());
    run.Add(BrowserExtensionRule(&group, L"HKCU"), NewTest<BrowserExtensionTest>());
    TestFactory menuTest = SharedTest<ResourceUrlTest>();
    run.AddWithWow64View(BrowserMenuExtensionRule(&group, L"HKLM"), menuTest);
    run.Add(BrowserMenuExtensionRule(&group, L"HKCU"), menuTest);
    run.Add(ContextMenuHandlerRule(&group),
            NewTest<ClsidNameTest>(ClsidNameTest::DataOrKeyName, uint16_t(ProblemShellContextMenu)));
    run.AddWithWow64View(BrowserToolbarRule(&group, L"HKLM"),
                         NewTest<ClsidNameTest>(ClsidNameTest::ValueName, uint16_t(ProblemBrowserToolbar)));
    run.AddWithWow64View(BrowserBarRule(&group, L"HKLM"),
                         NewTest<ClsidNameTest>(ClsidNameTest::KeyName, uint16_t(ProblemBrowserBar)));
    run.Add(BrowserBarRule(&group, L"HKCU"),
            NewTest<ClsidNameTest>(ClsidNameTest::KeyName, uint16_t(ProblemBrowserBar)));
    run.AddWithWow64View(BrowserHelperObjectRule(&group),
                         NewTest<ClsidNameTest>(ClsidNameTest::KeyName, uint16_t(ProblemBrowserExtension)));
    run.AddWithWow64View(ShellExecuteHookRule(&group),
                         NewTest<ClsidNameTest>(ClsidNameTest::ValueName, uint16_t(ProblemExplorerExtension)));
    return run.Run();
}

DWORD SharedComponentsGroupProc(ScanGroup& group) {
    CategoryRun run(group);
    run.AddWithWow64View(HelpFileRule(&group), NewTest<HelpFileTest>());
    run.Add(FontRule(&group), NewTest<FontFileTest>());
    run.AddWithWow64View(SharedToolRule(&group), NewTest<FilePathTest>());
    run.AddWithWow64View(SharedDllRule(&group), NewTest<SharedFileTest>());
    return run.Run();
}

DWORD ControlPanelGroupProc(ScanGroup& group) {
    CategoryRun run(group);
    run.AddWithWow64View(ControlPanelAppletRule(&group, L"HKLM"), NewTest<ModulePathTest>());
    run.Add(ControlPanelAppletRule(&group, L"HKCU"), NewTest<ModulePathTest>());
    run.AddWithWow64View(UninstallRule(&group), NewTest<UninstallCommandTest>());
    run.AddWithWow64View(ReinstallRule(&group), NewTest<ReinstallStringTest>());
    return run.Run();
}

DWORD OfficeGroupProc(ScanGroup& group) {
    CategoryRun run(group);
    TestFactory addinTest = SharedTest<OfficeProgIdTest>();
    run.AddWithWow64View(OfficeAddinRule(&group, L"HKLM"), addinTest);
    run.Add(OfficeAddinRule(&group, L"HKCU"), addinTest);
    return run.Run();
}

DWORD MruGroupProc(ScanGroup& group) {
    CategoryRun run(group);
    run.AddWithWow64View(AppPathRule(&group), NewTest<ProgramFileTest>());
    run.Add(OpenSaveMruRule(&group), NewTest<KeyValuePathTest>());
    return run.Run();
}

DWORD AssociationsGroupProc(ScanGroup& group) {
    CategoryRun run(group);
    run.Add(ShellOpenCommandRule(&group), NewTest<ShellCommandTest>());
    run.Add(MimeContentTypeRule(&group), NewTest<MimeTypeTest>());
    run.Add(DefaultIconRule(&group), NewTest<ModuleFileTest>(true));
    run.Add(FileExtensionRule(&group), NewTest<FileClassTest>());
    return run.Run();
}

GroupProcedure GroupProcedureFor(uint32_t categoryBit) {
    switch (categoryBit) {
    case CategoryCom: return ComGroupProc;
    case CategoryBrowser: return BrowserGroupProc;
    case CategorySharedComponents: return SharedComponentsGroupProc;
    case CategoryControlPanel: return ControlPanelGroupProc;
    case CategoryOffice: return OfficeGroupProc;
    case CategoryMru: return MruGroupProc;
    case CategoryAssociations: return AssociationsGroupProc;
    case CategoryNullNames: return NullNamesGroupProc;
    default: return nullptr;
    }
}
