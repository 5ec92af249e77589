#include <doctest/doctest.h>
#include "common/errors/ErrorBase.h"
#include "engine/fix/KeyActions.h"
#include "engine/fix/ValueActions.h"
#include "engine/registry/NativeRegistry.h"
#include "test_planner_fixture.h"

namespace {

const wchar_t kCustomDacl[] = L"D:P(A;OICI;KA;;;WD)(A;;KR;;;BU)";

// Plans the finding, saves the undo data, applies the fix, checks its effect,
// then undoes it from an entry read back from the undo stream, as a later
// undo session would: the export of the tree must come back byte for byte.
template <typename Effect>
void FixAndUndo(const FixTestKey& tree, const CheckResult& finding, Effect effect, size_t expectedActions = 0) {
    std::string before = RegExport(tree.Relative());
    REQUIRE(before.size() > 100);
    FixEntry entry;
    int32_t fixId = FixPlannerRegistry::Instance().Plan(finding.KeyPath, finding.ValueName, finding, &entry);
    REQUIRE(fixId > 0);
    if (expectedActions)
        CHECK(entry.ActionCount() == expectedActions);
    CHECK(entry.GetError().ErrorID == finding.ErrorID);

    Archive record;
    REQUIRE(entry.Serialize(record, true));
    Archive undo;
    REQUIRE(ApplyWithUndo(entry, undo) == 0);
    effect();

    record.Seek(0, 0);
    FixEntry readBack;
    REQUIRE(readBack.Serialize(record, false));
    undo.Seek(0, 0);
    CHECK(readBack.Undo(undo) == 0);
    CHECK(readBack.Undone());
    CHECK(undo.Remaining() == 0);
    CHECK(RegExport(tree.Relative()) == before);
}

int32_t PlanOnly(const CheckResult& finding, FixEntry& entry) {
    return FixPlannerRegistry::Instance().Plan(finding.KeyPath, finding.ValueName, finding, &entry);
}

}  // namespace

TEST_CASE("planner: codes without a planner cost no FixID") {
    FixTestKey tree(L"nocode");
    PlantKey(tree.Handle(), L"K");
    FixEntry first;
    int32_t id = PlanOnly(Finding(ProblemInterface, ReasonNone, tree.Path(L"K"), L""), first);
    REQUIRE(id > 0);
    for (uint16_t problem : {uint16_t(0), uint16_t(299), uint16_t(300), uint16_t(301), uint16_t(313),
                             uint16_t(334), uint16_t(0xFFFF)}) {
        FixEntry entry;
        CHECK(PlanOnly(Finding(problem, ReasonNone, tree.Path(L"K"), L""), entry) == 0);
        CHECK(entry.ActionCount() == 0);
    }
    CHECK(FixPlannerRegistry::Instance().Plan(tree.Path(L"K"), L"", Finding(ProblemInterface, ReasonNone,
                                                                              tree.Path(L"K"), L""), nullptr) == 0);
    // A refused reason costs nothing either.
    FixEntry refused;
    CHECK(PlanOnly(Finding(ProblemClsid, ReasonNone, tree.Path(L"K"), L""), refused) == 0);
    FixEntry next;
    CHECK(PlanOnly(Finding(ProblemInterface, ReasonNone, tree.Path(L"K"), L""), next) == id + 1);
}

TEST_CASE("planner: class key with every value type, 120 subkeys and a custom DACL") {
    FixTestKey tree(L"clsid");
    PlantBigTree(tree.Relative(L"{C1}"));
    REQUIRE(SetKeyDacl(tree.Relative(L"{C1}"), kCustomDacl));
    REQUIRE(SetKeyDacl(tree.Relative(L"{C1}\\Sub007"), kCustomDacl));
    tstring daclTop = KeySddl(tree.Relative(L"{C1}"));
    tstring daclSub = KeySddl(tree.Relative(L"{C1}\\Sub007"));
    FixAndUndo(tree, Finding(ProblemClsid, ReasonInvalidInprocServer, tree.Path(L"{C1}"), L""),
               [&] { CHECK_FALSE(HasKey(tree.Relative(L"{C1}"))); }, 1);
    CHECK(KeySddl(tree.Relative(L"{C1}")) == daclTop);
    CHECK(KeySddl(tree.Relative(L"{C1}\\Sub007")) == daclSub);
    CHECK(ValueType(tree.Relative(L"{C1}"), L"Link") == REG_LINK);
}

