#pragma once
#include <doctest/doctest.h>
#include <windows.h>
#include <set>
#include <string>
#include <vector>
#include "TestSink.h"
#include "common/tstring/tstring.h"
#include "engine/registry/CacheTable.h"
#include "engine/scan/GroupProcedures.h"
#include "engine/scan/ScanGroup.h"
#include "TestLimits.h"

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

// A value set in a key that may belong to the prefix: only the value (and
// the key, when this object had to create it and it is left empty) goes.
class PlantedValue {
public:
    PlantedValue(HKEY root, const tstring& keyPath, const tstring& name, const tstring& data, DWORD type = REG_SZ)
        : root_(root), keyPath_(keyPath), name_(name) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        LONG rc = RegCreateKeyExW(root_, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  &disposition);
        REQUIRE_MESSAGE(rc == ERROR_SUCCESS, "cannot open the key of a test value");
        createdKey_ = disposition == REG_CREATED_NEW_KEY;
        RegSetValueExW(key, name_.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    ~PlantedValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, keyPath_.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
        RegDeleteValueW(key, name_.c_str());
        DWORD subkeys = 1, values = 1;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        if (createdKey_ && subkeys == 0 && values == 0) RegDeleteKeyW(root_, keyPath_.c_str());
    }
    PlantedValue(const PlantedValue&) = delete;
    PlantedValue& operator=(const PlantedValue&) = delete;

private:
    HKEY root_;
    tstring keyPath_;
    tstring name_;
    bool createdKey_ = false;
};

