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

}  // namespace

Log& Log::Instance() {
    static Log log;
    return log;
}

void Log::SetFileName(const tstring& path) {
    CriticalSectionLock lock(section_);
    file_.CloseNoThrow();
    fileName_ = path;
}

tstring Log::FileName() {
    CriticalSectionLock lock(section_);
    return fileName_;
}

void Log::SetLevel(int32_t level) {
    CriticalSectionLock lock(section_);
    level_ = level;
}

int32_t Log::Level() {
    CriticalSectionLock lock(section_);
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
    try {
        CriticalSectionLock lock(section_);
        if (!Passes(level_, level))
            return;
        // A log that was never given a file has nowhere to write; retrying
        // would only stall the caller.
        if (fileName_.empty())
            return;
        tstring text;
        if (format)
            text.FormatV(format, args);
        SharedBuffer payload = TextPayload(text);
        for (int attempt = 0; attempt < 31; ++attempt) {
            try {
                FILETIME now;
                GetSystemTimeAsFileTime(&now);
                WriteLine(level, GetCurrentThreadId(), now, payload);
                return;
            } catch (...) {
                Sleep(100);
            }
        }
    } catch (...) {
    }
}

void Log::OpenFile() {
    HandleHolder init(CreateMutex(nullptr, FALSE, FormatText(_T("INIT_LOG_FILE-%u"), GetCurrentProcessId()).c_str()));
    if (!init.IsValid())
        return;
    DWORD wait = WaitForSingleObject(init, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return;
    HANDLE file = CreateFile(fileName_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ReleaseMutex(init);
        throw Win32Error(int32_t(error));
    }
    file_.Attach(file);
    lockName_ = LockName(fileName_);
    ReleaseMutex(init);
}

void Log::WriteLine(int32_t level, DWORD threadId, const FILETIME& time, const SharedBuffer& payload) {
    CriticalSectionLock lock(section_);
    if (!Passes(level_, level))
        return;
    if (!file_.IsValid()) {
        OpenFile();
        if (!file_.IsValid())
            return;
    }
    tstring message = DescribeError(payload);
    if (message.size() > 1 && message.back() == _T('\n'))
        message.pop_back();
    std::wstring line = FormatLine(time, threadId, message).ToWide();

    LogFileLock fileLock(lockName_, 5000);
    if (!fileLock.Owned())
        return;
    AppendToFile(file_, line.data(), DWORD(line.size() * sizeof(wchar_t)), true);
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
    : mutex_(CreateMutex(nullptr, FALSE, lockName.c_str())) {
    if (!mutex_.IsValid())
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
