#include <doctest/doctest.h>
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/ClsidChecker.h"
#include "test_comcheck_support.h"

using namespace comcheck;

namespace {

const wchar_t kHostedPageClass[] = L"{4D5C8C2A-D075-11d0-B416-00C04FB90376}";

// One class checker over a fresh set of caches, with a group that collects
// the side findings.
struct ClassWalk {
    ClassWalk() : group(&sink, 1), rule(&group, ClsidKeys, EachKey), checker(&group) {
        CacheTable::Instance().ResetAll();
        checker.Begin(rule);
    }
    ~ClassWalk() { checker.End(rule); }

    // Judges the class key as the walk does, through one of its values.
    bool Judge(const PlantedClass& planted) {
        result.Clear();
        RegKey key = RegKey::OpenPath(planted.Path());
        RegValue value(key, L"");
        return checker.Test(L"", value, result);
    }
    std::optional<bool> Verdict(const tstring& guid) {
        return CacheTable::Instance().Find(CacheTable::InvalidClsidCache, false)->Lookup(guid);
    }
    bool Suspicious(const tstring& progId) {
        return CacheTable::Instance().Find(CacheTable::SuspiciousProgIdCache, false)->Contains(progId);
    }

    TestSink sink;
    ScanGroup group;
    ScanRule rule;
    ClsidChecker checker;
    CheckResult result;
};

tstring Lower(tstring text) {
    CharLowerBuffW(&text[0], DWORD(text.size()));
    return text;
}

}  // namespace

TEST_CASE("Class servers: an in-process module must exist where an absolute path puts it") {
    ClassWalk walk;
    PlantedClass missing, present, bare;
    tstring gone = MissingPath(L"Gone Server.DLL");
    TempFile module(L".dll");
    missing.Set(L"InprocServer32", L"", gone);
    present.Set(L"InprocServer32", L"", module.Path());
    bare.Set(L"InprocServer32", L"", L"comcheck-no-such-module.dll");

    CHECK_FALSE(walk.Judge(missing));
    CHECK(walk.result.ErrorID == 0x012E006E);
    CHECK(walk.result.Item == missing.Guid());
    CHECK(walk.result.Reason == Lower(gone));
    CHECK(walk.result.KeyPath == missing.Path() + L"\\InprocServer32");
    CHECK(walk.result.ValueName.empty());
    CHECK(walk.Verdict(missing.Guid()) == false);

    CHECK(walk.Judge(present));
    CHECK(walk.result.ErrorID == 0);
    CHECK(walk.Verdict(present.Guid()) == true);

    // A bare name is loaded through the search path at run time: not judged.
    CHECK(walk.Judge(bare));
    // The verdict is keyed by the upper-cased class name.
    PlantedClass lowerCase(Lower(NewGuid()));
    lowerCase.Set(L"InprocServer32", L"", gone);
    CHECK_FALSE(walk.Judge(lowerCase));
    tstring upper = lowerCase.Guid();
    CharUpperBuffW(&upper[0], DWORD(upper.size()));
    CHECK(walk.Verdict(upper) == false);
}

