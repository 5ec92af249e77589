#include <doctest/doctest.h>
#include "engine/fix/KeyActions.h"
#include "engine/fix/KeyTreeRecord.h"
#include "engine/fix/ValueActions.h"
#include "test_planner_fixture.h"

namespace {

void PlantSmallTree(HKEY parent, const wchar_t* name) {
    HKEY key = MakeKey(parent, name);
    SetText(key, L"Value", L"data");
    DWORD number = 7;
    SetRaw(key, L"Number", REG_DWORD, &number, 4);
    RegCloseKey(MakeKey(key, L"Child"));
    RegCloseKey(key);
}

}  // namespace

TEST_CASE("fix with real keys: nothing changes unless the undo data is safe") {
    FixTestKey tree(L"persist");
    PlantSmallTree(tree.Handle(), L"B");
    std::string before = RegExport(tree.Relative());

    SUBCASE("the persist step fails") {
        FixEntry entry;
        entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"B"), 0)));
        entry.Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"B"), L"Value")));
        Archive undo;
        REQUIRE(entry.SaveUndoData(undo) == 0);
        CHECK(entry.Apply([] { return int32_t(0x80070070); }) == int32_t(0x80070070));
        CHECK(entry.AppliedCount() == 0);
    }
    SUBCASE("one action cannot save its undo data") {
        FixEntry entry;
        entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"B"), 0)));
        entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"Missing"), 0)));
        Archive undo;
        CHECK(entry.SaveUndoData(undo) == FoldWin32(ERROR_FILE_NOT_FOUND));
        CHECK(undo.Size() == 0);
        bool persisted = false;
        CHECK(entry.Apply([&persisted] {
            persisted = true;
            return int32_t(0);
        }) == int32_t(E_UNEXPECTED));
        CHECK_FALSE(persisted);
    }
    SUBCASE("a whole hive is never saved nor deleted") {
        DeleteKeyAction root(L"HKCU", 0);
        Archive undo;
        CHECK(root.SaveUndo(undo) == int32_t(E_INVALIDARG));
        CHECK(undo.Size() == 0);
    }
    CHECK(HasKey(tree.Relative(L"B\\Child")));
    CHECK(RegExport(tree.Relative()) == before);
}

TEST_CASE("fix with real keys: a failed fix is rolled back whole") {
    FixTestKey tree(L"rollback");
    PlantSmallTree(tree.Handle(), L"B");
    PlantSmallTree(tree.Handle(), L"C");
    std::string before = RegExport(tree.Relative());

    FixEntry entry;
    entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"B"), 0)));
    entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"C"), 0)));
    Archive undo;
    REQUIRE(entry.SaveUndoData(undo) == 0);
    // C disappears after its undo data was taken: its delete then fails
    // after B was already deleted.
    tstring c = tree.Relative(L"C");
    CHECK(entry.Apply([&c] { return int32_t(RegDeleteTreeW(HKEY_CURRENT_USER, c.c_str())); }) ==
          FoldWin32(ERROR_FILE_NOT_FOUND));
    CHECK(entry.AppliedCount() == 1);
    CHECK_FALSE(HasKey(tree.Relative(L"B")));

    undo.Seek(0, 0);
    CHECK(entry.Undo(undo) == 0);
    CHECK(RegExport(tree.Relative()) == before);
}

TEST_CASE("fix with real keys: an undo restores what it can and reports the rest") {
    FixTestKey tree(L"partialundo");
    PlantSmallTree(tree.Handle(), L"A");
    PlantSmallTree(tree.Handle(), L"B");
    std::string before = RegExport(tree.Relative());

    FixEntry entry;
    entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"B"), 0)));
    entry.Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"A"), L"Value")));
    Archive undo;
    REQUIRE(entry.SaveUndoData(undo) == 0);
    REQUIRE(entry.Apply([] { return int32_t(0); }) == 0);
    CHECK_FALSE(HasKey(tree.Relative(L"B")));

    // The value's key is gone, so its restore (the first one) fails.
    REQUIRE(RegDeleteTreeW(HKEY_CURRENT_USER, tree.Relative(L"A").c_str()) == 0);
    undo.Seek(0, 0);
    CHECK(entry.Undo(undo) == FoldWin32(ERROR_FILE_NOT_FOUND));
    CHECK_FALSE(entry.Undone());
    CHECK(HasKey(tree.Relative(L"B\\Child")));
    CHECK(ValueText(tree.Relative(L"B"), L"Value") == L"data");

    // Once the key is back, the same undo data completes the undo.
    PlantKey(HKEY_CURRENT_USER, tree.Relative(L"A"));
    RegCloseKey(MakeKey(HKEY_CURRENT_USER, tree.Relative(L"A\\Child")));
    HKEY a = MakeKey(HKEY_CURRENT_USER, tree.Relative(L"A"));
    DWORD number = 7;
    SetRaw(a, L"Number", REG_DWORD, &number, 4);
    RegCloseKey(a);
    undo.Seek(0, 0);
    CHECK(entry.Undo(undo) == 0);
    CHECK(entry.Undone());
    CHECK(RegExport(tree.Relative()) == before);
}