TEST_CASE("planner: ProgID loses its CLSID and CurVer subkeys") {
    FixTestKey tree(L"progid");
    HKEY prog = MakeKey(tree.Handle(), L"Prog.1");
    SetText(prog, L"", L"A program");
    RegCloseKey(prog);
    HKEY clsid = MakeKey(tree.Handle(), L"Prog.1\\CLSID");
    SetText(clsid, L"", L"{gone}");
    RegCloseKey(clsid);
    HKEY curVer = MakeKey(tree.Handle(), L"Prog.1\\CurVer");
    SetText(curVer, L"", L"Prog.2");
    RegCloseKey(curVer);
    PlantKey(tree.Handle(), L"Prog.1\\Shell\\Open");
    FixAndUndo(tree, Finding(ProblemProgId, ReasonClsidNotFound, tree.Path(L"Prog.1\\CLSID"), L""), [&] {
        CHECK_FALSE(HasKey(tree.Relative(L"Prog.1\\CLSID")));
        CHECK_FALSE(HasKey(tree.Relative(L"Prog.1\\CurVer")));
        CHECK(HasKey(tree.Relative(L"Prog.1\\Shell\\Open")));
    }, 2);

    PlantKey(tree.Handle(), L"Lonely\\Sub");
    FixEntry empty;
    CHECK(PlanOnly(Finding(ProblemProgId, ReasonInvalidClsid, tree.Path(L"Lonely\\Sub"), L""), empty) > 0);
    CHECK(empty.ActionCount() == 0);
    FixEntry refused;
    CHECK(PlanOnly(Finding(ProblemProgId, ReasonNone, tree.Path(L"Lonely\\Sub"), L""), refused) == 0);
    FixEntry missing;
    CHECK_THROWS_AS(PlanOnly(Finding(ProblemProgId, ReasonInvalidClsid, tree.Path(L"Nowhere"), L""), missing),
                    ErrorBase);
}

TEST_CASE("planner: type library version and, when emptied, its library key") {
    FixTestKey tree(L"typelib");
    HKEY win32 = MakeKey(tree.Handle(), L"{T1}\\1.0\\0\\win32");
    SetText(win32, L"", L"C:\\gone.tlb");
    RegCloseKey(win32);
    HKEY version = MakeKey(tree.Handle(), L"{T1}\\1.0");
    SetText(version, L"", L"Type library");
    RegCloseKey(version);
    SUBCASE("only version") {
        FixAndUndo(tree, Finding(ProblemTypeLib, ReasonFileNotFound, tree.Path(L"{T1}\\1.0\\0\\win32"), L""),
                   [&] { CHECK_FALSE(HasKey(tree.Relative(L"{T1}"))); }, 4);
    }
    SUBCASE("another version keeps the library key") {
        PlantKey(tree.Handle(), L"{T1}\\2.0\\0\\win64");
        FixAndUndo(tree, Finding(ProblemTypeLib, ReasonNone, tree.Path(L"{T1}\\1.0\\0\\win32"), L""), [&] {
            CHECK_FALSE(HasKey(tree.Relative(L"{T1}\\1.0")));
            CHECK(HasKey(tree.Relative(L"{T1}\\2.0\\0\\win64")));
        }, 4);
    }
    SUBCASE("a library key with a value of its own stays") {
        SetText(tree.Handle(), L"keep", L"x");
        HKEY library = MakeKey(tree.Handle(), L"{T1}");
        SetText(library, L"Note", L"kept");
        RegCloseKey(library);
        FixAndUndo(tree, Finding(ProblemTypeLib, ReasonNone, tree.Path(L"{T1}\\1.0\\0\\win32"), L""), [&] {
            CHECK_FALSE(HasKey(tree.Relative(L"{T1}\\1.0")));
            CHECK(HasValue(tree.Relative(L"{T1}"), L"Note"));
        }, 4);
    }
}

TEST_CASE("planner: key delete and value delete keep exact data") {
    FixTestKey tree(L"simple");
    PlantBigTree(tree.Relative(L"Victim"));
    SUBCASE("key delete") {
        FixAndUndo(tree, Finding(ProblemService, ReasonFileNotFound, tree.Path(L"Victim"), L""),
                   [&] { CHECK_FALSE(HasKey(tree.Relative(L"Victim"))); }, 1);
    }
    SUBCASE("value delete, every value type") {
        for (const wchar_t* name : {L"None", L"EmptyNone", L"Link", L"Custom", L"OddText", L"EmptySz", L"Expand",
                                    L"Multi", L"BigEndian", L"ResourceList", L"(Default)"}) {
            CAPTURE(tstring(name));
            FixAndUndo(tree, Finding(ProblemHelpFile, ReasonFileNotFound, tree.Path(L"Victim"), name), [&] {
                tstring real = tstring(name) == L"(Default)" ? tstring() : tstring(name);
                CHECK_FALSE(HasValue(tree.Relative(L"Victim"), real.c_str()));
            }, 1);
        }
    }
    SUBCASE("a value that is already gone") {
        FixAndUndo(tree, Finding(ProblemFont, ReasonFileNotFound, tree.Path(L"Victim"), L"NoSuchValue"),
                   [&] { CHECK(HasValue(tree.Relative(L"Victim"), L"Sz")); }, 1);
    }
}

