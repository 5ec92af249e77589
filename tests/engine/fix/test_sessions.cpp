#include <windows.h>
#include <doctest/doctest.h>
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "engine/fix/FixSession.h"
#include "engine/fix/KeyActions.h"
#include "engine/fix/UndoSession.h"
#include "engine/fix/ValueActions.h"
#include "test_sessions_support.h"

using namespace sessiontest;

namespace {

const int32_t kUnknown = int32_t(0x80040227);
const int32_t kNoSuchFile = int32_t(0x80040228);

// A fix and an undo session over one undo folder, as an engine object holds them.
struct Sessions {
    explicit Sessions(const tstring& folder)
        : fix(fixes, latch, [folder] { return folder; }), undo(latch, [folder] { return folder; }) {}
    FixMap fixes;
    SessionLatch latch;
    FixSession fix;
    UndoSession undo;
};

// A value deletion whose apply fails after it has done nothing, as a fix
// does on a key it may read but not change.
class RefusedDelete : public DeleteValueAction {
public:
    using DeleteValueAction::DeleteValueAction;
    int32_t Apply() override { return int32_t(0x80070005); }
};

// A value deletion whose apply fails and whose restore, though it puts the
// value back, reports a failure: a rollback that cannot be trusted.
class UnsureRestore : public RefusedDelete {
public:
    using RefusedDelete::RefusedDelete;
    int32_t Restore(Archive& archive) override {
        DeleteValueAction::Restore(archive);
        return int32_t(0x80070015);
    }
};

}  // namespace

TEST_CASE("control sessions: fixes are undone to the exact registry state they changed") {
    TempFolder folder(Folder(L"roundtrip"));
    PlantedTree tree(TreeName(L"roundtrip"));
    const tstring exportFile = folder.Path() + L"export.reg";
    std::string before = tree.Export(exportFile);
    REQUIRE(before.size() > 100);

    Sessions s(folder.Path());
    int32_t value = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
    int32_t key = Plan(s.fixes, Finding(ProblemInterface, tree.Path(L"Tree"), L""));
    // A finding without a planned fix: its entry is kept, never applied.
    std::unique_ptr<FixEntry> unplanned(new FixEntry);
    unplanned->SetError(Finding(ProblemDefaultKey, tree.Path(L"Other"), L"Path"));
    unplanned->Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"Other"), L"Path")));
    s.fixes.Store(0, std::move(unplanned));
    REQUIRE(value > 0);
    REQUIRE(key == value + 1);

    REQUIRE(s.fix.Begin() == S_OK);
    CHECK(s.fix.Fix(value) == S_OK);
    CHECK_FALSE(tree.HasValue(L"Values", L"Broken"));
    CHECK(s.fix.Fix(value) == kUnknown);
    tstring report = L"untouched";
    CHECK(s.fix.FixAll(report) == S_OK);
    CHECK(report.empty());
    CHECK(s.fix.Finalize() == S_OK);
    CHECK_FALSE(tree.HasKey(L"Tree"));
    CHECK(tree.HasValue(L"Other", L"Path"));
    CHECK(s.fixes.Size() == 0);
    CHECK(tree.Export(exportFile) != before);

    int32_t count = 0;
    REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(count == 1);
    SYSTEMTIME time;
    int32_t fixesCount = 0;
    CHECK(s.undo.FileInfo(0, time, fixesCount) == S_OK);
    CHECK(fixesCount == 2);
    REQUIRE(s.undo.Read(0) == S_OK);
    REQUIRE(s.undo.PendingCount() == 2);
    CHECK(s.undo.PendingErrors()[1].KeyPath == tree.Path(L"Tree"));

    SUBCASE("one by one") {
        CHECK(s.undo.Undo(2) == S_OK);
        CHECK(tree.HasKey(L"Tree\\Sub2\\Deep"));
        CHECK(s.undo.Undo(2) == E_FAIL);
        CHECK(s.undo.Undo(1) == S_OK);
        // Undone entries keep their place until the file is read again.
        CHECK(s.undo.PendingCount() == 2);
    }
    SUBCASE("all at once") {
        CHECK(s.undo.UndoAll() == S_OK);
        CHECK(s.undo.IsUndone(1));
        CHECK(s.undo.IsUndone(2));
    }
    CHECK(s.undo.Finalize() == S_OK);
    CHECK(tree.Export(exportFile) == before);
    // Nothing is left to undo, so the listing deletes the file.
    CHECK(s.undo.RefreshCatalogue(count) == S_OK);
    CHECK(count == 0);
    CHECK(folder.Files().empty());
}

