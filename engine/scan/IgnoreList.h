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
    // user file is created empty. Full records go to the user list whichever
    // file holds them; short ones only to the system list.
    int32_t Load(Which which);
    bool Loaded() const;

    // The user list into the user file, or into any file. Throw on failure.
    void Save() const;
    void Export(const tstring& path) const;
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
    void ResetUser();
    void AddLocked(const ScanRecord& record);

    tstring userPath_;
    tstring systemPath_;
    std::vector<ScanRecord> user_;
    std::vector<ScanRecord> system_;
    std::map<ScanRecord, BYTE> index_;
    bool loaded_ = false;
    mutable CriticalSection lock_;
};
