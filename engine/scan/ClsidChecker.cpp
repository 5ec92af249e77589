#include "engine/scan/ClsidChecker.h"
#include <shlwapi.h>
#include <locale>
#include <vector>
#include "common/system/CommandLine.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/scan/ChildKeyCensus.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/KeyReads.h"
#include "engine/scan/ModuleFileTest.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/ResourceUrlTest.h"
#include "engine/scan/ScanGroup.h"

namespace {

constexpr int32_t ClassError(uint16_t reason) { return int32_t(MakeErrorID(ProblemClsid, reason)); }

// The class that a browser-hosted document class (served by shdocvw.dll) names
// when it shows a web page from its "Url" property.
const wchar_t kHostedPageClass[] = L"{4D5C8C2A-D075-11d0-B416-00C04FB90376}";

[[noreturn]] void ThrowMissingKey() { throw Win32Error(ERROR_FILE_NOT_FOUND); }

tstring Expanded(const tstring& text) {
    tstring expanded;
    ExpandEnvironment(expanded, text.c_str());
    return expanded;
}

// The program texts a server command line may stand for: the first token, the
// whole text, then the tokens joined one by one (an unquoted path with blanks).
std::vector<tstring> ProgramCandidates(const tstring& text) {
    CommandLine line;
    line.Parse(text.c_str(), CommandLineRules::ProgramRules());
    std::vector<tstring> candidates;
    if (line.Count() > 0)
        candidates.push_back(line.Arg(0));
    candidates.push_back(text);
    tstring joined;
    for (int i = 0; i < line.Count(); ++i) {
        if (i > 0)
            joined += L' ';
        joined += line.Arg(i);
        candidates.push_back(joined);
    }
    return candidates;
}

}  // namespace

void ClsidChecker::Begin(ScanRule& rule) {
    appIdTest_.Begin(rule);
    CacheTable& table = CacheTable::Instance();
    clsidCache_ = table.GetOrCreate(CacheTable::InvalidClsidCache);
    suspiciousProgIdCache_ = table.GetOrCreate(CacheTable::SuspiciousProgIdCache);
}

void ClsidChecker::End(ScanRule& rule) {
    appIdTest_.End(rule);
    if (clsidCache_)
        clsidCache_->SetReady(true);
    if (suspiciousProgIdCache_)
        suspiciousProgIdCache_->SetReady(true);
}

bool ClsidChecker::Test(const tstring&, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    bool resolved = ResolveClsidServer(value.Key(), result, 0);
    if (resolved)
        result.ErrorID = 0;
    return resolved;
}

bool ClsidChecker::ResolveClsidServer(const RegKey& classKey, CheckResult& result, int depth) {
    ++depth;
    if (depth > MaxDepth)
        return true;
    tstring name = UpperText(classKey.Name());
    // Most probes below ask for optional subkeys that a class lacks.
    ChildKeyCensus census(classKey);
    CensusScope scope(census_, &census);
    bool resolved = false;
    bool sawKey = false;
    auto apply = [&](Step step) {
        if (step == Step::Absent)
            return;
        sawKey = true;
        resolved = step == Step::Resolved;
    };
    apply(TryServer(classKey, L"LocalServer32", true, result));
    if (!resolved)
        apply(TryServer(classKey, L"InprocServer32", false, result));
    for (const wchar_t* redirection : {L"AutoConvertTo", L"TreatAs", L"AutoTreatAs"})
        if (!resolved)
            apply(TryRedirection(classKey, redirection, result, depth));

    if (resolved || !sawKey) {
        if (FirstMeeting(classKey, name))
            RunSideChecks(classKey);
        resolved = true;
    }
    StoreVerdict(classKey, name, resolved);
    if (!resolved)
        MarkSuspiciousProgIds(classKey);
    return resolved;
}

ClsidChecker::Step ClsidChecker::TryServer(const RegKey& classKey, const wchar_t* subkey, bool local,
                                           CheckResult& result) {
    // Each check fills a result of its own, so that a failure is reported with
    // its own fields and a later success leaves nothing half-written behind.
    CheckResult own;
    bool found;
    try {
        RegKey server = ClassChild(classKey, subkey);
        if (server.IsEmpty())
            return Step::Absent;
        found = local ? CheckLocalServer(server, own) : CheckInprocServer(server, own);
    } catch (const ErrorBase& e) {
        if (IsMissingKey(e))
            return Step::Absent;
        throw;
    }
    if (found)
        return Step::Resolved;
    result = own;
    return Step::Failed;
}

