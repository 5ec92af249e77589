#include "common/log/Log.h"
#include <string>
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "common/system/TimeText.h"

namespace {

SharedBuffer MakePayload(int32_t kind, const void* data, uint32_t length) {
    SharedBuffer payload(uint32_t(sizeof(kind)) + length);
    BYTE* bytes = payload.Data();
    memcpy(bytes, &kind, sizeof(kind));
    if (length)
        memcpy(bytes + sizeof(kind), data, length);
    return payload;
}

// The time column of a log line: the moment in local time.
tstring LocalTimeText(const FILETIME& time) {
    FILETIME local = {};
    SYSTEMTIME st = {};
    if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &st))
        return tstring();
    return TimeText(st);
}

// Only a file that another program holds for a moment is worth trying again
// soon; one that cannot be had until something changes (its folder made, a
// right given) would only stall the caller.
bool IsBusy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The log's members are held only to be read and changed, and for the open of
// the file, so a line waits this long for them only when something is wrong.
const DWORD kGuardWait = 10000;
// Another module of this process (the engine, the host control) opening the
// same file just now takes no longer than that.
const DWORD kOpeningWait = 2000;
const DWORD kFileLockWait = 5000;
const int kAttempts = 31;
const DWORD kRetryPause = 100;

}  // namespace

class Log::Deadline {
public:
    explicit Deadline(DWORD milliseconds)
        : unlimited_(milliseconds == INFINITE), end_(GetTickCount64() + milliseconds) {}
    // The shorter of most and the time left.
    DWORD Within(DWORD most) const {
        if (unlimited_)
            return most;
        ULONGLONG now = GetTickCount64();
        return now >= end_ ? 0 : DWORD(end_ - now < most ? end_ - now : most);
    }

private:
    bool unlimited_;
    ULONGLONG end_;
};

Log& Log::Instance() {
    static Log log;
    return log;
}

void Log::SetFileName(const tstring& path) {
    LocalMutexLock guard(guard_, INFINITE);
    file_.reset();
    fileName_ = path;
    refusedUntil_ = 0;
}

tstring Log::FileName() {
    LocalMutexLock guard(guard_, INFINITE);
    return fileName_;
}

void Log::SetLevel(int32_t level) {
    level_ = level;
}

int32_t Log::Level() {
    return level_;
}

bool Log::Passes(int32_t logLevel, int32_t messageLevel) {
    return logLevel == LogAll || (logLevel == LogError && messageLevel == LogError);
}

void Log::Print(int32_t level, const TCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    PrintV(level, format, args);
    va_end(args);
}

void Log::Print(Log& log, int32_t level, const TCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    log.PrintV(level, format, args);
    va_end(args);
}

void Log::PrintV(int32_t level, const TCHAR* format, va_list args) {
    PrintWithinV(INFINITE, level, format, args);
}

void Log::PrintWithin(DWORD milliseconds, int32_t level, const TCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    PrintWithinV(milliseconds, level, format, args);
    va_end(args);
}

void Log::PrintWithinV(DWORD milliseconds, int32_t level, const TCHAR* format, va_list args) {
    try {
        if (!Passes(level_, level))
            return;
        tstring text;
        if (format)
            text.FormatV(format, args);
        Write(level, text, milliseconds);
    } catch (...) {
    }
}

void Log::Write(int32_t level, const tstring& text, DWORD milliseconds) {
    Deadline deadline(milliseconds);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        if (WriteLine(level, GetCurrentThreadId(), now, text, deadline) == Done)
            return;
        DWORD pause = deadline.Within(kRetryPause);
        if (pause == 0)
            return;
        Sleep(pause);
    }
}

Log::Outcome Log::WriteLine(int32_t level, DWORD threadId, const FILETIME& time, const tstring& text,
                            const Deadline& deadline) {
    bool retry = false;
    std::shared_ptr<OpenedFile> file = File(level, deadline, retry);
    if (!file)
        return retry ? Retry : Done;
    tstring message = text;
    if (message.size() > 1 && message.back() == _T('\n'))
        message.pop_back();
    std::wstring line = FormatLine(time, threadId, message).ToWide();

    // Held by a thread that ends while it writes, the lock is abandoned and
    // taken over; held by a process that does not let go, the line is lost.
    LogFileLock fileLock(file->lock, deadline.Within(kFileLockWait));
    if (!fileLock.Owned())
        return Done;
    try {
        AppendToFile(file->file, line.data(), DWORD(line.size() * sizeof(wchar_t)), true);
        return Done;
    } catch (const Win32Error& e) {
        if (e.Code() == FoldWin32(ERROR_LOCK_VIOLATION) || e.Code() == FoldWin32(ERROR_SHARING_VIOLATION))
            return Retry;
        DropFile(file);
        return Done;
    }
}

std::shared_ptr<Log::OpenedFile> Log::File(int32_t level, const Deadline& deadline, bool& retry) {
    LocalMutexLock guard(guard_, deadline.Within(kGuardWait));
    if (!guard.Owned() || !Passes(level_, level))
        return nullptr;
    // A log that was never given a file has nowhere to write.
    if (fileName_.empty())
        return nullptr;
    if (!file_) {
        if (GetTickCount64() < refusedUntil_)
            return nullptr;
        file_ = OpenFile(deadline, retry);
    }
    return file_;
}

