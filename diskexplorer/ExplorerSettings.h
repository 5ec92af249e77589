#pragma once
#include <windows.h>
#include <initializer_list>

// The explorer's own registry key object: opens a key, creating it when it
// does not exist, and reads and writes DWORD values. Failures throw Win32Error.
class RegKey {
public:
    RegKey() = default;
    RegKey(HKEY parent, const wchar_t* path, REGSAM access) { Open(parent, path, access); }
    ~RegKey() { Close(false); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Creates the key with full access when it is missing, else opens it with `access`.
    void Open(HKEY parent, const wchar_t* path, REGSAM access);
    void Create(HKEY parent, const wchar_t* path, REGSAM access) { Open(parent, path, access); }
    void Close(bool flush);
    DWORD GetDWORD(const wchar_t* name) const;
    void SetDWORD(const wchar_t* name, DWORD value);
    HKEY Handle() const { return key_; }

    // Whether the key (and, when named, the value) exists; errors other than
    // "not found" throw.
    static bool Exists(HKEY parent, const wchar_t* path, const wchar_t* valueName = nullptr);

private:
    void RequireOpen() const;
    HKEY key_ = nullptr;
};

// "Software\Quarn\Drossel" under HKEY_CURRENT_USER.
extern const wchar_t kSettingsKey[];

// A stored command id, or `fallback` when the value is missing, unreadable or
// not one of `valid` (a stored value is sent to the frame as a command).
DWORD ReadSetting(const wchar_t* name, DWORD fallback, std::initializer_list<DWORD> valid);
// Writes a setting; a key that cannot be created or written is let be.
void WriteSetting(const wchar_t* name, DWORD value);
