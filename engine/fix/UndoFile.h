#pragma once
#include <windows.h>
#include <cstdint>
#include <memory>
#include <vector>
#include "common/archive/Archive.h"
#include "common/tstring/tstring.h"

class FixEntry;

// The entries of one undo file in file order, oldest first.
using UndoEntryList = std::vector<std::unique_ptr<FixEntry>>;

// One undo file: the fix entries of a fix session, each followed in the data
// area by the registry state its actions changed.
//
// Layout (little-endian): "QNRU", CRC-32/BZIP2 of every byte from 8 to the
// end, version, data start, record count, active count; then the entry area
// (entries back to back, each followed by the int32 offset of its undo data
// from the data start, then zeros) up to the data start; then the undo data.
//
// A file being written is on disk whole and consistent after every entry:
// each entry, the counts and the CRC are written, the file is flushed, and
// only then does WriteEntry return, so a fix applied after it can always be
// undone, whenever the process stops.
class UndoFile {
public:
    static const uint32_t Magic = 0x55524E51;  // the bytes "QNRU"
    static const int32_t CurrentVersion = 0x00010000;
    static const uint32_t HeaderSize = 0x18;
    static const uint32_t AreaStep = 0x4000;
    // The entry area grows before fewer bytes than this are left in it.
    static const uint32_t MinimumFreeArea = 0x400;
    // The smallest entry: four empty texts, code, flag, action count, offset.
    static const uint32_t MinimumEntrySize = 4 * 4 + 4 + 1 + 4 + 4;

    enum HeaderField : uint32_t {
        MagicAt = 0x00,
        CrcAt = 0x04,
        VersionAt = 0x08,
        DataStartAt = 0x0C,
        RecordCountAt = 0x10,
        ActiveCountAt = 0x14,
    };

    UndoFile() = default;
    ~UndoFile();
    UndoFile(const UndoFile&) = delete;
    UndoFile& operator=(const UndoFile&) = delete;

    // Creates a new, empty undo file and keeps it open for WriteEntry. An
    // existing file is never replaced (ErrorBase). A file still open is closed
    // first.
    void Create(const tstring& path);

    // New file: appends the entry and the current registry state of what its
    // actions change, and puts the file on disk before returning. Opened file:
    // rewrites the next read entry in place (only its undone mark changes).
    // Throws when no file is open, when the undo data cannot be saved whole, or
    // when the file cannot be written and reopened: the fix must then not be
    // applied.
    void WriteEntry(FixEntry& entry);

    // One fix of a fix session: WriteEntry, then the entry's actions, which
    // FixEntry::Apply runs only after the entry is on disk. 0; the write's
    // failure code (nothing applied); or the apply's failure code, after
    // which the caller rolls back with RollbackLast.
    int32_t WriteAndApply(FixEntry& entry);

    // Restores the registry from the undo data of the entry just written by
    // WriteEntry, then takes the entry out of the file. When the restore
    // fails, the entry stays in the file (its undo data is still needed) and
    // HRError is raised. After a successful rollback the entry is marked not
    // undone again, so it can be fixed later.
    void RollbackLast(FixEntry& entry);

    // Computes and stores the CRC; nothing when no file is open.
    void UpdateCrc();

    // Writes a changed file back (with its CRC) and closes it; nothing when
    // none is open.
    void Close();

    // Opens an existing file for an undo session. A file that is empty, not an
    // undo file or of a newer version leaves the object not valid; a CRC
    // mismatch raises ErrorBase "Invalid CRC"; a header whose counts or data
    // start do not fit the file raises ErrorBase. A file still open is closed
    // first.
    void Open(const tstring& path);

    // Reads every entry of a valid opened file, each with the position of its
    // undo data. Every count and offset is checked against the bytes it
    // claims; a damaged entry raises ErrorBase and leaves entries with what was
    // read before it. keepPosition: write-back starts at the first entry.
    void ReadEntries(UndoEntryList& entries, bool keepPosition);

