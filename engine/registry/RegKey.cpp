#include "engine/registry/RegKey.h"
#include <sddl.h>
#include <set>
#include "common/errors/CheckObjects.h"
#include "engine/registry/NativeRegistry.h"
#include "engine/registry/RegValue.h"

namespace {

struct RootEntry {
    const wchar_t* name;
    HKEY key;
};

const RootEntry kRoots[] = {
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKDD", HKEY_DYN_DATA},
    {L"HKU", HKEY_USERS},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {L"HKEY_USERS", HKEY_USERS},
};

const REGSAM kReadAccess = KEY_READ;
const REGSAM kWriteAccess = KEY_READ | KEY_WRITE;
// No DELETE: a key is deleted through its parent.
const REGSAM kCreateAccess = KEY_READ | KEY_WRITE | WRITE_DAC | WRITE_OWNER;
// Key names are limited to 255 characters; one more for the terminator.
const DWORD kKeyNameRoom = 256;
const SECURITY_INFORMATION kSecurityParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// A level name must not be empty nor hold an empty level: RegOpenKeyExW would
// return the parent itself for it, and a delete would then act on the parent.
bool IsValidLevelName(const wchar_t* text, size_t length) {
    if (length == 0 || text[0] == L'\\' || text[length - 1] == L'\\')
        return false;
    return wcsstr(text, L"\\\\") == nullptr;
}

bool IsValidLevelName(const tstring& name) {
    return IsValidLevelName(name.c_str(), name.size());
}

std::vector<tstring> SplitPath(const tstring& path) {
    std::vector<tstring> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = path.find(L'\\', start);
        parts.push_back(path.substr(start, slash == tstring::npos ? tstring::npos : slash - start));
        if (slash == tstring::npos)
            return parts;
        start = slash + 1;
    }
}

}  // namespace

HKEY RegKey::RootByName(const tstring& name) {
    for (const RootEntry& root : kRoots)
        if (name.CompareNoCase(root.name) == 0)
            return root.key;
    return nullptr;
}

tstring RegKey::RootName(HKEY root) {
    for (const RootEntry& entry : kRoots)
        if (entry.key == root)
            return entry.name;
    return tstring();
}

RegKey::RegKey(HKEY root) : handle_(root), name_(root ? RootName(root) : tstring()) {}

RegKey::RegKey(const RegKey& other)
    : handle_(other.handle_), ancestors_(other.ancestors_), count_(other.count_), name_(other.name_) {
    if (count_)
        ++*count_;
}

RegKey& RegKey::operator=(const RegKey& other) {
    if (this == &other)
        return *this;
    // other may be one of our own ancestors: copy before letting go.
    RegKey copy(other);
    Close();
    handle_ = copy.handle_;
    count_ = copy.count_;
    if (count_)
        ++*count_;
    ancestors_ = std::move(copy.ancestors_);
    name_ = std::move(copy.name_);
    return *this;
}

RegKey::RegKey(RegKey&& other) noexcept
    : handle_(other.handle_), ancestors_(std::move(other.ancestors_)), count_(other.count_),
      name_(std::move(other.name_)) {
    other.handle_ = nullptr;
    other.count_ = nullptr;
    other.ancestors_.clear();
    other.name_.clear();
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this == &other)
        return *this;
    RegKey taken(std::move(other));
    Close();
    handle_ = taken.handle_;
    count_ = taken.count_;
    ancestors_ = std::move(taken.ancestors_);
    name_ = std::move(taken.name_);
    taken.handle_ = nullptr;
    taken.count_ = nullptr;
    return *this;
}

RegKey::~RegKey() {
    Close();
}

void RegKey::Close() {
    if (!count_)
        return;
    if (--*count_ == 0) {
        name_.clear();
        RegCloseKey(handle_);
        delete count_;
    }
    handle_ = nullptr;
    count_ = nullptr;
}

RegKey RegKey::OpenChild(const RegKey& parent, const tstring& name, bool create, bool writable) {
    Win32Check ck;
    if (!IsValidLevelName(name))
        ck = ERROR_BAD_PATHNAME;
    if (!parent.handle_)
        ck = ERROR_INVALID_HANDLE;
    HKEY handle = nullptr;
    if (create)
        ck = RegCreateKeyExW(parent.handle_, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kCreateAccess,
                             nullptr, &handle, nullptr);
    else
        ck = RegOpenKeyExW(parent.handle_, name.c_str(), 0, writable ? kWriteAccess : kReadAccess, &handle);
    RegKey child;
    child.handle_ = handle;
    child.count_ = new int(1);
    child.ancestors_ = parent.ancestors_;
    child.ancestors_.push_back(parent);
    child.name_ = name;
    return child;
}

