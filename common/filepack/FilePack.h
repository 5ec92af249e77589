#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include "common/archive/Archive.h"
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"

// A tree of files kept in one container file. Layout, little-endian:
//   0  uint32 CRC-32/BZIP2 of every byte from offset 8 to the end (0 when empty)
//   4  int32  number of entries
//   8  entries back to back: int32 name byte count, UTF-16LE name (a path
//      relative to the packed folder, backslash-separated), int32 data length,
//      the data.
// Entry names are unique without regard to case.
class FilePack {
public:
    // Without regard to ASCII case; '/' and '\' are the same separator.
    struct NameLess {
        bool operator()(const tstring& a, const tstring& b) const;
    };
    // Entry name -> offset of the entry's data length field. The ANSI build
    // holds the names in the thread's code page, a character it lacks as '?'
    // and never as a look-alike, so that no entry stands in for another.
    using Index = std::map<tstring, int32_t, NameLess>;

    FilePack() = default;
    // Opens the pack read/write (creating an empty one when missing) and, when
    // folder is not empty, adds its tree without hidden files.
    FilePack(const tstring& packPath, const tstring& folder);
    // Closes without reporting a failed write; call Close to see it.
    ~FilePack();
    FilePack(const FilePack&) = delete;
    FilePack& operator=(const FilePack&) = delete;

    // Returns the previous file name. Read/write: a missing file (or one of 0
    // bytes) becomes a new empty pack. Read-only: a missing file throws
    // Win32Error 0x80070002 and nothing is created. A damaged file throws
    // ErrorBase and leaves the pack closed.
    tstring Open(const tstring& path, bool readOnly);
    // Writes the pack back (unless read-only) and closes it.
    void Close();
    bool IsOpen() const { return archive_.IsOpen(); }
    const tstring& FileName() const { return fileName_; }

    // Adds every file of the tree; hidden items are left out unless
    // includeHidden. Names get prefix + "\" in front when a prefix is given.
    // exclusions: file names ended by NUL each, the list ended by an empty
    // name (compared with case); may be null.
    void AddFolder(const tstring& folder, bool includeHidden, const tstring& prefix = tstring(),
                   const TCHAR* exclusions = nullptr);
    // Appends the file sourceFolder\<last component of name> as entry name
    // (only the last component is kept for an absolute name). An entry of the
    // same name is replaced.
    void AddFile(const tstring& name, const tstring& sourceFolder);

    // The entry for a name given with '/' or '\', in any case, with leading
    // backslashes or "." and ".." components; End() when absent.
    Index::const_iterator Find(const tstring& name) const;
    Index::const_iterator Begin() const { return index_.begin(); }
    Index::const_iterator End() const { return index_.end(); }
    int Count() const { return int(index_.size()); }

    // False when the name is absent.
    bool ReadEntry(const tstring& name, SharedBuffer& out);
    // Writes the entry to targetPath (created or replaced); false when absent.
    bool ExtractEntry(const tstring& name, const tstring& targetPath);
    bool ExtractFile(const tstring& name, const tstring& targetPath) { return ExtractEntry(name, targetPath); }
    // Writes every entry to targetFolder\name, creating folders on the way.
    // Entry names that would leave the folder (rooted, with a drive or ':', or
    // with a ".." component) are refused before anything is written.
    void ExtractAll(const tstring& targetFolder);
    void CreateFolders(const tstring& targetFolder) { ExtractAll(targetFolder); }

    // True for a name that stays inside the folder it is extracted to.
    static bool IsSafeEntryName(const tstring& name);
    // The lookup form of a name: '/' as '\', "." and ".." resolved, no leading '\'.
    static tstring CanonicalName(const tstring& name);

private:
    void LoadIndex();
    void CreateEmpty(const tstring& path);
    void RemoveEntry(Index::iterator entry);
    void UpdateHeader(uint32_t crcStart, bool appended);
    void CopyOut(int32_t dataOffset, Archive& target);
    void RequireOpen() const;

    Archive archive_;
    tstring fileName_;
    Index index_;
    int32_t entries_ = 0;
    bool readOnly_ = false;
};
