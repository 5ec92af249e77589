#pragma once
#include <cstdint>
#include <map>
#include <vector>
#include "common/system/CriticalSection.h"
#include "common/tstring/tstring.h"
#include "engine/scan/ScanRecord.h"

// The findings the user (the user list, "ignores.dat") or the installation
// (the system list, "SystemIgnores.dat") wants left alone. The user list is
// kept in insertion order with an index of its distinct entries; the system
// list is never written.
//
// Other engine objects (in this process or another) keep lists over the same
// user file. So a save writes no list as it stands: under the file's save lock
// it reads the file's records and puts this object's own additions and
// removals on top of them (entries keyed by check, key path and value name),
// and a file this object could not read is never written over. A read that
// finds the file busy is tried again shortly; while it stays busy the object
// is marked and reads the file again before its next save, its next listing
// and its next scan.
//
// Scan threads test findings while the caller may edit the list, so every
// member takes the object's lock; file work happens outside it.
class IgnoreList {
public:
    enum Which { User = 0, System = 1 };

    // Empty paths: the product's files in the data and program folders.
    explicit IgnoreList(const tstring& userPath = tstring(), const tstring& systemPath = tstring());
    IgnoreList(const IgnoreList&) = delete;
    IgnoreList& operator=(const IgnoreList&) = delete;

    // Replaces one list with its file's records: 0, or -1 when the file is
    // missing, damaged or unreadable (the list then stays empty). A missing
    // user file is created empty; a damaged one is kept beside it as
    // "<name>.damaged" and an empty one written in its place. A busy user
    // file marks the object (Unread). Full records go to the user list
    // whichever file holds them; short ones only to the system list.
    int32_t Load(Which which);
    // Whether the user list holds the file's records (read, or written since).
    bool Loaded() const;
    // Whether the last read of the user file could not get at it.
    bool Unread() const;
    // While Unread: reads the user file again (waiting a little for another
    // saver), with this object's changes kept on top. Writes nothing but the
    // replacement of a damaged file.
    void CatchUp();

    // This object's changes on top of the user file's records, written there;
    // the list then holds what was written. Throws, writing nothing, when the
    // file exists but cannot be read (busy, denied) or the save lock is not
    // had in time; a damaged file is set aside first.
    void Save();
    // The user list into any file. Throws on failure.
    void Export(const tstring& path);
    // Merges the file's full records that the index does not know yet and
    // saves the user file. A file that is damaged anywhere merges nothing;
    // throws its error.
    void Import(const tstring& path);

    // Appends without a duplicate check; the index keeps one entry.
    void Add(const ScanRecord& record);
    // position counts from 1; false (nothing changed) outside the list. The
    // record's entry leaves the index even when a copy of it stays behind.
    bool Remove(int32_t position);
    void Dismiss();

    // Whether a record of either list covers a finding on this key and value:
    // the key path starts with the record's (exactly for user records, in any
    // letter case for system records), and the record names no value or the
    // value name starts with the record's.
    bool Covers(const tstring& keyPath, const tstring& valueName) const;

    std::vector<ScanRecord> UserRecords() const;
    std::vector<ScanRecord> SystemRecords() const;
    bool Knows(const ScanRecord& record) const;

    tstring Path(Which which) const;

private:
    // This object's edits of the user list since it last read or wrote the
    // file, in the order they were made.
    struct Change {
        enum Kind { Addition, Removal, AdditionIfAbsent };
        Kind kind;
        ScanRecord record;
    };
    // changes on top of records; base is what this object last had from the
    // file, so that an entry another saver added since is not added twice.
    static std::vector<ScanRecord> Replay(std::vector<ScanRecord> records, const std::vector<ScanRecord>& base,
                                          const std::vector<Change>& changes);

    void ResetUser();
    void AddLocked(const ScanRecord& record, Change::Kind kind);
    // With the save lock held: reads the user file, sets a damaged one aside
    // and writes an empty one (or one for a missing file, with create); true
    // when the list then holds the file's records.
    bool ReadUserFile(const tstring& path, int attempts, bool create);
    void Adopt(const std::vector<ScanRecord>& records);

    tstring userPath_;
    tstring systemPath_;
    std::vector<ScanRecord> user_;
    std::vector<ScanRecord> system_;
    std::map<ScanRecord, BYTE> index_;
    // The user file's records as this object last read or wrote them.
    std::vector<ScanRecord> base_;
    std::vector<Change> changes_;
    bool loaded_ = false;
    bool unread_ = false;
    mutable CriticalSection lock_;
};
