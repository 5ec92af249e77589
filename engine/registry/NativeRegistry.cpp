#include "engine/registry/NativeRegistry.h"
#include <algorithm>
#include <sddl.h>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"

namespace {

const NTSTATUS kStatusSuccess = 0;
const NTSTATUS kStatusBufferOverflow = NTSTATUS(0x80000005);
const NTSTATUS kStatusBufferTooSmall = NTSTATUS(0xC0000023);
const NTSTATUS kStatusObjectNameNotFound = NTSTATUS(0xC0000034);
const NTSTATUS kStatusObjectPathNotFound = NTSTATUS(0xC000003A);
const NTSTATUS kStatusAccessDenied = NTSTATUS(0xC0000022);

const ULONG kObjCaseInsensitive = 0x40;
const ULONG kKeyValuePartialInformation = 2;
const ACCESS_MASK kDeleteAccess = DELETE | KEY_ENUMERATE_SUB_KEYS;
const ACCESS_MASK kSaveAccess = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
const ACCESS_MASK kRestoreAccess = KEY_WRITE | WRITE_DAC;
// Room for the longest value name; key names are far shorter.
const DWORD kNameRoom = 16384;
// The registry nests at most 512 levels; a deeper record is damaged.
const int kMaxDepth = 512;
const wchar_t kNullMark[] = L"(null)";
const size_t kNullMarkLength = 6;
const wchar_t kNoSecurity[] = L"not_implemented_yet";

struct PartialInformation {
    ULONG titleIndex;
    ULONG type;
    ULONG dataLength;
    BYTE data[4];
};
const ULONG kPartialHead = offsetof(PartialInformation, data);

LONG DosError(NTSTATUS status) {
    return LONG(nsNT::RtlNtStatusToDosError(status));
}

OBJECT_ATTRIBUTES Attributes(HANDLE root, NtUnicodeString& name) {
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = root;
    attributes.ObjectName = name.Get();
    attributes.Attributes = kObjCaseInsensitive;
    return attributes;
}

// A key handle of the native layer, closed with the object.
class NativeKey {
public:
    NativeKey() = default;
    ~NativeKey() {
        if (handle_)
            nsNT::ZwClose(handle_);
    }
    NativeKey(const NativeKey&) = delete;
    NativeKey& operator=(const NativeKey&) = delete;

