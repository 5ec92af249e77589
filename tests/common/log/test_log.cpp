#include "StartProcess.h"
#include <doctest/doctest.h>
#include <regex>
#include <set>
#include <thread>
#include "TestLimits.h"
#include "common/errors/ErrorText.h"
#include "common/log/Log.h"
#include "LogTestFiles.h"

namespace {

const std::wregex kLine(LR"re(^(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\t(\d{8})\t0x([0-9A-F]{8})\t"(.*)"$)re");

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool HasBom(const std::string& bytes) {
    return bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
}

// The messages of a log file, checking every line against the line format.
std::vector<std::wstring> Messages(const tstring& path) {
    std::string bytes = ReadAll(path);
    REQUIRE(HasBom(bytes));
    std::vector<std::wstring> messages;
    for (const std::wstring& line : SplitLines(DecodeUtf16(bytes, 2))) {
        std::wsmatch m;
        INFO(std::string(line.begin(), line.end()));
        REQUIRE(std::regex_match(line, m, kLine));
        messages.push_back(m[9].str());
    }
    return messages;
}

}  // namespace

TEST_CASE("A log line carries the local time, the thread id twice and the message, in UTF-16LE after one byte-order mark") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("format.log"));
    Log log;
    log.SetFileName(path);
    log.Print(LogError, _T("[error] code %d in %s"), 42, _T("Backup"));
    log.Print(LogError, nullptr);

    std::string bytes = ReadAll(path);
    REQUIRE(HasBom(bytes));
    std::vector<std::wstring> lines = SplitLines(DecodeUtf16(bytes, 2));
    REQUIRE(lines.size() == 2);
    std::wsmatch m;
    REQUIRE(std::regex_match(lines[0], m, kLine));
    DWORD thread = GetCurrentThreadId();
    CHECK(m[7].str() == std::wstring(FormatText(L"%08d", int(thread))));
    CHECK(m[8].str() == std::wstring(FormatText(L"%08X", unsigned(thread))));
    CHECK(m[9].str() == L"[error] code 42 in Backup");
    REQUIRE(std::regex_match(lines[1], m, kLine));
    CHECK(m[9].str().empty());

    // The stamp is this minute's local time in month/day/year order.
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::regex_match(lines[0], m, kLine);
    CHECK(std::stoi(m[1].str()) == now.wMonth);
    CHECK(std::stoi(m[3].str()) == now.wYear % 100);
}

TEST_CASE("The level filter") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("levels.log"));
    Log log;
    log.SetFileName(path);
    CHECK(log.Level() == LogError);

    SUBCASE("by default information is not written and opens no file") {
        log.Print(LogInfo, _T("[info] quiet"));
        CHECK(GetFileAttributes(path.c_str()) == INVALID_FILE_ATTRIBUTES);
        log.Print(LogError, _T("[error] loud"));
        CHECK(Messages(path) == std::vector<std::wstring>{L"[error] loud"});
    }
    SUBCASE("level 0 writes every message") {
        log.SetLevel(LogAll);
        log.Print(LogInfo, _T("[info] one"));
        log.Print(LogError, _T("[error] two"));
        log.Print(2, _T("other"));
        CHECK(Messages(path) == std::vector<std::wstring>{L"[info] one", L"[error] two", L"other"});
    }
    CHECK(Log::Passes(LogError, LogError));
    CHECK_FALSE(Log::Passes(LogError, LogInfo));
    CHECK_FALSE(Log::Passes(LogInfo, LogInfo));
    CHECK(Log::Passes(LogAll, LogInfo));
}

TEST_CASE("A message ending with a line feed loses it; a lone line feed stays") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("feed.log"));
    Log log;
    log.SetFileName(path);
    log.Print(LogError, _T("[error] ends\n"));
    log.Print(LogError, _T("\n"));
    log.Print(LogError, _T("inner\nline"));
    std::wstring text = DecodeUtf16(ReadAll(path), 2);
    std::vector<std::wstring> lines = SplitLines(text);
    REQUIRE(lines.size() == 3);
    CHECK(EndsWith(lines[0], L"\t\"[error] ends\""));
    CHECK(EndsWith(lines[1], L"\t\"\n\""));
    CHECK(EndsWith(lines[2], L"\t\"inner\nline\""));
}

TEST_CASE("Appending to an existing log never adds a second byte-order mark") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("reopen.log"));
    {
        Log first;
        first.SetFileName(path);
        first.Print(LogError, _T("first"));
    }
    Log second;
    second.SetFileName(path);
    second.Print(LogError, _T("second"));
    second.SetFileName(path);
    second.Print(LogError, _T("third"));
    std::string bytes = ReadAll(path);
    CHECK(DecodeUtf16(bytes, 2).find(L'\xFEFF') == std::wstring::npos);
    CHECK(Messages(path) == std::vector<std::wstring>{L"first", L"second", L"third"});
}

