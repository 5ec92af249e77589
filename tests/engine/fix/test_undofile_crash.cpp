#include "StartProcess.h"
#include <doctest/doctest.h>
#include <windows.h>
#include "UndoTestSupport.h"
#include "common/archive/MemoryBuffer.h"
#include "engine/fix/UndoCatalogue.h"
#include "engine/fix/UndoFile.h"

using namespace undotest;

// The crash tests run this executable a second time as a fix session that is
// killed: the child case below runs only when asked for by name, and takes its
// orders from the command line.
namespace {

const wchar_t kChildOption[] = L"--undo-child=";
const int kLoopEntries = 40;

std::vector<tstring> Split(const tstring& text, wchar_t separator) {
    std::vector<tstring> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != tstring::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// stage|undo file|key path|event name
std::vector<tstring> ChildOrders() {
    tstring line = GetCommandLineW();
    size_t at = line.find(kChildOption);
    if (at == tstring::npos)
        return {};
    tstring orders = line.substr(at + wcslen(kChildOption));
    size_t end = orders.find(L'"');
    return Split(end == tstring::npos ? orders : orders.substr(0, end), L'|');
}

std::unique_ptr<FixEntry> SubkeyAndValueEntry(const tstring& keyPath) {
    std::unique_ptr<FixEntry> entry = KeyEntry(keyPath + L"\\sub");
    entry->Push(std::unique_ptr<FixAction>(new DeleteValueAction(keyPath, L"b")));
    return entry;
}

// A disk that stops answering during the first write of the new file: the
// parent is told, and the write never returns.
HANDLE g_writeHangs = nullptr;

BOOL WINAPI HangingWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    ::WriteFile(file, bytes, count / 2, written, overlapped);
    SetEvent(g_writeHangs);
    Sleep(INFINITE);
    return FALSE;
}

// Fixes as the engine does; signals the parent at the chosen moment and
// waits there to be killed.
int RunChild(const std::vector<tstring>& orders) {
    const tstring& stage = orders[0];
    const tstring& keyPath = orders[2];
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, orders[3].c_str());
    UndoFile file;
    if (stage == L"creating") {
        g_writeHangs = ready;
        MemoryBuffer::SetWriteFileFunction(HangingWrite);
    }
    file.Create(orders[1]);
    if (stage == L"running") {
        for (int i = 0; i < kLoopEntries; ++i) {
            auto entry = ValueEntry(keyPath, FormatText(L"v%02d", i), FormatText(L"reason %d", i));
            if (file.WriteAndApply(*entry) != 0)
                return 3;
            if (i == 4)
                SetEvent(ready);
        }
        Sleep(INFINITE);
    }
    auto first = ValueEntry(keyPath, L"a");
    if (file.WriteAndApply(*first) != 0)
        return 3;
    auto second = SubkeyAndValueEntry(keyPath);
    file.WriteEntry(*second);
    if (stage == L"applied" && second->Apply([] { return int32_t(0); }) != 0)
        return 4;
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}

struct KilledChild {
    bool signalled = false;
    bool killed = false;
};

