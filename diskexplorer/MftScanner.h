#pragma once
#include <cstdint>
#include <map>
#include <vector>
#include "common/tstring/tstring.h"
#include "diskexplorer/FolderRecord.h"
#include "diskexplorer/ScanListener.h"

// The folder-size model of one NTFS volume and the scan that fills it: one
// entry per MFT record, indexed by record number, read through the driver's
// file-record control code from the top of the table down, then summed up the
// folder tree. All its memory lives in the private heap: delete it with
// DeleteModel, and keep only one at a time.
class MftScanner {
public:
    using RecordTable = std::vector<FolderRecord, HeapAllocator<FolderRecord>>;

    static const uint32_t kRootRecord = 5;
    // Records below this are the file system's own and never count as files.
    static const uint32_t kFirstCountedRecord = 15;
    // Records below this never show as folders.
    static const uint32_t kFirstShownRecord = 16;
    // The largest count of 80-byte entries whose size fits 32 bits.
    static const uint64_t kMaxRecords = 53687091;

    // devicePath: "\\.\C:".
    explicit MftScanner(const tstring& devicePath);
    MftScanner(const MftScanner&) = delete;
    MftScanner& operator=(const MftScanner&) = delete;

    const tstring& DevicePath() const { return devicePath_; }

    // Listeners are called in the order of their keys.
    int32_t AddListener(ScanListener* listener);
    void RemoveListener(int32_t key);

    // Reads the whole volume and sums the folders. False when a listener
    // stopped the scan: the table then holds what was read, unsummed.
    // Volume failures throw Win32Error; a table too large throws std::length_error.
    bool Scan();

    // Makes `count` empty entries (the table is never resized afterwards).
    void ResetTable(uint64_t count);
    // Enters one FILE record of `length` bytes; a record that does not parse
    // within its length is left out whole.
    void ParseFileRecord(uint32_t number, const uint8_t* record, uint32_t length);
    // Adds every file name's size to its folder and to each folder above it.
    void SumFolders();

    const RecordTable& Records() const { return records_; }
    // The entry of a record number, or null when it lies outside the table.
    const FolderRecord* Record(uint64_t number) const;

    // "X:\" followed by the folder names down to the record, each ending in a
    // backslash. The walk up stops at an entry without a name and never takes
    // more steps than there are folders on its way.
    tstring BuildFolderPath(uint32_t record, const tstring& driveText) const;
    // The folder whose path (without trailing backslashes) matches, ignoring
    // case; the root for a drive name; -1 when none does.
    int32_t FindFolderByPath(const tstring& path, const tstring& driveText) const;
    // The folder holding the record's first name, or -1 without one.
    int32_t ParentOf(uint32_t record) const;

private:
    bool Notify(int32_t percent);
    bool StopRequested();
    void TellOthersStopped(int32_t stopper);
    // How many entries a walk up from `record` visits before it reaches the
    // root, an entry without a name, or an entry it has already visited.
    uint32_t ChainLength(uint32_t record);
    uint32_t WalkLimit(uint32_t record) const;

    tstring devicePath_;
    std::map<int32_t, ScanListener*> listeners_;
    int32_t nextKey_ = 0;
    RecordTable records_;
    std::vector<uint32_t, HeapAllocator<uint32_t>> chains_;
};

// Deletes a model and then its private heap.
void DeleteModel(MftScanner*& model);

// Without trailing backslashes.
tstring TrimBackslashes(const tstring& path);
