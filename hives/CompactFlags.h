#pragma once
#include <windows.h>
#include "common/system/HandleHolder.h"
#include "common/tstring/tstring.h"

// The compaction requests shared by every user's program, the logon process
// and rundll32: one named section of 51,200 bytes holding a NUL-terminated
// UTF-16 text of entries, each followed by a TAB. An entry is a user's SID or
// "CompactAll". Entries are compared whole. The text is never read past
// 25,600 characters, whatever another process left in the block.
class CompactFlags {
public:
    static const TCHAR kMappingName[];
    static const TCHAR kCompactAll[];
    static constexpr DWORD kSize = 51200;
    static constexpr DWORD kMaxChars = kSize / sizeof(WCHAR);  // with the terminating NUL

    CompactFlags() = default;
    // A created mapping stays open with the process (it must outlive the
    // object: the creator keeps the requests alive); an opened one is closed.
    ~CompactFlags();
    CompactFlags(const CompactFlags&) = delete;
    CompactFlags& operator=(const CompactFlags&) = delete;

    // create: the mapping is created (Authenticated Users get full access,
    // merged into its DACL) and no view is mapped. Otherwise the existing
    // mapping is opened and mapped. Throws Win32Error.
    void Open(bool create);
    void Close();

    void Clear();
    // Appends entry and a TAB unless the entry is listed. An entry that does
    // not fit changes nothing and throws Win32Error ERROR_INSUFFICIENT_BUFFER;
    // an empty entry or one holding a TAB throws ERROR_INVALID_PARAMETER.
    void Add(const tstring& entry, bool clearFirst);
    void Remove(const tstring& entry);
    bool Contains(const tstring& entry) const;
    int Count() const;
    // The i-th entry from 0, without its TAB; empty past the end.
    tstring Get(int i) const;
    tstring Text() const;

    void AddCurrent();
    void ClearCurrent();
    bool IsCurrent() const;
    void SetAll();
    void ClearAll();
    bool IsAll() const;

private:
    WCHAR* RequireView() const;
    void Write(const tstring& text);

    HANDLE mapping_ = nullptr;
    bool created_ = false;
    WCHAR* view_ = nullptr;
};