    NTSTATUS Open(HANDLE root, NtUnicodeString& name, ACCESS_MASK access) {
        OBJECT_ATTRIBUTES attributes = Attributes(root, name);
        return nsNT::ZwOpenKey(&handle_, access, &attributes);
    }
    NTSTATUS Create(HANDLE root, NtUnicodeString& name, ACCESS_MASK access) {
        OBJECT_ATTRIBUTES attributes = Attributes(root, name);
        return nsNT::ZwCreateKey(&handle_, access, &attributes, 0, nullptr, 0, nullptr);
    }
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

// The native path of an engine path as a counted name; marked levels give
// their NULs back only when asked to.
NtUnicodeString NativeName(const tstring& path, bool marked) {
    tstring native = NativeRegistry::ToNativePath(path);
    return marked ? NativeRegistry::CountedName(native) : NtUnicodeString(native.c_str(), native.size());
}

LONG QueryCounted(HANDLE key, NtUnicodeString& name, DWORD& type, SharedBuffer& data) {
    std::vector<BYTE> buffer(sizeof(PartialInformation) * 4);
    ULONG returned = 0;
    NTSTATUS status = kStatusBufferOverflow;
    // The value may grow between the calls; a few rounds settle it.
    for (int round = 0; round < 4; ++round) {
        returned = 0;
        status = nsNT::ZwQueryValueKey(key, name.Get(), kKeyValuePartialInformation, buffer.data(),
                                       ULONG(buffer.size()), &returned);
        if (status != kStatusBufferOverflow && status != kStatusBufferTooSmall)
            break;
        if (returned <= buffer.size())
            returned = ULONG(buffer.size() * 2);
        buffer.assign(returned, 0);
    }
    if (status != kStatusSuccess)
        return DosError(status);
    if (returned < kPartialHead || returned > buffer.size())
        return ERROR_INVALID_DATA;
    const PartialInformation* info = reinterpret_cast<const PartialInformation*>(buffer.data());
    if (info->dataLength > returned - kPartialHead)
        return ERROR_INVALID_DATA;
    type = info->type;
    data = info->dataLength ? SharedBuffer(info->data, info->dataLength) : SharedBuffer();
    return ERROR_SUCCESS;
}

LONG SetCounted(HANDLE key, NtUnicodeString& name, DWORD type, const SharedBuffer& data) {
    NTSTATUS status = nsNT::ZwSetValueKey(key, name.Get(), 0, type, const_cast<BYTE*>(data.Data()), data.Size());
    return DosError(status);
}

// The DACL of a key as SDDL text; empty when it cannot be read.
tstring DaclText(HANDLE key) {
    DWORD size = 0;
    if (RegGetKeySecurity(HKEY(key), DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER)
        return tstring();
    std::vector<BYTE> descriptor(size);
    if (RegGetKeySecurity(HKEY(key), DACL_SECURITY_INFORMATION, descriptor.data(), &size) != ERROR_SUCCESS)
        return tstring();
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr))
        return tstring();
    tstring result(text);
    LocalFree(text);
    return result;
}

LONG SetDacl(HANDLE key, const tstring& sddl) {
    if (sddl.compare(0, 2, L"D:") != 0)
        return ERROR_SUCCESS;  // nothing saved (or a record without security)
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return LONG(GetLastError());
    LONG status = RegSetKeySecurity(HKEY(key), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return status;
}

// A key tree held in memory, so that a record is written or applied only
// once it is complete.
struct SavedValue {
    std::wstring name;  // raw units, NULs included
    SharedBuffer data;
    DWORD type = 0;
};

struct SavedKey {
    tstring name;  // marked
    tstring security;
    std::vector<SavedKey> subkeys;
    std::vector<SavedValue> values;
};

LONG ReadTree(HANDLE key, const tstring& name, SavedKey& tree, int depth) {
    if (depth > kMaxDepth)
        return ERROR_INVALID_DATA;
    tree.name = name;
    tree.security = DaclText(key);
    std::vector<wchar_t> buffer(kNameRoom);
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameRoom;
        LONG status = RegEnumKeyExW(HKEY(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        NtUnicodeString childName(buffer.data(), length);
        NativeKey child;
        NTSTATUS opened = child.Open(key, childName, kSaveAccess | READ_CONTROL);
        if (opened == kStatusAccessDenied)
            opened = child.Open(key, childName, kSaveAccess);
        if (opened != kStatusSuccess)
            return DosError(opened);
        tree.subkeys.emplace_back();
        LONG result = ReadTree(child.Handle(), NativeRegistry::NameText(buffer.data(), length), tree.subkeys.back(),
                               depth + 1);
        if (result != ERROR_SUCCESS)
            return result;
    }
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameRoom;
        LONG status = RegEnumValueW(HKEY(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        SavedValue value;
        value.name.assign(buffer.data(), length);
        NtUnicodeString valueName(buffer.data(), length);
        LONG result = QueryCounted(key, valueName, value.type, value.data);
        if (result != ERROR_SUCCESS)
            return result;
        tree.values.push_back(std::move(value));
    }
    return ERROR_SUCCESS;
}

void WriteUnits(Archive& archive, const wchar_t* units, size_t count) {
    archive.WriteInt(int32_t(count * sizeof(wchar_t)));
    archive.WriteRaw(units, uint32_t(count * sizeof(wchar_t)));
}

void WriteTree(Archive& archive, const SavedKey& tree) {
    WriteUnits(archive, tree.name.c_str(), tree.name.size());
    tstring security = tree.security.empty() ? tstring(kNoSecurity) : tree.security;
    WriteUnits(archive, security.c_str(), security.size());
    archive.WriteInt(int32_t(tree.subkeys.size()));
    for (const SavedKey& subkey : tree.subkeys)
        WriteTree(archive, subkey);
    archive.WriteInt(int32_t(tree.values.size()));
    for (const SavedValue& value : tree.values) {
        WriteUnits(archive, value.name.c_str(), value.name.size());
        archive.WriteBlock(value.data);
        archive.WriteInt(int32_t(value.type));
    }
}

// Readers that check every count against the bytes left before using it.
bool ReadCount(Archive& archive, uint32_t minimumEach, uint32_t& count) {
    if (archive.Remaining() < 4)
        return false;
    int32_t value = archive.ReadInt();
    if (value < 0)
        return false;
    count = uint32_t(value);
    return minimumEach == 0 || count <= archive.Remaining() / minimumEach;
}

bool ReadUnits(Archive& archive, std::wstring& text) {
    uint32_t bytes = 0;
    if (!ReadCount(archive, 1, bytes) || bytes % 2 != 0)
        return false;
    text.assign(bytes / 2, L'\0');
    if (bytes)
        archive.ReadRaw(&text[0], bytes);
    return true;
}

// Smallest records: a key of two empty strings and two zero counts; a value
// of an empty name, an empty block and its type.
const uint32_t kMinimumKeyRecord = 16;
const uint32_t kMinimumValueRecord = 12;

bool ParseTree(Archive& archive, SavedKey& tree, int depth) {
    if (depth > kMaxDepth)
        return false;
    std::wstring name, security;
    if (!ReadUnits(archive, name) || !ReadUnits(archive, security))
        return false;
    tree.name = name;
    tree.security = security;
    uint32_t count = 0;
    if (!ReadCount(archive, kMinimumKeyRecord, count))
        return false;
    // Grown one parsed item at a time, so that a damaged count costs nothing.
    for (uint32_t i = 0; i < count; ++i) {
        tree.subkeys.emplace_back();
        if (!ParseTree(archive, tree.subkeys.back(), depth + 1))
            return false;
    }
    if (!ReadCount(archive, kMinimumValueRecord, count))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        tree.values.emplace_back();
        SavedValue& value = tree.values.back();
        uint32_t size = 0;
        if (!ReadUnits(archive, value.name) || !ReadCount(archive, 1, size))
            return false;
        if (size) {
            value.data = SharedBuffer(size);
            archive.ReadRaw(value.data.Data(), size);
        }
        if (archive.Remaining() < 4)
            return false;
        value.type = DWORD(archive.ReadInt());
    }
    return true;
}

bool ParseRecord(Archive& archive, SavedKey& tree) {
    uint32_t start = archive.Position();
    if (ParseTree(archive, tree, 0))
        return true;
    archive.Seek(start, 0);
    return false;
}

// Fills a created key; every item is tried, the first failure is the result.
LONG ApplyTree(HANDLE key, const SavedKey& tree) {
    LONG result = ERROR_SUCCESS;
    auto keep = [&result](LONG status) {
        if (result == ERROR_SUCCESS)
            result = status;
    };
    for (const SavedKey& subkey : tree.subkeys) {
        NtUnicodeString name = NativeRegistry::CountedName(subkey.name);
        if (!name.IsValid()) {
            keep(ERROR_FILENAME_EXCED_RANGE);
            continue;
        }
        NativeKey child;
        NTSTATUS status = child.Create(key, name, kRestoreAccess);
        if (status != kStatusSuccess) {
            keep(DosError(status));
            continue;
        }
        keep(ApplyTree(child.Handle(), subkey));
    }
    for (const SavedValue& value : tree.values) {
        NtUnicodeString name(value.name.c_str(), value.name.size());
        keep(name.IsValid() ? SetCounted(key, name, value.type, value.data) : LONG(ERROR_FILENAME_EXCED_RANGE));
    }
    // Last, so that a DACL that shuts the caller out does not stop the filling.
    keep(SetDacl(key, tree.security));
    return result;
}

// The binder's state: filled on first use, guarded, never torn down.
struct Binder {
    std::mutex lock;
    HMODULE ntdll = nullptr;
    std::map<std::wstring, void*> functions;
};

Binder& TheBinder() {
    static Binder* binder = new Binder;
    return *binder;
}

template <typename Function>
Function Bound(std::atomic<void*>& slot, const wchar_t* wrapperName) {
    void* address = slot.load(std::memory_order_acquire);
    if (!address) {
        address = NativeRegistry::Bind(wrapperName);
        slot.store(address, std::memory_order_release);
    }
    return reinterpret_cast<Function>(address);
}

}  // namespace

// NtUnicodeString -----------------------------------------------------------

NtUnicodeString::NtUnicodeString() {
    Assign(L"", 0);
}

NtUnicodeString::NtUnicodeString(const wchar_t* text, size_t count) {
    if (count == UpToNul)
        count = text ? wcslen(text) : 0;
    Assign(text, count);
}

NtUnicodeString::NtUnicodeString(const UNICODE_STRING& other) {
    Assign(other.Buffer, other.Length / sizeof(wchar_t));
}

NtUnicodeString::NtUnicodeString(const NtUnicodeString& other) {
    if (other.valid_)
        Assign(other.Units(), other.UnitCount());
    else
        *this = other;
}

NtUnicodeString& NtUnicodeString::operator=(const NtUnicodeString& other) {
    if (this == &other)
        return *this;
    if (other.valid_) {
        Assign(other.Units(), other.UnitCount());
    } else {
        Assign(L"", 0);
        valid_ = false;
    }
    return *this;
}

void NtUnicodeString::Assign(const wchar_t* text, size_t count) {
    valid_ = count <= MaxUnits;
    if (!valid_)
        count = 0;
    storage_.assign(count + 1, L'\0');
    if (count)
        std::memcpy(storage_.data(), text, count * sizeof(wchar_t));
    string_.Length = USHORT(count * sizeof(wchar_t));
    string_.MaximumLength = USHORT(string_.Length + sizeof(wchar_t));
    string_.Buffer = storage_.data();
}

// nsNT ------------------------------------------------------------------------

namespace nsNT {

NTSTATUS NTAPI RtlFormatCurrentUserKeyPath(PUNICODE_STRING path) {
    static std::atomic<void*> slot;
    return Bound<decltype(&RtlFormatCurrentUserKeyPath)>(slot, L"nsNT::RtlFormatCurrentUserKeyPath")(path);
}

VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING text) {
    static std::atomic<void*> slot;
    Bound<decltype(&RtlFreeUnicodeString)>(slot, L"nsNT::RtlFreeUnicodeString")(text);
}

ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status) {
    static std::atomic<void*> slot;
    return Bound<decltype(&RtlNtStatusToDosError)>(slot, L"nsNT::RtlNtStatusToDosError")(status);
}

NTSTATUS NTAPI ZwCreateKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG titleIndex,
                           PUNICODE_STRING className, ULONG options, PULONG disposition) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwCreateKey)>(slot, L"nsNT::ZwCreateKey")(key, access, attributes, titleIndex, className,
                                                                    options, disposition);
}

