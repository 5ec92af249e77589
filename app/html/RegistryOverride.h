#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"

// Changes values of one existing registry key for a while and puts every
// prior value back exactly (same type, same data; absent ones deleted).
// The key is opened on first use and never created: a missing key is left
// missing and nothing is overridden.
class RegistryOverride {
public:
    RegistryOverride(HKEY root, const wchar_t* path) : root_(root), path_(path) {}
    ~RegistryOverride() { Restore(); }
    RegistryOverride(const RegistryOverride&) = delete;
    RegistryOverride& operator=(const RegistryOverride&) = delete;

    // Overrides a value that is absent, REG_SZ or REG_EXPAND_SZ with a REG_SZ
    // text; another type or a read error changes nothing. True when written.
    bool SetString(const wchar_t* name, const wchar_t* text);
    // The same for an absent or REG_DWORD value and a REG_DWORD number.
    bool SetNumber(const wchar_t* name, DWORD value);
    // Puts the saved values back, newest first, and closes the key.
    void Restore();

private:
    struct Saved {
        tstring name;
        bool existed;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool Open();
    // Saves the prior value when its type is one of the allowed ones.
    bool Save(const wchar_t* name, DWORD allowed1, DWORD allowed2);

    HKEY root_;
    tstring path_;
    HKEY key_ = nullptr;
    std::vector<Saved> saved_;
};
