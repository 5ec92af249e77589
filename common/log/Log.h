#pragma once
#include <windows.h>
#include <cstdarg>
#include <cstdint>
#include "common/system/CriticalSection.h"
#include "common/system/HandleHolder.h"
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
    // that cannot be written after the retries is lost.
    void Print(int32_t level, const TCHAR* format, ...);
    void PrintV(int32_t level, const TCHAR* format, va_list args);
    // The same for a log named by the caller, usually Log::Instance().
    static void Print(Log& log, int32_t level, const TCHAR* format, ...);

    // Writes one record when the level filter lets it through. Throws
    // Win32Error when the file cannot be opened or written.
    void WriteLine(int32_t level, DWORD threadId, const FILETIME& time, const SharedBuffer& payload);

    // Whether a message of this level passes the filter of this log level.
    static bool Passes(int32_t logLevel, int32_t messageLevel);
    static SharedBuffer TextPayload(const tstring& text);
    static SharedBuffer ErrorPayload(int32_t code);
    // One file line, with its CR LF.
    static tstring FormatLine(const FILETIME& time, DWORD threadId, const tstring& message);
    // The name of the mutex that serialises writes to the file at path.
    static tstring LockName(const tstring& path);

private:
    void OpenFile();

    CriticalSection section_;
    tstring fileName_;
    HandleHolder file_;
    tstring lockName_;
    int32_t level_ = LogError;
};

// The message text of a payload: the text of a text record, a line naming the
// code and its system text for an error record, empty for anything else.
tstring DescribeError(const SharedBuffer& payload);

// Owns the write lock of a log file for a scope; an abandoned mutex counts as owned.
class LogFileLock {
public:
    LogFileLock(const tstring& lockName, DWORD milliseconds);
    ~LogFileLock();
    LogFileLock(const LogFileLock&) = delete;
    LogFileLock& operator=(const LogFileLock&) = delete;

    bool Owned() const { return owned_; }

private:
    HandleHolder mutex_;
    bool owned_ = false;
};

// Appends bytes at the end of an open file, writing the UTF-16LE byte-order
// mark first when the file is still empty (bom true). Throws Win32Error.
void AppendToFile(HANDLE file, const void* bytes, DWORD length, bool bom);