ClsidChecker::Step ClsidChecker::TryRedirection(const RegKey& classKey, const wchar_t* subkey,
                                                CheckResult& result, int depth) {
    RegKey redirection = ClassChild(classKey, subkey);
    if (redirection.IsEmpty())
        return Step::Absent;
    RegValue named(redirection, tstring());
    tstring target = named.DataText();
    // An empty redirection names no class; COM ignores it and uses the class itself.
    if (target.empty())
        return Step::Absent;
    int32_t code = ClassError(ReasonInvalidClsid);
    bool resolved = false;
    try {
        RegKey targetKey = RegKey::OpenChild(classKey.Ancestor(0), target);
        CheckResult inner;
        resolved = ResolveClsidServer(targetKey, inner, depth);
    } catch (const ErrorBase& e) {
        if (!IsMissingKey(e))
            throw;
        code = ClassError(ReasonClsidNotFound);
    }
    if (resolved)
        return Step::Resolved;
    // A broken chain is reported at the outermost class, with the code of the
    // level just below it.
    FillFinding(result, uint32_t(code), classKey.Name(), target, named);
    return Step::Failed;
}

// A server without a command or module may be a managed one that names its
// assembly; with neither, the server is as good as absent.
bool ClsidChecker::CheckAssemblyOf(const RegKey& server, CheckResult& result) {
    RegValue assembly(server, L"Assembly");
    if (assembly.Query())
        return CheckAssembly(assembly, result);
    ThrowMissingKey();
}

bool ClsidChecker::CheckLocalServer(const RegKey& server, CheckResult& result) {
    RegValue command(server, tstring());
    tstring text = command.DataText();
    if (text.empty())
        return CheckAssemblyOf(server, result);
    text.MakeLower(std::locale());
    for (const tstring& candidate : ProgramCandidates(text))
        if (FindProgramFile(candidate, result))
            return true;
    FillFinding(result, uint32_t(ClassError(ReasonInvalidLocalServer)), server.Ancestor(0).Name(), text, command);
    return false;
}

bool ClsidChecker::CheckInprocServer(const RegKey& server, CheckResult& result) {
    RegValue module(server, tstring());
    tstring text = module.DataText();
    if (text.empty())
        return CheckAssemblyOf(server, result);
    text.MakeLower(std::locale());
    if (FindModuleFile(text, result, true))
        return CheckScriptlet(server.Ancestor(0), text, result);
    // A bare module name is loaded through the search path at run time; it
    // cannot be judged from here.
    if (PathIsRelativeW(Expanded(text).c_str()))
        return true;
    FillFinding(result, uint32_t(ClassError(ReasonInvalidInprocServer)), server.Ancestor(0).Name(), text, module);
    return false;
}

// A class served by the browser host or the scriptlet runtime is only as good
// as the page or script it loads. Those modules also serve plain classes of
// their own that name no such location; the found module is their verdict.
bool ClsidChecker::CheckScriptlet(const RegKey& classKey, const tstring& module, CheckResult& result) {
    RegKey locationKey;
    tstring valueName;
    if (module.find(L"shdocvw.dll") != tstring::npos) {
        RegKey instance = ClassChildOrEmpty(classKey, L"Instance");
        if (instance.IsEmpty() || ValueTextOrEmpty(instance, L"CLSID") != kHostedPageClass)
            return true;
        locationKey = OpenChildOrEmpty(instance, L"InitPropertyBag");
        valueName = L"Url";
    } else if (module.find(L"scrobj.dll") != tstring::npos) {
        locationKey = ClassChildOrEmpty(classKey, L"ScriptletURL");
    } else {
        return true;
    }
    if (locationKey.IsEmpty())
        return true;
    RegValue location(locationKey, valueName);
    tstring url = location.DataText();
    if (ScriptLocationExists(url, location, result))
        return true;
    FillFinding(result, uint32_t(ClassError(ReasonScriptNotFound)), classKey.Name(), url, location);
    return false;
}

bool ClsidChecker::FirstMeeting(const RegKey& classKey, const tstring& name) {
    // The same class registered for 32-bit programs is a registration of its
    // own, with references and an icon of its own.
    if (classKey.InWow64View())
        return wow64Met_.insert(name).second;
    return !clsidCache_ || !clsidCache_->Contains(name);
}

void ClsidChecker::StoreVerdict(const RegKey& classKey, const tstring& name, bool resolved) {
    if (!clsidCache_)
        return;
    // The verdict's readers ask whether the class serves the programs that
    // name it, and 32-bit and 64-bit programs share most naming keys: a class
    // that resolves in either view is good. The native view is walked first.
    if (classKey.InWow64View() && !resolved)
        resolved = clsidCache_->Lookup(name).value_or(false);
    clsidCache_->Set(name, resolved);
}

