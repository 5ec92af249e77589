#include <doctest/doctest.h>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/log/ThreadErrorLog.h"
#include "LogTestFiles.h"

namespace {

struct Entry {
    uint32_t thread;
    int32_t depth;
    FILETIME time;
    std::wstring text;
};

// Parses dumped entries from bytes[offset], advancing offset past them.
std::vector<Entry> ParseEntries(const std::string& bytes, size_t& offset, size_t count = SIZE_MAX) {
    std::vector<Entry> entries;
    while (entries.size() < count && offset + 20 <= bytes.size()) {
        Entry e;
        int32_t n;
        memcpy(&e.thread, bytes.data() + offset, 4);
        memcpy(&e.depth, bytes.data() + offset + 4, 4);
        memcpy(&e.time, bytes.data() + offset + 8, 8);
        memcpy(&n, bytes.data() + offset + 16, 4);
        REQUIRE(n >= 2);
        REQUIRE(offset + 20 + size_t(n) <= bytes.size());
        std::wstring text(size_t(n) / 2, L'\0');
        memcpy(&text[0], bytes.data() + offset + 20, size_t(n));
        REQUIRE(text.back() == L'\0');
        text.pop_back();
        e.text = text;
        entries.push_back(e);
        offset += 20 + size_t(n);
    }
    return entries;
}

std::vector<Entry> ReadEntries(const tstring& path) {
    std::string bytes = ReadAll(path);
    size_t offset = 0;
    std::vector<Entry> entries = ParseEntries(bytes, offset);
    CHECK(offset == bytes.size());
    return entries;
}

std::vector<std::pair<std::wstring, int32_t>> Trail(const std::vector<Entry>& entries) {
    std::vector<std::pair<std::wstring, int32_t>> trail;
    for (const Entry& e : entries)
        trail.emplace_back(e.text, e.depth);
    return trail;
}

using TrailList = std::vector<std::pair<std::wstring, int32_t>>;

}  // namespace

TEST_CASE("A dump holds the open scopes and their lines; left scopes are gone") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("uwlog.bin"));
    ThreadErrorLog log;
    CHECK(log.FileName() == _T("uwlog.bin"));
    log.SetFileName(path);
    DWORD me = GetCurrentThreadId();

    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    log.Enter(me, _T("A::run()"));
    log.Write(me, _T("x"));
    log.Enter(me, _T("B::step()"));
    log.Print(me, _T("y %d"), 7);
    CHECK(log.Depth(me) == 2);
    log.Leave(me);
    log.DumpThread(me);

    std::vector<Entry> entries = ReadEntries(path);
    CHECK(Trail(entries) == TrailList{{L"A::run()", 1}, {L"x", 1}});
    for (const Entry& e : entries) {
        CHECK(e.thread == me);
        CHECK(CompareFileTime(&e.time, &before) >= 0);
    }

    SUBCASE("a second dump in the same scopes writes the entries again") {
        log.DumpThread(me);
        CHECK(ReadEntries(path).size() == 4);
    }
    SUBCASE("what a dump saw survives leaving the scopes open at the dump") {
        log.Enter(me, _T("C::deep()"));
        log.Write(me, _T("z"));
        log.DumpThread(me);
        log.Leave(me);
        log.Write(me, _T("after"));
        DeleteFile(path.c_str());
        log.DumpThread(me);
        CHECK(Trail(ReadEntries(path)) ==
              TrailList{{L"A::run()", 1}, {L"x", 1}, {L"C::deep()", 2}, {L"z", 2}, {L"after", 1}});
    }
    log.Leave(me);
    CHECK(log.Depth(me) == 0);
}