TEST_CASE("control sessions: an undo file whose marks were not written back undoes again") {
    TempFolder folder(Folder(L"partial"));
    PlantedTree tree(TreeName(L"partial"));
    Sessions s(folder.Path());
    int32_t first = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
    int32_t second = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Other"), L"Path"));
    REQUIRE(s.fix.Begin() == S_OK);
    REQUIRE(s.fix.Fix(first) == S_OK);
    REQUIRE(s.fix.Fix(second) == S_OK);
    REQUIRE(s.fix.Finalize() == S_OK);

    int32_t count = 0;
    REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(s.undo.Read(0) == S_OK);
    REQUIRE(s.undo.Undo(1) == S_OK);
    // A finalize right after reading writes nothing; after an undo the mark stays.
    REQUIRE(s.undo.Finalize() == S_OK);
    REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(count == 1);
    SYSTEMTIME time;
    int32_t fixesCount = 0;
    CHECK(s.undo.FileInfo(0, time, fixesCount) == S_OK);
    CHECK(fixesCount == 1);
    REQUIRE(s.undo.Read(0) == S_OK);
    REQUIRE(s.undo.PendingCount() == 1);
    CHECK(s.undo.PendingErrors()[0].ValueName == L"Path");
    CHECK(s.undo.UndoAll() == S_OK);
    CHECK(tree.HasValue(L"Values", L"Broken"));
    CHECK(tree.HasValue(L"Other", L"Path"));
    CHECK(s.undo.Finalize() == S_OK);
}

TEST_CASE("control sessions: failed fixes change nothing and are reported line by line") {
    TempFolder folder(Folder(L"failed"));
    PlantedTree tree(TreeName(L"failed"));
    const tstring exportFile = folder.Path() + L"export.reg";
    std::string before = tree.Export(exportFile);
    Sessions s(folder.Path());
    REQUIRE(s.fix.Begin() == S_OK);

    SUBCASE("an apply that fails is rolled back, and the entry waits for another try") {
        std::unique_ptr<FixEntry> entry(new FixEntry);
        entry->SetError(Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
        entry->Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"Values"), L"Broken")));
        entry->Push(std::unique_ptr<FixAction>(new RefusedDelete(tree.Path(L"Values"), L"Keep")));
        s.fixes.Store(900001, std::move(entry));
        CHECK(s.fix.Fix(900001) == int32_t(0x80070005));
        CHECK(s.fixes.Contains(900001));
        CHECK(tree.Export(exportFile) == before);

        tstring report;
        CHECK(s.fix.FixAll(report) == int32_t(0x80070005));
        CHECK(report == L"\tKey: " + tree.Path(L"Values") + L"; Error: 0x80070005 (" + ModuleErrorText(0x80070005) +
                            L").   \r\n");
        CHECK(s.fixes.Size() == 0);
    }
    SUBCASE("a fix whose undo data cannot be saved is never applied") {
        std::unique_ptr<FixEntry> entry(new FixEntry);
        entry->SetError(Finding(ProblemQuotedExtensionHandler, tree.Path(L"Missing"), L"Command"));
        entry->Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"Values"), L"Broken")));
        entry->Push(std::unique_ptr<FixAction>(new SetValueAction(tree.Path(L"Missing"), L"Command", L"x")));
        s.fixes.Store(900002, std::move(entry));
        int32_t sound = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Other"), L"Path"));

        tstring report;
        CHECK(s.fix.FixAll(report) == int32_t(0x80070002));
        CHECK(tree.HasValue(L"Values", L"Broken"));
        CHECK_FALSE(tree.HasValue(L"Other", L"Path"));
        CHECK(report == L"\tKey: " + tree.Path(L"Missing") + L"; Error: 0x80070002 (" + ModuleErrorText(0x80070002) +
                            L").   \r\n");
        (void)sound;
    }
    CHECK(s.fix.Finalize() == S_OK);
}