TEST_CASE("planner: shared tool deletes its key only when Clients is its one subkey") {
    FixTestKey tree(L"sharedtool");
    HKEY tool = MakeKey(tree.Handle(), L"Tool");
    SetText(tool, L"Path", L"C:\\gone\\tool.exe");
    RegCloseKey(tool);
    SUBCASE("exactly Clients") {
        PlantKey(tree.Handle(), L"Tool\\Clients");
        FixAndUndo(tree, Finding(ProblemSharedTool, ReasonFileNotFound, tree.Path(L"Tool"), L"Path"),
                   [&] { CHECK_FALSE(HasKey(tree.Relative(L"Tool"))); }, 1);
    }
    SUBCASE("clients in lower case") {
        PlantKey(tree.Handle(), L"Tool\\clients");
        FixAndUndo(tree, Finding(ProblemSharedTool, ReasonNone, tree.Path(L"Tool"), L"Path"), [&] {
            CHECK(HasKey(tree.Relative(L"Tool\\clients")));
            CHECK_FALSE(HasValue(tree.Relative(L"Tool"), L"Path"));
        }, 1);
    }
    SUBCASE("Clients and one more") {
        PlantKey(tree.Handle(), L"Tool\\Clients");
        PlantKey(tree.Handle(), L"Tool\\More");
        FixAndUndo(tree, Finding(ProblemSharedTool, ReasonNone, tree.Path(L"Tool"), L"Path"), [&] {
            CHECK(HasKey(tree.Relative(L"Tool\\Clients")));
            CHECK_FALSE(HasValue(tree.Relative(L"Tool"), L"Path"));
        }, 1);
    }
}

TEST_CASE("planner: extension handler and its emptied parents") {
    FixTestKey tree(L"exthandler");
    HKEY handler = MakeKey(tree.Handle(), L".ext\\shellex\\{H1}");
    SetText(handler, L"", L"{gone}");
    RegCloseKey(handler);
    SUBCASE("extension key with a value stays") {
        HKEY ext = MakeKey(tree.Handle(), L".ext");
        SetText(ext, L"", L"extfile");
        RegCloseKey(ext);
        FixAndUndo(tree, Finding(ProblemExtensionHandler, ReasonFileNotFound, tree.Path(L".ext\\shellex\\{H1}"), L""),
                   [&] {
                       CHECK_FALSE(HasKey(tree.Relative(L".ext\\shellex")));
                       CHECK(HasKey(tree.Relative(L".ext")));
                   }, 3);
    }
    SUBCASE("all three go") {
        FixAndUndo(tree, Finding(ProblemExtensionHandler, ReasonNone, tree.Path(L".ext\\shellex\\{H1}"), L""),
                   [&] { CHECK_FALSE(HasKey(tree.Relative(L".ext"))); }, 3);
    }
}

