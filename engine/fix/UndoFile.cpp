#include "engine/fix/UndoFile.h"
#include <algorithm>
#include "common/errors/ErrorBase.h"
#include "common/system/FileSystem.h"
#include "engine/fix/FixEntry.h"

namespace {

const int32_t kInvalidData = int32_t(0x8007000D);

[[noreturn]] void Fail(int32_t code, const tstring& message) {
    throw ErrorBase(code, message);
}

[[noreturn]] void Damaged(const TCHAR* what) {
    Fail(kInvalidData, FormatText(_T("Damaged undo file: %s"), what));
}

// A scratch stream in memory: an archive that is never opened on a file.
std::vector<BYTE> BytesOf(Archive& scratch) {
    std::vector<BYTE> bytes(scratch.Size());
    scratch.Seek(0, 0);
    if (!bytes.empty())
        scratch.ReadRaw(bytes.data(), uint32_t(bytes.size()));
    return bytes;
}

void Fill(Archive& scratch, const std::vector<BYTE>& bytes) {
    if (!bytes.empty())
        scratch.WriteRaw(bytes.data(), uint32_t(bytes.size()));
    scratch.Seek(0, 0);
}

}  // namespace

UndoFile::~UndoFile() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; the file on disk is the last persisted one.
    }
}

void UndoFile::Reset() {
    nextEntry_ = HeaderSize;
    nextData_ = AreaStep;
    dataStart_ = AreaStep;
    recordCount_ = 0;
    activeCount_ = 0;
    newFile_ = false;
    version_ = CurrentVersion;
    dataPositions_.clear();
    lastEntry_ = HeaderSize;
    lastData_ = AreaStep;
    valid_ = false;
    entryStarts_.clear();
    entryEnds_.clear();
    undone_.clear();
    writeBackIndex_ = 0;
    canRollback_ = false;
    changed_ = false;
}

UndoFile::Cursor UndoFile::Save() const {
    return Cursor{nextEntry_, nextData_, dataStart_, lastEntry_, lastData_, recordCount_, activeCount_, canRollback_};
}

void UndoFile::Restore(const Cursor& c) {
    nextEntry_ = c.nextEntry;
    nextData_ = c.nextData;
    dataStart_ = c.dataStart;
    lastEntry_ = c.lastEntry;
    lastData_ = c.lastData;
    recordCount_ = c.recordCount;
    activeCount_ = c.activeCount;
    canRollback_ = c.canRollback;
}

void UndoFile::Require(bool condition, const TCHAR* what) const {
    if (!condition)
        Fail(E_FAIL, what);
}

void UndoFile::PutInt(uint32_t at, int32_t value) {
    archive_.Seek(at, 0);
    archive_.WriteInt(value);
    changed_ = true;
}

int32_t UndoFile::GetInt(uint32_t at) {
    archive_.Seek(at, 0);
    return archive_.ReadInt();
}

void UndoFile::PutBytes(uint32_t at, const std::vector<BYTE>& bytes) {
    archive_.Seek(at, 0);
    if (!bytes.empty())
        archive_.WriteRaw(bytes.data(), uint32_t(bytes.size()));
    changed_ = true;
}

std::vector<BYTE> UndoFile::GetBytes(uint32_t at, uint32_t length) {
    std::vector<BYTE> bytes(length);
    archive_.Seek(at, 0);
    if (length)
        archive_.ReadRaw(bytes.data(), length);
    return bytes;
}

uint32_t UndoFile::StoreCrc() {
    uint32_t size = archive_.Size();
    uint32_t crc = size > VersionAt ? archive_.Checksum(VersionAt, size - VersionAt) : 0;
    PutInt(CrcAt, int32_t(crc));
    return crc;
}

void UndoFile::UpdateCrc() {
    if (IsOpen() && valid_)
        StoreCrc();
}

void UndoFile::Close() {
    if (!IsOpen()) {
        canRollback_ = false;
        return;
    }
    // A file never reaches the disk with a CRC older than its content.
    if (valid_ && changed_)
        StoreCrc();
    archive_.Close();
    changed_ = false;
    canRollback_ = false;
}

void UndoFile::Create(const tstring& path) {
    Close();
    Reset();
    // Two sessions must never share a file: replacing one would lose its fixes.
    if (FileExists(path))
        Fail(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), FormatText(_T("Undo file exists: %s"), path.c_str()));
    archive_.Open(path, Archive::ModeCreate);
    path_ = path;
    newFile_ = true;
    archive_.SetSize(AreaStep);
    PutInt(MagicAt, int32_t(Magic));
    PutInt(CrcAt, 0);
    PutInt(VersionAt, CurrentVersion);
    PutInt(DataStartAt, int32_t(AreaStep));
    PutInt(RecordCountAt, 0);
    PutInt(ActiveCountAt, 0);
    valid_ = true;
    try {
        Persist();
    } catch (...) {
        // A first write that failed left no file under the name.
        archive_.Discard();
        Reset();
        throw;
    }
}

