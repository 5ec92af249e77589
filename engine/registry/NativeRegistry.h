#pragma once
#include <windows.h>
#include <winternl.h>
#include <cstdint>
#include <vector>
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"

class Archive;

// The native counted string: an owned copy of the text (embedded NULs
// included) followed by one NUL unit. A text too long for the 16-bit byte
// count is not cut: the object is then invalid and holds nothing.
class NtUnicodeString {
public:
    static const size_t UpToNul = 0xFFFF;
    // Longest text in UTF-16 units: the byte count and the terminator must
    // both fit the 16-bit maximum length.
    static const size_t MaxUnits = 0x7FFE;

    NtUnicodeString();
    // count UpToNul: the text up to its first NUL.
    NtUnicodeString(const wchar_t* text, size_t count);
    NtUnicodeString(const UNICODE_STRING& other);
    NtUnicodeString(const NtUnicodeString& other);
    NtUnicodeString& operator=(const NtUnicodeString& other);

    bool IsValid() const { return valid_; }
    UNICODE_STRING* Get() { return &string_; }
    const wchar_t* Units() const { return string_.Buffer; }
    size_t UnitCount() const { return string_.Length / sizeof(wchar_t); }

private:
    void Assign(const wchar_t* text, size_t count);

    UNICODE_STRING string_ = {};
    std::vector<wchar_t> storage_;
    bool valid_ = true;
};

// The ntdll functions, bound by name on first use. A function that cannot be
// bound raises Win32Error (126 without ntdll, 127 for a missing function).
namespace nsNT {
NTSTATUS NTAPI RtlFormatCurrentUserKeyPath(PUNICODE_STRING path);
VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING text);
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status);
NTSTATUS NTAPI ZwCreateKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG titleIndex,
                           PUNICODE_STRING className, ULONG options, PULONG disposition);
NTSTATUS NTAPI ZwDeleteKey(HANDLE key);
NTSTATUS NTAPI ZwOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS NTAPI ZwClose(HANDLE handle);
NTSTATUS NTAPI ZwQueryValueKey(HANDLE key, PUNICODE_STRING name, ULONG informationClass, PVOID information,
                               ULONG length, PULONG resultLength);
NTSTATUS NTAPI ZwDeleteValueKey(HANDLE key, PUNICODE_STRING name);
NTSTATUS NTAPI ZwQueryKey(HANDLE key, ULONG informationClass, PVOID information, ULONG length, PULONG resultLength);
NTSTATUS NTAPI ZwSetValueKey(HANDLE key, PUNICODE_STRING name, ULONG titleIndex, ULONG type, PVOID data,
                             ULONG size);
}  // namespace nsNT

// Registry access through the native functions, which take counted names and
// so reach names holding NUL characters. In the engine's texts such a NUL is
// written "(null)" ("marked" names). Every operation returns a Win32 code
// (0 = success); only the binder and the Archive raise.
class NativeRegistry {
public:
    // Address of the ntdll function named after "::" in wrapperName.
    static void* Bind(const wchar_t* wrapperName);

    // "HKLM\..." -> "\Registry\Machine\...", "HKCU\..." -> the current user's
    // key; the root names compare with exact case.
    static tstring ToNativePath(const tstring& path);
    // Every "(null)" becomes one NUL unit.
    static NtUnicodeString CountedName(const tstring& marked);
    // Every NUL unit becomes "(null)".
    static tstring NameText(const wchar_t* units, size_t count);

    // Value operations: key paths are plain engine paths, value names marked.
    static LONG QueryValue(HANDLE key, const tstring& name, DWORD& type, SharedBuffer& data);
    static LONG ReadValue(const tstring& keyPath, const tstring& name, DWORD& type, SharedBuffer& data);
    static LONG SetValue(const tstring& keyPath, const tstring& name, DWORD type, const SharedBuffer& data);
    static LONG SetValueByHandle(HANDLE key, const tstring& name, DWORD type, const SharedBuffer& data);
    static LONG DeleteValue(const tstring& keyPath, const tstring& name);

    // Key operations on marked key paths.
    // Creates (or opens) the last level; the levels above must exist.
    static LONG CreateKey(const tstring& markedPath);
    // A key that does not exist counts as deleted.
    static LONG DeleteKey(const tstring& markedPath);
    // The key behind the handle (opened with DELETE and KEY_ENUMERATE_SUB_KEYS)
    // and all its subkeys.
    static LONG DeleteTree(HANDLE key);
    // The subkey of that counted name below the parent, with all its subkeys.
    static LONG DeleteSubKey(HANDLE parent, const wchar_t* units, size_t count);

    // One saved key record: name, DACL text, subkeys, values. The record is
    // written whole or not at all. The handle needs KEY_QUERY_VALUE and
    // KEY_ENUMERATE_SUB_KEYS (READ_CONTROL too, for the DACL).
    static LONG SaveTree(HANDLE key, const tstring& name, Archive& archive);
    // Reads one record whole, then creates the key at the marked path with its
    // contents. A damaged record changes nothing (ERROR_INVALID_DATA; the
    // stream is left where the record began).
    static LONG RestoreTree(const tstring& markedPath, Archive& archive);
    // The same for a nested record, created below the parent handle.
    static LONG RestoreSubKeys(HANDLE parent, Archive& archive);

    // The registry's own name of the key behind the handle ("\REGISTRY\..."):
    // where a key reached through a link really lies.
    static LONG KeyObjectName(HANDLE key, tstring& name);
};

// The part after the last "\" (the whole text when there is none).
tstring PathFileName(const tstring& path);
// Counted by enumeration; names holding NULs count too.
DWORD KeySubKeyCount(HANDLE key);
DWORD KeyValueCount(HANDLE key);