NTSTATUS NTAPI ZwDeleteKey(HANDLE key) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwDeleteKey)>(slot, L"nsNT::ZwDeleteKey")(key);
}

NTSTATUS NTAPI ZwOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwOpenKey)>(slot, L"nsNT::ZwOpenKey")(key, access, attributes);
}

NTSTATUS NTAPI ZwClose(HANDLE handle) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwClose)>(slot, L"nsNT::ZwClose")(handle);
}

NTSTATUS NTAPI ZwQueryValueKey(HANDLE key, PUNICODE_STRING name, ULONG informationClass, PVOID information,
                               ULONG length, PULONG resultLength) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwQueryValueKey)>(slot, L"nsNT::ZwQueryValueKey")(key, name, informationClass,
                                                                            information, length, resultLength);
}

NTSTATUS NTAPI ZwDeleteValueKey(HANDLE key, PUNICODE_STRING name) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwDeleteValueKey)>(slot, L"nsNT::ZwDeleteValueKey")(key, name);
}

NTSTATUS NTAPI ZwSetValueKey(HANDLE key, PUNICODE_STRING name, ULONG titleIndex, ULONG type, PVOID data,
                             ULONG size) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwSetValueKey)>(slot, L"nsNT::ZwSetValueKey")(key, name, titleIndex, type, data, size);
}

