#pragma once
#include <doctest/doctest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "TestSink.h"
#include "common/tstring/tstring.h"
#include "engine/registry/CacheTable.h"
#include "engine/scan/ScanGroup.h"

namespace cattest {

// A name no other test process uses: planted entries carry it, so findings
// can be told apart from those of other tests sharing the prefix.
inline tstring Tag() { return FormatText(L"orvcat%u", unsigned(GetCurrentProcessId())); }

inline bool Contains(const tstring& text, const tstring& part) {
    tstring a = text, b = part;
    CharUpperBuffW(&a[0], DWORD(a.size()));
    CharUpperBuffW(&b[0], DWORD(b.size()));
    return a.find(b) != tstring::npos;
}

// Registry paths compare without regard to letter case.
inline bool SameText(const tstring& a, const tstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// A registry key made for one test and deleted, with everything below it,
// when the object goes. Levels above `path` are expected to exist.
class PlantedKey {
public:
    PlantedKey(HKEY root, const tstring& path) : root_(root), path_(path) {
        RegDeleteTreeW(root_, path_.c_str());
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        REQUIRE_MESSAGE(rc == ERROR_SUCCESS, "cannot create the test key");
        RegCloseKey(key);
    }
    ~PlantedKey() {
        RegDeleteTreeW(root_, path_.c_str());
        RegDeleteKeyW(root_, path_.c_str());
    }
    PlantedKey(const PlantedKey&) = delete;
    PlantedKey& operator=(const PlantedKey&) = delete;

    const tstring& Path() const { return path_; }

    // Creates the subkey chain `sub` (may be empty) and sets a string value.
    void Set(const tstring& sub, const tstring& name, const tstring& data, DWORD type = REG_SZ) const {
        HKEY key = Create(sub);
        RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(data.c_str()), DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void SetNumber(const tstring& sub, const tstring& name, DWORD number) const {
        HKEY key = Create(sub);
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        RegCloseKey(key);
    }
    void MakeSub(const tstring& sub) const { RegCloseKey(Create(sub)); }

private:
    HKEY Create(const tstring& sub) const {
        tstring full = path_;
        if (!sub.empty()) full += L"\\" + sub;
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExW(root_, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        REQUIRE_MESSAGE(rc == ERROR_SUCCESS, "cannot create a test subkey");
        return key;
    }

    HKEY root_;
    tstring path_;
};

// Runs one group procedure on its group thread to the end; the exit code.
inline DWORD RunGroup(ScanGroup& group) {
    REQUIRE(group.Start() == ScanGroup::Started);
    group.Wait(INFINITE);
    return group.ExitCode();
}

// The findings whose item or key path holds the text.
inline std::vector<TestSink::Found> FindingsAbout(TestSink& sink, const tstring& text) {
    std::lock_guard<std::mutex> lock(sink.mutex);
    std::vector<TestSink::Found> result;
    for (const TestSink::Found& f : sink.found)
        if (Contains(f.result.Item, text) || Contains(f.keyPath, text) || Contains(f.result.Reason, text))
            result.push_back(f);
    return result;
}

// Whether a finding is about an entry of the prefix itself rather than one
// that a test (this one or another running beside it) planted: planted
// entries carry "OrvaneTest" or this file's tag in their path, and classes
// planted under HKCU\Software\Classes are not in the machine's class store.
inline bool IsPrefixOwn(const TestSink::Found& f) {
    const tstring& path = f.keyPath;
    if (Contains(path, L"OrvaneTest") || Contains(path, L"orvcat") || Contains(f.result.Item, L"orvcat"))
        return false;
    if (Contains(path, L"HKCU\\Software\\Classes")) return false;
    if (path.compare(0, 5, L"HKCR\\") == 0) {
        tstring rest = path.substr(5);
        size_t first = rest.find(L'\\');
        size_t second = first == tstring::npos ? tstring::npos : rest.find(L'\\', first + 1);
        tstring levels = second == tstring::npos ? rest : rest.substr(0, second);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + levels).c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
    }
    return true;
}

inline std::vector<TestSink::Found> PrefixOwnFindings(TestSink& sink) {
    std::lock_guard<std::mutex> lock(sink.mutex);
    std::vector<TestSink::Found> result;
    for (const TestSink::Found& f : sink.found)
        if (IsPrefixOwn(f)) result.push_back(f);
    return result;
}

// Narrow, so that doctest can print it.
inline std::string Describe(const TestSink::Found& f) {
    tstring text = FormatText(L"0x%08X item=[%s] key=[%s] value=[%s] reason=[%s]", unsigned(f.result.ErrorID),
                      f.result.Item.c_str(), f.keyPath.c_str(), f.valueName.c_str(), f.result.Reason.c_str());
    std::string narrow(text.size() * 3 + 1, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &narrow[0], int(narrow.size()), nullptr,
                                nullptr);
    narrow.resize(n > 0 ? size_t(n) : 0);
    return narrow;
}

}  // namespace cattest
