#include "common/archive/Archive.h"
#include <vector>
#include "common/archive/Crc32.h"
#include "common/errors/CheckObjects.h"

namespace {

const uint64_t kLimit = 0xFFFFFFFFu;

[[noreturn]] void ThrowLastError() {
    throw Win32Error(int32_t(GetLastError()));
}

[[noreturn]] void ThrowNoMoreData() {
    throw HRError(HRESULT(0x80070103));
}

void MoveFilePointer(HANDLE file, LONGLONG offset, DWORD method) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(file, distance, nullptr, method))
        ThrowLastError();
}

tstring FullPathOf(const tstring& path) {
    DWORD n = GetFullPathName(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        ThrowLastError();
    std::vector<TCHAR> full(n + 1);
    if (GetFullPathName(path.c_str(), n + 1, full.data(), nullptr) == 0)
        ThrowLastError();
    return tstring(full.data());
}

// Strings are UTF-16LE on file in both builds, and end at their first NUL.
std::wstring ToUtf16(const tstring& text) {
    tstring head = text;
    head.resize(size_t(lstrlen(head.c_str())));
    return head.ToWide();
}

// Where the content of a writer goes until it is complete.
const TCHAR kPendingSuffix[] = _T(".new.tmp");

// A virus scanner or indexer may hold the just-closed original for a moment;
// such a refusal is short-lived, so the move is tried a few times. A new
// file never replaces one that appeared meanwhile by another way.
bool MoveIn(const tstring& pending, const tstring& target, bool replace) {
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    for (int attempt = 0;; ++attempt) {
        if (MoveFileEx(pending.c_str(), target.c_str(), flags))
            return true;
        DWORD error = GetLastError();
        if (attempt == 9 || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
            return false;
        Sleep(20);
    }
}

// The file beside is held with delete sharing alone: no other writer can
// open it, and it can still be moved over the target while held, so no one
// can take the name between the finished write and the move. A leftover of a
// writer that ended is emptied and reused. Access is refused for a moment
// while another writer's leftover is being deleted.
HANDLE ClaimPending(const tstring& pending) {
    for (int attempt = 0;; ++attempt) {
        HANDLE file = CreateFile(pending.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (SetEndOfFile(file))
                return file;
            DWORD error = GetLastError();
            CloseHandle(file);
            throw Win32Error(int32_t(error));
        }
        if (attempt == 9 || GetLastError() != ERROR_ACCESS_DENIED)
            ThrowLastError();
        Sleep(20);
    }
}

// A writer holds the target without sharing.
HANDLE OpenExisting(const tstring& target, DWORD access) {
    return CreateFile(target.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Archive::Archive(const TCHAR* path, int32_t mode, bool verify) {
    tstring p(path);
    if (!p.empty())
        Open(p, mode, verify);
}

Archive::Archive(const tstring& path, int32_t mode, bool verify) {
    if (!path.empty())
        Open(path, mode, verify);
}

Archive::~Archive() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; callers who care close explicitly.
    }
}

tstring Archive::PendingPath(const tstring& path) {
    return FullPathOf(path) + kPendingSuffix;
}

void Archive::SetPageSize(uint32_t pageSize) {
    if (IsOpen())
        throw HRError(E_UNEXPECTED);
    buffer_.SetPageSize(pageSize);
}

void Archive::Open(const tstring& requested, int32_t mode, bool verify) {
    // The caller may pass Path() itself, which closing clears.
    const tstring path(requested);
    CloseIfOpen();
    DWORD access;
    switch (mode) {
    case ModeRead:
        access = GENERIC_READ;
        break;
    case ModeCreate:
    case ModeReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    case ModeAppend:
        access = GENERIC_WRITE;
        break;
    default:
        throw HRError(E_INVALIDARG);
    }
    if (mode == ModeRead) {
        HANDLE file = CreateFile(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            ThrowLastError();
        file_.Attach(file);
    } else {
        OpenForWriting(path, access);
    }
    mode_ = mode;
    if (path_ != path)
        path_ = path;
    dirty_ = false;
    try {
        Load(verify);
    } catch (...) {
        Forget();
        throw;
    }
}

// An existing target is held from here to the close. A target that does not
// exist is never created here: the writer holds the file beside instead, so
// that a second writer of the same new file is refused until the first one's
// file has taken the name, and a reader finds no file until then.
void Archive::OpenForWriting(const tstring& path, DWORD access) {
    tstring target = FullPathOf(path);
    HandleHolder file(OpenExisting(target, access));
    if (!file.IsValid() && GetLastError() == ERROR_FILE_NOT_FOUND) {
        tstring pending = PendingPath(target);
        HandleHolder claim(ClaimPending(pending));
        // Another writer's new file may have taken the name between the looks.
        file.Attach(OpenExisting(target, access));
        if (!file.IsValid() && GetLastError() == ERROR_FILE_NOT_FOUND) {
            pending_.Attach(claim.Detach());
            pendingPath_ = pending;
            target_ = target;
            return;
        }
        DWORD error = GetLastError();
        DeleteFile(pending.c_str());
        SetLastError(error);
    }
    if (!file.IsValid())
        ThrowLastError();
    file_.Attach(file.Detach());
    target_ = target;
}

void Archive::Load(bool verify) {
    buffer_.Reset();
    if (mode_ == ModeAppend) {
        if (file_.IsValid())
            MoveFilePointer(file_, 0, FILE_END);
        return;
    }
    if (mode_ == ModeCreate)
        return;
    if (file_.IsValid()) {
        MoveFilePointer(file_, 0, FILE_BEGIN);
        buffer_.ReadFromFile(file_);
    }
    if (verify) {
        uint32_t size = buffer_.Size();
        uint32_t stored = 0;
        bool sound = size >= 4;
        if (sound) {
            buffer_.Seek(size - 4, 0);
            buffer_.Read(&stored, 4);
            sound = buffer_.Checksum(0, size - 4) == stored;
        }
        buffer_.Seek(0, 0);
        if (!sound)
            throw HRError(HRESULT_FROM_WIN32(ERROR_CRC));
    }
    if (mode_ == ModeReadWrite)
        buffer_.Seek(0, 2);
    if (file_.IsValid())
        MoveFilePointer(file_, 0, FILE_BEGIN);
}

void Archive::CloseIfOpen() {
    if (IsOpen())
        Close();
}

void Archive::Discard() {
    if (IsOpen())
        Forget();
}

void Archive::Close() {
    if (!IsOpen())
        return;
    try {
        Flush();
    } catch (...) {
        Forget();
        throw;
    }
    Forget();
}

void Archive::Forget() {
    file_.CloseNoThrow();
    DropPending();
    target_.clear();
    path_.clear();
    mode_ = ModeCreate;
    dirty_ = false;
}

void Archive::Flush() {
    switch (mode_) {
    case ModeCreate:
        MoveInFinished();
        break;
    case ModeReadWrite:
        if (dirty_)
            MoveInFinished();
        break;
    case ModeAppend:
        if (file_.IsValid())
            AppendInPlace();
        else if (buffer_.Size() != 0)
            MoveInFinished();
        break;
    default:
        break;  // mode 0 never writes
    }
}

// A settings, undo or backup list file must never be left empty or half
// written under its name: the content is written whole to the file beside,
// which then takes the target's place.
void Archive::MoveInFinished() {
    if (!pending_.IsValid()) {
        // The held target keeps every other writer of it out of the file beside.
        tstring pending = PendingPath(target_);
        pending_.Attach(ClaimPending(pending));
        pendingPath_ = pending;
    }
    MoveFilePointer(pending_, 0, FILE_BEGIN);
    buffer_.WriteToFile(pending_);
    if (!SetEndOfFile(pending_) || !FlushFileBuffers(pending_))
        ThrowLastError();
    bool replace = file_.IsValid();
    if (replace) {
        // The original stays locked until here; it must be closed to be replaced.
        file_.Close();
        // The replacement takes the place of the original, so it keeps its
        // hidden and system marks.
        const DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        DWORD attributes = GetFileAttributes(target_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & marks))
            SetFileAttributes(pendingPath_.c_str(), attributes & (marks | FILE_ATTRIBUTE_ARCHIVE));
    }
    if (!MoveIn(pendingPath_, target_, replace))
        ThrowLastError();
    // The handle now belongs to the target: the name beside is free again and
    // may be another writer's as soon as the handle is closed.
    pendingPath_.clear();
    pending_.CloseNoThrow();
}

// Deleted while still held, so that no other writer can take the name between
// the delete and the close.
void Archive::DropPending() {
    if (pending_.IsValid() && !pendingPath_.empty())
        DeleteFile(pendingPath_.c_str());
    pending_.CloseNoThrow();
    pendingPath_.clear();
}

// Appending adds to the file in place; a failed append is cut off again so
// the file never ends in a partial record.
void Archive::AppendInPlace() {
    if (buffer_.Size() == 0)
        return;
    LARGE_INTEGER zero = {}, end = {};
    if (!SetFilePointerEx(file_, zero, &end, FILE_END))
        ThrowLastError();
    try {
        buffer_.WriteToFile(file_);
        if (!FlushFileBuffers(file_))
            ThrowLastError();
    } catch (...) {
        SetFilePointerEx(file_, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file_);
        throw;
    }
}

void Archive::SetSize(uint32_t n) {
    buffer_.SetSize(n);
    dirty_ = true;
}

void Archive::WriteRaw(const void* bytes, uint32_t length) {
    if (length == 0)
        return;
    buffer_.Write(bytes, length);
    dirty_ = true;
}

void Archive::WriteCounted(const void* bytes, uint64_t length) {
    // The count and the body go in whole or not at all.
    if (length > 0x7FFFFFFFu || Position() + 4 + length > kLimit)
        throw HRError(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW));
    WriteInt(int32_t(length));
    WriteRaw(bytes, uint32_t(length));
}

void Archive::WriteInt(int32_t value) {
    WriteRaw(&value, 4);
}

void Archive::WriteUInt(uint32_t value) {
    WriteRaw(&value, 4);
}

void Archive::WriteByte(BYTE value) {
    WriteRaw(&value, 1);
}

void Archive::WriteFileTime(const FILETIME& value) {
    BYTE bytes[8];
    memcpy(bytes, &value.dwLowDateTime, 4);
    memcpy(bytes + 4, &value.dwHighDateTime, 4);
    WriteRaw(bytes, 8);
}

void Archive::WriteString(const tstring& value) {
    std::wstring wide = ToUtf16(value);
    WriteCounted(wide.data(), uint64_t(wide.size()) * 2);
}

void Archive::WriteString(const TCHAR* value) {
    WriteString(tstring(value ? value : _T("")));
}

void Archive::WriteBlock(const SharedBuffer& value) {
    WriteCounted(value.Data(), value.Size());
}

void Archive::WriteBuffer(const SharedBuffer& value) {
    WriteRaw(value.Data(), value.Size());
}

int32_t Archive::ReadInt() {
    int32_t value;
    buffer_.Read(&value, 4);
    return value;
}

uint32_t Archive::ReadUInt() {
    uint32_t value;
    buffer_.Read(&value, 4);
    return value;
}

BYTE Archive::ReadByte() {
    BYTE value;
    buffer_.Read(&value, 1);
    return value;
}

bool Archive::ReadBool() {
    return ReadByte() != 0;
}

void Archive::ReadFileTime(FILETIME& value) {
    BYTE bytes[8];
    buffer_.Read(bytes, 8);
    memcpy(&value.dwLowDateTime, bytes, 4);
    memcpy(&value.dwHighDateTime, bytes + 4, 4);
}

void Archive::ReadString(tstring& value) {
    ReadString(value, &tstring::FromWide);
}

void Archive::ReadStrictString(tstring& value) {
    ReadString(value, &tstring::FromWideStrict);
}

void Archive::ReadString(tstring& value, tstring (*convert)(const wchar_t*)) {
    int32_t n = ReadInt();
    value.clear();
    // A count the file cannot hold is a short or corrupt body: checked before
    // anything is allocated for it.
    if (n <= 0 || uint32_t(n) > Remaining())
        return;
    std::vector<WCHAR> text(size_t(n) / 2 + 2, 0);
    buffer_.Read(text.data(), uint32_t(n));
    value = convert(text.data());
}

tstring Archive::ReadString() {
    tstring value;
    ReadString(value);
    return value;
}

void Archive::ReadBlock(SharedBuffer& value) {
    uint32_t start = Position();
    int32_t n = ReadInt();
    if (n < 0 || uint32_t(n) > Remaining()) {
        Seek(start, 0);
        ThrowNoMoreData();
    }
    value.Release();
    if (n == 0)
        return;
    value.Resize(uint32_t(n));
    buffer_.Read(value.Data(), uint32_t(n));
}

void Archive::ReadBuffer(SharedBuffer& value, uint32_t n) {
    if (n > Remaining())
        ThrowNoMoreData();
    if (value.Size() < n)
        value.Resize(n);
    if (n != 0)
        buffer_.Read(value.Data(), n);
}

void Archive::ReadRaw(void* bytes, uint32_t n) {
    buffer_.Read(bytes, n);
}