void UndoFile::WriteEntry(FixEntry& entry) {
    Require(IsOpen(), _T("No undo file is open"));
    Require(valid_, _T("The open undo file is not valid"));
    if (newFile_)
        WriteNewEntry(entry);
    else
        WriteBackEntry(entry);
}

int32_t UndoFile::WriteAndApply(FixEntry& entry) {
    try {
        WriteEntry(entry);
    } catch (const ErrorBase& e) {
        return int32_t(HResultOf(e));
    }
    // Apply asks whether the undo data is on disk before it changes anything.
    return entry.Apply([this] { return canRollback_ && IsOpen() ? int32_t(0) : int32_t(E_FAIL); });
}

void UndoFile::WriteNewEntry(FixEntry& entry) {
    // The undo data is taken whole before anything of the file changes: a
    // state that cannot be saved must stop the fix.
    Archive undo;
    int32_t saved = entry.SaveUndoData(undo);
    if (saved < 0)
        throw HRError(saved);
    // A new file's entries are written as not undone: an entry rolled back
    // after a failed fix and fixed again carries the mark of its rollback.
    entry.SetUndone(false);
    Archive record;
    if (!entry.Serialize(record, true))
        Fail(E_FAIL, _T("The fix entry cannot be written"));
    std::vector<BYTE> entryBytes = BytesOf(record);
    std::vector<BYTE> undoBytes = BytesOf(undo);

    Cursor before = Save();
    uint32_t sizeBefore = archive_.Size();
    uint32_t crcBefore = uint32_t(GetInt(CrcAt));
    try {
        Grow(uint32_t(entryBytes.size()) + 4);
        lastEntry_ = nextEntry_;
        lastData_ = nextData_;
        PutBytes(nextEntry_, entryBytes);
        archive_.WriteInt(int32_t(nextData_ - dataStart_));
        nextEntry_ = archive_.Position();
        PutBytes(nextData_, undoBytes);
        nextData_ = archive_.Position();
        archive_.SetSize(nextData_);
        ++recordCount_;
        activeCount_ = recordCount_;
        PutInt(RecordCountAt, recordCount_);
        PutInt(ActiveCountAt, activeCount_);
        Persist();
        canRollback_ = true;
    } catch (...) {
        Recover(before, sizeBefore, crcBefore);
        throw;
    }
}

// After a failed write the in-memory copy is not trusted: it is dropped, and
// the file is taken up again only when the disk still holds the state before
// the write; otherwise the object stays closed and refuses further entries.
void UndoFile::Recover(const Cursor& before, uint32_t size, uint32_t crc) {
    archive_.Discard();
    changed_ = false;
    Restore(before);
    canRollback_ = false;
    try {
        Reopen(size, crc);
    } catch (...) {
        archive_.Discard();
    }
}

void UndoFile::WriteBackEntry(FixEntry& entry) {
    size_t index = writeBackIndex_;
    Require(index < entryStarts_.size() && nextEntry_ == entryStarts_[index],
            _T("No read entry is left to write back"));
    Archive record;
    if (!entry.Serialize(record, true))
        Fail(E_FAIL, _T("The fix entry cannot be written"));
    std::vector<BYTE> bytes = BytesOf(record);
    // Rewritten in place, so it must keep its length; anything else would
    // overwrite the next entry.
    if (bytes.size() != entryEnds_[index] - entryStarts_[index])
        Fail(E_FAIL, _T("The fix entry does not match the entry it rewrites"));
    PutBytes(nextEntry_, bytes);
    nextEntry_ = entryEnds_[index] + 4;
    // Counted by change, so entries that could not be read (a reading that
    // stopped at a damaged entry) stay counted as they were.
    bool undone = entry.Undone();
    if (undone != undone_[index])
        activeCount_ = std::max(0, activeCount_ + (undone ? -1 : 1));
    undone_[index] = undone;
    PutInt(ActiveCountAt, activeCount_);
    ++writeBackIndex_;
    StoreCrc();
}