std::shared_ptr<Log::OpenedFile> Log::OpenFile(const Deadline& deadline, bool& retry) {
    auto opened = std::make_shared<OpenedFile>();
    opened->lock.Attach(CreateMutex(nullptr, FALSE, LockName(fileName_).c_str()));
    HandleHolder init(CreateMutex(nullptr, FALSE, FormatText(_T("INIT_LOG_FILE-%u"), GetCurrentProcessId()).c_str()));
    if (!opened->lock.IsValid() || !init.IsValid())
        return nullptr;
    DWORD wait = WaitForSingleObject(init, deadline.Within(kOpeningWait));
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return nullptr;
    opened->file.Attach(CreateFile(fileName_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_FLAG_WRITE_THROUGH,
                                   nullptr));
    DWORD error = GetLastError();
    ReleaseMutex(init);
    if (!opened->file.IsValid()) {
        retry = IsBusy(error);
        if (!retry)
            refusedUntil_ = GetTickCount64() + kReopenDelay;
        return nullptr;
    }
    return opened;
}

void Log::DropFile(const std::shared_ptr<OpenedFile>& failed) {
    LocalMutexLock guard(guard_, kGuardWait);
    if (guard.Owned() && file_ == failed)
        file_.reset();
}

SharedBuffer Log::TextPayload(const tstring& text) {
    std::wstring wide = text.ToWide();
    return MakePayload(PayloadText, wide.data(), uint32_t(wide.size() * sizeof(wchar_t)));
}

SharedBuffer Log::ErrorPayload(int32_t code) {
    return MakePayload(PayloadError, &code, sizeof(code));
}

tstring Log::FormatLine(const FILETIME& time, DWORD threadId, const tstring& message) {
    return FormatText(_T("%s\t%08d\t0x%08X\t\"%s\"\r\n"), LocalTimeText(time).c_str(), int(threadId), unsigned(threadId),
                      message.c_str());
}

tstring Log::LockName(const tstring& path) {
    tstring name = _T("QNLOG_");
    if (path.size() > 2)
        name += path.substr(0, 2);
    size_t slash = path.rfind(_T('\\'));
    if (slash == tstring::npos)
        slash = path.rfind(_T('/'));
    name += slash == tstring::npos ? tstring::base(path) : path.substr(slash + 1);
    // A backslash would make the kernel read the name as a namespace path (a
    // UNC log path begins with two of them).
    for (TCHAR& c : name)
        if (c == _T('\\'))
            c = _T('_');
    return name;
}

tstring DescribeError(const SharedBuffer& payload) {
    if (payload.Size() < sizeof(int32_t))
        return tstring();
    const BYTE* bytes = payload.Data();
    int32_t kind;
    memcpy(&kind, bytes, sizeof(kind));
    uint32_t length = payload.Size() - uint32_t(sizeof(kind));
    if (kind == Log::PayloadError && length >= sizeof(int32_t)) {
        int32_t code;
        memcpy(&code, bytes + sizeof(kind), sizeof(code));
        return FormatText(_T("ErrorBaseID: %08d(0x%08X), %s"), int(code), unsigned(code), ModuleErrorText(code).c_str());
    }
    if (kind == Log::PayloadText) {
        std::wstring text(length / sizeof(wchar_t), L'\0');
        if (!text.empty())
            memcpy(&text[0], bytes + sizeof(kind), text.size() * sizeof(wchar_t));
        return tstring::FromWide(text.data(), text.size());
    }
    return tstring();
}

LogFileLock::LogFileLock(const tstring& lockName, DWORD milliseconds)
    : opened_(CreateMutex(nullptr, FALSE, lockName.c_str())) {
    mutex_ = opened_.Get();
    Take(milliseconds);
}

LogFileLock::LogFileLock(HANDLE mutex, DWORD milliseconds) : mutex_(mutex) {
    Take(milliseconds);
}

void LogFileLock::Take(DWORD milliseconds) {
    if (!mutex_)
        return;
    DWORD wait = WaitForSingleObject(mutex_, milliseconds);
    owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

LogFileLock::~LogFileLock() {
    if (owned_)
        ReleaseMutex(mutex_);
}

void AppendToFile(HANDLE file, const void* bytes, DWORD length, bool bom) {
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size))
        throw Win32Error(int32_t(GetLastError()));
    std::string data;
    // Only an empty file gets the byte-order mark: another process, or an
    // earlier run, may already have started the file.
    if (bom && size.QuadPart == 0)
        data.append("\xFF\xFE", 2);
    data.append(static_cast<const char*>(bytes), length);
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_END))
        throw Win32Error(int32_t(GetLastError()));
    DWORD written = 0;
    if (!WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr))
        throw Win32Error(int32_t(GetLastError()));
    if (written != data.size())
        throw Win32Error(ERROR_WRITE_FAULT);
}