KilledChild RunAndKill(const tstring& stage, const tstring& undoPath, const tstring& keyPath, DWORD delayMs) {
    KilledChild result;
    tstring eventName = FormatText(L"OrvaneUndoCrash-%u-%s", unsigned(GetCurrentProcessId()), stage.c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    tstring line = FormatText(L"\"%s\" --no-skip -tc=UndoFileChildProcess \"%s%s|%s|%s|%s\"", exe, kChildOption,
                              stage.c_str(), undoPath.c_str(), keyPath.c_str(), eventName.c_str());
    PROCESS_INFORMATION process = {};
    if (StartQuietChild(line, process)) {
        HANDLE both[2] = {ready, process.hProcess};
        result.signalled = WaitForMultipleObjects(2, both, FALSE, 120000) == WAIT_OBJECT_0;
        if (result.signalled && delayMs)
            Sleep(delayMs);
        result.killed = TerminateProcess(process.hProcess, 9) != 0;
        WaitForSingleObject(process.hProcess, 30000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(ready);
    return result;
}

// After the kill: the file is listed, its CRC holds, and undoing it gives
// back the registry as it was.
void CheckRecoverable(const TempFolder& folder, const tstring& name, const TestKey& key,
                      const std::vector<tstring>& before, int32_t minimumFixes) {
    std::vector<BYTE> bytes = ReadWholeFile(folder / name);
    CHECK(StoredCrcMatches(bytes));
    std::vector<UndoFileInfo> list = UndoCatalogue(folder.Path()).List();
    REQUIRE(list.size() == 1);
    CHECK(list[0].FileName == name);
    CHECK(list[0].FixesCount >= minimumFixes);

    UndoFile file;
    file.Open(folder / name);
    REQUIRE(file.IsValid());
    UndoEntryList entries;
    file.ReadEntries(entries, true);
    CHECK(int32_t(entries.size()) == list[0].FixesCount);
    CHECK(file.UndoAll(entries) == 0);
    CHECK(Snapshot(key) == before);
}

}  // namespace

TEST_CASE("UndoFileChildProcess" * doctest::skip()) {
    std::vector<tstring> orders = ChildOrders();
    REQUIRE(orders.size() == 4);
    ExitProcess(UINT(RunChild(orders)));
}

TEST_CASE("UndoFile: a fix session killed at any moment leaves an undo file that restores the registry exactly") {
    TempFolder folder(ScratchFolder(L"crash"));
    TestKey key(L"crash");
    SetString(key.Handle(), L"", L"a", L"first value");
    SetString(key.Handle(), L"", L"b", L"second value", REG_EXPAND_SZ);
    SetString(key.Handle(), L"sub", L"", L"default");
    SetBinary(key.Handle(), L"sub\\deeper", L"bytes", {1, 2, 3, 0, 0xFE});
    for (int i = 0; i < kLoopEntries; ++i)
        SetString(key.Handle(), L"", FormatText(L"v%02d", i), FormatText(L"loop value %d", i));
    const std::vector<tstring> before = Snapshot(key);
    const tstring name = L"crash.dat";

    SUBCASE("killed right after the entry is written, before its fix") {
        KilledChild child = RunAndKill(L"written", folder / name, key.Path(), 0);
        REQUIRE(child.signalled);
        CHECK(child.killed);
        HKEY sub = nullptr;
        CHECK(RegOpenKeyExW(key.Handle(), L"sub", 0, KEY_READ, &sub) == ERROR_SUCCESS);
        RegCloseKey(sub);
        CheckRecoverable(folder, name, key, before, 2);
    }
    SUBCASE("killed right after the fix is applied") {
        KilledChild child = RunAndKill(L"applied", folder / name, key.Path(), 0);
        REQUIRE(child.signalled);
        CHECK(child.killed);
        HKEY sub = nullptr;
        CHECK(RegOpenKeyExW(key.Handle(), L"sub", 0, KEY_READ, &sub) == ERROR_FILE_NOT_FOUND);
        CheckRecoverable(folder, name, key, before, 2);
    }
    SUBCASE("killed while the new file's first write hangs") {
        KilledChild child = RunAndKill(L"creating", folder / name, key.Path(), 0);
        REQUIRE(child.signalled);
        CHECK(child.killed);
        CHECK(GetFileAttributesW((folder / name).c_str()) == INVALID_FILE_ATTRIBUTES);
        CHECK(UndoCatalogue(folder.Path()).List().empty());
        CHECK(Snapshot(key) == before);
    }
    SUBCASE("killed while fixes follow one another") {
        for (DWORD delay : {DWORD(1), DWORD(7), DWORD(23)}) {
            CAPTURE(delay);
            KilledChild child = RunAndKill(L"running", folder / name, key.Path(), delay);
            REQUIRE(child.signalled);
            CHECK(child.killed);
            CheckRecoverable(folder, name, key, before, 5);
            DeleteFileW((folder / name).c_str());
        }
    }
}