TEST_CASE("Lines go to the end of the file even when another writer has added to it since") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("grown.log"));
    Log a, b;
    a.SetFileName(path);
    b.SetFileName(path);
    a.Print(LogError, _T("a1"));
    b.Print(LogError, _T("b1"));
    a.Print(LogError, _T("a2"));
    Log::Print(b, LogError, _T("b%d"), 2);
    CHECK(Messages(path) == std::vector<std::wstring>{L"a1", L"b1", L"a2", L"b2"});
}

TEST_CASE("Two processes writing one log at once lose no line") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("shared.log"));
    tstring exe = GetModulePath();
    tstring helper = exe.substr(0, exe.rfind(_T('\\'))) + _T("\\log_writer.exe");
    REQUIRE(GetFileAttributes(helper.c_str()) != INVALID_FILE_ATTRIBUTES);

    const int count = 300;
    tstring command = FormatText(_T("\"%s\" \"%s\" %d child"), helper.c_str(), path.c_str(), count);
    // This process has the file open before the other one starts, and goes on
    // writing once the other one's lines have begun to arrive.
    Log log;
    log.SetFileName(path);
    log.Print(LogError, _T("parent %d"), 0);
    size_t opened = ReadAll(path).size();
    STARTUPINFO si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessRetrying(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    for (int wait = 0; wait < 3000 && ReadAll(path).size() == opened; ++wait)
        Sleep(10);
    for (int i = 1; i < count; ++i)
        log.Print(LogError, _T("parent %d"), i);
    CHECK(WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CHECK(exitCode == 0);

    std::vector<std::wstring> messages = Messages(path);
    CHECK(messages.size() == size_t(2 * count));
    std::set<std::wstring> seen(messages.begin(), messages.end());
    for (int i = 0; i < count; ++i) {
        CHECK(seen.count(std::wstring(FormatText(L"parent %d", i))) == 1);
        CHECK(seen.count(std::wstring(FormatText(L"child %d", i))) == 1);
    }
}

// How long one line took to be printed, in milliseconds.
template <class F>
DWORD Took(F print) {
    ULONGLONG start = GetTickCount64();
    print();
    return DWORD(GetTickCount64() - start);
}

TEST_CASE("A file that cannot be opened loses the line at once and is left alone a while; a busy one waits") {
    TempFolder folder(_T("log"));
    Log log;
    // Each of these costs 31 retries 100 ms apart when it is taken for busy.
    const DWORD kQuick = 1500;

    SUBCASE("a file where the folder should be, then the folder made") {
        tstring notFolder = folder.File(_T("Orvane"));
        WriteAll(notFolder, "a file, not a folder");
        tstring path = notFolder + _T("\\Orvane.log");
        log.SetFileName(path);
        CHECK(Took([&] { log.Print(LogError, _T("first")); }) < kQuick);
        CHECK(Took([&] { log.Print(LogError, _T("second")); }) < kQuick);
        // The folder is there now, but the log does not look again for every line.
        DeleteFile(notFolder.c_str());
        CreateDirectory(notFolder.c_str(), nullptr);
        log.Print(LogError, _T("third, within the pause"));
        CHECK(GetFileAttributes(path.c_str()) == INVALID_FILE_ATTRIBUTES);
        Sleep(Log::kReopenDelay + 200);
        log.Print(LogError, _T("fourth, after the pause"));
        CHECK(Messages(path) == std::vector<std::wstring>{L"fourth, after the pause"});
    }
    SUBCASE("access denied (a folder of the log's name); a new name is tried at once") {
        tstring path = folder.File(_T("Orvane.log"));
        CreateDirectory(path.c_str(), nullptr);
        log.SetFileName(path);
        CHECK(Took([&] { log.Print(LogError, _T("lost")); }) < kQuick);
        tstring other = folder.File(_T("other.log"));
        log.SetFileName(other);
        log.Print(LogError, _T("kept"));
        CHECK(Messages(other) == std::vector<std::wstring>{L"kept"});
    }
    SUBCASE("a file another program holds for a moment gets its line once it lets go") {
        tstring path = folder.File(_T("held.log"));
        WriteAll(path, "");
        log.SetFileName(path);
        HANDLE held = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        std::thread writer([&] { log.Print(LogError, _T("waited for")); });
        Sleep(400);
        CloseHandle(held);
        testlimit::Join(writer, testlimit::kStep, "a line for a log file that was held");
        CHECK(Messages(path) == std::vector<std::wstring>{L"waited for"});
    }
}

// Each log stands for a module of its own (the program, the engine, the host
// control) opening the one file at the same moment.
TEST_CASE("Modules of one process that open the log together lose no first line") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("modules.log"));
    const int kRounds = 30, kModules = 3;
    for (int round = 0; round < kRounds; ++round) {
        Log logs[kModules];
        for (Log& log : logs)
            log.SetFileName(path);
        HANDLE go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        std::vector<std::thread> threads;
        for (int m = 0; m < kModules; ++m)
            threads.emplace_back([&, m] {
                WaitForSingleObject(go, testlimit::kStep);
                logs[m].Print(LogError, _T("round %d module %d"), round, m);
            });
        SetEvent(go);
        for (std::thread& t : threads)
            testlimit::Join(t, testlimit::kStep, "a module's first log line");
        CloseHandle(go);
    }
    std::vector<std::wstring> messages = Messages(path);
    CHECK(messages.size() == size_t(kRounds * kModules));
    std::set<std::wstring> seen(messages.begin(), messages.end());
    for (int round = 0; round < kRounds; ++round)
        for (int m = 0; m < kModules; ++m)
            CHECK(seen.count(std::wstring(FormatText(L"round %d module %d", round, m))) == 1);
}

