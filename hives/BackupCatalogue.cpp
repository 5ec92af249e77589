#include "hives/BackupCatalogue.h"
#include <oleauto.h>
#include "common/archive/Archive.h"
#include "common/compress/ZlibFile.h"
#include "common/errors/CheckObjects.h"
#include "common/filepack/FilePack.h"
#include "common/log/Log.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"

namespace {

// A list held by another program (its save under way, a virus scanner or a
// backup tool reading it) is let go within moments: it is waited out that
// long, and no longer.
const int kBusyAttempts = 5;
const DWORD kBusyPause = 100;

// A denial counts too: a list being replaced answers it for a moment.
bool IsBusy(int32_t code) {
    return code == FoldWin32(ERROR_SHARING_VIOLATION) || code == FoldWin32(ERROR_LOCK_VIOLATION) ||
           code == FoldWin32(ERROR_ACCESS_DENIED);
}

bool IsMissing(int32_t code) {
    return code == FoldWin32(ERROR_FILE_NOT_FOUND) || code == FoldWin32(ERROR_PATH_NOT_FOUND);
}

template <class Step>
void RetryWhileBusy(Step step) {
    for (int attempt = 1;; ++attempt) {
        try {
            step();
            return;
        } catch (const ErrorBase& e) {
            if (attempt == kBusyAttempts || !IsBusy(e.Code()))
                throw;
        }
        Sleep(kBusyPause);
    }
}

bool MoveAsideWhileBusy(const tstring& from, const tstring& to) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileEx(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (attempt == kBusyAttempts || !IsBusy(FoldWin32(int32_t(GetLastError()))))
            return false;
        Sleep(kBusyPause);
    }
}

bool SamePath(const tstring& a, const tstring& b) {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

// Writing the catalogue over a list it never read would drop every entry of
// that list.
ErrorBase UnreadError(const tstring& path) {
    return ErrorBase(HRESULT_FROM_WIN32(ERROR_BUSY),
                     _T("The backup files list could not be read, so it is not written: ") + path);
}

ErrorBase LayoutError() {
    return ErrorBase(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), _T("Invalid backup list layout"));
}

// A string whose byte count is odd, negative or past the end is damage, not text.
tstring ReadCheckedString(Archive& archive) {
    if (archive.Remaining() < 4)
        throw LayoutError();
    int32_t bytes = archive.ReadInt();
    if (bytes < 0 || (bytes & 1) || uint32_t(bytes) > archive.Remaining())
        throw LayoutError();
    archive.Seek(-4, 1);
    return archive.ReadString();
}

// The creation time of an existing file, else now.
FILETIME FileTimeOrNow(const tstring& path) {
    FILETIME created = {};
    DWORD attributes = GetFileAttributes(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        HandleHolder file(
            CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (file.IsValid() && GetFileTime(file, &created, nullptr, nullptr))
            return created;
    }
    return CurrentFileTime();
}

}  // namespace

tstring BackupCatalogue::NormalisePath(const tstring& path) {
    if (path.size() <= 2)
        return path;
    tstring rest = path.Mid(2);
    rest.Replace(_T("//"), _T("/"));
    rest.Replace(_T("\\\\"), _T("\\"));
    return path.Left(2) + rest;
}

void BackupCatalogue::Load(const tstring& path) {
    bool opened = false;
    Read(path, opened);
}

void BackupCatalogue::Read(const tstring& path, bool& opened) {
    entries_.clear();
    path_.clear();
    unread_.clear();
    if (path.empty())
        return;
    unread_ = path;
    Archive archive;
    bool missing = false;
    RetryWhileBusy([&] {
        DWORD attributes = GetFileAttributes(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            missing = true;
            return;
        }
        try {
            archive.Open(path, Archive::ModeRead);
        } catch (const ErrorBase& e) {
            if (!IsMissing(e.Code()))
                throw;
            missing = true;
        }
    });
    opened = true;
    if (!missing)
        ReadEntries(archive);
    path_ = path;
    unread_.clear();
}

void BackupCatalogue::ReadEntries(Archive& archive) {
    uint32_t size = archive.Size();
    if (size < 4)
        throw LayoutError();
    int32_t first = archive.ReadInt();
    bool current = first == kFormatMarker;
    int32_t count = first;
    if (current) {
        if (size < 12)
            throw LayoutError();
        uint32_t stored = archive.ReadUInt();
        if (archive.Checksum(8, size - 8) != stored)
            throw ErrorBase(HRESULT_FROM_WIN32(ERROR_CRC), _T("Invalid CRC"));
        archive.Seek(8, 0);
        count = archive.ReadInt();
    }
    // Each entry takes at least its kind and two string counts (and a time).
    uint32_t smallest = current ? 20 : 12;
    if (count < 0 || uint32_t(count) > archive.Remaining() / smallest)
        throw LayoutError();
    std::vector<BackupEntry> read;
    for (int32_t i = 0; i < count; ++i) {
        if (archive.Remaining() < 4)
            throw LayoutError();
        BackupEntry entry;
        entry.kind = archive.ReadUInt() != 0 ? 1 : 0;
        entry.path = ReadCheckedString(archive);
        entry.comment = ReadCheckedString(archive);
        if (current) {
            if (archive.Remaining() < 8)
                throw LayoutError();
            archive.ReadFileTime(entry.time);
        }
        read.push_back(entry);
    }
    if (archive.Remaining() != 0)
        throw LayoutError();
    for (const BackupEntry& entry : read)
        AddEntry(entry.kind, entry.path, entry.comment, current ? &entry.time : nullptr);
}