NTSTATUS NTAPI ZwQueryKey(HANDLE key, ULONG informationClass, PVOID information, ULONG length, PULONG resultLength) {
    static std::atomic<void*> slot;
    return Bound<decltype(&ZwQueryKey)>(slot, L"nsNT::ZwQueryKey")(key, informationClass, information, length,
                                                                  resultLength);
}

}  // namespace nsNT

// NativeRegistry --------------------------------------------------------------

void* NativeRegistry::Bind(const wchar_t* wrapperName) {
    const wchar_t* separator = wcsstr(wrapperName, L"::");
    std::wstring function = separator ? separator + 2 : wrapperName;
    Binder& binder = TheBinder();
    std::lock_guard<std::mutex> hold(binder.lock);
    if (!binder.ntdll) {
        binder.ntdll = LoadLibraryW(L"ntdll.dll");
        if (!binder.ntdll)
            throw Win32Error(ERROR_MOD_NOT_FOUND);
    }
    auto found = binder.functions.find(function);
    if (found != binder.functions.end())
        return found->second;
    // The names are plain ASCII.
    std::string narrow(function.begin(), function.end());
    void* address = reinterpret_cast<void*>(GetProcAddress(binder.ntdll, narrow.c_str()));
    if (!address)
        throw Win32Error(ERROR_PROC_NOT_FOUND);
    binder.functions[function] = address;
    return address;
}

