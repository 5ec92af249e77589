#include "hives/BackupManager.h"
#include <algorithm>
#include <vector>
#include "common/archive/Archive.h"
#include "common/archive/Crc32.h"
#include "common/compress/ZlibFile.h"
#include "common/errors/CheckObjects.h"
#include "common/filepack/FilePack.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"
#include "common/system/Security.h"
#include "common/system/SharedBuffer.h"
#include "hives/InflateReader.h"
#include "hives/RBackup.h"
#include "hives/TempName.h"

namespace {

// Temporary files and folders of one operation, removed however it ends;
// a gate learns of each, so that it can remove them while the operation hangs.
class TemporaryPaths {
public:
    explicit TemporaryPaths(BackupGate* gate = nullptr) : gate_(gate) {}
    ~TemporaryPaths() {
        for (const tstring& path : paths_)
            if (!gate_ || gate_->Owns(path))
                DeletePath(path);
    }
    void ThrowIfGivenUp() const {
        if (gate_)
            gate_->ThrowIfGivenUp();
    }
    tstring Add(const tstring& path) {
        paths_.push_back(path);
        if (gate_)
            gate_->Track(path);
        return path;
    }
    void Forget(const tstring& path) {
        paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
        if (gate_)
            gate_->Forget(path);
    }
    // Removed now, no longer needed; kept for the end when it cannot go yet.
    void Remove(const tstring& path) {
        if (DeletePath(path) == 0)
            Forget(path);
    }

private:
    std::vector<tstring> paths_;
    BackupGate* gate_;
};

// The saved files of the work folder that the pack takes (not hidden).
std::vector<tstring> SavedHives(const tstring& work) {
    std::vector<tstring> names;
    WIN32_FIND_DATA found;
    FindHandleHolder search(FindFirstFile((work + _T("\\*")).c_str(), &found));
    if (!search.IsValid())
        return names;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)))
            names.push_back(found.cFileName);
    } while (FindNextFile(search, &found));
    return names;
}

// A backup without its hives could never be restored: the current user's
// two hives for kind 0, a machine hive for kind 1.
void RequireHives(const tstring& work, int kind) {
    bool complete = false;
    if (kind == 0) {
        tstring sid = CurrentUserSid();
        complete = !sid.empty() && FileExists(work + _T("\\") + sid + _T(".dat")) &&
                   FileExists(work + _T("\\") + sid + _T("_Classes.dat"));
    } else {
        for (const tstring& name : SavedHives(work))
            complete = complete || name.compare(0, 5, _T("HKLM_")) == 0;
    }
    if (!complete)
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                        _T("The registry hives of the backup could not be saved."));
}

ErrorBase VerifyError(const tstring& target) {
    return ErrorBase(HRESULT_FROM_WIN32(ERROR_CRC), _T("The new backup file does not read back as written: ") + target);
}

tstring FullPathOf(const tstring& path) {
    TCHAR buffer[MAX_PATH * 4];
    DWORD n = GetFullPathName(path.c_str(), DWORD(sizeof(buffer) / sizeof(buffer[0])), buffer, nullptr);
    return n == 0 || n >= sizeof(buffer) / sizeof(buffer[0]) ? path : tstring(buffer);
}

bool SameFile(const tstring& a, const tstring& b) {
    tstring x = FullPathOf(BackupCatalogue::NormalisePath(a)), y = FullPathOf(BackupCatalogue::NormalisePath(b));
    return CompareStringOrdinal(x.c_str(), int(x.size()), y.c_str(), int(y.size()), TRUE) == CSTR_EQUAL;
}

// A name of the target's own folder, so the finished file only needs a rename.
tstring NameBeside(const tstring& target) {
    size_t slash = target.rfind(_T('\\'));
    tstring folder = slash == tstring::npos ? tstring(_T(".")) : target.Left(int(slash));
    TCHAR name[MAX_PATH * 4];
    BoolCheck ck(target);
    ck = GetTempFileName(folder.c_str(), _T("bkp"), 0, name) != 0;
    return name;
}

void RequireWritable(const tstring& target) {
    HandleHolder file(CreateFile(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.IsValid() || GetLastError() == ERROR_FILE_NOT_FOUND)
        return;
    BoolCheck ck(target);
    ck = FALSE;
}

}  // namespace

void BackupManager::Report(const TCHAR* step) {
    if (progress_)
        progress_->AddEntry(3, tstring(), step);
}

