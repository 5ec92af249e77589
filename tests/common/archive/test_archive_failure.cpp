#include <doctest/doctest.h>
#include <string>
#include "ArchiveTestFiles.h"
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"

namespace {

// A disk that fills up: the first write of a flush goes half through, then
// every write fails as a full disk does.
int g_writes = 0;

BOOL WINAPI FullDiskWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    if (g_writes++ == 0) {
        ::WriteFile(file, bytes, count / 2, written, overlapped);
    } else {
        *written = 0;
    }
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

class FullDisk {
public:
    FullDisk() {
        g_writes = 0;
        MemoryBuffer::SetWriteFileFunction(FullDiskWrite);
    }
    ~FullDisk() { MemoryBuffer::SetWriteFileFunction(nullptr); }
};

int32_t CloseCode(Archive& archive) {
    try {
        archive.Close();
    } catch (const ErrorBase& e) {
        return e.Code();
    }
    return 0;
}

const int32_t kDiskFull = int32_t(0x80070070);

}  // namespace

TEST_CASE("a failed write leaves the original file intact and the stream closed") {
    TempFolder folder(_T("arch-fail"));
    tstring path = folder.File(_T("settings.dat"));
    const std::string original = "original settings content";

    for (int32_t mode : {int32_t(Archive::ModeCreate), int32_t(Archive::ModeReadWrite)}) {
        CAPTURE(mode);
        WriteAll(path, original);
        Archive a;
        a.SetPageSize(4);
        a.Open(path, mode);
        a.Seek(0, 0);
        a.WriteString(_T("a new and longer content that replaces the old one"));
        {
            FullDisk disk;
            CHECK(CloseCode(a) == kDiskFull);
        }
        CHECK(ReadWholeFile(path) == original);
        CHECK_FALSE(a.IsOpen());
        CHECK(a.Mode() == Archive::ModeCreate);
        CHECK(a.Path().empty());
        // No temporary file is left behind.
        CHECK(folder.Files().size() == 1);
    }
}

TEST_CASE("a failed first write leaves no file under the name and nothing beside it") {
    TempFolder folder(_T("arch-failnew"));
    tstring path = folder.File(_T("backups.lst"));
    for (int32_t mode : {int32_t(Archive::ModeCreate), int32_t(Archive::ModeReadWrite), int32_t(Archive::ModeAppend)}) {
        CAPTURE(mode);
        Archive a;
        a.SetPageSize(4);
        a.Open(path, mode);
        a.WriteString(_T("the first list"));
        {
            FullDisk disk;
            CHECK(CloseCode(a) == kDiskFull);
        }
        CHECK_FALSE(a.IsOpen());
        CHECK(folder.Files().empty());
    }
}

TEST_CASE("a failed append is cut back off") {
    TempFolder folder(_T("arch-failappend"));
    tstring path = folder.File(_T("log.bin"));
    WriteAll(path, "first record;");
    Archive a(path, Archive::ModeAppend);
    a.WriteRaw("second record;", 14);
    {
        FullDisk disk;
        CHECK(CloseCode(a) == kDiskFull);
    }
    CHECK(ReadWholeFile(path) == "first record;");
    CHECK_FALSE(a.IsOpen());
}

TEST_CASE("a successful rewrite replaces the file and leaves no temporary file") {
    TempFolder folder(_T("arch-replace"));
    tstring path = folder.File(_T("undo.dat"));
    WriteAll(path, "old");
    {
        Archive a(path, Archive::ModeReadWrite);
        a.Seek(0, 0);
        a.WriteRaw("new", 3);
        a.WriteRaw("er", 2);
    }
    CHECK(ReadWholeFile(path) == "newer");
    CHECK(folder.Files().size() == 1);
    // A relative path is replaced in its own folder too.
    TCHAR current[MAX_PATH];
    GetCurrentDirectory(MAX_PATH, current);
    SetCurrentDirectory(folder.Path().c_str());
    {
        Archive b(_T("undo.dat"), Archive::ModeCreate);
        b.WriteRaw("rel", 3);
    }
    SetCurrentDirectory(current);
    CHECK(ReadWholeFile(path) == "rel");
    CHECK(folder.Files().size() == 1);
}

TEST_CASE("a rewritten file keeps its hidden mark") {
    TempFolder folder(_T("arch-hidden"));
    tstring path = folder.File(_T("hidden.dat"));
    WriteAll(path, "old");
    REQUIRE(SetFileAttributes(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    {
        Archive a(path, Archive::ModeCreate);
        a.WriteRaw("new", 3);
    }
    CHECK(ReadWholeFile(path) == "new");
    DWORD attributes = GetFileAttributes(path.c_str());
    CHECK(attributes != INVALID_FILE_ATTRIBUTES);
    CHECK((attributes & FILE_ATTRIBUTE_HIDDEN) != 0);
    SetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("opening read-write holds the file against other writers until closed") {
    TempFolder folder(_T("arch-lock"));
    tstring path = folder.File(_T("held.bin"));
    WriteAll(path, "held");
    Archive a(path, Archive::ModeCreate);
    HANDLE other = CreateFile(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    CHECK(other == INVALID_HANDLE_VALUE);
    CHECK(GetLastError() == ERROR_SHARING_VIOLATION);
    // Until the close the old content is still on disk.
    a.WriteRaw("new", 3);
    CHECK(ReadWholeFile(path) == "<missing>");  // sharing none: not even readable
    a.Close();
    CHECK(ReadWholeFile(path) == "new");
}