// Only a list that was read and failed its checks is damaged; one that could
// not even be opened may be sound, and is left alone. A damaged list is kept
// for whoever wants to look at it; it cannot be merged, and would otherwise
// keep every later backup from being listed.
BackupCatalogue::LoadOutcome BackupCatalogue::LoadKeepingDamaged(const tstring& path, tstring* reason) {
    int32_t code = 0;
    tstring text;
    bool opened = false;
    try {
        Read(path, opened);
        return ListRead;
    } catch (const ErrorBase& e) {
        code = e.Code();
        text = e.Message();
    } catch (...) {
        code = E_UNEXPECTED;
    }
    if (text.empty())
        text = FormatText(_T("0x%08X"), unsigned(code));
    if (reason)
        *reason = text;
    if (!opened) {
        Log::Instance().Print(LogError, _T("[error] The backup files list %s cannot be read (%s); it is left as it is."),
                              path.c_str(), text.c_str());
        return ListUnreadable;
    }
    tstring kept = DamagedCopyPath(path);
    if (!MoveAsideWhileBusy(path, kept)) {
        int32_t moveCode = FoldWin32(int32_t(GetLastError()));
        // Gone meanwhile: another process found it damaged too and kept it.
        if (!IsMissing(moveCode)) {
            Log::Instance().Print(LogError,
                                  _T("[error] The backup files list %s is damaged (%s) and cannot be set aside (0x%08X)."),
                                  path.c_str(), text.c_str(), unsigned(moveCode));
            return ListUnreadable;
        }
    }
    Log::Instance().Print(LogError, _T("[error] The backup files list %s was damaged (%s); kept as %s, a new list begun."),
                          path.c_str(), text.c_str(), kept.c_str());
    entries_.clear();
    path_ = path;
    unread_.clear();
    return ListSetAside;
}

void BackupCatalogue::Save(const tstring& path) {
    if (!unread_.empty() && SamePath(path, unread_))
        throw UnreadError(path);
    RetryWhileBusy([&] {
        Archive archive(path, Archive::ModeCreate);
        archive.WriteInt(kFormatMarker);
        archive.WriteUInt(0);
        archive.WriteInt(int32_t(entries_.size()));
        for (const BackupEntry& entry : entries_) {
            archive.WriteUInt(entry.kind);
            archive.WriteString(entry.path);
            archive.WriteString(entry.comment);
            archive.WriteFileTime(entry.time);
        }
        uint32_t crc = archive.Checksum(8, archive.Size() - 8);
        archive.Seek(4, 0);
        archive.WriteUInt(crc);
        archive.Close();
    });
}

void BackupCatalogue::SaveBound() {
    if (!path_.empty())
        Save(path_);
    else if (!unread_.empty())
        throw UnreadError(unread_);
}

void BackupCatalogue::AddEntry(int kind, const tstring& path, const tstring& comment, const FILETIME* time) {
    BackupEntry entry;
    entry.kind = kind ? 1 : 0;
    entry.time = time ? *time : FileTimeOrNow(path);
    entry.path = NormalisePath(path);
    entry.comment = comment;
    int existing = Find(entry.path);
    if (existing >= 0)
        entries_.erase(entries_.begin() + existing);
    entries_.push_back(entry);
}

int BackupCatalogue::Find(const tstring& path) const {
    tstring wanted = NormalisePath(path);
    for (size_t i = 0; i < entries_.size(); ++i) {
        const tstring& listed = entries_[i].path;
        if (CompareStringOrdinal(listed.c_str(), int(listed.size()), wanted.c_str(), int(wanted.size()), TRUE) ==
            CSTR_EQUAL)
            return int(i);
    }
    return -1;
}

void BackupCatalogue::Remove(int index, bool save) {
    entries_.erase(entries_.begin() + index);
    if (save)
        SaveBound();
}

bool BackupCatalogue::AddExisting(const tstring& path, const tstring& comment) {
    if (!IsZlibFile(path)) {
        FilePack pack;
        pack.Open(path, true);
        pack.Close();
    }
    HandleHolder file(CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) {
        int32_t code = FoldWin32(int32_t(GetLastError()));
        Log::Instance().Print(LogError, _T("[error] Can't add backup file: %s."), path.c_str());
        throw ErrorBase(code, _T("Can't get access to file."));
    }
    FILETIME created = {};
    if (!GetFileTime(file, &created, nullptr, nullptr))
        created = CurrentFileTime();
    file.CloseNoThrow();
    AddEntry(1, path, comment, &created);
    SaveBound();
    return true;
}

tstring BackupCatalogue::TimeText(int index) const {
    FILETIME local = {};
    SYSTEMTIME system = {};
    DATE date = 0;
    const FILETIME& time = entries_.at(size_t(index)).time;
    if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &system) ||
        !SystemTimeToVariantTime(&system, &date))
        return tstring();
    BSTR text = nullptr;
    if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &text)))
        return tstring();
    tstring result(text ? text : L"");
    SysFreeString(text);
    return result;
}
