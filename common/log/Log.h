#pragma once
#include <windows.h>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include "common/system/HandleHolder.h"
#include "common/system/LocalMutex.h"
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"

// Message levels and log levels. Log level 3 (the default) writes only
// level-3 messages; log level 0 writes every message.
enum LogLevel : int32_t {
    LogAll = 0,
    LogInfo = 1,
    LogError = 3,
};

// The process-wide text log: one UTF-16LE file shared with other processes,
// one line per message stamped with the local time and the writing thread.
// Processes that log to the same path serialise their writes through a named
// mutex and always append at the file's current end.
//
// No lock of the log is held across a wait: a thread ended by force in the
// middle of a line (a scan group that did not stop) must not leave every later
// line waiting for it. The log's own members are guarded by a mutex that such
// a thread gives up, the file by the named write lock, which is abandoned the
// same way; a line that cannot be written in time is lost, never waited for
// without end.
class Log {
public:
    // Record kinds of a message payload: an int32 kind, then the data.
    enum PayloadKind : int32_t {
        PayloadError = 1,  // an int32 error code
        PayloadText = 2,   // UTF-16LE text without terminator
    };

    Log() = default;
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    static Log& Instance();

    // Closes the open file; the next message opens the new one.
    void SetFileName(const tstring& path);
    tstring FileName();
    void SetLevel(int32_t level);
    int32_t Level();

    // printf-style; a NULL format gives an empty text. Never throws: a line
    // that cannot be written after the retries is lost. A file that is only
    // busy (another program has it locked) is tried again, 100 ms apart, up to
    // 31 times; one that cannot be opened at all (no such folder, a file where
    // the folder should be, access denied) loses the line at once, and the
    // lines of the next few seconds do not try it again.
    void Print(int32_t level, const TCHAR* format, ...);
    void PrintV(int32_t level, const TCHAR* format, va_list args);
    // The same for a log named by the caller, usually Log::Instance().
    static void Print(Log& log, int32_t level, const TCHAR* format, ...);
    // For a caller with a limit of its own: every wait and retry of the line
    // ends within milliseconds, and the line is lost when that is not enough.
    void PrintWithin(DWORD milliseconds, int32_t level, const TCHAR* format, ...);

    // How long a file that cannot be opened is left alone before a line tries it again.
    static constexpr DWORD kReopenDelay = 5000;

    // Whether a message of this level passes the filter of this log level.
    static bool Passes(int32_t logLevel, int32_t messageLevel);
    static SharedBuffer TextPayload(const tstring& text);
    static SharedBuffer ErrorPayload(int32_t code);
    // One file line, with its CR LF.
    static tstring FormatLine(const FILETIME& time, DWORD threadId, const tstring& message);
    // The name of the mutex that serialises writes to the file at path.
    static tstring LockName(const tstring& path);

private:
    enum Outcome { Done, Retry };
    class Deadline;
    void PrintWithinV(DWORD milliseconds, int32_t level, const TCHAR* format, va_list args);
    void Write(int32_t level, const tstring& text, DWORD milliseconds);
    // One attempt at one line: Done when written, filtered out or lost for
    // good, Retry when the file is only busy. The text as DescribeError gives
    // it for a text record; a line makes no record of its own, whose shared
    // block would open and close a kernel lock for every copy.
    Outcome WriteLine(int32_t level, DWORD threadId, const FILETIME& time, const tstring& text,
                      const Deadline& deadline);
    // The file as opened, with its write lock, which stays open with it: a
    // line then opens and closes no handle of its own.
    struct OpenedFile {
        HandleHolder file;
        HandleHolder lock;
    };
    // The open file, opened when needed; null when there is none to write to
    // now, with retry telling whether a later try may help.
    std::shared_ptr<OpenedFile> File(int32_t level, const Deadline& deadline, bool& retry);
    std::shared_ptr<OpenedFile> OpenFile(const Deadline& deadline, bool& retry);
    // Forgets an open file that failed a write, so that the next line opens it anew.
    void DropFile(const std::shared_ptr<OpenedFile>& failed);

    LocalMutex guard_;
    tstring fileName_;
    // Shared with the writers under way: a new file name never closes a
    // handle that a line is being written through.
    std::shared_ptr<OpenedFile> file_;
    std::atomic<int32_t> level_{LogError};
    // A file that cannot be opened is not tried again before this tick count.
    ULONGLONG refusedUntil_ = 0;
};

// The message text of a payload: the text of a text record, a line naming the
// code and its system text for an error record, empty for anything else.
tstring DescribeError(const SharedBuffer& payload);

// Owns the write lock of a log file for a scope; an abandoned mutex counts as owned.
class LogFileLock {
public:
    // Opens the mutex of that name for the scope.
    LogFileLock(const tstring& lockName, DWORD milliseconds);
    // The mutex stays the caller's.
    LogFileLock(HANDLE mutex, DWORD milliseconds);
    ~LogFileLock();
    LogFileLock(const LogFileLock&) = delete;
    LogFileLock& operator=(const LogFileLock&) = delete;

    bool Owned() const { return owned_; }

private:
    void Take(DWORD milliseconds);
    HandleHolder opened_;
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
};

// Appends bytes at the end of an open file, writing the UTF-16LE byte-order
// mark first when the file is still empty (bom true). Throws Win32Error.
void AppendToFile(HANDLE file, const void* bytes, DWORD length, bool bom);