TEST_CASE("control sessions: the state each member needs") {
    TempFolder folder(Folder(L"states"));
    PlantedTree tree(TreeName(L"states"));
    Sessions s(folder.Path());
    tstring report = L"untouched";

    SUBCASE("without a fix session nothing is fixed and no file is touched") {
        int32_t fixId = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
        CHECK(s.fix.Fix(fixId) == E_FAIL);
        CHECK(s.fix.FixAll(report) == E_FAIL);
        CHECK(report == L"untouched");
        CHECK(s.fix.Finalize() == E_FAIL);
        CHECK(folder.Files().empty());
        CHECK(tree.HasValue(L"Values", L"Broken"));
    }
    SUBCASE("one fix session at a time; FixIDs without a planned fix are unknown") {
        REQUIRE(s.fix.Begin() == S_OK);
        CHECK(s.fix.Begin() == E_FAIL);
        CHECK(s.fix.Fix(0) == kUnknown);
        CHECK(s.fix.Fix(123456789) == kUnknown);
        CHECK(s.fix.Finalize() == S_OK);
        CHECK(s.fix.Finalize() == E_FAIL);
    }
    SUBCASE("fix and undo sessions exclude each other") {
        int32_t fixId = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
        REQUIRE(s.fix.Begin() == S_OK);
        REQUIRE(s.fix.Fix(fixId) == S_OK);
        int32_t count = -1;
        // The file being written is neither listed nor touched by a listing.
        CHECK(s.undo.RefreshCatalogue(count) == S_OK);
        CHECK(count == 0);
        CHECK(folder.Files().size() == 1);
        REQUIRE(s.fix.Finalize() == S_OK);
        REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
        REQUIRE(count == 1);
        const tstring file = folder.Path() + folder.Files()[0];
        std::string bytes = ReadAll(file);
        REQUIRE(bytes.size() > 0x4000);
        REQUIRE(s.undo.Read(0) == S_OK);
        CHECK(s.fix.Begin() == E_FAIL);
        // Neither a finalize without a fix session nor one of an undo session
        // that undid nothing writes to the file.
        CHECK(s.fix.Finalize() == E_FAIL);
        CHECK(s.undo.Finalize() == S_OK);
        CHECK(ReadAll(file) == bytes);
        CHECK(s.fix.Begin() == S_OK);
        CHECK(s.undo.Read(0) == E_FAIL);
        CHECK(s.fix.Finalize() == S_OK);
    }
    SUBCASE("undo members outside an undo session and outside their lists") {
        SYSTEMTIME time;
        int32_t fixesCount = 0;
        CHECK(s.undo.FileInfo(0, time, fixesCount) == kUnknown);
        CHECK(s.undo.Read(0) == kNoSuchFile);
        CHECK(s.undo.Undo(1) == E_FAIL);
        CHECK(s.undo.UndoAll() == E_FAIL);
        CHECK(s.undo.Finalize() == S_OK);
        int32_t fixId = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
        REQUIRE(s.fix.Begin() == S_OK);
        REQUIRE(s.fix.Fix(fixId) == S_OK);
        REQUIRE(s.fix.Finalize() == S_OK);
        int32_t count = 0;
        REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
        CHECK(s.undo.Read(count) == kNoSuchFile);
        CHECK(s.undo.Read(-1) == kNoSuchFile);
        REQUIRE(s.undo.Read(0) == S_OK);
        CHECK(s.undo.Undo(0) == kUnknown);
        CHECK(s.undo.Undo(2) == kUnknown);
        CHECK(s.undo.DeleteUndoFile(1) == kUnknown);
        // Deleting the file of the open session ends the session first.
        CHECK(s.undo.DeleteUndoFile(0) == S_OK);
        CHECK_FALSE(s.undo.IsOpen());
        CHECK(folder.Files().empty());
        CHECK_FALSE(tree.HasValue(L"Values", L"Broken"));
    }
}

TEST_CASE("control sessions: undo files move to another folder") {
    TempFolder folder(Folder(L"move-from"));
    TempFolder target(Folder(L"move-to"));
    PlantedTree tree(TreeName(L"move"));
    Sessions s(folder.Path());
    int32_t fixId = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
    REQUIRE(s.fix.Begin() == S_OK);
    REQUIRE(s.fix.Fix(fixId) == S_OK);
    // Nothing moves while a fix session still writes its file.
    CHECK_THROWS_AS(s.undo.MoveFiles(target.Path()), ErrorBase);
    CHECK(target.Files().empty());
    REQUIRE(s.fix.Finalize() == S_OK);
    std::vector<tstring> made = folder.Files();
    REQUIRE(made.size() == 1);
    CHECK(s.undo.MoveFiles(target.Path()) == S_OK);
    CHECK(folder.Files().empty());
    CHECK(target.Files() == made);
}

