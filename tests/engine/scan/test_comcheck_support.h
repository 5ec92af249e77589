#pragma once
#include <doctest/doctest.h>
#include <windows.h>
#include <algorithm>
#include <set>
#include <vector>
#include "TestSink.h"
#include "common/tstring/tstring.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/PathWalker.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"
#include "engine/registry/ScanRule.h"
#include "engine/scan/EntryTest.h"
#include "engine/scan/ScanGroup.h"

namespace comcheck {

// A GUID text no other test uses, in the registry's usual upper case.
inline tstring NewGuid() {
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// A ProgID-shaped name unique to this process and call.
inline tstring NewProgId(const wchar_t* part) {
    static LONG counter = 0;
    return FormatText(L"OrvaneTest.Comcheck%u%s.%ld", unsigned(GetCurrentProcessId()), part,
                      InterlockedIncrement(&counter));
}

// A key planted under HKCU\Software\Classes, so that it shows in HKCR, and
// removed with everything below it when the object goes. Wine (8.0) does not
// merge the user's classes into HKCR; there the key goes to the machine's
// classes of the throwaway test prefix instead.
class ClassesKey {
public:
    explicit ClassesKey(const tstring& relative) : relative_(relative), path_(L"Software\\Classes\\" + relative) {
        Remove();
        Make(L"");
        if (!VisibleInClassesRoot()) {
            Remove();
            root_ = HKEY_LOCAL_MACHINE;
            Make(L"");
        }
    }
    ~ClassesKey() { Remove(); }
    ClassesKey(const ClassesKey&) = delete;
    ClassesKey& operator=(const ClassesKey&) = delete;

    // Creates the subkey chain `sub` (empty: the key itself) and sets a string value.
    void Set(const tstring& sub, const tstring& name, const tstring& data, DWORD type = REG_SZ) const {
        HKEY key = Make(sub);
        RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(data.c_str()), DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void MakeSub(const tstring& sub) const { RegCloseKey(Make(sub)); }

private:
    bool VisibleInClassesRoot() const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, relative_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    void Remove() const {
        RegDeleteTreeW(root_, path_.c_str());
        RegDeleteKeyW(root_, path_.c_str());
    }
    HKEY Make(const tstring& sub) const {
        tstring full = path_;
        if (!sub.empty())
            full += L"\\" + sub;
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExW(root_, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        REQUIRE_MESSAGE(rc == ERROR_SUCCESS, "cannot create a test key");
        return key;
    }

    HKEY root_ = HKEY_CURRENT_USER;
    tstring relative_;
    tstring path_;
};

// A planted class key HKCR\CLSID\{new guid}.
class PlantedClass : public ClassesKey {
public:
    PlantedClass() : PlantedClass(NewGuid()) {}
    explicit PlantedClass(const tstring& guid) : ClassesKey(L"CLSID\\" + guid), guid_(guid) {}
    const tstring& Guid() const { return guid_; }
    tstring Path() const { return L"HKCR\\CLSID\\" + guid_; }

private:
    tstring guid_;
};

// A file in the temporary folder that exists while the object lives.
class TempFile {
public:
    explicit TempFile(const wchar_t* suffix) {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        path_ = FormatText(L"%scomcheck-%u-%ld%s", folder, unsigned(GetCurrentProcessId()), Next(), suffix);
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    ~TempFile() { DeleteFileW(path_.c_str()); }
    const tstring& Path() const { return path_; }

private:
    static LONG Next() {
        static LONG counter = 0;
        return InterlockedIncrement(&counter);
    }
    tstring path_;
};

// A file of the system folder, which every prefix has.
inline tstring SystemFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return tstring(folder) + L"\\" + name;
}

// Judges one value of the live registry as a walk would hand it to the test.
inline bool Judge(EntryTest& test, const tstring& keyPath, const tstring& valueName, CheckResult& result) {
    RegKey key = RegKey::OpenPath(keyPath);
    RegValue value(key, valueName);
    tstring text = value.DataText();
    return test.Test(text, value, result);
}

// A path under the temporary folder that does not exist.
inline tstring MissingPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return FormatText(L"%scomcheck-missing-%u\\%s", folder, unsigned(GetCurrentProcessId()), name);
}

// One finding as the group received it, for comparisons.
struct Seen {
    int32_t errorId;
    tstring item, reason, keyPath, valueName, reportedKey, reportedValue;
    bool operator<(const Seen& o) const {
        return std::tie(reportedKey, reportedValue, errorId, item, reason) <
               std::tie(o.reportedKey, o.reportedValue, o.errorId, o.item, o.reason);
    }
};

inline std::vector<Seen> Collect(TestSink& sink) {
    std::lock_guard<std::mutex> lock(sink.mutex);
    std::vector<Seen> all;
    for (const TestSink::Found& f : sink.found)
        all.push_back({f.result.ErrorID, f.result.Item, f.result.Reason, f.result.KeyPath, f.result.ValueName,
                       f.keyPath, f.valueName});
    std::sort(all.begin(), all.end());
    return all;
}

// A finding as one line of text for test messages.
inline std::string Describe(const Seen& s) {
    tstring line = FormatText(L"%08X item=[%s] reason=[%s] key=[%s] reported=[%s]:[%s]", unsigned(s.errorId),
                              s.item.c_str(), s.reason.c_str(), s.keyPath.c_str(), s.reportedKey.c_str(),
                              s.reportedValue.c_str());
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), &text[0], size, nullptr, nullptr);
    return text;
}

inline bool ContainsNoCase(const tstring& text, const tstring& part) {
    tstring a = text, b = part;
    if (a.empty() || b.empty())
        return false;
    CharUpperBuffW(&a[0], DWORD(a.size()));
    CharUpperBuffW(&b[0], DWORD(b.size()));
    return a.find(b) != tstring::npos;
}

// The findings that name the text in their item, reason or either key path.
inline std::vector<Seen> About(const std::vector<Seen>& all, const tstring& text) {
    std::vector<Seen> some;
    for (const Seen& s : all)
        if (ContainsNoCase(s.item, text) || ContainsNoCase(s.reason, text) || ContainsNoCase(s.keyPath, text) ||
            ContainsNoCase(s.reportedKey, text))
            some.push_back(s);
    return some;
}

// Runs a rule over the live registry with the test's Begin and End around it;
// findings go to the sink through the group.
inline void Walk(ScanGroup& group, EntryTest& test, const wchar_t* keyPattern, const wchar_t* valuePattern) {
    ScanRule rule(&group, keyPattern, valuePattern);
    PathWalker walker(rule, &test);
    walker.RunWithVisitor(rule);
}

// The rules of the COM group and the file-association group as the scan runs them.
constexpr const wchar_t* ClsidKeys = L"#HKCR#CLSID@\\{{.*}\\}";
constexpr const wchar_t* ProgIdKeys = L"#HKCR@^{!(CLSID)!(Typelib)!(Interface)(\\a+(\\.\\a+)*)}@^{(CLSID)|(CurVer)}";
constexpr const wchar_t* TypeLibKeys = L"#HKCR#TypeLib@\\{{.*}\\}@{\\d+(\\.\\d+)*}@{\\d+}#win32";
constexpr const wchar_t* ShellCommandKeys = L"#HKCR@^{!(CLSID)!(Typelib)!(Interface)(.+)}#shell@{.*}#command";
constexpr const wchar_t* MimeTypeKeys = L"#HKCR#MIME#Database#Content Type@{.*}";
constexpr const wchar_t* EachKey = L"#@MAGIC_PATTERN";
constexpr const wchar_t* DefaultValue = L"#@{.*}";

}  // namespace comcheck