TEST_CASE("delete key only without contents") {
    FixTestKey tree(L"onlyempty");
    SUBCASE("a key with a value stays") {
        HKEY key = MakeKey(tree.Handle(), L"Valued");
        SetText(key, L"v", L"x");
        RegCloseKey(key);
        DeleteKeyAction action(tree.Path(L"Valued"), 1);
        CHECK(action.Apply() == 0);
        CHECK(HasValue(tree.Relative(L"Valued"), L"v"));
    }
    SUBCASE("a key with a subkey stays") {
        PlantKey(tree.Handle(), L"Parent\\Child");
        DeleteKeyAction action(tree.Path(L"Parent"), 1);
        CHECK(action.Apply() == 0);
        CHECK(HasKey(tree.Relative(L"Parent\\Child")));
    }
    SUBCASE("an empty key goes; its undo brings it back with its DACL") {
        PlantKey(tree.Handle(), L"Empty");
        REQUIRE(SetKeyDacl(tree.Relative(L"Empty"), L"D:P(A;;KA;;;WD)"));
        tstring dacl = KeySddl(tree.Relative(L"Empty"));
        CHECK(dacl.find(L"(A;;KA;;;WD)") != tstring::npos);
        DeleteKeyAction action(tree.Path(L"Empty"), 1);
        Archive undo;
        REQUIRE(action.SaveUndo(undo) == 0);
        // The record holds the name and the security only.
        undo.Seek(0, 0);
        KeyTreeRecord record;
        REQUIRE(record.Parse(undo, false));
        CHECK(record.name == L"Empty");
        CHECK(undo.Remaining() == 0);
        CHECK(action.Apply() == 0);
        CHECK_FALSE(HasKey(tree.Relative(L"Empty")));
        undo.Seek(0, 0);
        CHECK(action.Restore(undo) == 0);
        CHECK(KeySddl(tree.Relative(L"Empty")) == dacl);
    }
}

TEST_CASE("key tree records: damaged data changes nothing") {
    FixTestKey tree(L"damagedtree");
    PlantSmallTree(tree.Handle(), L"T");
    DeleteKeyAction action(tree.Path(L"T"), 0);
    Archive undo;
    REQUIRE(action.SaveUndo(undo) == 0);
    std::vector<BYTE> bytes(undo.Size());
    undo.Seek(0, 0);
    undo.ReadRaw(bytes.data(), uint32_t(bytes.size()));
    REQUIRE(action.Apply() == 0);
    for (size_t length = 0; length < bytes.size(); length += 3) {
        Archive cut;
        cut.WriteRaw(bytes.data(), uint32_t(length));
        cut.Seek(0, 0);
        CHECK(action.Restore(cut) == FixAction::UndoDataDamaged);
        CHECK(cut.Position() == 0);
    }
    CHECK_FALSE(HasKey(tree.Relative(L"T")));
    // A subkey count of two billion with a few bytes behind it.
    Archive huge;
    UndoStream::WriteText(huge, L"T");
    UndoStream::WriteText(huge, L"");
    huge.WriteInt(0x7FFFFFFF);
    huge.WriteInt(0);
    huge.Seek(0, 0);
    CHECK(action.Restore(huge) == FixAction::UndoDataDamaged);
    CHECK_FALSE(HasKey(tree.Relative(L"T")));
    undo.Seek(0, 0);
    CHECK(action.Restore(undo) == 0);
    CHECK(ValueText(tree.Relative(L"T"), L"Value") == L"data");
}

TEST_CASE("set value: undo of a value the fix created removes it") {
    FixTestKey tree(L"setnew");
    SetValueAction action(tree.Path(), L"New", L"text");
    Archive undo;
    REQUIRE(action.SaveUndo(undo) == 0);
    REQUIRE(action.Apply() == 0);
    CHECK(ValueText(tree.Relative(), L"New") == L"text");
    undo.Seek(0, 0);
    CHECK(action.Restore(undo) == 0);
    CHECK_FALSE(HasValue(tree.Relative(), L"New"));
}