RegKey RegKey::OpenPath(const tstring& path, bool create, bool writable) {
    std::vector<tstring> parts = SplitPath(path);
    HKEY root = RootByName(parts.front());
    Win32Check ck;
    if (!root)
        ck = ERROR_BAD_PATHNAME;
    if (parts.size() == 1) {
        RegKey key(root);
        key.name_ = path;
        return key;
    }
    RegKey key(root);
    for (size_t i = 1; i + 1 < parts.size(); ++i)
        key = OpenChild(key, parts[i]);
    return OpenChild(key, parts.back(), create, writable);
}

RegKey RegKey::Ancestor(int n) const {
    if (n < 0 || size_t(n) >= ancestors_.size())
        Win32Check(LONG(ERROR_INVALID_PARAMETER));
    return ancestors_[ancestors_.size() - 1 - size_t(n)];
}

tstring RegKey::FullPath() const {
    tstring path;
    for (const RegKey& ancestor : ancestors_) {
        path += ancestor.name_;
        path += L'\\';
    }
    return path + name_;
}

const wchar_t* const RegKey::Wow64ViewName = L"Wow6432Node";

bool RegKey::IsWow64ViewName(const tstring& name) {
    return CompareStringOrdinal(name.c_str(), int(name.size()), Wow64ViewName, -1, TRUE) == CSTR_EQUAL;
}

bool RegKey::InWow64View() const {
    if (IsWow64ViewName(name_))
        return true;
    for (const RegKey& ancestor : ancestors_)
        if (IsWow64ViewName(ancestor.name_))
            return true;
    return false;
}

RegValue RegKey::Value(const tstring& name) const {
    return RegValue(*this, name);
}

std::vector<RegValue> RegKey::Values() const { return ListValues(false); }

std::vector<RegValue> RegKey::ValuesRead() const { return ListValues(true); }

std::vector<RegValue> RegKey::ListValues(bool read) const {
    std::vector<RegValue> values;
    std::vector<wchar_t> name(0x4000);
    // Read with the name, a value takes one round trip instead of two; data
    // larger than this is left to the value to read when it is wanted.
    std::vector<BYTE> data(read ? 0x1000 : 0);
    Win32Check ck;
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(name.size()), type = REG_NONE, size = DWORD(data.size());
        LONG status = RegEnumValueW(handle_, index, name.data(), &length, nullptr, read ? &type : nullptr,
                                    read ? data.data() : nullptr, read ? &size : nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return values;
        bool withData = read && status == ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) {
            length = DWORD(name.size());
            status = RegEnumValueW(handle_, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
            // The value was deleted between the two calls, and it was the
            // last one: the list ends here, with every value before it.
            if (status == ERROR_NO_MORE_ITEMS)
                return values;
        }
        ck = status;
        if (length == DWORD(lstrlenW(name.data()))) {
            tstring valueName(name.data(), length);
            values.emplace_back(*this, valueName);
            // A value named "(Default)" stands for the unnamed one, which
            // is read on its own.
            if (withData && values.back().Name() == valueName)
                values.back().Store(type, data.data(), size);
        }
    }
}

SubKeyList RegKey::SubKeys(bool all) const {
    return SubKeyList(*this, all ? SubKeyList::AllAtOnce : SubKeyList::BatchSize);
}

void RegKey::DeleteChild(const wchar_t* name, DWORD length) {
    Win32Check ck;
    // A name holding NUL characters cannot be opened through these functions;
    // the native layer takes counted names.
    if (length != DWORD(lstrlenW(name))) {
        ck = NativeRegistry::DeleteSubKey(handle_, name, length);
        return;
    }
    RegKey child = OpenChild(*this, tstring(name, length));
    child.DeleteTree(true);
}

