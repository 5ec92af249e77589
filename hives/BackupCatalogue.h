#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"
#include "hives/RLog.h"

class Archive;

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

    // What LoadKeepingDamaged found.
    enum LoadOutcome { ListRead, ListUnreadable, ListSetAside };

    // Forgets every entry and reads path; the catalogue is bound to path only
    // once it was read. A missing file or a folder is an empty catalogue. A
    // list that another program holds is tried again a few times, 100 ms
    // apart. One that still cannot be opened throws its Win32Error, a damaged
    // one ErrorBase ("Invalid CRC", or a layout error for counts and lengths
    // that do not fit the file); the entries then stay forgotten and the
    // catalogue refuses to save over that file until a load reads it.
    void Load(const tstring& path);
    // Load without throwing: a list that stays busy or cannot be opened is
    // left as it is (ListUnreadable); a list that fails its checks is moved
    // aside to path + ".damaged", logged, and the catalogue goes on empty and
    // bound to path (ListSetAside). reason, when given, gets the error's text.
    LoadOutcome LoadKeepingDamaged(const tstring& path, tstring* reason = nullptr);
    // True while the last load could not read its list.
    bool Unread() const { return !unread_.empty(); }
    // Writes the whole catalogue in the current layout; a file that another
    // program holds is tried again as a load does. Throws Win32Error, and
    // ErrorBase for the file of a load that could not read it.
    void Save(const tstring& path);
    // Saves to the bound file, when there is one; throws when the last load
    // could not read its list.
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
    // Where LoadKeepingDamaged keeps a damaged list.
    static tstring DamagedCopyPath(const tstring& path) { return path + _T(".damaged"); }

protected:
    std::vector<BackupEntry> entries_;
    RLog* progress_ = nullptr;
    tstring path_;

private:
    // opened: the list was there and could be read, whatever its bytes.
    void Read(const tstring& path, bool& opened);
    void ReadEntries(Archive& archive);

    // The list the last load could not read: never written over.
    tstring unread_;
};