void UndoFile::Grow(uint32_t needed) {
    uint32_t want = std::max(needed, MinimumFreeArea);
    uint32_t steps = 0;
    while (dataStart_ + steps * AreaStep - nextEntry_ < want)
        ++steps;
    if (steps == 0)
        return;
    uint32_t oldStart = dataStart_;
    uint32_t shift = steps * AreaStep;
    std::vector<BYTE> data = GetBytes(oldStart, archive_.Size() - oldStart);
    archive_.SetSize(archive_.Size() + shift);
    PutBytes(oldStart + shift, data);
    PutBytes(oldStart, std::vector<BYTE>(shift, 0));
    dataStart_ += shift;
    nextData_ += shift;
    PutInt(DataStartAt, int32_t(dataStart_));
}

void UndoFile::Persist() {
    uint32_t crc = StoreCrc();
    uint32_t size = archive_.Size();
    archive_.Close();
    changed_ = false;
    Reopen(size, crc);
}

void UndoFile::Reopen(uint32_t expectedSize, uint32_t expectedCrc) {
    // Another process's catalogue may be reading the file for a moment.
    for (int attempt = 0;; ++attempt) {
        try {
            archive_.Open(path_, Archive::ModeReadWrite);
            break;
        } catch (const ErrorBase& e) {
            if (attempt == 9 || e.Code() != int32_t(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)))
                throw;
            Sleep(20);
        }
    }
    bool same = archive_.Size() == expectedSize && expectedSize >= HeaderSize &&
                uint32_t(GetInt(MagicAt)) == Magic && uint32_t(GetInt(CrcAt)) == expectedCrc &&
                archive_.Checksum(VersionAt, expectedSize - VersionAt) == expectedCrc;
    if (!same) {
        archive_.Discard();
        Fail(E_FAIL, FormatText(_T("The undo file changed on disk: %s"), path_.c_str()));
    }
}

void UndoFile::RollbackLast(FixEntry& entry) {
    Require(IsOpen() && valid_ && newFile_ && canRollback_, _T("No undo entry to roll back"));
    // The registry first: until it is restored, the entry's undo data is the
    // only record of what the failed fix may have changed.
    Archive undo;
    Fill(undo, GetBytes(lastData_, nextData_ - lastData_));
    int32_t result = entry.Undo(undo);
    if (result < 0)
        throw HRError(result);
    entry.SetUndone(false);

    Cursor before = Save();
    uint32_t sizeBefore = archive_.Size();
    uint32_t crcBefore = uint32_t(GetInt(CrcAt));
    try {
        PutBytes(lastEntry_, std::vector<BYTE>(nextEntry_ - lastEntry_, 0));
        archive_.SetSize(lastData_);
        nextEntry_ = lastEntry_;
        nextData_ = lastData_;
        --recordCount_;
        activeCount_ = recordCount_;
        PutInt(RecordCountAt, recordCount_);
        PutInt(ActiveCountAt, activeCount_);
        canRollback_ = false;
        Persist();
    } catch (...) {
        Recover(before, sizeBefore, crcBefore);
        throw;
    }
}

void UndoFile::Open(const tstring& path) {
    Close();
    Reset();
    archive_.Open(path, Archive::ModeReadWrite);
    path_ = path;
    try {
        if (archive_.Size() < HeaderSize || uint32_t(GetInt(MagicAt)) != Magic)
            return;
        uint32_t stored = uint32_t(GetInt(CrcAt));
        if (archive_.Checksum(VersionAt, archive_.Size() - VersionAt) != stored)
            Fail(kInvalidData, _T("Invalid CRC"));
        version_ = GetInt(VersionAt);
        if (version_ > CurrentVersion)
            return;
        ReadHeader();
        valid_ = true;
    } catch (...) {
        // A refused file is let go untouched, so the catalogue can still see it.
        archive_.Discard();
        Reset();
        throw;
    }
}

void UndoFile::ReadHeader() {
    uint32_t size = archive_.Size();
    int32_t dataStart = GetInt(DataStartAt);
    recordCount_ = GetInt(RecordCountAt);
    activeCount_ = GetInt(ActiveCountAt);
    if (dataStart < int32_t(HeaderSize) || uint32_t(dataStart) > size)
        Damaged(_T("data start"));
    dataStart_ = uint32_t(dataStart);
    uint32_t area = dataStart_ - HeaderSize;
    if (recordCount_ < 0 || uint32_t(recordCount_) > area / MinimumEntrySize)
        Damaged(_T("record count"));
    if (activeCount_ < 0 || activeCount_ > recordCount_)
        Damaged(_T("active count"));
    nextEntry_ = HeaderSize;
    nextData_ = dataStart_;
}