TEST_CASE("value delete: a type that undo data cannot keep apart is not deleted") {
    FixTestKey tree(L"oddtype");
    const BYTE bytes[] = {1, 2, 3};
    // Stored, these would read as absent, as 7 or as 0x3FFFFFFF: no type at all.
    for (DWORD type : {DWORD(0xBFFFFFFF), DWORD(0x40000007), DWORD(0x7FFFFFFF)}) {
        SetRaw(tree.Handle(), L"Odd", type, bytes, 3);
        FixEntry entry;
        entry.Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(), L"Odd")));
        Archive undo;
        CHECK_MESSAGE(entry.SaveUndoData(undo) == FoldWin32(ERROR_UNSUPPORTED_TYPE), "type ", type);
        CHECK(entry.Apply([] { return int32_t(0); }) == int32_t(E_UNEXPECTED));
        CHECK(HasValue(tree.Relative(), L"Odd"));
    }
    SetRaw(tree.Handle(), L"Fine", 0x3FFFFFFF, bytes, 3);
    Archive undo;
    DeleteValueAction fine(tree.Path(), L"Fine");
    REQUIRE(fine.SaveUndo(undo) == 0);
    REQUIRE(fine.Apply() == 0);
    CHECK_FALSE(HasValue(tree.Relative(), L"Fine"));
    undo.Seek(0, 0);
    CHECK(fine.Restore(undo) == 0);
    CHECK(ValueType(tree.Relative(), L"Fine") == 0x3FFFFFFF);
}

TEST_CASE("fix with real keys: keys that may only be read") {
    FixTestKey tree(L"readonly");
    const wchar_t readOnly[] = L"D:P(A;;KR;;;WD)";
    const wchar_t open[] = L"D:P(A;OICI;KA;;;WD)";

    SUBCASE("its undo data is read with read access; the delete is refused") {
        PlantSmallTree(tree.Handle(), L"RO");
        REQUIRE(SetKeyDacl(tree.Relative(L"RO"), readOnly));
        FixEntry entry;
        entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"RO"), 0)));
        Archive undo;
        CHECK(entry.SaveUndoData(undo) == 0);
        CHECK(undo.Size() > 0);
        CHECK(entry.Apply([] { return int32_t(0); }) == FoldWin32(ERROR_ACCESS_DENIED));
        CHECK(HasValue(tree.Relative(L"RO"), L"Value"));
        SetKeyDacl(tree.Relative(L"RO"), open);
    }
    SUBCASE("a tree deleted halfway comes back whole") {
        HKEY parent = MakeKey(tree.Handle(), L"P");
        SetText(parent, L"Top", L"top");
        RegCloseKey(parent);
        PlantSmallTree(tree.Handle(), L"P\\A");
        PlantSmallTree(tree.Handle(), L"P\\B");
        PlantSmallTree(tree.Handle(), L"P\\C");
        tstring daclB = KeySddl(tree.Relative(L"P\\B"));
        std::string before = RegExport(tree.Relative());
        FixEntry entry;
        entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(tree.Path(L"P"), 0)));
        Archive undo;
        REQUIRE(entry.SaveUndoData(undo) == 0);
        // B shuts everyone out once its undo data is taken: the delete stops
        // there, after A is gone.
        tstring b = tree.Relative(L"P\\B");
        CHECK(entry.Apply([&b] { return SetKeyDacl(b, L"D:P") ? int32_t(0) : int32_t(E_FAIL); }) ==
              FoldWin32(ERROR_ACCESS_DENIED));
        CHECK_FALSE(HasKey(tree.Relative(L"P\\A")));
        CHECK(HasKey(tree.Relative(L"P\\C")));

        undo.Seek(0, 0);
        CHECK(entry.Undo(undo) == FoldWin32(ERROR_ACCESS_DENIED));
        CHECK_FALSE(entry.Undone());
        CHECK(ValueText(tree.Relative(L"P\\A"), L"Value") == L"data");
        CHECK(HasKey(tree.Relative(L"P\\A\\Child")));

        // Set free again, B gets its own descriptor back from the same data.
        HKEY owner = nullptr;
        REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, b.c_str(), 0, WRITE_DAC, &owner) == 0);
        PSECURITY_DESCRIPTOR open = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;KA;;;WD)", SDDL_REVISION_1, &open, nullptr);
        RegSetKeySecurity(owner, DACL_SECURITY_INFORMATION, open);
        LocalFree(open);
        RegCloseKey(owner);
        undo.Seek(0, 0);
        CHECK(entry.Undo(undo) == 0);
        CHECK(entry.Undone());
        CHECK(RegExport(tree.Relative()) == before);
        CHECK(KeySddl(b) == daclB);
    }
}
