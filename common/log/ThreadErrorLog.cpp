#include "common/log/ThreadErrorLog.h"
#include <string>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"

namespace {

std::wstring ToUtf16(const TCHAR* text) {
#ifdef UNICODE
    return std::wstring(text ? text : L"");
#else
    std::wstring wide;
    if (text && *text) {
        int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (n > 1) {
            wide.resize(size_t(n - 1));
            MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
        }
    }
    return wide;
#endif
}

}  // namespace

ThreadErrorLog& ThreadErrorLog::Instance() {
    static ThreadErrorLog log;
    return log;
}

void ThreadErrorLog::SetFileName(const tstring& name) {
    CriticalSectionLock lock(section_);
    fileName_ = name;
}

tstring ThreadErrorLog::FileName() {
    CriticalSectionLock lock(section_);
    return fileName_;
}

ThreadErrorLog::ScopeRecord* ThreadErrorLog::Find(DWORD threadId) {
    auto it = records_.find(threadId);
    return it == records_.end() ? nullptr : it->second.get();
}

void ThreadErrorLog::Enter(DWORD threadId, const TCHAR* scope) {
    {
        CriticalSectionLock lock(section_);
        std::unique_ptr<ScopeRecord>& record = records_[threadId];
        if (!record)
            record.reset(new ScopeRecord);
        record->marks.push_back(record->buffer.Position());
        ++record->depth;
    }
    if (scope)
        Write(threadId, scope);
}

void ThreadErrorLog::Write(DWORD threadId, const TCHAR* text) {
    std::wstring wide = ToUtf16(text);
    CriticalSectionLock lock(section_);
    ScopeRecord* record = Find(threadId);
    if (!record)
        return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint32_t id = threadId;
    int32_t depth = record->depth;
    int32_t n = int32_t((wide.size() + 1) * sizeof(wchar_t));
    MemoryBuffer& buffer = record->buffer;
    buffer.Write(&id, sizeof(id));
    buffer.Write(&depth, sizeof(depth));
    buffer.Write(&now, sizeof(now));
    buffer.Write(&n, sizeof(n));
    buffer.Write(wide.c_str(), uint32_t(n));
}

void ThreadErrorLog::Print(DWORD threadId, const TCHAR* format, ...) {
    tstring text;
    if (format) {
        va_list args;
        va_start(args, format);
        text.FormatV(format, args);
        va_end(args);
    }
    Write(threadId, text.c_str());
}

void ThreadErrorLog::Leave(DWORD threadId) {
    CriticalSectionLock lock(section_);
    ScopeRecord* record = Find(threadId);
    if (!record)
        return;
    if (!record->marks.empty()) {
        uint32_t mark = record->marks.back();
        record->marks.pop_back();
        record->buffer.Seek(mark, 0);
        record->buffer.SetSize(mark);
    }
    if (--record->depth <= 0)
        records_.erase(threadId);
}

void ThreadErrorLog::DumpThread(DWORD threadId) {
    CriticalSectionLock lock(section_);
    ScopeRecord* record = Find(threadId);
    if (!record)
        return;
    for (uint32_t& mark : record->marks)
        mark = record->buffer.Position();

    // The program log keeps this file open with read and write sharing; an
    // exclusive open would fail for as long as the log is in use.
    HandleHolder file(CreateFile(fileName_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, 0, nullptr));
    if (!file.IsValid())
        throw Win32Error(int32_t(GetLastError()));
    LogFileLock fileLock(Log::LockName(fileName_), 5000);
    if (!fileLock.Owned())
        throw Win32Error(ERROR_TIMEOUT);
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_END))
        throw Win32Error(int32_t(GetLastError()));
    MemoryBuffer& buffer = record->buffer;
    uint32_t position = buffer.Position();
    buffer.Seek(0, 0);
    try {
        buffer.WriteToFile(file);
    } catch (...) {
        buffer.Seek(position, 0);
        throw;
    }
    buffer.Seek(position, 0);
}

int32_t ThreadErrorLog::Depth(DWORD threadId) {
    CriticalSectionLock lock(section_);
    ScopeRecord* record = Find(threadId);
    return record ? record->depth : 0;
}

ThreadScope::ThreadScope(const TCHAR* scope, ThreadErrorLog& log) : log_(log), threadId_(GetCurrentThreadId()) {
    log_.Enter(threadId_, scope);
}

ThreadScope::~ThreadScope() {
    log_.Leave(threadId_);
}