TEST_CASE("planner: names with NUL characters through the native functions") {
    FixTestKey tree(L"native");
    SharedBuffer data(L"nul data", 18);
    SUBCASE("value") {
        REQUIRE(NativeRegistry::SetValue(tree.Path(), L"a(null)b", REG_SZ, data) == 0);
        SetText(tree.Handle(), L"a", L"plain neighbour");
        FixAndUndo(tree, Finding(ProblemNullValueName, ReasonNone, tree.Path(), L"a(null)b"), [&] {
            DWORD type = 0;
            SharedBuffer read;
            CHECK(NativeRegistry::ReadValue(tree.Path(), L"a(null)b", type, read) == ERROR_FILE_NOT_FOUND);
            CHECK(HasValue(tree.Relative(), L"a"));
        }, 1);
        DWORD type = 0;
        SharedBuffer read;
        REQUIRE(NativeRegistry::ReadValue(tree.Path(), L"a(null)b", type, read) == 0);
        CHECK(type == REG_SZ);
        CHECK(read.Size() == 18);
        CHECK(NativeRegistry::DeleteValue(tree.Path(), L"a(null)b") == 0);
    }
    SUBCASE("key") {
        auto subkeys = [&tree] {
            DWORD count = 0;
            RegQueryInfoKeyW(tree.Handle(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
            return count;
        };
        tstring marked = tree.Path(L"k(null)z");
        REQUIRE(NativeRegistry::CreateKey(marked) == 0);
        REQUIRE(NativeRegistry::CreateKey(marked + L"\\inner") == 0);
        PlantKey(tree.Handle(), L"k");
        REQUIRE(subkeys() == 2);
        FixAndUndo(tree, Finding(ProblemNullKeyName, ReasonNone, marked, L""), [&] {
            CHECK(subkeys() == 1);
            CHECK(HasKey(tree.Relative(L"k")));
        }, 1);
        CHECK(subkeys() == 2);
        CHECK(NativeRegistry::DeleteKey(marked) == 0);
    }
}

TEST_CASE("planner: quoted value keeps its type and is left alone without a pair") {
    FixTestKey tree(L"quoted");
    tstring doubled = L"\"\"%SystemRoot%\\App\\x.exe\"\" /a \"\"b\"\"";
    HKEY key = MakeKey(tree.Handle(), L"Handler");
    SetText(key, L"Command", doubled, REG_EXPAND_SZ);
    SetText(key, L"Plain", doubled);
    RegCloseKey(key);
    SUBCASE("expandable") {
        FixAndUndo(tree, Finding(ProblemQuotedExtensionHandler, ReasonFileNotFound, tree.Path(L"Handler"),
                                 L"Command", doubled),
                   [&] {
                       CHECK(ValueText(tree.Relative(L"Handler"), L"Command") ==
                             L"\"%SystemRoot%\\App\\x.exe\" /a \"b\"");
                       CHECK(ValueType(tree.Relative(L"Handler"), L"Command") == REG_EXPAND_SZ);
                   }, 1);
    }
    SUBCASE("plain string") {
        FixAndUndo(tree, Finding(ProblemQuotedExtensionHandler, ReasonNone, tree.Path(L"Handler"), L"Plain", doubled),
                   [&] { CHECK(ValueType(tree.Relative(L"Handler"), L"Plain") == REG_SZ); }, 1);
    }
    SUBCASE("nothing to mend") {
        FixEntry entry;
        CHECK(PlanOnly(Finding(ProblemQuotedExtensionHandler, ReasonNone, tree.Path(L"Handler"), L"Plain",
                               L"\"C:\\x.exe\" /a"),
                       entry) == 0);
        CHECK(entry.ActionCount() == 0);
    }
    CHECK(QuotedValuePlanner::Unquoted(L"a\"\"\"b\"\"") == L"a\"\"b\"");
}

TEST_CASE("planner: keys derived from a finding too close to the root are never deleted whole") {
    // A ProgID reported as its own key would make its parent the root; the
    // root's CLSID key must not be planned for deletion.
    FixEntry progId;
    CHECK(PlanOnly(Finding(ProblemProgId, ReasonClsidNotFound, L"HKCU\\Software", L""), progId) > 0);
    CHECK(progId.ActionCount() == 0);

    // Ancestors 1 and 2 of HKCU\Software\OrvaneTest are the root and nothing.
    FixEntry typeLib;
    CHECK(PlanOnly(Finding(ProblemTypeLib, ReasonNone, L"HKCU\\Software\\OrvaneTest", L""), typeLib) > 0);
    CHECK(typeLib.ActionCount() == 0);
    FixEntry handler;
    CHECK(PlanOnly(Finding(ProblemExtensionHandler, ReasonNone, L"HKCU\\Software\\OrvaneTest", L""), handler) > 0);
    REQUIRE(handler.ActionCount() == 2);
    CHECK(handler.Action(0).KeyPath() == L"HKCU\\Software\\OrvaneTest");
    CHECK(handler.Action(1).KeyPath() == L"HKCU\\Software");
    CHECK(static_cast<const DeleteKeyAction&>(handler.Action(1)).OnlyWithoutSubkeys() == 1);

    // The 32-bit view's root taken for a ProgID: its CLSID key holds every
    // 32-bit class and must not be planned for deletion either.
    FixEntry view;
    CHECK(PlanOnly(Finding(ProblemProgId, ReasonClsidNotFound, L"HKCR\\Wow6432Node\\CLSID", L""), view) > 0);
    CHECK(view.ActionCount() == 0);
}

TEST_CASE("planner: the keys just below a class table are never deleted whole") {
    for (const wchar_t* path : {L"HKLM\\Software\\Classes\\CLSID", L"HKLM\\Software\\Wow6432Node\\Classes\\CLSID"}) {
        FixEntry entry;
        CHECK((PlanOnly(Finding(ProblemProgId, ReasonClsidNotFound, path, L""), entry) > 0 && !entry.ActionCount()));
    }
}