TEST_CASE("A thread in no scope dumps nothing; a NULL scope text adds no entry") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("none.bin"));
    ThreadErrorLog log;
    log.SetFileName(path);
    DWORD me = GetCurrentThreadId();
    log.Write(me, _T("outside"));
    log.DumpThread(me);
    CHECK(GetFileAttributes(path.c_str()) == INVALID_FILE_ATTRIBUTES);

    log.Enter(me, nullptr);
    log.Write(me, _T("inside"));
    log.DumpThread(me);
    log.Leave(me);
    CHECK(Trail(ReadEntries(path)) == TrailList{{L"inside", 1}});
    log.Leave(me);
    CHECK(log.Depth(me) == 0);
}

TEST_CASE("Each thread keeps its own trail") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("threads.bin"));
    ThreadErrorLog log;
    log.SetFileName(path);
    log.Enter(1001, _T("one"));
    log.Enter(1002, _T("two"));
    log.Enter(1002, _T("two.inner"));
    log.Leave(1001);
    log.DumpThread(1001);
    CHECK(GetFileAttributes(path.c_str()) == INVALID_FILE_ATTRIBUTES);
    log.DumpThread(1002);
    std::vector<Entry> entries = ReadEntries(path);
    CHECK(Trail(entries) == TrailList{{L"two", 1}, {L"two.inner", 2}});
    CHECK(entries[0].thread == 1002);
    log.Leave(1002);
    log.Leave(1002);
}

TEST_CASE("ThreadScope leaves its scope when the stack unwinds") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("scope.bin"));
    ThreadErrorLog log;
    log.SetFileName(path);
    DWORD me = GetCurrentThreadId();
    try {
        ThreadScope outer(_T("Outer"), log);
        try {
            ThreadScope inner(_T("Inner"), log);
            CHECK(log.Depth(me) == 2);
            throw 1;
        } catch (int) {
            CHECK(log.Depth(me) == 1);
            log.DumpThread(me);
        }
        CHECK(log.Depth(me) == 1);
    } catch (...) {
    }
    CHECK(log.Depth(me) == 0);
    CHECK(Trail(ReadEntries(path)) == TrailList{{L"Outer", 1}});
}

TEST_CASE("A dump into the program log works while the log has the file open") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("Orvane.log"));
    Log log;
    log.SetFileName(path);
    log.Print(LogError, _T("[error] before"));

    ThreadErrorLog trail;
    trail.SetFileName(path);
    DWORD me = GetCurrentThreadId();
    trail.Enter(me, _T("Worker::run()"));
    trail.Write(me, _T("detail"));
    CHECK_NOTHROW(trail.DumpThread(me));
    trail.Leave(me);
    log.Print(LogError, _T("[error] after"));

    std::string bytes = ReadAll(path);
    REQUIRE(bytes.size() > 2);
    CHECK(bytes.substr(0, 2) == "\xFF\xFE");
    std::wstring text = DecodeUtf16(bytes, 2);
    size_t firstEnd = text.find(L"\r\n");
    REQUIRE(firstEnd != std::wstring::npos);
    CHECK(text.substr(0, firstEnd).find(L"\"[error] before\"") != std::wstring::npos);
    size_t offset = 2 + (firstEnd + 2) * 2;
    std::vector<Entry> entries = ParseEntries(bytes, offset, 2);
    CHECK(Trail(entries) == TrailList{{L"Worker::run()", 1}, {L"detail", 1}});
    std::wstring rest = DecodeUtf16(bytes, offset);
    CHECK(rest.find(L"\"[error] after\"\r\n") != std::wstring::npos);
    CHECK(rest.substr(rest.size() - 2) == L"\r\n");
}

TEST_CASE("A dump that cannot open its file throws to its caller and keeps the trail") {
    TempFolder folder(_T("log"));
    ThreadErrorLog log;
    log.SetFileName(folder.File(_T("missing\\sub\\x.bin")));
    DWORD me = GetCurrentThreadId();
    log.Enter(me, _T("S"));
    CHECK_THROWS_AS(log.DumpThread(me), Win32Error);
    tstring good = folder.File(_T("good.bin"));
    log.SetFileName(good);
    log.DumpThread(me);
    log.Leave(me);
    CHECK(Trail(ReadEntries(good)) == TrailList{{L"S", 1}});
}