    // Undoes one read entry from its undo data: 0, E_FAIL for an index outside
    // the read entries, or the failure code. On success the entry is marked
    // undone (WriteEntry stores the mark).
    int32_t UndoEntry(UndoEntryList& entries, size_t index);

    // Undoes every read entry not yet undone, the newest first, because a
    // later fix may have changed what an earlier one left behind (a value's
    // key deleted after the value). 0, or the code of the last failure.
    int32_t UndoAll(UndoEntryList& entries);

    // The read entries' indexes in the order they must be undone: newest first.
    static std::vector<size_t> UndoOrder(const UndoEntryList& entries);

    bool IsOpen() const { return archive_.IsOpen(); }
    bool IsValid() const { return valid_; }
    bool IsNewFile() const { return newFile_; }
    const tstring& Path() const { return path_; }
    int32_t Version() const { return version_; }
    uint32_t DataStart() const { return dataStart_; }
    int32_t RecordCount() const { return recordCount_; }
    // Entries not undone: those written (new file), or those whose read or
    // written-back undone mark is clear (opened file).
    int32_t ActiveCount() const { return activeCount_; }
    uint32_t NextEntryPosition() const { return nextEntry_; }
    uint32_t NextDataPosition() const { return nextData_; }
    // Absolute position of each read entry's undo data.
    const std::vector<uint32_t>& DataPositions() const { return dataPositions_; }

private:
    struct Cursor {
        uint32_t nextEntry, nextData, dataStart, lastEntry, lastData;
        int32_t recordCount, activeCount;
        bool canRollback;
    };
    Cursor Save() const;
    void Restore(const Cursor& cursor);

    void Require(bool condition, const TCHAR* what) const;
    void WriteNewEntry(FixEntry& entry);
    void WriteBackEntry(FixEntry& entry);
    void Grow(uint32_t needed);
    void PutInt(uint32_t at, int32_t value);
    int32_t GetInt(uint32_t at);
    void PutBytes(uint32_t at, const std::vector<BYTE>& bytes);
    std::vector<BYTE> GetBytes(uint32_t at, uint32_t length);
    uint32_t StoreCrc();
    // Writes the file to disk, opens it again and checks that what is on disk
    // is what was written.
    void Persist();
    void Reopen(uint32_t expectedSize, uint32_t expectedCrc);
    void Recover(const Cursor& before, uint32_t size, uint32_t crc);
    // The bytes from the undo data at position up to the next entry's data.
    std::vector<BYTE> UndoDataAt(uint32_t position);
    void ReadHeader();
    void Reset();

    tstring path_;
    uint32_t nextEntry_ = HeaderSize;
    uint32_t nextData_ = AreaStep;
    uint32_t dataStart_ = AreaStep;
    int32_t recordCount_ = 0;
    int32_t activeCount_ = 0;
    bool newFile_ = false;
    int32_t version_ = CurrentVersion;
    std::vector<uint32_t> dataPositions_;
    uint32_t lastEntry_ = HeaderSize;
    uint32_t lastData_ = AreaStep;
    Archive archive_;
    bool valid_ = false;

    // Entry bounds and undone marks of the read entries, for write-back.
    std::vector<uint32_t> entryStarts_;
    std::vector<uint32_t> entryEnds_;
    std::vector<bool> undone_;
    size_t writeBackIndex_ = 0;
    bool canRollback_ = false;
    bool changed_ = false;
};

// What the catalogue makes of a file in the undo folder.
enum UndoFileState : int32_t {
    // An undo file with nothing left to undo (no entries, or all undone).
    UndoFileUsedUp = 0,
    UndoFileListable = 1,
    // Not an undo file at all (3 bytes or fewer, another magic).
    UndoFileForeign = 2,
    // An undo file that cannot be trusted or read now: a CRC that does not
    // match, a newer version, a header that does not fit, or a file that
    // cannot be opened (in use by a running fix session). It is kept: it may
    // still hold the only record of applied fixes.
    UndoFileSuspect = 3,
};

// Tests a file without changing it; fixesCount is its active count when
// listable, else 0. Never throws.
UndoFileState CheckUndoFile(const tstring& path, int32_t& fixesCount);