TEST_CASE("DescribeError gives the text of each record kind") {
    CHECK(DescribeError(Log::TextPayload(_T("plain text"))) == _T("plain text"));
    CHECK(DescribeError(Log::TextPayload(_T(""))).empty());
    CHECK(DescribeError(Log::ErrorPayload(5)) ==
          tstring(_T("ErrorBaseID: 00000005(0x00000005), ")) + ModuleErrorText(5));
    CHECK(DescribeError(Log::ErrorPayload(int32_t(0x80070002))).find(_T("ErrorBaseID: -2147024894(0x80070002), ")) == 0);
    int32_t other[2] = {7, 1};
    CHECK(DescribeError(SharedBuffer(other, sizeof(other))).empty());
    CHECK(DescribeError(SharedBuffer()).empty());
    CHECK(DescribeError(SharedBuffer(other, 2)).empty());
}

TEST_CASE("The write lock is named after the path's first two characters and its file name") {
    CHECK(Log::LockName(_T("C:\\Data\\QUARN\\Orvane\\Orvane.log")) == _T("QNLOG_C:Orvane.log"));
    CHECK(Log::LockName(_T("D:/logs/a.log")) == _T("QNLOG_D:a.log"));
    CHECK(Log::LockName(_T("ab")) == _T("QNLOG_ab"));
    CHECK(Log::LockName(_T("plain.log")) == _T("QNLOG_plplain.log"));
    CHECK(Log::LockName(_T("\\\\server\\share\\x.log")) == _T("QNLOG___x.log"));
}

// A scan thread that does not stop is ended by force wherever it is, also in
// the middle of opening the log: the next line must not wait for it.
TEST_CASE("A thread ended by force while it opens the log leaves the log to the next line") {
    TempFolder folder(_T("log"));
    tstring path = folder.File(_T("forced.log"));
    // Left behind when the next line hangs: a thread still waits inside it.
    Log* log = new Log;
    log->SetFileName(path);
    // Held here, the opening mutex keeps the thread inside the log's guard.
    HANDLE opening = CreateMutex(nullptr, FALSE, FormatText(_T("INIT_LOG_FILE-%u"), GetCurrentProcessId()).c_str());
    REQUIRE(opening);
    REQUIRE(testlimit::Wait(opening, testlimit::kStep, "the log's opening mutex"));
    struct Line {
        Log* log;
        HANDLE started;
        const TCHAR* text;
    };
    auto print = [](void* p) -> DWORD {
        Line& line = *static_cast<Line*>(p);
        if (line.started) SetEvent(line.started);
        line.log->Print(LogError, line.text);
        return 0;
    };
    Line first{log, CreateEvent(nullptr, TRUE, FALSE, nullptr), _T("lost with its thread")};
    HANDLE opener = CreateThread(nullptr, 0, print, &first, 0, nullptr);
    REQUIRE(opener);
    REQUIRE(testlimit::Wait(first.started, testlimit::kStep, "the first line's thread to start"));
    // The line waits up to 2 s for the opening mutex, holding the guard.
    Sleep(300);
    CHECK(WaitForSingleObject(opener, 0) == WAIT_TIMEOUT);
    REQUIRE(TerminateThread(opener, 12));
    REQUIRE(testlimit::Wait(opener, testlimit::kStep, "the ended thread to be gone"));
    ReleaseMutex(opening);
    CloseHandle(opening);

    Line next{log, nullptr, _T("after the forced end")};
    HANDLE writer = CreateThread(nullptr, 0, print, &next, 0, nullptr);
    REQUIRE(writer);
    if (!testlimit::Wait(writer, 20000, "a log line after a thread was ended inside the log's guard"))
        return;
    CloseHandle(writer);
    CloseHandle(opener);
    CloseHandle(first.started);
    CHECK(Messages(path) == std::vector<std::wstring>{L"after the forced end"});
    delete log;
}