TEST_CASE("Class servers: local server command lines") {
    ClassWalk walk;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    tstring folder = FormatText(L"%scomcheck server %u", temp, unsigned(GetCurrentProcessId()));
    CreateDirectoryW(folder.c_str(), nullptr);
    tstring program = folder + L"\\server.exe";
    HANDLE file = CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);

    SUBCASE("an unquoted path with a blank, followed by an argument, is found by joining tokens") {
        PlantedClass unquoted;
        unquoted.Set(L"LocalServer32", L"", program + L" -Embedding");
        CHECK(walk.Judge(unquoted));
        PlantedClass quoted;
        quoted.Set(L"LocalServer32", L"", L"\"" + program + L"\" /automation");
        CHECK(walk.Judge(quoted));
    }
    SUBCASE("a missing program: reason 109 with the lower-cased command") {
        PlantedClass missing;
        tstring command = L"\"" + MissingPath(L"Server.EXE") + L"\" -Embedding";
        missing.Set(L"LocalServer32", L"", command);
        CHECK_FALSE(walk.Judge(missing));
        CHECK(walk.result.ErrorID == 0x012E006D);
        CHECK(walk.result.Item == missing.Guid());
        CHECK(walk.result.Reason == Lower(command));
        CHECK(walk.result.KeyPath == missing.Path() + L"\\LocalServer32");
    }
    SUBCASE("a failing local server and an existing in-process module: the class is sound") {
        PlantedClass both;
        both.Set(L"LocalServer32", L"", MissingPath(L"server.exe"));
        both.Set(L"InprocServer32", L"", SystemFile(L"ole32.dll"));
        CHECK(walk.Judge(both));
        CHECK(walk.result.ErrorID == 0);
    }
    SUBCASE("an empty local server counts as absent; with an assembly it is sound") {
        PlantedClass empty;
        empty.Set(L"LocalServer32", L"", L"");
        empty.Set(L"InprocServer32", L"", MissingPath(L"module.dll"));
        CHECK_FALSE(walk.Judge(empty));
        CHECK(walk.result.ErrorID == 0x012E006E);
        PlantedClass managed;
        managed.Set(L"LocalServer32", L"", L"");
        managed.Set(L"LocalServer32", L"Assembly", L"Some.Assembly, Version=1.0.0.0");
        managed.Set(L"InprocServer32", L"", MissingPath(L"module.dll"));
        CHECK(walk.Judge(managed));
    }
    DeleteFileW(program.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_CASE("Class redirections are followed to the class that serves") {
    ClassWalk walk;
    PlantedClass sound, broken, outer;
    sound.Set(L"InprocServer32", L"", SystemFile(L"ole32.dll"));
    broken.Set(L"InprocServer32", L"", MissingPath(L"module.dll"));

    SUBCASE("a redirection to a sound class is sound") {
        outer.Set(L"TreatAs", L"", sound.Guid());
        CHECK(walk.Judge(outer));
    }
    SUBCASE("a redirection to a class without a key: reason 102 at the outer class") {
        tstring nowhere = NewGuid();
        outer.Set(L"TreatAs", L"", nowhere);
        CHECK_FALSE(walk.Judge(outer));
        CHECK(walk.result.ErrorID == 0x012E0066);
        CHECK(walk.result.Item == outer.Guid());
        CHECK(walk.result.Reason == nowhere);
        CHECK(walk.result.KeyPath == outer.Path() + L"\\TreatAs");
        CHECK(walk.result.ValueName.empty());
    }
    SUBCASE("a redirection to a class whose server is missing: reason 105") {
        outer.Set(L"AutoConvertTo", L"", broken.Guid());
        CHECK_FALSE(walk.Judge(outer));
        CHECK(walk.result.ErrorID == 0x012E0069);
        CHECK(walk.result.Reason == broken.Guid());
        CHECK(walk.result.KeyPath == outer.Path() + L"\\AutoConvertTo");
        CHECK(walk.Verdict(broken.Guid()) == false);
    }
    SUBCASE("a class that treats itself as itself ends at the depth limit without a finding") {
        outer.Set(L"TreatAs", L"", outer.Guid());
        CHECK(walk.Judge(outer));
    }
    SUBCASE("an empty redirection names no class and is ignored") {
        outer.Set(L"TreatAs", L"", L"");
        outer.Set(L"InprocServer32", L"", SystemFile(L"ole32.dll"));
        CHECK(walk.Judge(outer));
        CHECK(walk.Verdict(outer.Guid()) == true);
    }
}

TEST_CASE("Browser-hosted and scriptlet classes need the page or script they load") {
    ClassWalk walk;
    TempFile page(L".htm");
    PlantedClass plain, hosted, scriptlet;

    SUBCASE("the browser host's own classes name no page and are sound") {
        plain.Set(L"LocalServer32", L"", MissingPath(L"server.exe"));
        plain.Set(L"InprocServer32", L"", SystemFile(L"shdocvw.dll"));
        CHECK(walk.Judge(plain));
    }
    SUBCASE("a hosted page that is gone: reason 111 on the property bag") {
        hosted.Set(L"InprocServer32", L"", SystemFile(L"shdocvw.dll"));
        hosted.Set(L"Instance", L"CLSID", kHostedPageClass);
        tstring gone = MissingPath(L"page.htm");
        hosted.Set(L"Instance\\InitPropertyBag", L"Url", gone);
        CHECK_FALSE(walk.Judge(hosted));
        CHECK(walk.result.ErrorID == 0x012E006F);
        CHECK(walk.result.Item == hosted.Guid());
        CHECK(walk.result.Reason == gone);
        CHECK(walk.result.KeyPath == hosted.Path() + L"\\Instance\\InitPropertyBag");
        CHECK(walk.result.ValueName == L"Url");
        hosted.Set(L"Instance\\InitPropertyBag", L"Url", page.Path());
        CHECK(walk.Judge(hosted));
    }
    SUBCASE("a scriptlet whose script is gone: reason 111 on its ScriptletURL key") {
        scriptlet.Set(L"InprocServer32", L"", SystemFile(L"scrobj.dll"));
        tstring gone = MissingPath(L"object.sct");
        scriptlet.Set(L"ScriptletURL", L"", gone);
        CHECK_FALSE(walk.Judge(scriptlet));
        CHECK(walk.result.ErrorID == 0x012E006F);
        CHECK(walk.result.Reason == gone);
        CHECK(walk.result.KeyPath == scriptlet.Path() + L"\\ScriptletURL");
        CHECK(walk.result.ValueName.empty());
    }
}

TEST_CASE("Keys a class names are checked once per scan and reported on their own") {
    ClassWalk walk;
    PlantedClass named;
    named.Set(L"InprocServer32", L"", SystemFile(L"ole32.dll"));
    tstring missingProgId = NewProgId(L"Missing");
    tstring missingLibrary = NewGuid();
    named.Set(L"ProgID", L"", missingProgId);
    named.Set(L"TypeLib", L"", missingLibrary);
    named.Set(L"DefaultIcon", L"", L",3");

    CHECK(walk.Judge(named));
    CHECK(walk.result.ErrorID == 0);
    // Met again (directly or as a redirection target): resolved again, its side
    // checks are not repeated.
    CHECK(walk.Judge(named));

    std::vector<Seen> seen = Collect(walk.sink);
    REQUIRE(seen.size() == 3);
    CHECK(seen[0].reportedKey == named.Path() + L"\\DefaultIcon");
    CHECK(seen[0].errorId == 0x012E0068);
    CHECK(seen[0].item == named.Guid() + L"\\DefaultIcon");
    CHECK(seen[0].reason == L",3");
    CHECK(seen[1].reportedKey == named.Path() + L"\\ProgID");
    CHECK(seen[1].errorId == 0x012E0071);
    CHECK(seen[1].item == named.Guid() + L"\\ProgID");
    CHECK(seen[1].reason == missingProgId);
    CHECK(seen[1].keyPath == named.Path() + L"\\ProgID");
    CHECK(seen[2].reportedKey == named.Path() + L"\\TypeLib");
    CHECK(seen[2].errorId == 0x012E0067);
    CHECK(seen[2].item == named.Guid() + L"\\TypeLib");
    CHECK(seen[2].reason == missingLibrary);
    for (const Seen& s : seen)
        CHECK(s.reportedValue.empty());
}

TEST_CASE("Side checks of a class: what counts as present") {
    ClassWalk walk;
    tstring progId = NewProgId(L"Present");
    ClassesKey progIdKey(progId);
    PlantedClass named, serverless;
    named.Set(L"InprocServer32", L"", SystemFile(L"ole32.dll"));
    named.Set(L"ProgID", L"", progId);
    named.Set(L"VersionIndependentProgID", L"", L"");
    named.Set(L"DefaultIcon", L"", L"comcheck-bare-icon-file.ico,0");
    // A class without any server is sound, and its named keys are checked too.
    serverless.Set(L"DefaultIcon", L"", SystemFile(L"shell32.dll") + L",-33");

    CHECK(walk.Judge(named));
    CHECK(walk.Judge(serverless));
    CHECK(walk.Verdict(serverless.Guid()) == true);
    CHECK(Collect(walk.sink).empty());
}

TEST_CASE("The ProgIDs of a broken class become suspicious when their keys exist") {
    ClassWalk walk;
    tstring existing = NewProgId(L"Existing"), missing = NewProgId(L"Missing");
    ClassesKey existingKey(existing);
    PlantedClass broken;
    broken.Set(L"InprocServer32", L"", MissingPath(L"module.dll"));
    broken.Set(L"ProgID", L"", existing);
    broken.Set(L"VersionIndependentProgID", L"", missing);
    CHECK_FALSE(walk.Judge(broken));
    CHECK(walk.Suspicious(existing));
    CHECK_FALSE(walk.Suspicious(missing));
    // A broken class has no side checks: its own finding says enough.
    CHECK(Collect(walk.sink).empty());
}

TEST_CASE("The class checker marks its caches ready when its walk ends") {
    CacheTable::Instance().ResetAll();
    TestSink sink;
    ScanGroup group(&sink, 1);
    ScanRule rule(&group, ClsidKeys, EachKey);
    {
        ClsidChecker checker(&group);
        checker.Begin(rule);
        NamedCache* classes = CacheTable::Instance().Find(CacheTable::InvalidClsidCache, false);
        REQUIRE(classes);
        CHECK_FALSE(classes->IsReady());
        checker.End(rule);
        CHECK(classes->IsReady());
    }
    CHECK(CacheTable::Instance().Find(CacheTable::SuspiciousProgIdCache, false)->IsReady());
    CHECK(CacheTable::Instance().Find(CacheTable::AppIdCache, false)->IsReady());
}