void UndoFile::ReadEntries(UndoEntryList& entries, bool keepPosition) {
    Require(IsOpen(), _T("No undo file is open"));
    Require(valid_, _T("The open undo file is not valid"));
    entries.clear();
    dataPositions_.clear();
    entryStarts_.clear();
    entryEnds_.clear();
    undone_.clear();
    writeBackIndex_ = 0;
    // ReadHeader bounded the count by the entry area.
    entries.reserve(size_t(recordCount_));
    dataPositions_.reserve(size_t(recordCount_));

    // Entries are read from a copy of the entry area alone, so no damaged
    // length can lead a reader into the undo data.
    Archive area;
    Fill(area, GetBytes(HeaderSize, dataStart_ - HeaderSize));
    uint32_t size = archive_.Size();
    for (int32_t i = 0; i < recordCount_; ++i) {
        uint32_t start = area.Position();
        std::unique_ptr<FixEntry> entry(new FixEntry);
        bool read = false;
        try {
            read = entry->Serialize(area, false);
        } catch (const ErrorBase&) {
            read = false;
        }
        if (!read || area.Remaining() < 4)
            Damaged(FormatText(_T("entry %d"), int(i + 1)).c_str());
        uint32_t end = area.Position();
        int32_t offset = area.ReadInt();
        if (offset < 0 || uint64_t(dataStart_) + uint32_t(offset) > size)
            Damaged(FormatText(_T("undo data offset of entry %d"), int(i + 1)).c_str());
        entryStarts_.push_back(HeaderSize + start);
        entryEnds_.push_back(HeaderSize + end);
        undone_.push_back(entry->Undone());
        dataPositions_.push_back(dataStart_ + uint32_t(offset));
        entries.push_back(std::move(entry));
    }
    // A complete reading recounts the active entries from their marks.
    activeCount_ = int32_t(std::count(undone_.begin(), undone_.end(), false));
    nextEntry_ = keepPosition ? HeaderSize : HeaderSize + area.Position();
}

std::vector<BYTE> UndoFile::UndoDataAt(uint32_t position) {
    uint32_t end = archive_.Size();
    for (uint32_t other : dataPositions_)
        if (other > position && other < end)
            end = other;
    return GetBytes(position, end - position);
}

int32_t UndoFile::UndoEntry(UndoEntryList& entries, size_t index) {
    if (dataPositions_.empty() || index >= dataPositions_.size() || index >= entries.size() || !entries[index])
        return E_FAIL;
    try {
        Require(IsOpen(), _T("No undo file is open"));
        Archive undo;
        Fill(undo, UndoDataAt(dataPositions_[index]));
        int32_t result = entries[index]->Undo(undo);
        return result < 0 ? result : 0;
    } catch (const ErrorBase& e) {
        return HResultOf(e);
    }
}

std::vector<size_t> UndoFile::UndoOrder(const UndoEntryList& entries) {
    std::vector<size_t> order;
    order.reserve(entries.size());
    for (size_t i = entries.size(); i-- > 0;)
        order.push_back(i);
    return order;
}

int32_t UndoFile::UndoAll(UndoEntryList& entries) {
    int32_t result = 0;
    for (size_t i : UndoOrder(entries)) {
        if (!entries[i] || entries[i]->Undone())
            continue;
        int32_t code = UndoEntry(entries, i);
        if (code < 0)
            result = code;
    }
    return result;
}

UndoFileState CheckUndoFile(const tstring& path, int32_t& fixesCount) {
    fixesCount = 0;
    try {
        Archive file(path, Archive::ModeRead);
        uint32_t size = file.Size();
        if (size <= 3)
            return UndoFileForeign;
        if (size < 4 || file.ReadUInt() != UndoFile::Magic)
            return UndoFileForeign;
        if (size < UndoFile::HeaderSize)
            return UndoFileSuspect;
        uint32_t stored = file.ReadUInt();
        if (file.Checksum(UndoFile::VersionAt, size - UndoFile::VersionAt) != stored)
            return UndoFileSuspect;
        int32_t version = file.ReadInt();
        int32_t dataStart = file.ReadInt();
        int32_t records = file.ReadInt();
        int32_t active = file.ReadInt();
        if (version > UndoFile::CurrentVersion)
            return UndoFileSuspect;
        if (dataStart < int32_t(UndoFile::HeaderSize) || uint32_t(dataStart) > size || records < 0 ||
            uint32_t(records) > (uint32_t(dataStart) - UndoFile::HeaderSize) / UndoFile::MinimumEntrySize ||
            active < 0 || active > records)
            return UndoFileSuspect;
        if (records == 0 || active == 0)
            return UndoFileUsedUp;
        fixesCount = active;
        return UndoFileListable;
    } catch (const ErrorBase&) {
        return UndoFileSuspect;
    }
}
