#pragma once
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>
#include "common/tstring/tstring.h"
#include "FileBytes.h"
#include "TempFolder.h"
#include "TestRegistryKey.h"
#include "engine/fix/FixAction.h"
#include "engine/fix/FixEntry.h"
#include "engine/fix/KeyActions.h"
#include "engine/fix/ValueActions.h"

// Scratch places of the undo file tests: a folder under %TEMP% and a key under
// HKCU\Software\OrvaneTest\undo, both named per process and removed at the end.
namespace undotest {

inline tstring ScratchFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return FormatText(L"%sorvane-undo-%s-%u\\", temp, name, unsigned(GetCurrentProcessId()));
}

class TestKey : public TestRegistryKey {
public:
    explicit TestKey(const wchar_t* name) : TestRegistryKey(L"undo", name) {}
};

inline void SetString(HKEY parent, const tstring& subkey, const tstring& name, const tstring& text,
                      DWORD type = REG_SZ) {
    RegSetKeyValueW(parent, subkey.empty() ? nullptr : subkey.c_str(), name.c_str(), type, text.c_str(),
                    DWORD((text.size() + 1) * sizeof(wchar_t)));
}

inline void SetBinary(HKEY parent, const tstring& subkey, const tstring& name, const std::vector<BYTE>& bytes,
                      DWORD type = REG_BINARY) {
    RegSetKeyValueW(parent, subkey.empty() ? nullptr : subkey.c_str(), name.c_str(), type, bytes.data(),
                    DWORD(bytes.size()));
}

// Every key, value, type and byte below a key, one line each, in a fixed
// order: two snapshots are equal exactly when the trees are.
inline void Snapshot(HKEY key, const tstring& prefix, std::vector<tstring>& lines) {
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 1);
        nameLength = 16384;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
        tstring line = FormatText(L"%s:%s=%u:", prefix.c_str(), name, unsigned(type));
        for (DWORD b = 0; b < size; ++b)
            line += FormatText(L"%02x", unsigned(data[b]));
        lines.push_back(line);
    }
    std::vector<tstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    for (const tstring& subkey : subkeys) {
        lines.push_back(prefix + L"\\" + subkey);
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Snapshot(child, prefix + L"\\" + subkey, lines);
            RegCloseKey(child);
        }
    }
}

inline std::vector<tstring> Snapshot(const TestKey& key) {
    std::vector<tstring> lines;
    HKEY open = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.Relative().c_str(), 0, KEY_READ, &open) != ERROR_SUCCESS)
        return lines;
    Snapshot(open, L"", lines);
    RegCloseKey(open);
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline CheckResult Finding(const tstring& item, const tstring& reason, const tstring& keyPath,
                           const tstring& valueName, int32_t errorId = (306 << 16) | 100) {
    return CheckResult{errorId, item, reason, keyPath, valueName};
}

inline std::unique_ptr<FixEntry> ValueEntry(const tstring& keyPath, const tstring& valueName,
                                            const tstring& reason = L"missing file") {
    std::unique_ptr<FixEntry> entry(new FixEntry);
    entry->SetError(Finding(L"item " + valueName, reason, keyPath, valueName));
    entry->Push(std::unique_ptr<FixAction>(new DeleteValueAction(keyPath, valueName)));
    return entry;
}

inline std::unique_ptr<FixEntry> KeyEntry(const tstring& keyPath, const tstring& reason = L"missing class") {
    std::unique_ptr<FixEntry> entry(new FixEntry);
    entry->SetError(Finding(L"key", reason, keyPath, L"", (302 << 16) | 102));
    entry->Push(std::unique_ptr<FixAction>(new DeleteKeyAction(keyPath, 0)));
    return entry;
}

// An entry with nothing to do: enough to make an undo file listable.
inline std::unique_ptr<FixEntry> EmptyEntry(const tstring& item) {
    std::unique_ptr<FixEntry> entry(new FixEntry);
    entry->SetError(Finding(item, L"reason", L"HKCU\\Software\\OrvaneTest\\undo\\none", L""));
    return entry;
}

inline std::vector<BYTE> ReadWholeFile(const tstring& path) {
    std::string bytes = ReadAll(path);
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

inline void WriteWholeFile(const tstring& path, const std::vector<BYTE>& bytes) {
    WriteAll(path, std::string(bytes.begin(), bytes.end()));
}

// CRC-32/BZIP2 bit by bit, independent of the table the product uses.
inline uint32_t Crc32Bzip2(const BYTE* bytes, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t(bytes[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

inline uint32_t IntAt(const std::vector<BYTE>& bytes, size_t at) {
    uint32_t value = 0;
    if (at + 4 <= bytes.size())
        memcpy(&value, bytes.data() + at, 4);
    return value;
}

inline void PutIntAt(std::vector<BYTE>& bytes, size_t at, uint32_t value) {
    memcpy(bytes.data() + at, &value, 4);
}

// Stores the CRC a file of these bytes must carry, as a writer would.
inline void Reseal(std::vector<BYTE>& bytes) {
    PutIntAt(bytes, 4, Crc32Bzip2(bytes.data() + 8, bytes.size() - 8));
}

inline bool StoredCrcMatches(const std::vector<BYTE>& bytes) {
    return bytes.size() >= 8 && IntAt(bytes, 4) == Crc32Bzip2(bytes.data() + 8, bytes.size() - 8);
}

}  // namespace undotest