LONG NativeRegistry::KeyObjectName(HANDLE key, tstring& name) {
    const ULONG kKeyNameInformation = 3;
    // A ULONG byte count, then the name's units.
    std::vector<ULONG> buffer(2048);
    ULONG size = 0;
    NTSTATUS status = nsNT::ZwQueryKey(key, kKeyNameInformation, buffer.data(),
                                       ULONG(buffer.size() * sizeof(ULONG)), &size);
    if (status < 0)
        return LONG(nsNT::RtlNtStatusToDosError(status));
    size_t units = std::min<size_t>(buffer[0], (buffer.size() - 1) * sizeof(ULONG)) / sizeof(wchar_t);
    name.assign(reinterpret_cast<const wchar_t*>(buffer.data() + 1), units);
    return ERROR_SUCCESS;
}

tstring NativeRegistry::ToNativePath(const tstring& path) {
    size_t slash = path.find(L'\\');
    if (slash == tstring::npos)
        return path;
    tstring root = path.substr(0, slash);
    tstring rest = path.substr(slash);
    if (root == L"HKLM")
        return L"\\Registry\\Machine" + rest;
    if (root == L"HKCU") {
        UNICODE_STRING user = {};
        if (nsNT::RtlFormatCurrentUserKeyPath(&user) != kStatusSuccess)
            return rest;
        tstring native(user.Buffer, user.Length / sizeof(wchar_t));
        nsNT::RtlFreeUnicodeString(&user);
        return native + rest;
    }
    return rest;
}

NtUnicodeString NativeRegistry::CountedName(const tstring& marked) {
    std::wstring units;
    units.reserve(marked.size());
    for (size_t at = 0; at < marked.size();) {
        if (marked.compare(at, kNullMarkLength, kNullMark) == 0) {
            units += L'\0';
            at += kNullMarkLength;
        } else {
            units += marked[at++];
        }
    }
    return NtUnicodeString(units.c_str(), units.size());
}

tstring NativeRegistry::NameText(const wchar_t* units, size_t count) {
    tstring text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (units[i] == L'\0')
            text += kNullMark;
        else
            text += units[i];
    }
    return text;
}

