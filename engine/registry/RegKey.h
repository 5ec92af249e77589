#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"

class RegValue;
class SubKeyList;

// One open registry key below a predefined root. Copies share the open handle
// through a plain (non-atomic) reference count, so one key and its copies
// belong to one thread at a time. The whole parent chain is kept, so the full
// path and every ancestor are known without asking the registry.
class RegKey {
public:
    // A root object for a predefined key (HKEY_LOCAL_MACHINE ...), or an empty
    // object for nullptr. Roots are never closed.
    explicit RegKey(HKEY root = nullptr);
    RegKey(const RegKey& other);
    RegKey& operator=(const RegKey& other);
    // Moving hands the reference over; the source is left empty.
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    ~RegKey();

    // Opens `name` below `parent`: created (read, write, WRITE_DAC, WRITE_OWNER)
    // when `create` is set, else read or read/write. Raises Win32Error.
    static RegKey OpenChild(const RegKey& parent, const tstring& name, bool create = false, bool writable = false);
    // "ROOT\level\...\level"; every level but the last is opened for reading,
    // the last in the mode of the flags. A text without "\" is the root itself.
    static RegKey OpenPath(const tstring& path, bool create = false, bool writable = false);

    RegKey OpenSubKey(const tstring& name) const { return OpenChild(*this, name); }
    RegKey SubKey(const tstring& name) const { return OpenChild(*this, name); }

    void Close();

    HKEY Handle() const { return handle_; }
    tstring Name() const { return name_; }
    // n = 0 is the parent; n must be below AncestorCount().
    RegKey Ancestor(int n) const;
    int AncestorCount() const { return int(ancestors_.size()); }
    bool IsRoot() const { return ancestors_.empty(); }
    bool IsEmpty() const { return handle_ == nullptr; }
    tstring FullPath() const;

    // The key under which 64-bit Windows keeps the registry of 32-bit programs
    // (below HKCR, HKLM\Software and the Classes keys). To a 64-bit program it
    // is an ordinary subkey; it is never an entry of the key it lies in.
    static const wchar_t* const Wow64ViewName;
    static bool IsWow64ViewName(const tstring& name);
    // True when the key lies in the 32-bit view: it or an ancestor is such a key.
    bool InWow64View() const;

    RegValue Value(const tstring& name) const;
    // Every value of the key, not read yet. Names holding a NUL character are
    // left out: the Win32 functions would address a different value by them.
    std::vector<RegValue> Values() const;
    // The same list with every value read by the enumeration itself (one
    // round trip per value, not two); data over 4 KiB is left unread.
    std::vector<RegValue> ValuesRead() const;
    // all = true fetches every subkey in one batch, else batches of 100.
    SubKeyList SubKeys(bool all = false) const;

    // Deletes every subkey, depth first, and with `deleteSelf` the key itself
    // (the object is empty afterwards). A root is never deleted nor emptied.
    void DeleteTree(bool deleteSelf);

    // Owner, group and DACL as SDDL text; empty when the key has no descriptor.
    tstring GetSecurity() const;
    // Needs a key opened with create (WRITE_DAC and WRITE_OWNER).
    void SetSecurity(const tstring& sddl);

    // Root table lookups: the predefined key for a short or long root name
    // (any case), nullptr when unknown; the short name of a predefined key.
    static HKEY RootByName(const tstring& name);
    static tstring RootName(HKEY root);

private:
    void Release();
    std::vector<RegValue> ListValues(bool read) const;
    void DeleteChild(const wchar_t* name, DWORD length);

    HKEY handle_ = nullptr;
    std::vector<RegKey> ancestors_;
    int* count_ = nullptr;
    tstring name_;
};

// The subkeys of a key in batches of opened child keys. A child that cannot
// be opened for reading is left out.
class SubKeyList {
public:
    class Iterator {
    public:
        Iterator() = default;
        RegKey& operator*() const { return *child_; }
        RegKey* operator->() const { return child_; }
        Iterator& operator++();
        bool operator==(const Iterator& other) const { return child_ == other.child_; }
        bool operator!=(const Iterator& other) const { return child_ != other.child_; }
        // 0 for the first child, -1 at the end.
        int Index() const { return index_; }

    private:
        friend class SubKeyList;
        Iterator(RegKey* child, int index, SubKeyList* list) : child_(child), index_(index), list_(list) {}
        RegKey* child_ = nullptr;
        int index_ = -1;
        SubKeyList* list_ = nullptr;
    };

    static const int BatchSize = 100;
    static const int AllAtOnce = 0x7FFFFFFF;

    SubKeyList(const RegKey& parent, int batchSize);

    Iterator Begin();
    Iterator End() { return Iterator(nullptr, -1, this); }
    // Drops the iterator's child; the result is the child that took its place.
    Iterator Erase(const Iterator& it);
    // Fills the next batch; false when nothing more came.
    bool FetchNext();

    Iterator begin() { return Begin(); }
    Iterator end() { return End(); }

private:
    RegKey parent_;
    bool done_ = false;
    int batchSize_;
    int nextIndex_ = 0;
    std::vector<RegKey> batch_;
};

// The Win32 code of opening "ROOT\rest" for writing (0 = it can be written).
LONG OpenKeyByPath(const tstring& path);
