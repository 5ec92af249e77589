#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"
#include "hives/RLog.h"

// One known backup file.
struct BackupEntry {
    BYTE kind = 0;  // 1: every hive; 0: the current user's hives
    tstring path;
    tstring comment;
    FILETIME time = {};  // UTC
};

// The list of known backup files, "backups.lst". Layout, little-endian:
//   0  int32  2048, the format marker
//   4  uint32 CRC-32/BZIP2 of every byte from offset 8 to the end
//   8  int32  number of entries
//   12 entries: uint32 kind, string path, string comment, FILETIME
// A string is an int32 byte count and UTF-16LE text without terminator. An
// older layout (read, never written) starts with the count at offset 0 and
// has neither CRC nor times.
class BackupCatalogue {
public:
    static constexpr int32_t kFormatMarker = 2048;

    // Forgets every entry and binds the catalogue to path. A missing file or
    // a folder is an empty catalogue. A damaged file throws ErrorBase
    // ("Invalid CRC", or a layout error for counts and lengths that do not
    // fit the file); the entries then stay forgotten.
    void Load(const tstring& path);
    // Writes the whole catalogue in the current layout. Throws Win32Error.
    void Save(const tstring& path);
    // Saves to the bound file, when there is one.
    void SaveBound();

    // Replaces an entry of the same path (after normalising), then appends.
    // Without a time, the file's creation time or else now.
    void AddEntry(int kind, const tstring& path, const tstring& comment, const FILETIME* time);
    // Index of the entry of this path (normalised, without regard to case); -1 when none.
    int Find(const tstring& path) const;
    void Remove(int index, bool save);
    // Lists a backup file the user picked: a zlib stream or a valid pack.
    // Returns true or throws ErrorBase.
    bool AddExisting(const tstring& path, const tstring& comment);
    // The entry's time in the user's locale, as the OLE date conversion gives it.
    tstring TimeText(int index) const;

    int Count() const { return int(entries_.size()); }
    bool IsIndex(int index) const { return index >= 0 && index < Count(); }
    const BackupEntry& Entry(int index) const { return entries_.at(size_t(index)); }
    void SetComment(int index, const tstring& comment) { entries_.at(size_t(index)).comment = comment; }
    const tstring& BoundPath() const { return path_; }

    // The first two characters as they are (a "\\" network prefix survives);
    // in the rest "//" becomes "/" and then "\\" becomes "\", one pass each.
    static tstring NormalisePath(const tstring& path);

protected:
    std::vector<BackupEntry> entries_;
    RLog* progress_ = nullptr;
    tstring path_;
};