// A 32-bit class names ProgIDs and type libraries as 32-bit programs see
// them: in the keys both views share, or in its own view where Windows keeps
// them apart.
bool ClsidChecker::ReferenceExists(const RegKey& classKey, const tstring& prefix, const tstring& reference) {
    if (KeyPathExists(prefix + reference))
        return true;
    const tstring classes = L"HKCR\\";
    if (!classKey.InWow64View() || prefix.compare(0, classes.size(), classes) != 0)
        return false;
    return KeyPathExists(classes + RegKey::Wow64ViewName + L"\\" + prefix.substr(classes.size()) + reference);
}

void ClsidChecker::RunSideChecks(const RegKey& classKey) {
    // A side finding is the class's own business: a failure while reading one
    // of these keys must not cost the class its verdict.
    CheckResult side;
    try {
        CheckReference(classKey, L"ProgID", L"HKCR\\", side, ReasonProgIdNotFound);
    } catch (const ErrorBase&) {
    }
    try {
        CheckReference(classKey, L"VersionIndependentProgID", L"HKCR\\", side, ReasonProgIdNotFound);
    } catch (const ErrorBase&) {
    }
    try {
        CheckReference(classKey, L"TypeLib", L"HKCR\\TypeLib\\", side, ReasonTypeLibMissing);
    } catch (const ErrorBase&) {
    }
    try {
        CheckDefaultIcon(classKey, side);
    } catch (const ErrorBase&) {
    }
}

void ClsidChecker::CheckReference(const RegKey& classKey, const tstring& subkey, const tstring& prefix,
                                  CheckResult& result, uint16_t reason) {
    RegKey named = ClassChild(classKey, subkey);
    if (named.IsEmpty())
        return;
    RegValue value(named, tstring());
    tstring reference = ValueTextOrEmpty(named);
    // An empty reference names nothing that could be missing.
    if (reference.empty() || ReferenceExists(classKey, prefix, reference))
        return;
    FillFinding(result, uint32_t(ClassError(reason)), classKey.Name() + L"\\" + subkey, reference, value);
    Report(value, result);
}

void ClsidChecker::CheckDefaultIcon(const RegKey& classKey, CheckResult& result) {
    RegKey icon = ClassChild(classKey, L"DefaultIcon");
    if (icon.IsEmpty())
        return;
    RegValue value(icon, tstring());
    tstring text = ValueTextOrEmpty(icon);
    if (IconLocationExists(text, value, result))
        return;
    result.Item += L"\\DefaultIcon";
    result.ErrorID = ClassError(ReasonOf(uint32_t(result.ErrorID)));
    Report(value, result);
}

void ClsidChecker::MarkSuspiciousProgIds(const RegKey& classKey) {
    if (!suspiciousProgIdCache_ || classKey.AncestorCount() < 2)
        return;
    RegKey classesRoot = classKey.Ancestor(1);
    for (const wchar_t* subkey : {L"ProgID", L"VersionIndependentProgID"}) {
        tstring progId = ValueTextOrEmpty(ClassChildOrEmpty(classKey, subkey));
        if (!progId.empty() && !OpenChildOrEmpty(classesRoot, progId).IsEmpty())
            suspiciousProgIdCache_->Set(progId, false);
    }
}

bool ClsidChecker::ScriptLocationExists(const tstring& url, RegValue&, CheckResult& result) {
    return ResourceUrlTest::ResourceExists(url, result);
}

bool ClsidChecker::IconLocationExists(const tstring& text, RegValue& value, CheckResult& result) {
    // The icon file is judged as written: a bare file name is not searched for.
    ModuleFileTest iconTest(false);
    return iconTest.Test(text, value, result);
}

RegKey ClsidChecker::ClassChild(const RegKey& classKey, const tstring& name) {
    if (census_ && census_->Covers(classKey))
        return census_->OpenIfPresent(name);
    return OpenChildIfPresent(classKey, name);
}

RegKey ClsidChecker::ClassChildOrEmpty(const RegKey& classKey, const tstring& name) {
    try {
        return ClassChild(classKey, name);
    } catch (const ErrorBase&) {
        return RegKey();
    }
}

void ClsidChecker::Report(const RegValue& value, const CheckResult& result) {
    if (reportSink_)
        reportSink_->ReportValueFinding(value, result);
}