int BackupManager::Create(int kind, const tstring& target, const tstring& comment, bool retention) {
    TemporaryPaths temporary(gate_);
    // An unwritable target fails before the hives are saved: making the name
    // beside it creates a file in its folder, and an existing target is
    // opened for writing without being truncated.
    tstring beside = temporary.Add(NameBeside(target));
    RequireWritable(target);
    tstring work = temporary.Add(TempName(_T("bkp")));
    tstring pack = temporary.Add(TempName(_T("unc")));
    {
        RBackup walker(work);
        walker.SetLog(progress_, 0);
        if (kind == 1)
            walker.backupAll();
        else
            walker.backupCurrent();
    }
    // Any step may be the one that hung; a worker that comes back after the
    // give-up goes no further.
    temporary.ThrowIfGivenUp();
    RequireHives(work, kind);

    Report(_T("Creating backup file"));
    {
        FilePack packed(pack, work);
        packed.Close();
    }

    temporary.ThrowIfGivenUp();
    Report(_T("Compressing backup file"));
    if (CompressFile(pack, beside, -1) != 0)
        throw ErrorBase(E_FAIL, _T("\"Can't compress ") + target);
    temporary.Remove(pack);

    temporary.ThrowIfGivenUp();
    Report(_T("Verifying backup file"));
    Verify(beside, work);
    // No copy of the hives outlives the decision, even when the worker is
    // stuck after it.
    temporary.Remove(work);

    // Decided before the file takes its name: a backup given up at its limit
    // has had its name taken since, by the next backup, whose file it must
    // not replace. Once committed, no give-up comes between.
    if (gate_ && !gate_->Commit())
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_CANCELLED), _T("The backup was given up before it was listed: ") + target);
    Report(_T("Finalize"));
    BoolCheck ck(target);
    ck = MoveFileEx(beside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    temporary.Forget(beside);

    HandleHolder file(CreateFile(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME created = {};
    if (!file.IsValid() || !GetFileTime(file, &created, nullptr, nullptr))
        created = CurrentFileTime();
    file.CloseNoThrow();
    AddEntry(kind, target, comment, &created);
    SaveBound();
    if (retention)
        Retain(target);
    return Count() - 1;
}

// The file is inflated again and must be exactly the pack of the saved hives:
// every entry once, each byte equal to its hive file, the pack's CRC right.
// The inflated bytes are compared as they come, so a backup of any size is
// checked in constant memory.
void BackupManager::Verify(const tstring& backup, const tstring& work) {
    std::vector<tstring> hives = SavedHives(work);
    InflateReader reader(backup);
    uint32_t storedCrc = 0, count = 0;
    if (!reader.Read(&storedCrc, 4) || !reader.Read(&count, 4) || count != hives.size())
        throw VerifyError(backup);
    uint32_t crc = 0;  // the CRC covers what follows the count
    auto read = [&](void* bytes, size_t n) {
        if (!reader.Read(bytes, n))
            throw VerifyError(backup);
        crc = Crc32::Instance().Update(bytes, n, crc);
    };
    std::vector<bool> seen(hives.size());
    std::vector<BYTE> packed(0x40000), saved(0x40000);
    for (uint32_t i = 0; i < count; ++i) {
        int32_t nameBytes = 0;
        read(&nameBytes, 4);
        if (nameBytes <= 0 || (nameBytes & 1) || nameBytes > 2048)
            throw VerifyError(backup);
        std::vector<WCHAR> name(size_t(nameBytes) / 2);
        read(name.data(), size_t(nameBytes));
        tstring entry(name.data(), name.size());
        size_t index = 0;
        while (index < hives.size() && (seen[index] || hives[index].CompareNoCase(entry.c_str()) != 0))
            ++index;
        if (index == hives.size())
            throw VerifyError(backup);
        seen[index] = true;
        uint32_t length = 0;
        read(&length, 4);
        // A give-up meanwhile deletes the work folder: it goes when this closes.
        HandleHolder file(CreateFile((work + _T("\\") + hives[index]).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size = {};
        if (!file.IsValid() || !GetFileSizeEx(file, &size) || uint64_t(size.QuadPart) != length)
            throw VerifyError(backup);
        while (length > 0) {
            DWORD n = length < packed.size() ? length : DWORD(packed.size());
            DWORD got = 0;
            read(packed.data(), n);
            if (!ReadFile(file, saved.data(), n, &got, nullptr) || got != n || memcmp(packed.data(), saved.data(), n) != 0)
                throw VerifyError(backup);
            length -= n;
        }
    }
    if (!reader.AtEnd() || crc != storedCrc)
        throw VerifyError(backup);
}

// Oldest first, until the newest five remain; the new file is never deleted,
// whatever spelling an older entry gives its path.
void BackupManager::Retain(const tstring& kept) {
    bool changed = false;
    while (Count() > kRetainedBackups) {
        if (!SameFile(entries_.front().path, kept))
            DeleteFile(entries_.front().path.c_str());
        entries_.erase(entries_.begin());
        changed = true;
    }
    if (changed)
        SaveBound();
}

void BackupManager::Restore(int index, bool all) {
    if (!IsIndex(index))
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_INVALID_INDEX), FormatText(_T("No backup number %d."), index));
    BackupEntry entry = Entry(index);
    if (!FileExists(entry.path))
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), _T("\"") + entry.path + _T("\" does not exist!"));
    TemporaryPaths temporary;
    tstring work = temporary.Add(TempName(_T("bkp")));
    tstring inflated = temporary.Add(TempName(_T("unc")));
    // A backup that is no zlib stream may be an uncompressed pack.
    tstring packPath = inflated;
    if (DecompressFile(entry.path, inflated) != 0) {
        DeleteFile(inflated.c_str());
        packPath = entry.path;
    }
    {
        FilePack pack;
        pack.Open(packPath, true);
        if (pack.Count() == 0)
            throw ErrorBase(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), _T("Can't restore ") + entry.path);
        BoolCheck ck(work);
        ck = CreateDirectory(work.c_str(), nullptr);
        pack.ExtractAll(work);
        pack.Close();
    }
    RBackup walker(work);
    if (all && entry.kind == 1)
        walker.restoreAll();
    else
        walker.restoreCurrent();
}