LONG NativeRegistry::QueryValue(HANDLE key, const tstring& name, DWORD& type, SharedBuffer& data) {
    NtUnicodeString counted = CountedName(name);
    if (!counted.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    return QueryCounted(key, counted, type, data);
}

LONG NativeRegistry::ReadValue(const tstring& keyPath, const tstring& name, DWORD& type, SharedBuffer& data) {
    NtUnicodeString path = NativeName(keyPath, false);
    if (!path.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey key;
    NTSTATUS status = key.Open(nullptr, path, KEY_QUERY_VALUE);
    if (status != kStatusSuccess)
        return DosError(status);
    return QueryValue(key.Handle(), name, type, data);
}

LONG NativeRegistry::SetValue(const tstring& keyPath, const tstring& name, DWORD type, const SharedBuffer& data) {
    NtUnicodeString path = NativeName(keyPath, false);
    if (!path.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey key;
    NTSTATUS status = key.Open(nullptr, path, KEY_SET_VALUE);
    if (status != kStatusSuccess)
        return DosError(status);
    return SetValueByHandle(key.Handle(), name, type, data);
}

LONG NativeRegistry::SetValueByHandle(HANDLE key, const tstring& name, DWORD type, const SharedBuffer& data) {
    NtUnicodeString counted = CountedName(name);
    if (!counted.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    return SetCounted(key, counted, type, data);
}

LONG NativeRegistry::DeleteValue(const tstring& keyPath, const tstring& name) {
    NtUnicodeString path = NativeName(keyPath, false);
    NtUnicodeString counted = CountedName(name);
    if (!path.IsValid() || !counted.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey key;
    NTSTATUS status = key.Open(nullptr, path, KEY_SET_VALUE);
    if (status == kStatusSuccess)
        status = nsNT::ZwDeleteValueKey(key.Handle(), counted.Get());
    return DosError(status);
}

LONG NativeRegistry::CreateKey(const tstring& markedPath) {
    NtUnicodeString path = NativeName(markedPath, true);
    if (!path.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey key;
    return DosError(key.Create(nullptr, path, KEY_READ));
}

LONG NativeRegistry::DeleteKey(const tstring& markedPath) {
    NtUnicodeString path = NativeName(markedPath, true);
    if (!path.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey key;
    NTSTATUS status = key.Open(nullptr, path, kDeleteAccess);
    if (status == kStatusObjectNameNotFound || status == kStatusObjectPathNotFound)
        return ERROR_SUCCESS;
    if (status != kStatusSuccess)
        return DosError(status);
    return DeleteTree(key.Handle());
}

LONG NativeRegistry::DeleteTree(HANDLE key) {
    // Deleted subkeys leave the enumeration, so index 0 is asked each time. A
    // name that comes back after its delete succeeded cannot be got rid of.
    std::set<std::wstring> deleted;
    // On the heap: the recursion may go hundreds of levels deep.
    std::vector<wchar_t> buffer(kNameRoom);
    wchar_t* name = buffer.data();
    for (;;) {
        DWORD length = kNameRoom;
        LONG enumerated = RegEnumKeyExW(HKEY(key), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (enumerated == ERROR_NO_MORE_ITEMS)
            break;
        if (enumerated != ERROR_SUCCESS)
            return enumerated;
        if (!deleted.insert(std::wstring(name, length)).second)
            return ERROR_ACCESS_DENIED;
        // Nested results are Win32 codes already.
        LONG result = DeleteSubKey(key, name, length);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return DosError(nsNT::ZwDeleteKey(key));
}

LONG NativeRegistry::DeleteSubKey(HANDLE parent, const wchar_t* units, size_t count) {
    NtUnicodeString name(units, count);
    if (!name.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey child;
    NTSTATUS status = child.Open(parent, name, kDeleteAccess);
    if (status != kStatusSuccess)
        return DosError(status);
    return DeleteTree(child.Handle());
}

LONG NativeRegistry::SaveTree(HANDLE key, const tstring& name, Archive& archive) {
    SavedKey tree;
    LONG result = ReadTree(key, name, tree, 0);
    if (result == ERROR_SUCCESS)
        WriteTree(archive, tree);
    return result;
}

LONG NativeRegistry::RestoreTree(const tstring& markedPath, Archive& archive) {
    SavedKey tree;
    if (!ParseRecord(archive, tree))
        return ERROR_INVALID_DATA;
    NtUnicodeString path = NativeName(markedPath, true);
    if (!path.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey created;
    NTSTATUS status = created.Create(nullptr, path, kRestoreAccess);
    if (status != kStatusSuccess)
        return DosError(status);
    return ApplyTree(created.Handle(), tree);
}

LONG NativeRegistry::RestoreSubKeys(HANDLE parent, Archive& archive) {
    SavedKey tree;
    if (!ParseRecord(archive, tree))
        return ERROR_INVALID_DATA;
    NtUnicodeString name = CountedName(tree.name);
    if (!name.IsValid())
        return ERROR_FILENAME_EXCED_RANGE;
    NativeKey created;
    NTSTATUS status = created.Create(parent, name, kRestoreAccess);
    if (status != kStatusSuccess)
        return DosError(status);
    return ApplyTree(created.Handle(), tree);
}

tstring PathFileName(const tstring& path) {
    size_t slash = path.rfind(L'\\');
    return slash == tstring::npos ? path : tstring(path.substr(slash + 1));
}

DWORD KeySubKeyCount(HANDLE key) {
    std::vector<wchar_t> name(kNameRoom);
    DWORD count = 0;
    for (;; ++count) {
        DWORD length = kNameRoom;
        if (RegEnumKeyExW(HKEY(key), count, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != 0)
            return count;
    }
}

DWORD KeyValueCount(HANDLE key) {
    std::vector<wchar_t> name(kNameRoom);
    DWORD count = 0;
    for (;; ++count) {
        DWORD length = kNameRoom;
        if (RegEnumValueW(HKEY(key), count, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != 0)
            return count;
    }
}
