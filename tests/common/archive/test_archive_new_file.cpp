#include <doctest/doctest.h>
#include <windows.h>
#include <string>
#include "ArchiveTestFiles.h"
#include "StartProcess.h"
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"

// The ended-writer case runs this executable a second time as a writer whose
// save hangs half-way and is then ended by force: the child case below runs
// only when asked for by name, and takes its orders from the command line.
namespace {

const wchar_t kChildOption[] = L"--archive-child=";
const int32_t kNotFound = int32_t(0x80070002);
const int32_t kSharingViolation = int32_t(0x80070020);

bool Missing(const tstring& path) {
    return GetFileAttributes(path.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
}

// A disk that stops answering half-way through the save: the first write
// goes half through, then the parent is told and the write never returns.
HANDLE g_halfWritten = nullptr;

BOOL WINAPI HangingWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    ::WriteFile(file, bytes, count / 2, written, overlapped);
    FlushFileBuffers(file);
    SetEvent(g_halfWritten);
    Sleep(INFINITE);
    return FALSE;
}

// mode|path|event name
bool ChildOrders(int32_t& mode, tstring& path, tstring& event) {
    tstring line = GetCommandLineW();
    size_t at = line.find(kChildOption);
    if (at == tstring::npos)
        return false;
    tstring orders = line.substr(at + wcslen(kChildOption));
    orders = orders.substr(0, orders.find(L'"'));
    size_t first = orders.find(L'|'), second = orders.rfind(L'|');
    if (first == tstring::npos || second == first)
        return false;
    mode = _wtoi(orders.substr(0, first).c_str());
    path = orders.substr(first + 1, second - first - 1);
    event = orders.substr(second + 1);
    return true;
}

// Runs the child writer on path in mode and ends it once its save hangs.
bool WriterEndedHalfWay(int32_t mode, const tstring& path) {
    tstring eventName = FormatText(L"OrvaneArchiveHang-%u-%d", unsigned(GetCurrentProcessId()), mode);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    tstring line = FormatText(L"\"%s\" --no-skip -tc=ArchiveHangingWriter \"%s%d|%s|%s\"", exe, kChildOption, mode,
                              path.c_str(), eventName.c_str());
    PROCESS_INFORMATION process = {};
    bool signalled = false;
    if (StartQuietChild(line, process)) {
        testlimit::Waiting note("the child writer's save to hang half-way");
        HANDLE both[2] = {ready, process.hProcess};
        signalled = WaitForMultipleObjects(2, both, FALSE, testlimit::kLong) == WAIT_OBJECT_0;
        TerminateProcess(process.hProcess, 9);
        testlimit::Wait(process.hProcess, testlimit::kStep, "the ended child writer to go");
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(ready);
    return signalled;
}

}  // namespace

TEST_CASE("ArchiveHangingWriter" * doctest::skip()) {
    int32_t mode = 0;
    tstring path, event;
    REQUIRE(ChildOrders(mode, path, event));
    g_halfWritten = OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str());
    Archive archive(path, mode);
    archive.WriteString(tstring(L"the whole new content, of which half reaches the disk"));
    MemoryBuffer::SetWriteFileFunction(HangingWrite);
    archive.Close();
    ExitProcess(3);
}

TEST_CASE("Archive: a save ended half-way leaves no file, or the old one, under the file's name") {
    TempFolder folder(_T("arch-ended"));
    tstring path = folder.File(_T("backups.lst"));
    for (int32_t mode : {int32_t(Archive::ModeCreate), int32_t(Archive::ModeReadWrite), int32_t(Archive::ModeAppend)}) {
        CAPTURE(mode);
        REQUIRE(WriterEndedHalfWay(mode, path));
        CHECK(Missing(path));
        // The next writer takes up what the ended one left beside the file.
        { Archive next(path, Archive::ModeCreate); next.WriteRaw("next", 4); }
        CHECK(ReadWholeFile(path) == "next");
        CHECK(folder.Files().size() == 1);
        DeleteFile(path.c_str());
    }
    WriteAll(path, "old list");
    REQUIRE(WriterEndedHalfWay(Archive::ModeCreate, path));
    CHECK(ReadWholeFile(path) == "old list");
    { Archive next(path, Archive::ModeReadWrite); next.WriteRaw("+next", 5); }
    CHECK(ReadWholeFile(path) == "old list+next");
    CHECK(folder.Files().size() == 1);
}

TEST_CASE("Archive: a file still to be made is not there for readers, and a second writer waits its turn") {
    TempFolder folder(_T("arch-newfile"));
    tstring path = folder.File(_T("settings.dat"));
    Archive first(path, Archive::ModeCreate);
    first.WriteRaw("first", 5);
    CHECK(Missing(path));
    Archive other;
    CHECK(ErrorCode([&] { other.Open(path, Archive::ModeRead); }) == kNotFound);
    for (int32_t mode : {int32_t(Archive::ModeCreate), int32_t(Archive::ModeReadWrite), int32_t(Archive::ModeAppend)}) {
        CAPTURE(mode);
        CHECK(ErrorCode([&] { other.Open(path, mode); }) == kSharingViolation);
        CHECK_FALSE(other.IsOpen());
    }
    CHECK(Missing(path));
    first.Close();
    CHECK(ReadWholeFile(path) == "first");
    other.Open(path, Archive::ModeReadWrite);
    CHECK(other.Size() == 5);
    other.WriteRaw("+second", 7);
    other.Close();
    CHECK(ReadWholeFile(path) == "first+second");
    CHECK(folder.Files().size() == 1);
}

TEST_CASE("Archive: a missing file is made only by the close, and only with content to give it") {
    TempFolder folder(_T("arch-makes"));
    tstring path = folder.File(_T("ignores.dat"));
    { Archive nothing(path, Archive::ModeReadWrite); }
    { Archive nothing(path, Archive::ModeAppend); }
    CHECK(folder.Files().empty());
    {
        Archive dropped(path, Archive::ModeCreate);
        dropped.WriteRaw("dropped", 7);
        dropped.Discard();
    }
    CHECK(folder.Files().empty());
    { Archive appended(path, Archive::ModeAppend); appended.WriteRaw("abc", 3); }
    CHECK(ReadWholeFile(path) == "abc");
    DeleteFile(path.c_str());
    // A create's finished content is what was written, even nothing.
    { Archive empty(path, Archive::ModeCreate); }
    CHECK(ReadWholeFile(path).empty());
    CHECK(folder.Files().size() == 1);
}
