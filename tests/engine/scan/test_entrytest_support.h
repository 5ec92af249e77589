#pragma once
#include <windows.h>
#include <map>
#include "common/settings/Settings.h"
#include "common/system/FileSystem.h"
#include "common/tstring/tstring.h"
#include "TempFolder.h"
#include "TestSink.h"
#include "TestRegistryKey.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/PathWalker.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/CheckResult.h"
#include "engine/scan/DriveTypeSource.h"
#include "engine/scan/EntryTest.h"
#include "engine/scan/ScanGroup.h"

// A scratch key HKCU\Software\OrvaneTest\entrytests\<name>-<pid>, deleted
// with everything below it when the object goes.
class EntryTestKey : public TestRegistryKey {
public:
    explicit EntryTestKey(const wchar_t* name) : TestRegistryKey(L"entrytests", name) {}

    void Create(const tstring& sub) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, Relative(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    void SetText(const tstring& sub, const tstring& name, const tstring& data, DWORD type = REG_SZ) {
        Create(sub);
        RegSetKeyValueW(HKEY_CURRENT_USER, Relative(sub).c_str(), name.c_str(), type, data.c_str(),
                        DWORD((data.size() + 1) * sizeof(wchar_t)));
    }
    void SetNumber(const tstring& sub, const tstring& name, DWORD number) {
        Create(sub);
        RegSetKeyValueW(HKEY_CURRENT_USER, Relative(sub).c_str(), name.c_str(), REG_DWORD, &number, sizeof number);
    }
    // The key as the walk would have opened it.
    RegKey Open(const tstring& sub = tstring()) const {
        return RegKey::OpenPath(Path(sub));
    }
};

// Walks the keys below the scratch key that keyTail selects, with the test,
// as a scan would; the findings go to the sink through a group of that bit.
inline bool WalkBelow(const EntryTestKey& key, const wchar_t* keyTail, const wchar_t* valuePattern, EntryTest& test,
                      TestSink& sink, uint32_t groupBit) {
    ScanGroup group(&sink, groupBit);
    ScanRule rule(&group, L"#HKCU#" + key.Relative() + keyTail, valuePattern);
    PathWalker walker(rule, &test);
    return walker.RunWithVisitor(rule);
}

// A scratch folder in the temporary folder, deleted with its content.
class EntryTestFolder : public TempFolder {
public:
    explicit EntryTestFolder(const wchar_t* name) : TempFolder((tstring(L"entrytests-") + name).c_str()) {}

    // Creates the file (and its folders); returns its full path.
    tstring File(const tstring& relative) const {
        tstring full = *this / relative;
        size_t slash = full.rfind(L'\\');
        CreateFolderTree(full.substr(0, slash));
        HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, "x", 1, &written, nullptr);
            CloseHandle(file);
        }
        return full;
    }
    tstring Folder(const tstring& relative) const {
        tstring full = *this / relative;
        CreateFolderTree(full);
        return full;
    }
};

// Drive types a test decides, installed while the object lives; drives it
// does not name are asked of the system.
class TestDriveTypes : public DriveTypeSource {
public:
    TestDriveTypes() { DriveTypeSource::Install(this); }
    ~TestDriveTypes() override { DriveTypeSource::Install(nullptr); }
    UINT DriveType(const tstring& root) const override {
        auto it = types.find(wchar_t(towupper(root[0])));
        return it != types.end() ? it->second : SystemDriveTypes().DriveType(root);
    }
    std::map<wchar_t, UINT> types;
};

// The SkipScanDrives mask for the object's life.
class SkipMask {
public:
    explicit SkipMask(int32_t mask) : saved_(Settings::GetSkipScanDrives()) { Settings::SetSkipScanDrives(mask); }
    ~SkipMask() { Settings::SetSkipScanDrives(saved_); }

private:
    int32_t saved_;
};

// A drive letter with nothing behind it, or 0 when all are in use.
inline wchar_t UnusedDrive() {
    DWORD used = GetLogicalDrives();
    for (int i = 25; i >= 3; --i)
        if (!(used & (1u << i))) return wchar_t(L'A' + i);
    return 0;
}

// Runs a test on one value as the walk does: the value read, its data as the text.
inline bool RunEntryTest(EntryTest& test, RegValue& value, CheckResult& result) {
    value.Query();
    tstring text = value.Type() == RegValue::Absent ? tstring() : value.DataText();
    return test.Test(text, value, result);
}

inline bool RunEntryTest(EntryTest& test, const RegKey& key, const tstring& valueName, CheckResult& result) {
    RegValue value(key, valueName);
    return RunEntryTest(test, value, result);
}

// The named caches emptied, with every wait released, for one test.
class TestCaches {
public:
    TestCaches() { CacheTable::Instance().ResetAll(0); }
    ~TestCaches() { CacheTable::Instance().ResetAll(0); }
    // A cache that its producer has finished.
    NamedCache* Ready(const wchar_t* name) {
        NamedCache* cache = CacheTable::Instance().GetOrCreate(name);
        cache->SetReady(true);
        return cache;
    }
};

inline tstring Expand(const wchar_t* text) {
    tstring out;
    ExpandEnvironment(out, text);
    return out;
}