// A folder of the temp folder with one existing file, for the sound twins.
class TempFiles {
public:
    TempFiles() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = tstring(temp) + Tag() + L"files";
        CreateDirectoryW(folder_.c_str(), nullptr);
        file_ = folder_ + L"\\" + Tag() + L"present.dll";
        HANDLE h = CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        REQUIRE(h != INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    ~TempFiles() {
        DeleteFileW(file_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    const tstring& Folder() const { return folder_; }
    const tstring& File() const { return file_; }
    // A path in a folder that does not exist.
    tstring Missing(const tstring& name) const { return L"C:\\" + Tag() + L"missing\\" + name; }

private:
    tstring folder_;
    tstring file_;
};

// The findings with this ErrorID whose item is exactly `item`.
inline std::vector<TestSink::Found> FindingsWithItem(TestSink& sink, const tstring& item) {
    std::lock_guard<std::mutex> lock(sink.mutex);
    std::vector<TestSink::Found> result;
    for (const TestSink::Found& f : sink.found)
        if (SameText(f.result.Item, item)) result.push_back(f);
    return result;
}

// Waits for a group thread, which uses the case's sink; the process ends when it does not end.
inline void WaitGroup(ScanGroup& group, const char* what) {
    testlimit::Waiting note(what);
    group.Wait(testlimit::kLong);
    if (group.IsRunning())
        testlimit::Abandon(what);
}

// Runs one group procedure on its group thread to the end; the exit code.
inline DWORD RunGroup(ScanGroup& group) {
    REQUIRE(group.Start() == ScanGroup::Started);
    WaitGroup(group, "the scan group");
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

// Names this process planted that carry no tag of their own (GUIDs).
inline std::set<tstring>& PlantedNames() {
    static std::set<tstring> names;
    return names;
}

// A GUID text no other test uses, in the registry's upper case; findings
// that name it are never taken for the prefix's own.
inline tstring NewGuid() {
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    PlantedNames().insert(text);
    return text;
}

inline FILETIME ProcessStart() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return created;
}

// Keys of the class store that tests of other executables plant while this
// one runs: gone again, or written since this process started.
inline bool PlantedDuringRun(const tstring& classesPath) {
    static const FILETIME start = ProcessStart();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, classesPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return true;
    FILETIME written = {};
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &written);
    RegCloseKey(key);
    return CompareFileTime(&written, &start) >= 0;
}

// Whether a finding is about an entry of the prefix itself rather than one
// that a test (this one or another running beside it) planted: planted
// entries carry "OrvaneTest", "Orvane" or this file's tag in their names, or
// were written into the class store during the run. (Wine's HKCR shows only
// the machine's classes, so tests plant classes there.)
inline bool IsPrefixOwn(const TestSink::Found& f) {
    for (const tstring* text : {&f.keyPath, &f.result.Item, &f.result.Reason, &f.result.KeyPath})
        if (Contains(*text, L"Orvane") || Contains(*text, L"orvcat") || Contains(*text, L"comcheck")) return false;
    for (const tstring& name : PlantedNames())
        if (Contains(f.result.Item, name) || Contains(f.keyPath, name) || Contains(f.result.Reason, name))
            return false;
    if (Contains(f.keyPath, L"HKCU\\Software\\Classes")) return false;
    for (const tstring* path : {&f.keyPath, &f.result.KeyPath})
        if (path->compare(0, 5, L"HKCR\\") == 0 && PlantedDuringRun(path->substr(5))) return false;
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
inline std::string NarrowText(const tstring& text) {
    std::string narrow(text.size() * 3 + 1, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &narrow[0], int(narrow.size()), nullptr,
                                nullptr);
    narrow.resize(n > 0 ? size_t(n) : 0);
    return narrow;
}

inline std::string Describe(const TestSink::Found& f) {
    tstring text = FormatText(L"0x%08X item=[%s] key=[%s] value=[%s] reason=[%s] walked=[%s]:[%s]",
                              unsigned(f.result.ErrorID), f.result.Item.c_str(), f.result.KeyPath.c_str(),
                              f.result.ValueName.c_str(), f.result.Reason.c_str(), f.keyPath.c_str(),
                              f.valueName.c_str());
    return NarrowText(text);
}

// Exactly one finding with the item, with these fields.
inline void CheckOne(TestSink& sink, const tstring& item, int32_t errorId, const tstring& keyPath,
                     const tstring& valueName) {
    std::vector<TestSink::Found> found;
    for (const TestSink::Found& f : FindingsWithItem(sink, item))
        if (f.result.ErrorID == errorId) found.push_back(f);
    REQUIRE_MESSAGE(found.size() == 1, NarrowText(item));
    const TestSink::Found& f = found[0];
    // The finding's record takes these two from the result.
    CHECK_MESSAGE(SameText(f.result.KeyPath, keyPath), Describe(f));
    CHECK_MESSAGE(f.result.ValueName == valueName, Describe(f));
}

inline std::set<tstring> Items(const std::vector<TestSink::Found>& found) {
    std::set<tstring> items;
    for (const TestSink::Found& f : found) items.insert(f.result.Item);
    return items;
}

inline void RunAlone(ScanGroup& group, TestSink& sink) {
    CacheTable::Instance().ResetAll(group.GroupBit());
    CHECK(RunGroup(group) == ScanGroup::ExitDone);
    CHECK(sink.finished == std::vector<uint32_t>{group.GroupBit()});
    CHECK(sink.errors.empty());
    CHECK(group.SubtaskCount() == 0);
}

// A key of the class store. Wine's HKCR shows only the machine's classes, so
// class entries are planted there, under names no other test uses.
class PlantedClassKey : public PlantedKey {
public:
    explicit PlantedClassKey(const tstring& relative)
        : PlantedKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + relative), hkcrPath_(L"HKCR\\" + relative) {}
    const tstring& HkcrPath() const { return hkcrPath_; }

private:
    tstring hkcrPath_;
};

// Runs the COM group beside another group, as a scan of both does: the
// other group's cached-verdict tests wait for the COM group's caches.
inline void RunWithCom(ScanGroup& group, TestSink& sink) {
    TestSink comSink;
    ScanGroup com(&comSink, 1, GroupProcedureFor(1));
    CacheTable::Instance().ResetAll(1 | group.GroupBit());
    REQUIRE(com.Start() == ScanGroup::Started);
    REQUIRE(group.Start() == ScanGroup::Started);
    WaitGroup(group, "the scan group");
    WaitGroup(com, "the COM group beside it");
    CHECK(com.ExitCode() == ScanGroup::ExitDone);
    CHECK(group.ExitCode() == ScanGroup::ExitDone);
    CHECK(sink.finished == std::vector<uint32_t>{group.GroupBit()});
    CHECK(sink.errors.empty());
    CHECK(comSink.errors.empty());
}

}  // namespace cattest
