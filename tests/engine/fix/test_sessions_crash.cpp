#include "StartProcess.h"
#include <windows.h>
#include <doctest/doctest.h>
#include "engine/fix/FixSession.h"
#include "engine/fix/KeyActions.h"
#include "engine/fix/UndoSession.h"
#include "engine/fix/ValueActions.h"
#include "test_sessions_support.h"

using namespace sessiontest;

// A fixing process killed at the two moments that matter: right after its
// undo entry reached the disk, and right after its fix was applied. The
// child is this test program itself, running the skipped case below.

namespace {

const wchar_t* const kChildVariable = L"ORVANE_CONTROL_CRASH";
const char* const kChildCase = "control sessions: crash child";

// A value deletion that tells the parent it has come to its apply (before
// or after doing it) and then waits to be killed.
class PausingDelete : public DeleteValueAction {
public:
    PausingDelete(const tstring& keyPath, const tstring& valueName, bool applyFirst, const tstring& event)
        : DeleteValueAction(keyPath, valueName), applyFirst_(applyFirst), event_(event) {}
    int32_t Apply() override {
        if (applyFirst_)
            DeleteValueAction::Apply();
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, event_.c_str());
        SetEvent(ready);
        Sleep(INFINITE);
        return 0;
    }

private:
    bool applyFirst_;
    tstring event_;
};

tstring Variable(const wchar_t* name) {
    wchar_t value[2048] = {};
    DWORD n = GetEnvironmentVariableW(name, value, 2048);
    return n && n < 2048 ? tstring(value) : tstring();
}

// Runs the child until it signals the event, then ends it the hard way.
bool KillChildAtSignal(const tstring& phase, const tstring& treeRelative, const tstring& folder) {
    tstring eventName = FormatText(L"OrvaneControlCrash-%u", unsigned(GetCurrentProcessId()));
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    SetEnvironmentVariableW(kChildVariable,
                            (phase + L"|" + treeRelative + L"|" + folder + L"|" + eventName).c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    tstring command = FormatText(L"\"%s\" --no-skip=true \"--test-case=%hs\"", self, kChildCase);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    BOOL started = CreateProcessRetrying(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &child);
    SetEnvironmentVariableW(kChildVariable, nullptr);
    bool signalled = false;
    if (started) {
        HANDLE both[2] = {ready, child.hProcess};
        signalled = WaitForMultipleObjects(2, both, FALSE, 60000) == WAIT_OBJECT_0;
        TerminateProcess(child.hProcess, 9);
        WaitForSingleObject(child.hProcess, 30000);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    CloseHandle(ready);
    return signalled;
}

}  // namespace

TEST_CASE("control sessions: crash child" * doctest::skip()) {
    tstring setting = Variable(kChildVariable);
    REQUIRE_FALSE(setting.empty());
    std::vector<tstring> parts;
    size_t start = 0;
    for (size_t bar = setting.find(L'|'); bar != tstring::npos; bar = setting.find(L'|', start)) {
        parts.push_back(setting.substr(start, bar - start));
        start = bar + 1;
    }
    parts.push_back(setting.substr(start));
    REQUIRE(parts.size() == 4);
    const tstring& phase = parts[0];
    tstring root = L"HKCU\\" + parts[1];
    tstring folder = parts[2];

    FixMap fixes;
    SessionLatch latch;
    FixSession session(fixes, latch, [folder] { return folder; });
    std::unique_ptr<FixEntry> entry(new FixEntry);
    entry->SetError(Finding(ProblemInterface, root + L"\\Tree", L""));
    bool applied = phase == L"applied";
    if (applied)
        entry->Push(std::unique_ptr<FixAction>(new DeleteKeyAction(root + L"\\Tree", 0)));
    entry->Push(std::unique_ptr<FixAction>(new PausingDelete(root + L"\\Values", L"Broken", applied, parts[3])));
    fixes.Store(1, std::move(entry));
    REQUIRE(session.Begin() == S_OK);
    session.Fix(1);
    FAIL("the fix returned; the parent was to end this process inside it");
}

TEST_CASE("control sessions: a fixing process killed mid-session leaves an undo file that undoes it") {
    for (const wchar_t* phase : {L"written", L"applied"}) {
        INFO("phase " << (tstring(phase) == L"written" ? "written" : "applied"));
        TempFolder folder(Folder((tstring(L"crash-") + phase).c_str()));
        tstring relative = TreeName((tstring(L"crash-") + phase).c_str());
        PlantedTree tree(relative);
        const tstring exportFile = folder.Path() + L"export.reg";
        std::string before = tree.Export(exportFile);
        REQUIRE(before.size() > 100);

        REQUIRE(KillChildAtSignal(phase, relative, folder.Path()));
        if (tstring(phase) == L"written") {
            CHECK(tree.Export(exportFile) == before);
        } else {
            CHECK_FALSE(tree.HasKey(L"Tree"));
            CHECK_FALSE(tree.HasValue(L"Values", L"Broken"));
        }

        std::vector<tstring> files = folder.Files();
        REQUIRE(files.size() == 1);
        int32_t fixesCount = 0;
        CHECK(CheckUndoFile(folder.Path() + files[0], fixesCount) == UndoFileListable);
        CHECK(fixesCount == 1);

        FixMap fixes;
        SessionLatch latch;
        tstring path = folder.Path();
        UndoSession undo(latch, [path] { return path; });
        int32_t count = 0;
        REQUIRE(undo.RefreshCatalogue(count) == S_OK);
        REQUIRE(count == 1);
        REQUIRE(undo.Read(0) == S_OK);
        CHECK(undo.UndoAll() == S_OK);
        CHECK(undo.Finalize() == S_OK);
        CHECK(tree.Export(exportFile) == before);
    }
}