TEST_CASE("control sessions: a rollback that fails keeps the fix's record in the undo file") {
    TempFolder folder(Folder(L"rollback"));
    PlantedTree tree(TreeName(L"rollback"));
    Sessions s(folder.Path());
    std::unique_ptr<FixEntry> entry(new FixEntry);
    entry->SetError(Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
    entry->Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"Values"), L"Broken")));
    entry->Push(std::unique_ptr<FixAction>(new UnsureRestore(tree.Path(L"Values"), L"Keep")));
    s.fixes.Store(900003, std::move(entry));
    REQUIRE(s.fix.Begin() == S_OK);

    // One fix returns its own failure; fixing all ends at the failed restore.
    CHECK(s.fix.Fix(900003) == int32_t(0x80070005));
    CHECK(s.fixes.Contains(900003));
    tstring report = L"untouched";
    CHECK_THROWS_AS(s.fix.FixAll(report), HRError);
    CHECK(report == L"untouched");
    CHECK(s.fixes.Contains(900003));
    CHECK(tree.HasValue(L"Values", L"Broken"));
    REQUIRE(s.fix.Finalize() == S_OK);

    // Both attempts stay on record: their changes may still need undoing.
    int32_t count = 0;
    REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(count == 1);
    REQUIRE(s.undo.Read(0) == S_OK);
    CHECK(s.undo.PendingCount() == 2);
    CHECK(s.undo.UndoAll() == S_OK);
    CHECK(s.undo.Finalize() == S_OK);
    CHECK(tree.HasValue(L"Values", L"Broken"));
}

TEST_CASE("control sessions: undo goes newest first and keeps an entry pending until all of it is back") {
    TempFolder folder(Folder(L"order"));
    PlantedTree tree(TreeName(L"order"));
    const tstring exportFile = folder.Path() + L"export.reg";
    std::string before = tree.Export(exportFile);
    Sessions s(folder.Path());

    // The value's key goes after the value: undoing the value first would
    // find no key to put it in.
    int32_t value = Plan(s.fixes, Finding(ProblemHelpFile, tree.Path(L"Tree\\Sub1"), L"Bytes"));
    int32_t key = Plan(s.fixes, Finding(ProblemInterface, tree.Path(L"Tree"), L""));
    std::unique_ptr<FixEntry> pair(new FixEntry);
    pair->SetError(Finding(ProblemHelpFile, tree.Path(L"Values"), L"Broken"));
    pair->Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"Values"), L"Broken")));
    pair->Push(std::unique_ptr<FixAction>(new DeleteValueAction(tree.Path(L"Other"), L"Path")));
    s.fixes.Store(900004, std::move(pair));
    REQUIRE(s.fix.Begin() == S_OK);
    REQUIRE(s.fix.Fix(value) == S_OK);
    REQUIRE(s.fix.Fix(key) == S_OK);
    REQUIRE(s.fix.Fix(900004) == S_OK);
    REQUIRE(s.fix.Finalize() == S_OK);

    // The second action of the pair cannot be undone while its key is gone.
    RegDeleteTreeW(HKEY_CURRENT_USER, (TreeName(L"order") + L"\\Other").c_str());
    int32_t count = 0;
    REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(s.undo.Read(0) == S_OK);
    REQUIRE(s.undo.PendingCount() == 3);
    CHECK(s.undo.UndoAll() == int32_t(0x80070002));
    CHECK(s.undo.IsUndone(1));
    CHECK(s.undo.IsUndone(2));
    CHECK_FALSE(s.undo.IsUndone(3));
    CHECK(tree.HasValue(L"Tree\\Sub1", L"Bytes"));
    CHECK(tree.HasValue(L"Values", L"Broken"));
    REQUIRE(s.undo.Finalize() == S_OK);

    HKEY other = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (TreeName(L"order") + L"\\Other").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &other, nullptr);
    RegCloseKey(other);
    REQUIRE(s.undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(count == 1);
    REQUIRE(s.undo.Read(0) == S_OK);
    REQUIRE(s.undo.PendingCount() == 1);
    CHECK(s.undo.Undo(1) == S_OK);
    CHECK(s.undo.Finalize() == S_OK);
    CHECK(tree.Export(exportFile) == before);
}