void RegKey::DeleteTree(bool deleteSelf) {
    Win32Check ck;
    if (!handle_)
        ck = ERROR_INVALID_HANDLE;
    // A predefined root must never lose its subkeys through this call.
    if (IsRoot())
        ck = ERROR_ACCESS_DENIED;
    // Deleted children leave the enumeration, so every batch starts again at
    // index 0. A child that reappears after a successful delete could never
    // be got rid of: give up rather than loop.
    std::set<tstring> deleted;
    wchar_t name[kKeyNameRoom];
    for (;;) {
        std::vector<tstring> batch;
        for (DWORD index = 0; index < DWORD(SubKeyList::BatchSize); ++index) {
            DWORD length = kKeyNameRoom;
            LONG status = RegEnumKeyExW(handle_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            ck = status;
            batch.emplace_back(name, length);
        }
        if (batch.empty())
            break;
        for (const tstring& child : batch) {
            if (!deleted.insert(child).second)
                ck = ERROR_ACCESS_DENIED;
            DeleteChild(child.c_str(), DWORD(child.size()));
        }
    }
    if (!deleteSelf)
        return;
    RegKey parent = Ancestor(0);
    tstring own = name_;
    *this = RegKey();
    ck = RegDeleteKeyW(parent.handle_, own.c_str());
}

tstring RegKey::GetSecurity() const {
    Win32Check ck;
    DWORD size = 0;
    LONG status = RegGetKeySecurity(handle_, kSecurityParts, nullptr, &size);
    if (status != ERROR_INSUFFICIENT_BUFFER)
        ck = status;
    if (size == 0)
        return tstring();
    std::vector<BYTE> descriptor(size);
    ck = RegGetKeySecurity(handle_, kSecurityParts, descriptor.data(), &size);
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, kSecurityParts,
                                                              &text, nullptr))
        ck = LONG(GetLastError());
    tstring result(text);
    LocalFree(text);
    return result;
}

void RegKey::SetSecurity(const tstring& sddl) {
    Win32Check ck;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        ck = LONG(GetLastError());
    // Only the parts the text names: a text without an owner must not be
    // taken for a request to clear it.
    SECURITY_INFORMATION parts = 0;
    PSID sid = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (GetSecurityDescriptorOwner(descriptor, &sid, &defaulted) && sid)
        parts |= OWNER_SECURITY_INFORMATION;
    if (GetSecurityDescriptorGroup(descriptor, &sid, &defaulted) && sid)
        parts |= GROUP_SECURITY_INFORMATION;
    if (GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present)
        parts |= DACL_SECURITY_INFORMATION;
    LONG status = parts ? RegSetKeySecurity(handle_, parts, descriptor) : LONG(ERROR_INVALID_SECURITY_DESCR);
    LocalFree(descriptor);
    ck = status;
}

LONG OpenKeyByPath(const tstring& path) {
    size_t slash = path.find(L'\\');
    if (slash == tstring::npos)
        return ERROR_BAD_PATHNAME;
    HKEY root = RegKey::RootByName(path.substr(0, slash));
    const wchar_t* rest = path.c_str() + slash + 1;
    if (!root || !IsValidLevelName(rest, path.size() - slash - 1))
        return ERROR_BAD_PATHNAME;
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(root, rest, 0, KEY_READ | KEY_WRITE, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status;
}

// SubKeyList ---------------------------------------------------------------

SubKeyList::SubKeyList(const RegKey& parent, int batchSize) : parent_(parent), batchSize_(batchSize) {}

bool SubKeyList::FetchNext() {
    batch_.clear();
    wchar_t name[kKeyNameRoom];
    // A batch in which every child was skipped does not end the list; only
    // the end of the enumeration or an enumeration error does.
    while (!done_ && batch_.empty()) {
        int start = nextIndex_;
        int i = start;
        for (; i - start < batchSize_; ++i) {
            DWORD length = kKeyNameRoom;
            LONG status = RegEnumKeyExW(parent_.Handle(), DWORD(i), name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS) {
                // ERROR_NO_MORE_ITEMS, or an error that would repeat for
                // every index (a key deleted meanwhile, a broken key).
                done_ = true;
                break;
            }
            if (length != DWORD(lstrlenW(name)))
                continue;  // a name holding NUL characters cannot be opened
            try {
                batch_.push_back(RegKey::OpenChild(parent_, tstring(name, length)));
            } catch (const ErrorBase&) {
            }
        }
        nextIndex_ = i;
    }
    return !batch_.empty();
}

SubKeyList::Iterator SubKeyList::Begin() {
    done_ = false;
    nextIndex_ = 0;
    if (!FetchNext())
        return End();
    return Iterator(&batch_.front(), 0, this);
}

SubKeyList::Iterator& SubKeyList::Iterator::operator++() {
    if (!child_)
        return *this;
    std::vector<RegKey>& batch = list_->batch_;
    size_t position = size_t(child_ - batch.data()) + 1;
    if (position < batch.size()) {
        child_ = &batch[position];
        ++index_;
    } else if (list_->FetchNext()) {
        child_ = &batch.front();
        ++index_;
    } else {
        *this = list_->End();
    }
    return *this;
}

SubKeyList::Iterator SubKeyList::Erase(const Iterator& it) {
    if (!it.child_)
        return End();
    size_t position = size_t(it.child_ - batch_.data());
    batch_.erase(batch_.begin() + std::ptrdiff_t(position));
    if (position < batch_.size())
        return Iterator(&batch_[position], it.index_, this);
    if (FetchNext())
        return Iterator(&batch_.front(), it.index_, this);
    return End();
}
