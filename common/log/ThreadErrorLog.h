#pragma once
#include <windows.h>
#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>
#include "common/archive/MemoryBuffer.h"
#include "common/system/CriticalSection.h"
#include "common/tstring/tstring.h"

// The trail of scopes each thread is inside. Entries written inside a scope
// vanish when the scope is left, so a thread that catches a failure and dumps
// its trail writes exactly the scopes (and their detail lines) it was in.
//
// A dumped entry, little-endian without padding: uint32 thread id, int32 depth
// (1 for the outermost scope), FILETIME (UTC), int32 n = byte count of the
// text with its terminator, then the UTF-16LE text with its NUL.
class ThreadErrorLog {
public:
    ThreadErrorLog() = default;
    ThreadErrorLog(const ThreadErrorLog&) = delete;
    ThreadErrorLog& operator=(const ThreadErrorLog&) = delete;

    static ThreadErrorLog& Instance();

    void SetFileName(const tstring& name);
    tstring FileName();

    // scope may be NULL: the scope then adds no entry of its own.
    void Enter(DWORD threadId, const TCHAR* scope);
    // Write, Print and Leave do nothing for a thread that is in no scope.
    void Write(DWORD threadId, const TCHAR* text);
    void Print(DWORD threadId, const TCHAR* format, ...);
    void Leave(DWORD threadId);
    // Appends the thread's current trail to the file and keeps it: the entries
    // survive the Leave calls of the scopes now open. Nothing for a thread in
    // no scope. The file is shared with the program log, so it is opened
    // shared, under the log's write lock, and written at its end. Throws
    // Win32Error when the file cannot be opened, locked or written.
    void DumpThread(DWORD threadId);

    // The thread's scope depth (0 outside every scope).
    int32_t Depth(DWORD threadId);

private:
    struct ScopeRecord {
        int32_t depth = 0;
        MemoryBuffer buffer{MemoryBuffer::DefaultPageSize};
        std::vector<uint32_t> marks;
    };

    ScopeRecord* Find(DWORD threadId);

    std::map<uint32_t, std::unique_ptr<ScopeRecord>> records_;
    tstring fileName_ = _T("uwlog.bin");
    CriticalSection section_;
};

// Enters a scope of the current thread for the life of the object.
class ThreadScope {
public:
    explicit ThreadScope(const TCHAR* scope, ThreadErrorLog& log = ThreadErrorLog::Instance());
    ~ThreadScope();
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

private:
    ThreadErrorLog& log_;
    DWORD threadId_;
};
