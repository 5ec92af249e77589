#include "common/system/FileSystem.h"
#include "StartProcess.h"
#include "EngineTestSupport.h"
#include "TestSink.h"
#include <doctest/doctest.h>
#include <olectl.h>
#include <oleauto.h>
#include <winternl.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>
#include "TempFolder.h"
#include "TestLimits.h"

// The engine as a client sees it: the registered DLL driven through ICrawler
// from the multithreaded apartment, over the live registry of the test prefix.
// Broken entries of every category are planted next to sound twins; a full
// scan must report each broken one once with its exact record and nothing
// else but the prefix's own known faults; fixing and undoing them must leave
// every planted tree exactly as it was.

namespace {

typedef LONG(NTAPI* NtCreateKeyFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING, ULONG,
                                    PULONG);
typedef LONG(NTAPI* NtOpenKeyFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);
typedef LONG(NTAPI* NtSetValueKeyFn)(HANDLE, PUNICODE_STRING, ULONG, ULONG, PVOID, ULONG);
typedef LONG(NTAPI* NtQueryValueKeyFn)(HANDLE, PUNICODE_STRING, ULONG, PVOID, ULONG, PULONG);

template <class F>
F Native(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

UNICODE_STRING Counted(const std::wstring& text) {
    UNICODE_STRING name;
    name.Buffer = const_cast<wchar_t*>(text.data());
    name.Length = USHORT(text.size() * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    return name;
}

// Other test executables sharing the prefix tell planted entries from the
// prefix's own by "Orvane" in their names.
std::wstring Tag() { return L"OrvaneE2e" + std::to_wstring(GetCurrentProcessId()); }

std::wstring UpperCopy(std::wstring text) {
    if (!text.empty())
        CharUpperBuffW(&text[0], DWORD(text.size()));
    return text;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return UpperCopy(text).find(UpperCopy(part)) != std::wstring::npos;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return UpperCopy(a) == UpperCopy(b); }

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring NewGuid(std::vector<std::wstring>& names) {
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    names.push_back(text);
    return text;
}

const std::wstring kVersion = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::wstring kExplorer = kVersion + L"\\Explorer";
const std::wstring kFonts = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

HKEY RootOf(const std::wstring& path, std::wstring& relative) {
    static const struct {
        const wchar_t* name;
        HKEY root;
        const wchar_t* prefix;
    } roots[] = {{L"HKLM\\", HKEY_LOCAL_MACHINE, L""},
                 {L"HKCU\\", HKEY_CURRENT_USER, L""},
                 {L"HKCR\\", HKEY_LOCAL_MACHINE, L"Software\\Classes\\"}};
    for (const auto& r : roots)
        if (path.compare(0, 5, r.name) == 0) {
            relative = r.prefix + path.substr(5);
            return r.root;
        }
    return nullptr;
}

// A key made for the test and removed with its whole tree afterwards.
class Planted {
public:
    Planted(HKEY root, const std::wstring& path) : root_(root), path_(path) {
        RegDeleteTreeW(root_, path_.c_str());
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
                ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ~Planted() {
        RegDeleteTreeW(root_, path_.c_str());
        RegDeleteKeyW(root_, path_.c_str());
    }
    Planted(const Planted&) = delete;
    Planted& operator=(const Planted&) = delete;

    void Set(const std::wstring& sub, const std::wstring& name, const std::wstring& data, DWORD type = REG_SZ) const {
        HKEY key = Open(sub);
        RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(data.c_str()), DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void SetNumber(const std::wstring& name, DWORD number) const {
        HKEY key = Open(L"");
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        RegCloseKey(key);
    }
    void SetBytes(const std::wstring& sub, const std::wstring& name, DWORD type, const void* data, DWORD size) const {
        HKEY key = Open(sub);
        RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    // Data of every kind, an unterminated string, an empty key and a deeper
    // tree: what a fix removes with the key, its undo must give back as it was.
    void AddVariety() const {
        const wchar_t multi[] = L"first\0second\0\0";
        SetBytes(L"", L"OrvaneMulti", REG_MULTI_SZ, multi, sizeof multi);
        const BYTE odd[] = {0xDE, 0xAD, 0x00};
        SetBytes(L"", L"OrvaneBinary", REG_BINARY, odd, sizeof odd);
        const ULONGLONG wide = 0x0123456789ABCDEFull;
        SetBytes(L"", L"OrvaneQword", REG_QWORD, &wide, sizeof wide);
        SetBytes(L"", L"OrvaneNone", REG_NONE, nullptr, 0);
        SetBytes(L"", L"OrvaneEmpty", REG_SZ, L"", sizeof(wchar_t));
        const wchar_t unterminated[] = {L'a', L'b', L'c'};
        SetBytes(L"", L"OrvaneUnterminated", REG_SZ, unterminated, sizeof unterminated);
        SetBytes(L"", L"OrvaneOddString", REG_SZ, "xyz", 3);
        Set(L"OrvaneDeep\\Below\\Bottom", L"", L"default of a deep key");
        Set(L"OrvaneDeep\\Below", L"Expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
        std::string large(200000, '\0');
        for (size_t i = 0; i < large.size(); ++i)
            large[i] = char(i * 7 + i / 256);
        SetBytes(L"", L"Orvane\u00e9\u4e2d\u0416", REG_BINARY, large.data(), DWORD(large.size()));
        SetBytes(L"", std::wstring(300, L'n'), REG_SZ, L"long name", 20);
        Set(L"Orvane\u00fc\u65e5\u672c", L"\u00c5ngstr\u00f6m", L"\u6587\u5b57 text");
        HKEY empty = Open(L"OrvaneEmptyKey");
        RegCloseKey(empty);
    }
    // The engine's name of the key: "HKLM\..." or "HKCU\...".
    std::wstring Path() const { return (root_ == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"HKCU\\") + path_; }
    HKEY Root() const { return root_; }
    const std::wstring& Relative() const { return path_; }

private:
    HKEY Open(const std::wstring& sub) const {
        std::wstring full = sub.empty() ? path_ : path_ + L"\\" + sub;
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(root_, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
                ERROR_SUCCESS);
        return key;
    }
    HKEY root_;
    std::wstring path_;
};

// A class store key: Wine's HKCR shows only the machine's classes.
class PlantedClass : public Planted {
public:
    explicit PlantedClass(const std::wstring& relative)
        : Planted(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + relative), hkcr_(L"HKCR\\" + relative) {}
    const std::wstring& Hkcr() const { return hkcr_; }

private:
    std::wstring hkcr_;
};

// A value in a key that the prefix owns; only the value goes afterwards.
class PlantedValue {
public:
    PlantedValue(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& data)
        : root_(root), key_(key), name_(name) {
        REQUIRE(RegSetKeyValueW(root_, key_.c_str(), name_.c_str(), REG_SZ, data.c_str(),
                                DWORD((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS);
    }
    ~PlantedValue() { RegDeleteKeyValueW(root_, key_.c_str(), name_.c_str()); }
    const std::wstring& Name() const { return name_; }
    PlantedValue(const PlantedValue&) = delete;
    PlantedValue& operator=(const PlantedValue&) = delete;

    // Type and data as stored, or "absent".
    std::string Read() const {
        DWORD type = 0, size = 0;
        if (RegGetValueW(root_, key_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return "absent";
        std::string data(size, '\0');
        RegGetValueW(root_, key_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, &data[0], &size);
        data.resize(size);
        return std::to_string(type) + ":" + data;
    }

private:
    HKEY root_;
    std::wstring key_, name_;
};

// A key holding names with NUL characters, written through the native API:
// under HKCU the value "va<NUL>lue" and the key "su<NUL>bkey" (with a value
// inside), under HKLM the value "m<NUL>"; plain-named twins beside them.
class NulEntries {
public:
    NulEntries()
        : user_(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\e2e-" + std::to_wstring(GetCurrentProcessId())),
          machine_(HKEY_LOCAL_MACHINE, L"Software\\" + Tag() + L"nul") {
        user_.Set(L"", L"value", L"plain");
        user_.Set(L"subkey", L"Inner", L"plain");
        machine_.Set(L"", L"m", L"plain");
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, user_.Relative().c_str(), 0, KEY_ALL_ACCESS, &key);
        const wchar_t broken[] = L"broken";
        SetNative(key, std::wstring(L"va\0lue", 6), REG_SZ, broken, sizeof broken);
        HANDLE child = CreateNative(key, std::wstring(L"su\0bkey", 7));
        REQUIRE(child != nullptr);
        const wchar_t inner[] = L"inside";
        RegSetValueExW(static_cast<HKEY>(child), L"Inner", 0, REG_SZ, reinterpret_cast<const BYTE*>(inner),
                       sizeof inner);
        // Inside the NUL key: NUL names again, which only a native save and restore keep.
        const DWORD number = 0x12345678;
        SetNative(static_cast<HKEY>(child), std::wstring(L"in\0ner", 7), REG_DWORD, &number, sizeof number);
        HANDLE deep = CreateNative(static_cast<HKEY>(child), std::wstring(L"de\0ep", 6));
        REQUIRE(deep != nullptr);
        SetNative(static_cast<HKEY>(deep), std::wstring(L"\0", 1), REG_SZ, inner, sizeof inner);
        CloseHandle(deep);
        CloseHandle(child);
        RegCloseKey(key);
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, machine_.Relative().c_str(), 0, KEY_ALL_ACCESS, &key);
        const BYTE bytes[] = {1, 2, 3, 0, 4};
        SetNative(key, std::wstring(L"m\0", 2), REG_BINARY, bytes, sizeof bytes);
        RegCloseKey(key);
    }
    ~NulEntries() {
        // RegDeleteTree cannot name the NUL key: it goes first, natively.
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, user_.Relative().c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            HANDLE child = OpenNative(key, std::wstring(L"su\0bkey", 7));
            if (child) {
                HANDLE deep = OpenNative(static_cast<HKEY>(child), std::wstring(L"de\0ep", 6));
                if (deep) {
                    Native<NtDeleteKeyFn>("NtDeleteKey")(deep);
                    CloseHandle(deep);
                }
                Native<NtDeleteKeyFn>("NtDeleteKey")(child);
                CloseHandle(child);
            }
            RegCloseKey(key);
        }
    }

    std::wstring UserPath() const { return user_.Path(); }
    std::wstring MachinePath() const { return machine_.Path(); }
    const Planted& User() const { return user_; }

    // The NUL-named entries as the native functions read them.
    std::string Read() const {
        std::string text;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, user_.Relative().c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            text += "va0lue=" + QueryNative(key, std::wstring(L"va\0lue", 6));
            HANDLE child = OpenNative(key, std::wstring(L"su\0bkey", 7));
            text += child ? " su0bkey\\Inner=" + QueryNative(static_cast<HKEY>(child), L"Inner") : " su0bkey absent";
            if (child) {
                text += " in0ner=" + QueryNative(static_cast<HKEY>(child), std::wstring(L"in\0ner", 7));
                HANDLE deep = OpenNative(static_cast<HKEY>(child), std::wstring(L"de\0ep", 6));
                text += deep ? " de0ep\\0=" + QueryNative(static_cast<HKEY>(deep), std::wstring(L"\0", 1))
                             : " de0ep absent";
                if (deep)
                    CloseHandle(deep);
                CloseHandle(child);
            }
            RegCloseKey(key);
        }
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, machine_.Relative().c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            text += " m0=" + QueryNative(key, std::wstring(L"m\0", 2));
            RegCloseKey(key);
        }
        return text;
    }

private:
    static void SetNative(HKEY key, const std::wstring& name, DWORD type, const void* data, DWORD size) {
        UNICODE_STRING counted = Counted(name);
        REQUIRE(Native<NtSetValueKeyFn>("NtSetValueKey")(key, &counted, 0, type, const_cast<void*>(data), size) ==
                0);
    }
    static HANDLE CreateNative(HKEY parent, const std::wstring& name) {
        UNICODE_STRING counted = Counted(name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, parent, nullptr);
        HANDLE child = nullptr;
        ULONG disposition = 0;
        Native<NtCreateKeyFn>("NtCreateKey")(&child, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition);
        return child;
    }
    static HANDLE OpenNative(HKEY parent, const std::wstring& name) {
        UNICODE_STRING counted = Counted(name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, parent, nullptr);
        HANDLE child = nullptr;
        if (Native<NtOpenKeyFn>("NtOpenKey")(&child, KEY_ALL_ACCESS, &attributes) != 0)
            return nullptr;
        return child;
    }
    static std::string QueryNative(HKEY key, const std::wstring& name) {
        UNICODE_STRING counted = Counted(name);
        std::vector<BYTE> buffer(4096);
        ULONG length = 0;
        // KeyValuePartialInformation: title index, type, data length, data.
        if (Native<NtQueryValueKeyFn>("NtQueryValueKey")(key, &counted, 2, buffer.data(), ULONG(buffer.size()),
                                                         &length) != 0)
            return "absent";
        const ULONG* head = reinterpret_cast<const ULONG*>(buffer.data());
        return std::to_string(head[1]) + ":" + std::string(reinterpret_cast<const char*>(buffer.data() + 12), head[2]);
    }

    Planted user_;
    Planted machine_;
};

// The bytes that reg.exe exports for a key path ("HKLM\...", "HKCU\...").
std::string RegExport(const std::wstring& keyPath) {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring file = std::wstring(temp) + L"orvane-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++counter) + L".reg";
    DeleteFileW(file.c_str());
    std::wstring command = L"C:\\windows\\system32\\reg.exe export \"" + keyPath + L"\" \"" + file + L"\" /y";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process = {};
    std::string bytes;
    if (!CreateProcessRetrying(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return "cannot run reg.exe";
    testlimit::Wait(process.hProcess, 60000, "reg.exe export");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return "no export";
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(handle, buffer, sizeof(buffer), &read, nullptr) && read)
        bytes.append(buffer, read);
    CloseHandle(handle);
    DeleteFileW(file.c_str());
    return bytes;
}

// Every key and value of a tree with its exact type and bytes: reg.exe
// writes strings as text and so cannot show an unterminated or odd-sized one.
std::string Snapshot(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "absent";
    std::string text = "[" + Narrow(path) + "]\n";
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::string data(size, '\0');
        nameLength = 16384;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        text += Narrow(std::wstring(name, nameLength)) + "=" + std::to_string(type) + ":" + data + "\n";
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(std::wstring(name, nameLength));
    }
    RegCloseKey(key);
    for (const std::wstring& sub : subkeys)
        text += Snapshot(root, path + L"\\" + sub);
    return text;
}

// The lines of an export of a shared key that hold `part`: other processes
// may change the key's other values meanwhile.
std::wstring ExportedLinesWith(const std::wstring& keyPath, const std::wstring& part) {
    std::string bytes = RegExport(keyPath);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::wstring lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (Contains(line, part))
            lines += line + L"\n";
        start = end + 1;
    }
    return lines;
}

struct Finding {
    std::wstring item, reason, keyPath, valueName;
    long errorId = 0, fixId = 0, regUnion = 0;
};

std::string Describe(const Finding& f) {
    wchar_t head[64];
    swprintf(head, 64, L"0x%08lX bit %ld fix %ld", f.errorId, f.regUnion, f.fixId);
    return Narrow(std::wstring(head) + L" item=[" + f.item + L"] key=[" + f.keyPath + L"] value=[" + f.valueName +
                  L"] reason=[" + f.reason + L"]");
}

std::wstring Take(BSTR b) {
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return s;
}

// The description that the error information of this thread's last failed call holds.
std::wstring LastErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"no error information";
    BSTR text = nullptr;
    info->GetDescription(&text);
    info->Release();
    return Take(text);
}

struct MultiThreaded {
    MultiThreaded() { hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~MultiThreaded() {
        if (SUCCEEDED(hr))
            CoUninitialize();
    }
    HRESULT hr;
};

std::wstring UndoFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"orvane-e2e-undo-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// folder ends with "\"; the library's own deletion takes the bare path.
void RemoveFolder(const std::wstring& folder) {
    DeletePath(tstring(folder.substr(0, folder.size() - 1)));
}

// The engine object of one client, with its own undo folder and no settings file.
class Client {
public:
    explicit Client(const std::wstring& undoFolder) {
        CLSID clsid = {};
        REQUIRE(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid) == S_OK);
        REQUIRE(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler,
                                 reinterpret_cast<void**>(&crawler_)) == S_OK);
        CHECK(crawler_->put_UseFile(0) == S_OK);
        BSTR folder = SysAllocString(undoFolder.c_str());
        CHECK(crawler_->put_UndoDirectory(folder) == S_OK);
        SysFreeString(folder);
    }
    ~Client() {
        if (crawler_) {
            BSTR empty = SysAllocString(L"");
            crawler_->put_UndoDirectory(empty);
            SysFreeString(empty);
            crawler_->Release();
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ICrawler* operator->() const { return crawler_; }

    // Scans and waits for the finish of every category of the mask; the
    // events that reached the sink. The bound only guards against a hang.
    std::vector<TestSink::Call> Scan(long mask, bool& finished) {
        TestSink* sink = new TestSink();
        IConnectionPointContainer* container = nullptr;
        IConnectionPoint* point = nullptr;
        DWORD cookie = 0;
        REQUIRE(crawler_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)) ==
                S_OK);
        REQUIRE(container->FindConnectionPoint(DIID__ICrawlerEvents, &point) == S_OK);
        container->Release();
        REQUIRE(point->Advise(sink, &cookie) == S_OK);
        // A scan adds to the found list: the client removes the records of the last one.
        long count = 0;
        REQUIRE(crawler_->get_Count(&count) == S_OK);
        for (; count > 0; --count)
            CHECK(crawler_->DelRecord(count) == S_OK);
        CHECK(crawler_->Scan(mask) == S_OK);
        const ULONGLONG end = GetTickCount64() + 5 * 60 * 1000;
        finished = false;
        while (!finished && GetTickCount64() < end) {
            Sleep(50);
            long done = 0;
            for (const TestSink::Call& call : sink->Calls())
                if (call.id == 2 && call.arguments.size() == 1)
                    done |= std::stol(call.arguments[0]);
            finished = (done & mask) == mask;
        }
        if (!finished)
            crawler_->Stop();
        // Events raised after the last finish would show up here.
        Sleep(200);
        std::vector<TestSink::Call> calls = sink->Calls();
        point->Unadvise(cookie);
        point->Release();
        sink->Release();
        return calls;
    }

    std::vector<Finding> Findings() {
        std::vector<Finding> list;
        long count = -1;
        REQUIRE(crawler_->get_Count(&count) == S_OK);
        for (long i = 1; i <= count; ++i) {
            IqnRegRecord* r = nullptr;
            REQUIRE(crawler_->Record(i, &r) == S_OK);
            REQUIRE(r != nullptr);
            Finding f;
            BSTR b = nullptr;
            r->get_FixID(&f.fixId);
            r->get_ErrorID(&f.errorId);
            r->get_RegUnion(&f.regUnion);
            if (r->get_Item(&b) == S_OK) f.item = Take(b);
            if (r->get_Reason(&b) == S_OK) f.reason = Take(b);
            if (r->get_KeyPath(&b) == S_OK) f.keyPath = Take(b);
            if (r->get_ValueName(&b) == S_OK) f.valueName = Take(b);
            r->Release();
            list.push_back(f);
        }
        return list;
    }

private:
    ICrawler* crawler_ = nullptr;
};

struct Expected {
    long bit;
    std::wstring item;
    long errorId;
    std::wstring keyPath, valueName;
};

FILETIME ProcessStart() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return created;
}

// Whether a finding is about an entry that another test executable planted
// beside this one: such entries carry the tests' names, live in the test
// area, or are keys written (or removed again) since this process started.
bool OtherTestsEntry(const Finding& f) {
    for (const std::wstring* text : {&f.item, &f.keyPath, &f.valueName, &f.reason})
        for (const wchar_t* name : {L"Orvane", L"orvcat", L"comcheck"})
            if (Contains(*text, name))
                return true;
    if (Contains(f.keyPath, L"HKCU\\Software\\Classes"))
        return true;
    std::wstring relative;
    HKEY root = RootOf(f.keyPath, relative);
    if (!root)
        return false;
    size_t nul = relative.find(L"(null)");
    if (nul != std::wstring::npos)
        relative = relative.substr(0, relative.rfind(L'\\', nul));
    static const FILETIME start = ProcessStart();
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, relative.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return true;
    FILETIME written = {};
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &written);
    RegCloseKey(key);
    return CompareFileTime(&written, &start) >= 0;
}

// The fresh prefix's own faults. Wine registers its bitmap fonts by bare file
// names that are absent from the prefix's fonts folder, and the font cache
// service of the .NET 3.0 presentation layer, whose program comes only with
// Wine Mono.
const std::vector<Expected>& Baseline() {
    static const std::vector<Expected> baseline = {
        {4, L"Courier", 0x01330068, L"HKLM\\" + kFonts, L"Courier"},
        {4, L"MS Sans Serif", 0x01330068, L"HKLM\\" + kFonts, L"MS Sans Serif"},
        {4, L"MS Serif", 0x01330068, L"HKLM\\" + kFonts, L"MS Serif"},
        {4, L"Small Fonts", 0x01330068, L"HKLM\\" + kFonts, L"Small Fonts"},
        {1, L"FontCache3.0.0.0", 0x01420068, L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\FontCache3.0.0.0",
         L"ImagePath"},
    };
    return baseline;
}

bool Matches(const Finding& f, const Expected& e) {
    return SameText(f.item, e.item) && f.errorId == e.errorId && SameText(f.keyPath, e.keyPath);
}

}  // namespace

TEST_CASE("engine through COM: scans of single categories and of all of them finish") {
    RegisteredEngine engine;
    REQUIRE(engine.ExitCode() == 0);
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    const std::wstring undoFolder = UndoFolder();
    {
        Client client(undoFolder);
        for (long mask : {1L, 2L, 16L, 64L, 128L, 255L}) {
            CAPTURE(mask);
            bool finished = false;
            std::vector<TestSink::Call> calls = client.Scan(mask, finished);
            CHECK(finished);
            // One finish for every category of the mask and for none other.
            std::vector<long> finishes;
            size_t found = 0;
            for (const TestSink::Call& call : calls) {
                if (call.id == 2)
                    finishes.push_back(std::stol(call.arguments.at(0)));
                found += call.id == 1;
            }
            std::sort(finishes.begin(), finishes.end());
            std::vector<long> bits;
            for (long bit = 1; bit <= 128; bit <<= 1)
                if (mask & bit)
                    bits.push_back(bit);
            CHECK(finishes == bits);
            // Every reported finding is on the list, and nothing else is.
            long count = -1;
            CHECK(client->get_Count(&count) == S_OK);
            CHECK(size_t(count) == found);
            for (const Finding& f : client.Findings()) {
                CHECK_MESSAGE((f.regUnion & mask) == f.regUnion, Describe(f));
                CHECK_MESSAGE(f.fixId > 0, Describe(f));
            }
        }
    }
    RemoveFolder(undoFolder);
}

TEST_CASE("engine through COM: planted faults of every category are found once, fixed and undone exactly") {
    RegisteredEngine engine;
    REQUIRE(engine.ExitCode() == 0);
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    const std::wstring tag = Tag();
    std::vector<std::wstring> guids;
    const std::wstring undoFolder = UndoFolder();

    // A file that exists, for the sound twins, and a folder that does not.
    const std::wstring present = undoFolder + tag + L"present.dll";
    HANDLE file = CreateFileW(present.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);
    auto missing = [&](const std::wstring& name) { return L"C:\\" + tag + L"missing\\" + name; };

    std::vector<std::unique_ptr<Planted>> trees;
    std::vector<Expected> expected;
    auto plant = [&](HKEY root, const std::wstring& path) -> Planted& {
        trees.emplace_back(new Planted(root, path));
        return *trees.back();
    };
    auto plantClass = [&](const std::wstring& relative) -> PlantedClass& {
        auto* key = new PlantedClass(relative);
        trees.emplace_back(key);
        return *key;
    };

    // COM registrations.
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    Planted& service = plant(HKEY_LOCAL_MACHINE, services + tag + L"svc");
    service.SetNumber(L"Type", 0x10);
    service.Set(L"", L"ImagePath", missing(L"svc.exe"), REG_EXPAND_SZ);
    service.AddVariety();
    Planted& serviceTwin = plant(HKEY_LOCAL_MACHINE, services + tag + L"svc2");
    serviceTwin.SetNumber(L"Type", 0x10);
    serviceTwin.Set(L"", L"ImagePath", L"\"" + present + L"\" -service", REG_EXPAND_SZ);
    expected.push_back({1, tag + L"svc", 0x01420068, service.Path(), L"ImagePath"});

    const std::wstring brokenClass = NewGuid(guids), soundClass = NewGuid(guids);
    PlantedClass& classKey = plantClass(L"CLSID\\" + brokenClass);
    classKey.Set(L"InprocServer32", L"", missing(L"inproc.dll"));
    classKey.Set(L"InprocServer32", L"ThreadingModel", L"Both");
    classKey.Set(L"", L"", L"Orvane broken class");
    classKey.AddVariety();
    plantClass(L"CLSID\\" + soundClass).Set(L"InprocServer32", L"", present);
    expected.push_back({1, brokenClass, 0x012E006E, L"HKCR\\CLSID\\" + brokenClass + L"\\InprocServer32", L""});

    PlantedClass& progId = plantClass(tag + L".Broken");
    progId.Set(L"CLSID", L"", brokenClass);
    plantClass(tag + L".Good").Set(L"CLSID", L"", soundClass);
    expected.push_back({1, tag + L".Broken", 0x012F0069, progId.Hkcr(), L""});

    const std::wstring brokenLib = NewGuid(guids), soundLib = NewGuid(guids);
    PlantedClass& library = plantClass(L"TypeLib\\" + brokenLib);
    library.Set(L"1.0\\0\\win32", L"", missing(L"lib.tlb"));
    plantClass(L"TypeLib\\" + soundLib).Set(L"1.0\\0\\win32", L"", present);
    expected.push_back({1, brokenLib, 0x01300068, library.Hkcr() + L"\\1.0\\0\\win32", L""});

    const std::wstring brokenInterface = NewGuid(guids), soundInterface = NewGuid(guids);
    PlantedClass& iface = plantClass(L"Interface\\" + brokenInterface);
    iface.Set(L"", L"", L"I" + tag + L"Broken");
    iface.Set(L"ProxyStubClsid32", L"", brokenClass);
    PlantedClass& ifaceTwin = plantClass(L"Interface\\" + soundInterface);
    ifaceTwin.Set(L"", L"", L"I" + tag + L"Sound");
    ifaceTwin.Set(L"ProxyStubClsid32", L"", soundClass);
    expected.push_back({1, L"I" + tag + L"Broken", 0x01310069, iface.Hkcr() + L"\\ProxyStubClsid32", L"(Default)"});

    // Browser and shell extensions.
    const std::wstring extensions = L"SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\";
    const std::wstring extension = NewGuid(guids), extensionTwin = NewGuid(guids);
    Planted& userExtension = plant(HKEY_CURRENT_USER, extensions + extension);
    userExtension.Set(L"", L"Exec", missing(L"tool.exe"));
    userExtension.AddVariety();
    Planted& machineTwin = plant(HKEY_LOCAL_MACHINE, extensions + extensionTwin);
    machineTwin.Set(L"", L"Exec", missing(L"tool.exe"));
    machineTwin.Set(L"", L"ClsidExtension", soundClass);
    expected.push_back({2, extension, 0x01380068, userExtension.Path(), L"Exec"});

    // Named by a class that does not exist (and by the tag, for other tests).
    const std::wstring helper = L"{" + tag + L"Helper}";
    Planted& bho = plant(HKEY_LOCAL_MACHINE, kExplorer + L"\\Browser Helper Objects\\" + helper);
    plant(HKEY_LOCAL_MACHINE, kExplorer + L"\\Browser Helper Objects\\" + soundClass);
    expected.push_back({2, helper, 0x01380069, bho.Path(), L""});

    // Shared components: values in keys the prefix owns, and a key of its own.
    const std::wstring helpKey = L"SOFTWARE\\Microsoft\\Windows\\Help";
    const std::wstring missingFolder = L"C:\\" + tag + L"missing\\";
    std::vector<std::unique_ptr<PlantedValue>> values;
    std::vector<std::wstring> sharedKeys;
    auto plantValue = [&](HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& data) {
        values.emplace_back(new PlantedValue(root, key, name, data));
        sharedKeys.push_back((root == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"HKCU\\") + key);
    };
    plantValue(HKEY_LOCAL_MACHINE, helpKey, tag + L".hlp", missingFolder);
    plantValue(HKEY_LOCAL_MACHINE, helpKey, tag + L"present.dll", undoFolder.substr(0, undoFolder.size() - 1));
    expected.push_back({4, tag + L".hlp", 0x01320068, L"HKLM\\" + helpKey, tag + L".hlp"});

    plantValue(HKEY_LOCAL_MACHINE, kFonts, tag + L" Font", tag + L"missing.ttf");
    plantValue(HKEY_LOCAL_MACHINE, kFonts, tag + L" Font ok", present);
    expected.push_back({4, tag + L" Font", 0x01330068, L"HKLM\\" + kFonts, tag + L" Font"});

    Planted& tool = plant(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Shared Tools\\" + tag + L"tool");
    tool.Set(L"", L"Path", missing(L"tool.exe"));
    tool.AddVariety();
    plant(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Shared Tools\\" + tag + L"tool2").Set(L"", L"Path", present);
    expected.push_back({4, tag + L"tool", 0x01340068, tool.Path(), L"Path"});

    const std::wstring dlls = kVersion + L"\\SharedDlls";
    plantValue(HKEY_LOCAL_MACHINE, dlls, missing(L"shared.dll"), L"1");
    plantValue(HKEY_LOCAL_MACHINE, dlls, present, L"1");
    expected.push_back({4, missing(L"shared.dll"), 0x01350064, L"HKLM\\" + dlls, missing(L"shared.dll")});

    // Control Panel applets and uninstall entries.
    const std::wstring cpls = kVersion + L"\\Control Panel\\Cpls";
    plantValue(HKEY_LOCAL_MACHINE, cpls, tag + L"m", missing(L"m.cpl"));
    plantValue(HKEY_CURRENT_USER, cpls, tag + L"okm", present);
    expected.push_back({8, tag + L"m", 0x013E0068, L"HKLM\\" + cpls, tag + L"m"});

    Planted& app = plant(HKEY_LOCAL_MACHINE, kVersion + L"\\Uninstall\\" + tag + L"app");
    app.Set(L"", L"DisplayName", L"Orvane acceptance entry");
    app.Set(L"", L"UninstallString", L"\"" + missing(L"uninst.exe") + L"\" /remove");
    app.AddVariety();
    plant(HKEY_LOCAL_MACHINE, kVersion + L"\\Uninstall\\" + tag + L"app2")
        .Set(L"", L"UninstallString", L"\"" + present + L"\"");
    expected.push_back({8, tag + L"app", 0x01450068, app.Path(), L"UninstallString"});

    // Office add-ins: one without a ProgID, a twin whose ProgID resolves.
    const std::wstring office = L"SOFTWARE\\Microsoft\\Office\\";
    Planted& addin = plant(HKEY_CURRENT_USER, office + L"Word\\Addins\\" + tag + L".NoSuchAddin");
    plant(HKEY_CURRENT_USER, office + L"Outlook\\Addins\\" + tag + L".Good");
    expected.push_back({16, L"Word\\Addins\\" + tag + L".NoSuchAddin", 0x01370072, addin.Path(), L""});

    // The 32-bit view: a class, ProgIDs, an uninstall entry and an add-in of
    // 32-bit programs, read below Wow6432Node. The twins: a 32-bit class whose
    // module a 32-bit program finds in the system folder (SysWOW64 for it),
    // ProgIDs of either view naming a class of the other, and an add-in naming
    // a 32-bit ProgID.
    const std::wstring wow = L"SOFTWARE\\Wow6432Node\\";
    wchar_t folder[MAX_PATH] = {};
    REQUIRE(GetSystemWow64DirectoryW(folder, MAX_PATH) > 0);
    const std::wstring wowModule = std::wstring(folder) + L"\\" + tag + L"wow.dll";
    REQUIRE(GetSystemDirectoryW(folder, MAX_PATH) > 0);
    HANDLE wowFile = CreateFileW(wowModule.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(wowFile != INVALID_HANDLE_VALUE);
    CloseHandle(wowFile);
    const std::wstring wowBroken = NewGuid(guids), wowSound = NewGuid(guids);
    PlantedClass& wowClass = plantClass(L"Wow6432Node\\CLSID\\" + wowBroken);
    wowClass.Set(L"InprocServer32", L"", missing(L"wow.dll"));
    wowClass.AddVariety();
    plantClass(L"Wow6432Node\\CLSID\\" + wowSound)
        .Set(L"InprocServer32", L"", std::wstring(folder) + L"\\" + tag + L"wow.dll");
    expected.push_back({1, wowBroken, 0x012E006E, wowClass.Hkcr() + L"\\InprocServer32", L""});
    PlantedClass& wowProgId = plantClass(L"Wow6432Node\\" + tag + L".WowLost");
    wowProgId.Set(L"CLSID", L"", NewGuid(guids));
    expected.push_back({1, tag + L".WowLost", 0x012F0066, wowProgId.Hkcr(), L""});
    plantClass(L"Wow6432Node\\" + tag + L".WowGood").Set(L"CLSID", L"", wowSound);
    plantClass(tag + L".NativeOfWow").Set(L"CLSID", L"", wowSound);
    plantClass(L"Wow6432Node\\" + tag + L".WowOfNative").Set(L"CLSID", L"", soundClass);
    Planted& wowApp = plant(HKEY_LOCAL_MACHINE, wow + L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + tag + L"w");
    wowApp.Set(L"", L"UninstallString", L"\"" + missing(L"uninst32.exe") + L"\"");
    expected.push_back({8, tag + L"w", 0x01450068, wowApp.Path(), L"UninstallString"});
    // How a 32-bit program names the native system folder ("system32" is 8 letters).
    const std::wstring sysnative = std::wstring(folder, wcslen(folder) - 8) + L"Sysnative\\";
    plant(HKEY_LOCAL_MACHINE, wow + L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + tag + L"w2")
        .Set(L"", L"UninstallString", sysnative + L"notepad.exe");
    Planted& wowAddin = plant(HKEY_LOCAL_MACHINE, wow + L"Microsoft\\Office\\Word\\Addins\\" + tag + L".WowAddin");
    plant(HKEY_LOCAL_MACHINE, wow + L"Microsoft\\Office\\Word\\Addins\\" + tag + L".WowGood");
    expected.push_back({16, L"Word\\Addins\\" + tag + L".WowAddin", 0x01370072, wowAddin.Path(), L""});
    // 32-bit programs read %CommonProgramFiles% as the (x86) folder; no folder in a command is its program.
    wchar_t x86[MAX_PATH] = {};
    REQUIRE(ExpandEnvironmentStringsW(L"%CommonProgramFiles(x86)%\\", x86, MAX_PATH) > 0);
    const std::wstring x86Folder = x86 + tag + L"\\";
    CreateDirectoryW(x86Folder.c_str(), nullptr);
    CloseHandle(CreateFileW((x86Folder + L"x86.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (const wchar_t* name : {L"x86", L"x86gone"}) {
        Planted& wowTool = plant(HKEY_LOCAL_MACHINE, wow + L"Microsoft\\Shared Tools\\" + tag + name);
        wowTool.Set(L"", L"Path", L"%CommonProgramFiles%\\" + tag + L"\\" + name + L".exe", REG_EXPAND_SZ);
        wowTool.Set(L"Clients", L"", L"");
        Planted& x86Service = plant(HKEY_LOCAL_MACHINE, services + tag + name);
        x86Service.SetNumber(L"Type", 0x10);
        x86Service.Set(L"", L"ImagePath", x86Folder + name + L".exe /svc", REG_EXPAND_SZ);
    }
    expected.push_back({4, tag + L"x86gone", 0x01340068, trees.end()[-2]->Path(), L"Path"});
    expected.push_back({1, tag + L"x86gone", 0x01420068, trees.back()->Path(), L"ImagePath"});

    // Application paths and the dialog history.
    Planted& appPath = plant(HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths\\" + tag + L".exe");
    appPath.Set(L"", L"", missing(L"app.exe"));
    appPath.Set(L"", L"Path", L"C:\\" + tag + L"missing");
    appPath.AddVariety();
    plant(HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths\\" + tag + L"ok.exe").Set(L"", L"", present);
    expected.push_back({32, tag + L".exe", 0x01400068, appPath.Path(), L""});

    Planted& mru = plant(HKEY_CURRENT_USER, kExplorer + L"\\ComDlg32\\OpenSaveMRU\\" + tag);
    mru.Set(L"", L"a", missing(L"doc.txt"));
    mru.Set(L"", L"b", present);
    mru.Set(L"", L"MRUList", L"ab");
    expected.push_back({32, tag + L"\\a", 0x013F0068, mru.Path(), L"a"});

    // File associations.
    PlantedClass& fileType = plantClass(tag + L"file");
    fileType.Set(L"DefaultIcon", L"", missing(L"icon.dll") + L",0");
    fileType.Set(L"shell\\open\\command", L"", L"\"" + missing(L"app.exe") + L"\" \"%1\"");
    PlantedClass& soundType = plantClass(tag + L"file2");
    soundType.Set(L"DefaultIcon", L"", present + L",1");
    soundType.Set(L"shell\\open\\command", L"", L"\"" + present + L"\" \"%1\"");
    expected.push_back({64, tag + L"file", 0x01460068, fileType.Hkcr() + L"\\shell\\open\\command", L""});
    expected.push_back({64, tag + L"file", 0x014B0068, fileType.Hkcr() + L"\\DefaultIcon", L""});

    PlantedClass& noClass = plantClass(L"." + tag + L"a");
    noClass.Set(L"", L"", tag + L"nosuchfile");
    plantClass(L"." + tag + L"c").Set(L"", L"", tag + L"file2");
    expected.push_back({64, L"." + tag + L"a", 0x01480071, noClass.Hkcr(), L""});

    const std::wstring mimeTypes = L"MIME\\Database\\Content Type\\";
    PlantedClass& mime = plantClass(mimeTypes + L"application/x-" + tag);
    mime.Set(L"", L"Extension", L"." + tag + L"none");
    plantClass(mimeTypes + L"application/x-" + tag + L"ok").Set(L"", L"Extension", L"." + tag + L"c");
    expected.push_back({64, L"application/x-" + tag, 0x01440070, mime.Hkcr(), L""});

    // The remaining rules: menu extensions, context menu handlers, toolbar
    // buttons, explorer bars, execute hooks, user applets, reinstall entries,
    // machine add-ins, dangling class references and extensions of broken classes.
    const std::wstring explorerIe = L"SOFTWARE\\Microsoft\\Internet Explorer";
    Planted& menu = plant(HKEY_CURRENT_USER, explorerIe + L"\\MenuExt\\" + tag + L"menu");
    menu.Set(L"", L"", missing(L"menu.htm"));
    plant(HKEY_LOCAL_MACHINE, explorerIe + L"\\MenuExt\\" + tag + L"menu2").Set(L"", L"", present);
    expected.push_back({2, tag + L"menu", 0x0147006F, menu.Path(), L""});

    PlantedClass& shellType = plantClass(tag + L"shx");
    shellType.Set(L"shellex\\ContextMenuHandlers\\" + tag + L"handler", L"", brokenClass);
    shellType.Set(L"shellex\\ContextMenuHandlers\\" + tag + L"handler2", L"", soundClass);
    const std::wstring handler = shellType.Hkcr() + L"\\shellex\\ContextMenuHandlers\\" + tag + L"handler";
    expected.push_back({2, handler, 0x013D0069, handler, L""});

    const std::wstring button = L"{" + tag + L"Button}";
    plantValue(HKEY_LOCAL_MACHINE, explorerIe + L"\\Toolbar", button, L"");
    plantValue(HKEY_LOCAL_MACHINE, explorerIe + L"\\Toolbar", soundClass, L"");
    expected.push_back({2, button, 0x013A0069, L"HKLM\\" + explorerIe + L"\\Toolbar", button});

    const std::wstring bar = L"{" + tag + L"Bar}";
    Planted& barKey = plant(HKEY_CURRENT_USER, explorerIe + L"\\Explorer Bars\\" + bar);
    plant(HKEY_CURRENT_USER, explorerIe + L"\\Explorer Bars\\" + soundClass);
    expected.push_back({2, bar, 0x013B0069, barKey.Path(), L""});

    const std::wstring hook = L"{" + tag + L"Hook}";
    plantValue(HKEY_LOCAL_MACHINE, kExplorer + L"\\ShellExecuteHooks", hook, L"");
    expected.push_back({2, hook, 0x013C0069, L"HKLM\\" + kExplorer + L"\\ShellExecuteHooks", hook});

    plantValue(HKEY_CURRENT_USER, cpls, tag + L"u", missing(L"u.cpl"));
    expected.push_back({8, tag + L"u", 0x013E0068, L"HKCU\\" + cpls, tag + L"u"});

    Planted& driver = plant(HKEY_LOCAL_MACHINE, kVersion + L"\\Reinstall\\" + tag + L"drv");
    driver.Set(L"", L"ReinstallString", missing(L"drv"));
    plant(HKEY_LOCAL_MACHINE, kVersion + L"\\Reinstall\\" + tag + L"drv2").Set(L"", L"ReinstallString", present);
    expected.push_back({8, missing(L"drv"), 0x014C0068, driver.Path(), L"ReinstallString"});

    PlantedClass& brokenAddinId = plantClass(tag + L".BrokenAddin");
    brokenAddinId.Set(L"CLSID", L"", brokenClass);
    expected.push_back({1, tag + L".BrokenAddin", 0x012F0069, brokenAddinId.Hkcr(), L""});
    Planted& machineAddin = plant(HKEY_LOCAL_MACHINE, office + L"Excel\\Addins\\" + tag + L".BrokenAddin");
    expected.push_back({16, L"Excel\\Addins\\" + tag + L".BrokenAddin", 0x01370072, machineAddin.Path(), L""});

    const std::wstring referring = NewGuid(guids);
    PlantedClass& referringClass = plantClass(L"CLSID\\" + referring);
    referringClass.Set(L"InprocServer32", L"", present);
    referringClass.Set(L"ProgID", L"", tag + L".NoSuchProgId");
    expected.push_back({1, referring + L"\\ProgID", 0x012E0071, referringClass.Hkcr() + L"\\ProgID", L""});

    const std::wstring libInterface = NewGuid(guids);
    PlantedClass& ifaceLib = plantClass(L"Interface\\" + libInterface);
    ifaceLib.Set(L"", L"", L"I" + tag + L"BadLibrary");
    ifaceLib.Set(L"TypeLib", L"", brokenLib);
    expected.push_back({1, L"I" + tag + L"BadLibrary", 0x01310073, ifaceLib.Hkcr() + L"\\TypeLib", L"(Default)"});

    PlantedClass& brokenTypeId = plantClass(tag + L".BrokenType");
    brokenTypeId.Set(L"CLSID", L"", brokenClass);
    expected.push_back({1, tag + L".BrokenType", 0x012F0069, brokenTypeId.Hkcr(), L""});
    PlantedClass& badClass = plantClass(L"." + tag + L"b");
    badClass.Set(L"", L"", tag + L".BrokenType");
    expected.push_back({64, L"." + tag + L"b", 0x01480072, badClass.Hkcr(), L""});

    // Libraries by platform entry; interfaces of the first two, native and 32-bit, marshalled by them.
    const std::wstring gone = missing(L"lib.tlb");
    const std::wstring platforms[][2] = {{gone, present}, {present, gone}, {gone, gone}, {L"", gone}, {L"", present}};
    std::vector<std::wstring> libs;
    for (const auto& pair : platforms) {
        PlantedClass& lib = plantClass(L"TypeLib\\" + NewGuid(libs));
        lib.Set(L"1.0\\FLAGS", L"", L"0");
        for (int i = 0; i < 2; ++i) {
            const std::wstring entry = i ? L"1.0\\0\\win64" : L"1.0\\0\\win32";
            if (!pair[i].empty()) lib.Set(entry, L"", pair[i]);
            if (pair[i] == gone) expected.push_back({1, libs.back(), 0x01300068, lib.Hkcr() + L"\\" + entry, L""});
        }
    }
    const std::wstring proxy = NewGuid(guids);
    plantClass(L"CLSID\\" + proxy).Set(L"InprocServer32", L"", L"oleaut32.dll");
    plantClass(L"Wow6432Node\\CLSID\\" + proxy).Set(L"InprocServer32", L"", L"oleaut32.dll");
    for (int i = 0; i < 4; ++i) {
        PlantedClass& lib = plantClass((i < 2 ? L"Interface\\" : L"Wow6432Node\\Interface\\") + NewGuid(guids));
        lib.Set(L"TypeLib", L"", libs[size_t(i % 2)]);
        lib.Set(L"ProxyStubClsid32", L"", proxy);
        if (i == 1 || i == 2)
            expected.push_back({1, guids.back(), 0x01310073, lib.Hkcr() + L"\\TypeLib", L"(Default)"});
    }
    // A CurVer naming nothing is no finding; one naming a broken ProgID is, yet its holder stays good.
    plantClass(tag + L".Doc").Set(L"CurVer", L"", tag + L".Doc.9");
    plantClass(L"." + tag + L"doc").Set(L"", L"", tag + L".Doc");
    plantClass(tag + L".Cur").Set(L"CurVer", L"", tag + L".Cur.1");
    expected.push_back({1, tag + L".Cur", 0x012F0066, L"HKCR\\" + tag + L".Cur", L""});
    plantClass(tag + L".Cur.1").Set(L"CLSID", L"", NewGuid(guids));
    expected.push_back({1, tag + L".Cur.1", 0x012F0066, L"HKCR\\" + tag + L".Cur.1", L""});
    plantClass(L"." + tag + L"cur").Set(L"", L"", tag + L".Cur");
    plantClass(L"." + tag + L"cur1").Set(L"", L"", tag + L".Cur.1");
    expected.push_back({64, L"." + tag + L"cur1", 0x01480072, L"HKCR\\." + tag + L"cur1", L""});

    // Names with NUL characters.
    NulEntries nul;
    expected.push_back({128, nul.UserPath() + L"\\va(null)lue", 0x01490064, nul.UserPath(), L"va(null)lue"});
    expected.push_back({128, nul.UserPath() + L"\\su(null)bkey", 0x014A0064, nul.UserPath() + L"\\su(null)bkey", L""});
    expected.push_back({128, nul.MachinePath() + L"\\m(null)", 0x01490064, nul.MachinePath(), L"m(null)"});

    // The state that the fix and its undo must give back.
    std::vector<std::wstring> exported;
    for (const auto& tree : trees)
        exported.push_back(tree->Path());
    exported.push_back(nul.UserPath());
    exported.push_back(nul.MachinePath());
    std::vector<std::string> before, snapshots;
    for (const std::wstring& path : exported) {
        before.push_back(RegExport(path));
        REQUIRE_MESSAGE(before.back().size() > 60, Narrow(path));
    }
    for (const auto& tree : trees)
        snapshots.push_back(Snapshot(tree->Root(), tree->Relative()));
    std::vector<std::wstring> sharedBefore;
    for (const std::wstring& key : sharedKeys)
        sharedBefore.push_back(ExportedLinesWith(key, tag));
    std::vector<std::string> valuesBefore;
    for (const auto& value : values)
        valuesBefore.push_back(value->Read());
    const std::string nulBefore = nul.Read();
    REQUIRE(nulBefore.find("absent") == std::string::npos);

    auto mine = [&](const Finding& f) {
        for (const std::wstring* text : {&f.item, &f.keyPath, &f.valueName, &f.reason}) {
            if (Contains(*text, tag) || Contains(*text, nul.UserPath()))
                return true;
            for (const std::wstring& guid : guids)
                if (Contains(*text, guid))
                    return true;
        }
        return false;
    };

    Client client(undoFolder);
    bool finished = false;
    std::vector<TestSink::Call> calls = client.Scan(255, finished);
    REQUIRE(finished);
    std::vector<Finding> findings = client.Findings();
    size_t foundEvents = size_t(std::count_if(calls.begin(), calls.end(), [](const TestSink::Call& c) {
        return c.id == 1;
    }));
    CHECK(foundEvents == findings.size());

    // Each planted fault once, with its exact record; the twins give nothing.
    std::vector<long> fixIds;
    for (const Expected& e : expected) {
        CAPTURE(Narrow(e.item));
        std::vector<Finding> hits;
        for (const Finding& f : findings)
            if (Matches(f, e))
                hits.push_back(f);
        REQUIRE(hits.size() == 1);
        const Finding& f = hits[0];
        CHECK_MESSAGE(SameText(f.keyPath, e.keyPath), Describe(f));
        CHECK_MESSAGE(f.valueName == e.valueName, Describe(f));
        CHECK_MESSAGE(f.regUnion == e.bit, Describe(f));
        CHECK(f.fixId > 0);
        CHECK(std::find(fixIds.begin(), fixIds.end(), f.fixId) == fixIds.end());
        fixIds.push_back(f.fixId);
        size_t events = 0;
        for (const TestSink::Call& c : calls)
            events += c.id == 1 && c.arguments.size() == 4 && c.arguments[3] == std::to_wstring(f.fixId) &&
                      c.arguments[2] == std::to_wstring(e.errorId) && c.arguments[1] == std::to_wstring(e.bit);
        CHECK_MESSAGE(events == 1, Describe(f));
    }
    CHECK(std::any_of(findings.begin(), findings.end(),
                      [&](const Finding& f) { return f.reason == x86Folder + L"x86gone.exe"; }));
    for (const Finding& f : findings) {
        bool planted = std::any_of(expected.begin(), expected.end(), [&](const Expected& e) { return Matches(f, e); });
        if (mine(f))
            CHECK_MESSAGE(planted, "a sound twin or a duplicate: " << Describe(f));
    }

    // The prefix's own faults, each once; nothing else unexplained.
    for (const Expected& e : Baseline()) {
        CAPTURE(Narrow(e.item));
        std::vector<Finding> hits;
        for (const Finding& f : findings)
            if (Matches(f, e))
                hits.push_back(f);
        REQUIRE(hits.size() == 1);
        CHECK_MESSAGE(SameText(hits[0].keyPath, e.keyPath), Describe(hits[0]));
        CHECK_MESSAGE(hits[0].valueName == e.valueName, Describe(hits[0]));
        CHECK_MESSAGE(hits[0].regUnion == e.bit, Describe(hits[0]));
    }
    for (const Finding& f : findings) {
        bool known = std::any_of(Baseline().begin(), Baseline().end(), [&](const Expected& e) {
            return Matches(f, e);
        });
        if (!known && !mine(f) && !OtherTestsEntry(f))
            FAIL_CHECK("unexplained finding: " << Describe(f));
    }

    // One fix session for every planted fault.
    REQUIRE(client->BeginFixSession() == S_OK);
    for (long id : fixIds)
        CHECK_MESSAGE(client->FixError(id) == S_OK, id);
    REQUIRE(client->FinalizeFixSession() == S_OK);

    // Fixed: a second scan finds none of them, and the twins are still sound.
    calls = client.Scan(255, finished);
    REQUIRE(finished);
    for (const Finding& f : client.Findings())
        CHECK_MESSAGE(!mine(f), "found again after the fix: " << Describe(f));
    // No fix reaches beyond its finding: the sound twins are as they were,
    // and a working class keeps its server when only its ProgID reference is cut.
    for (size_t i = 0; i < trees.size(); ++i) {
        std::wstring name = trees[i]->Path();
        const std::wstring classes = L"HKLM\\Software\\Classes\\";
        if (SameText(name.substr(0, classes.size()), classes))
            name = L"HKCR\\" + name.substr(classes.size());
        bool touched = std::any_of(expected.begin(), expected.end(), [&](const Expected& e) {
            return SameText(e.keyPath.substr(0, name.size()), name) &&
                   (e.keyPath.size() == name.size() || e.keyPath[name.size()] == L'\\');
        });
        if (!touched)
            CHECK_MESSAGE(Snapshot(trees[i]->Root(), trees[i]->Relative()) == snapshots[i], Narrow(name));
    }
    for (size_t i = 0; i < values.size(); ++i)
        if (std::none_of(expected.begin(), expected.end(), [&](const Expected& e) {
                return e.valueName == values[i]->Name();
            }))
            CHECK_MESSAGE(values[i]->Read() == valuesBefore[i], Narrow(values[i]->Name()));
    CHECK(Snapshot(HKEY_LOCAL_MACHINE, referringClass.Relative() + L"\\ProgID") == "absent");
    CHECK(Snapshot(HKEY_LOCAL_MACHINE, referringClass.Relative() + L"\\InprocServer32") != "absent");
    CHECK(RegExport(service.Path()) != before[0]);
    CHECK(Snapshot(app.Root(), app.Relative()) == "absent");
    CHECK(nul.Read() != nulBefore);
    // Only a broken platform entry goes; a version left without one goes whole.
    auto has = [&](size_t lib, const wchar_t* sub) {
        return Snapshot(HKEY_LOCAL_MACHINE, L"Software\\Classes\\TypeLib\\" + libs[lib] + L"\\1.0" + sub) != "absent";
    };
    CHECK((!has(0, L"\\0\\win32") && has(0, L"\\0\\win64") && has(0, L"\\FLAGS")));
    CHECK((has(1, L"\\0\\win32") && !has(1, L"\\0\\win64") && !has(2, L"") && !has(3, L"") && has(4, L"")));

    // The newest undo file holds every fix; undoing all of it restores every tree.
    long files = 0;
    REQUIRE(client->GetUndoFilesCount(&files) == S_OK);
    REQUIRE(files == 1);
    DATE date = 0;
    long fixesInFile = 0;
    CHECK(client->GetUndoFileInfo(files - 1, &date, &fixesInFile) == S_OK);
    CHECK(fixesInFile == long(fixIds.size()));
    REQUIRE(client->ReadUndoFile(files - 1) == S_OK);
    long pending = 0;
    CHECK(client->get_UndoCount(&pending) == S_OK);
    CHECK(pending == long(fixIds.size()));
    // Each pending entry shows the finding it undoes.
    std::vector<size_t> shown(expected.size(), 0);
    for (long i = 1; i <= pending; ++i) {
        IqnRegRecord* r = nullptr;
        REQUIRE(client->UndoRecord(i, &r) == S_OK);
        Finding f;
        BSTR b = nullptr;
        r->get_ErrorID(&f.errorId);
        r->get_FixID(&f.fixId);
        if (r->get_Item(&b) == S_OK) f.item = Take(b);
        if (r->get_KeyPath(&b) == S_OK) f.keyPath = Take(b);
        if (r->get_ValueName(&b) == S_OK) f.valueName = Take(b);
        r->Release();
        CHECK(f.fixId == 0);
        bool known = false;
        for (size_t e = 0; e < expected.size(); ++e)
            if (Matches(f, expected[e]) && SameText(f.keyPath, expected[e].keyPath) &&
                f.valueName == expected[e].valueName) {
                ++shown[e];
                known = true;
            }
        CHECK_MESSAGE(known, Describe(f));
    }
    CHECK(std::count(shown.begin(), shown.end(), size_t(1)) == std::ptrdiff_t(expected.size()));
    IqnRegRecord* outside = nullptr;
    CHECK(client->UndoRecord(pending + 1, &outside) == HRESULT(0x80040227));
    CHECK(client->UndoFix(pending + 1) == HRESULT(0x80040227));
    CHECK(client->UndoAll() == S_OK);
    CHECK(client->FinalizeUndoSession() == S_OK);

    for (size_t i = 0; i < exported.size(); ++i)
        CHECK_MESSAGE(RegExport(exported[i]) == before[i], Narrow(exported[i]));
    for (size_t i = 0; i < trees.size(); ++i)
        CHECK_MESSAGE(Snapshot(trees[i]->Root(), trees[i]->Relative()) == snapshots[i], Narrow(trees[i]->Path()));
    for (size_t i = 0; i < sharedKeys.size(); ++i)
        CHECK_MESSAGE(ExportedLinesWith(sharedKeys[i], tag) == sharedBefore[i], Narrow(sharedKeys[i]));
    for (size_t i = 0; i < values.size(); ++i)
        CHECK(values[i]->Read() == valuesBefore[i]);
    CHECK(nul.Read() == nulBefore);

    DeleteFileW(present.c_str());
    DeleteFileW(wowModule.c_str());
    DeleteFileW((x86Folder + L"x86.exe").c_str());
    RemoveDirectoryW(x86Folder.c_str());
    values.clear();
    trees.clear();
    RemoveFolder(undoFolder);
}

TEST_CASE("engine through COM: two fix sessions make two undo files, listed oldest first, moved and undone apart") {
    RegisteredEngine engine;
    REQUIRE(engine.ExitCode() == 0);
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    const std::wstring tag = Tag() + L"two";
    const std::wstring undoFolder = UndoFolder();
    TempFolder from(tstring(undoFolder.c_str()));
    TempFolder moved(_T("e2e-moved"));
    BSTR target = SysAllocString(moved.Path().c_str());
    Planted first(HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths\\" + tag + L"first.exe");
    first.Set(L"", L"", L"C:\\" + tag + L"missing\\first.exe");
    first.AddVariety();
    Planted second(HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths\\" + tag + L"second.exe");
    second.Set(L"", L"", L"C:\\" + tag + L"missing\\second.exe");
    const std::string firstBefore = Snapshot(first.Root(), first.Relative());
    const std::string secondBefore = Snapshot(second.Root(), second.Relative());
    const std::string firstExport = RegExport(first.Path()), secondExport = RegExport(second.Path());
    {
        Client client(undoFolder);
        bool finished = false;
        client.Scan(32, finished);
        REQUIRE(finished);
        long ids[2] = {0, 0};
        for (const Finding& f : client.Findings())
            for (int i = 0; i < 2; ++i)
                if (SameText(f.keyPath, (i ? second : first).Path())) {
                    CHECK(ids[i] == 0);
                    ids[i] = f.fixId;
                }
        REQUIRE(ids[0] > 0);
        REQUIRE(ids[1] > 0);
        for (long id : ids) {
            REQUIRE(client->BeginFixSession() == S_OK);
            CHECK(client->FixError(id) == S_OK);
            if (id == ids[1]) {
                // A session still writing keeps every undo file where it is.
                CHECK(client->MoveUndoFiles(target) == HRESULT_FROM_WIN32(ERROR_BUSY));
                CHECK(LastErrorDescription() == L"Can't move UNDO files while a fix session is open");
                CHECK(from.Files().size() == 2);
                CHECK(moved.Files().empty());
            }
            REQUIRE(client->FinalizeFixSession() == S_OK);
        }
        // An application path's fix deletes the path value, not the key.
        CHECK(Snapshot(first.Root(), first.Relative()) != firstBefore);
        CHECK(Snapshot(second.Root(), second.Relative()) != secondBefore);

        // Once it is finalized, both files move and are undone from their new folder.
        const std::vector<tstring> made = from.Files();
        CHECK(client->MoveUndoFiles(target) == S_OK);
        CHECK(from.Files().empty());
        CHECK(moved.Files() == made);
        REQUIRE(client->put_UndoDirectory(target) == S_OK);
        long files = 0;
        REQUIRE(client->GetUndoFilesCount(&files) == S_OK);
        REQUIRE(files == 2);
        // The newest file holds the second session's fix only.
        REQUIRE(client->ReadUndoFile(1) == S_OK);
        long pending = 0;
        CHECK(client->get_UndoCount(&pending) == S_OK);
        CHECK(pending == 1);
        IqnRegRecord* record = nullptr;
        REQUIRE(client->UndoRecord(1, &record) == S_OK);
        BSTR keyPath = nullptr;
        record->get_KeyPath(&keyPath);
        CHECK(SameText(Take(keyPath), second.Path()));
        record->Release();
        CHECK(client->UndoAll() == S_OK);
        CHECK(client->FinalizeUndoSession() == S_OK);
        CHECK(Snapshot(second.Root(), second.Relative()) == secondBefore);
        CHECK(Snapshot(first.Root(), first.Relative()) != firstBefore);

        // The used-up file leaves the catalogue; the older one is undone entry by entry.
        REQUIRE(client->GetUndoFilesCount(&files) == S_OK);
        REQUIRE(files == 1);
        REQUIRE(client->ReadUndoFile(0) == S_OK);
        CHECK(client->UndoFix(1) == S_OK);
        CHECK(client->UndoFix(1) == E_FAIL);
        CHECK(client->FinalizeUndoSession() == S_OK);
        CHECK(Snapshot(first.Root(), first.Relative()) == firstBefore);
        CHECK(RegExport(first.Path()) == firstExport);
        CHECK(RegExport(second.Path()) == secondExport);
        REQUIRE(client->GetUndoFilesCount(&files) == S_OK);
        CHECK(files == 0);
    }
    SysFreeString(target);
}

TEST_CASE("engine through COM: sound entries in the forms that installers write give no finding") {
    RegisteredEngine engine;
    REQUIRE(engine.ExitCode() == 0);
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    const std::wstring tag = Tag() + L"ok";
    std::vector<std::wstring> guids;
    const std::wstring undoFolder = UndoFolder();
    const std::wstring helpFile = undoFolder + tag + L".hlp";
    HANDLE file = CreateFileW(helpFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);
    const std::wstring ie = L"C:\\Program Files\\Internet Explorer\\iexplore.exe";

    std::vector<std::unique_ptr<Planted>> trees;
    auto plant = [&](HKEY root, const std::wstring& path) -> Planted& {
        trees.emplace_back(new Planted(root, path));
        return *trees.back();
    };
    auto plantClass = [&](const std::wstring& relative) -> Planted& {
        return plant(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + relative);
    };
    std::vector<std::unique_ptr<PlantedValue>> values;

    // Services and drivers as setup programs register them.
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\" + tag;
    const struct {
        const wchar_t* name;
        DWORD type;
        const wchar_t* image;
    } images[] = {
        {L"svcA", 0x20, L"%SystemRoot%\\System32\\svchost.exe -k netsvcs"},
        {L"svcB", 0x10, L"C:\\windows\\system32\\svchost.exe -k LocalService"},
        {L"svcC", 0x10, L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -service"},
        {L"svcD", 0x10, L"C:\\Program Files\\Internet Explorer\\iexplore.exe -k x"},
        {L"svcE", 0x20, L"system32\\svchost.exe -k netsvcs"},
        {L"drvA", 0x1, L"system32\\drivers\\mountmgr.sys"},
        {L"drvB", 0x1, L"\\SystemRoot\\System32\\drivers\\ndis.sys"},
        {L"drvC", 0x1, L"\\??\\C:\\windows\\system32\\drivers\\http.sys"},
    };
    for (const auto& image : images) {
        Planted& service = plant(HKEY_LOCAL_MACHINE, services + image.name);
        service.SetNumber(L"Type", image.type);
        service.Set(L"", L"ImagePath", image.image, REG_EXPAND_SZ);
    }

    // Classes served by bare, expanded, quoted and argument-carrying paths.
    const std::wstring classA = NewGuid(guids), classB = NewGuid(guids), classC = NewGuid(guids),
                       classD = NewGuid(guids), classE = NewGuid(guids);
    plantClass(L"CLSID\\" + classA).Set(L"InprocServer32", L"", L"shell32.dll");
    plantClass(L"CLSID\\" + classB).Set(L"InprocServer32", L"", L"%SystemRoot%\\system32\\shell32.dll", REG_EXPAND_SZ);
    plantClass(L"CLSID\\" + classC).Set(L"LocalServer32", L"", L"\"C:\\windows\\notepad.exe\" /automation");
    plantClass(L"CLSID\\" + classD).Set(L"LocalServer32", L"", L"C:\\windows\\system32\\notepad.exe -Embedding");
    plantClass(L"CLSID\\" + classE).Set(L"InprocServer32", L"", L"\"C:\\windows\\system32\\shell32.dll\"");
    plantClass(L"CLSID\\" + NewGuid(guids)).Set(L"InprocServer32", L"", L"%SystemRoot%\\system32\\shell32.dll");
    plantClass(L"CLSID\\" + NewGuid(guids)).Set(L"LocalServer32", L"", L"C:\\Program Files\\Internet Explorer\\iexplore.exe -Embedding");
    plantClass(tag + L".A").Set(L"CLSID", L"", classA);
    plantClass(tag + L".Ver").Set(L"CurVer", L"", tag + L".Ver.1");
    plantClass(tag + L".Ver.1").Set(L"CLSID", L"", classB);
    const std::wstring library = NewGuid(guids);
    Planted& lib = plantClass(L"TypeLib\\" + library);
    lib.Set(L"1.0\\0\\win32", L"", L"C:\\windows\\system32\\stdole2.tlb");
    lib.Set(L"2.0\\409\\win32", L"", L"\"C:\\windows\\system32\\stdole2.tlb\"");
    Planted& iface = plantClass(L"Interface\\" + NewGuid(guids));
    iface.Set(L"", L"", L"I" + tag);
    iface.Set(L"ProxyStubClsid32", L"", classA);
    iface.Set(L"TypeLib", L"", library);

    // Browser and shell extensions.
    const std::wstring explorerIe = L"SOFTWARE\\Microsoft\\Internet Explorer";
    plant(HKEY_CURRENT_USER, explorerIe + L"\\Extensions\\" + NewGuid(guids)).Set(L"", L"Exec", ie);
    plant(HKEY_CURRENT_USER, explorerIe + L"\\MenuExt\\" + tag + L"menu")
        .Set(L"", L"", L"res://C:\\windows\\system32\\shell32.dll/123");
    plantClass(tag + L"type").Set(L"shellex\\ContextMenuHandlers\\" + classA, L"", L"");
    plantClass(tag + L"type").Set(L"shellex\\ContextMenuHandlers\\" + tag + L"named", L"", classE);
    plant(HKEY_LOCAL_MACHINE, kExplorer + L"\\Browser Helper Objects\\" + classC);

    // Shared components, applets, uninstall entries and add-ins.
    values.emplace_back(new PlantedValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\Help", tag + L".hlp",
                                         undoFolder));
    values.emplace_back(new PlantedValue(HKEY_LOCAL_MACHINE, kVersion + L"\\SharedDlls",
                                         L"C:\\windows\\system32\\" + tag + L"\\..\\shell32.dll", L"1"));
    plant(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Shared Tools\\" + tag + L"tool")
        .Set(L"", L"Path", L"%SystemRoot%\\system32\\notepad.exe", REG_EXPAND_SZ);
    {
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, (kVersion + L"\\Control Panel\\Cpls").c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS);
        const wchar_t applet[] = L"%SystemRoot%\\system32\\appwiz.cpl";
        RegSetValueExW(key, (tag + L"cpl").c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(applet),
                       sizeof applet);
        RegCloseKey(key);
    }
    const wchar_t* uninstallers[] = {
        L"rundll32.exe shell32.dll,Control_RunDLL appwiz.cpl",
        L"C:\\Program Files\\Internet Explorer\\iexplore.exe -uninstall",
        L"\"C:\\windows\\system32\\cmd.exe\" /c exit",
        L"%SystemRoot%\\system32\\notepad.exe /u",
    };
    int n = 0;
    for (const wchar_t* command : uninstallers)
        plant(HKEY_LOCAL_MACHINE, kVersion + L"\\Uninstall\\" + tag + std::to_wstring(++n))
            .Set(L"", L"UninstallString", command, n == 4 ? REG_EXPAND_SZ : REG_SZ);
    // A Windows Installer product's entry is the installer's to judge.
    Planted& msi = plant(HKEY_LOCAL_MACHINE, kVersion + L"\\Uninstall\\" + NewGuid(guids));
    msi.Set(L"", L"UninstallString", L"MsiExec.exe /X" + guids.back());
    msi.SetNumber(L"WindowsInstaller", 1);
    plant(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Office\\Word\\Addins\\" + tag + L".A");

    // Application paths and the dialog history.
    plant(HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths\\" + tag + L"1.exe").Set(L"", L"", ie);
    plant(HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths\\" + tag + L"2.exe").Set(L"", L"", L"\"C:\\windows\\notepad.exe\"");
    plant(HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths\\" + tag + L"3.exe")
        .Set(L"", L"", L"%SystemRoot%\\system32\\cmd.exe", REG_EXPAND_SZ);
    Planted& mru = plant(HKEY_CURRENT_USER, kExplorer + L"\\ComDlg32\\OpenSaveMRU\\" + tag);
    mru.Set(L"", L"a", L"C:\\windows\\win.ini");
    mru.Set(L"", L"MRUList", L"a");

    // File types, commands, icons, extensions and content types.
    const wchar_t* commands[] = {
        L"%SystemRoot%\\system32\\NOTEPAD.EXE %1",
        L"notepad.exe \"%1\"",
        L"rundll32.exe shell32.dll,OpenAs_RunDLL %1",
        L"C:\\Program Files\\Internet Explorer\\iexplore.exe %1",
        L"\"%1\" %*",
        L"%SystemRoot%\\system32\\notepad.exe %1",
        L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome",
        L"cmd.exe /c \"%1\" %*",
    };
    const wchar_t* icons[] = {
        L"%SystemRoot%\\system32\\shell32.dll,-3",
        L"shell32.dll,3",
        L"%1",
        L"\"C:\\windows\\notepad.exe\",0",
        L"C:\\windows\\notepad.exe",
        L"%SystemRoot%\\notepad.exe,1",
        L"C:\\Program Files\\Internet Explorer\\iexplore.exe,-1",
        L"\"%SystemRoot%\\system32\\shell32.dll\",4",
    };
    for (int i = 0; i < 8; ++i) {
        Planted& type = plantClass(tag + L"t" + std::to_wstring(i));
        type.Set(L"shell\\open\\command", L"", commands[i], i == 0 ? REG_EXPAND_SZ : REG_SZ);
        type.Set(L"DefaultIcon", L"", icons[i], i == 0 ? REG_EXPAND_SZ : REG_SZ);
    }
    plantClass(L"." + tag + L"1").Set(L"", L"", tag + L"t1");
    Planted& bare = plantClass(L"." + tag + L"2");
    bare.Set(L"", L"", L"");
    bare.Set(L"", L"Content Type", L"application/x-" + tag);
    plantClass(L"." + tag + L"3").Set(L"OpenWithProgids", tag + L"t2", L"");
    plantClass(L"MIME\\Database\\Content Type\\application/x-" + tag).Set(L"", L"Extension", L"." + tag + L"2");
    plantClass(L"MIME\\Database\\Content Type\\application/x-" + tag + L"c").Set(L"", L"CLSID", classA);

    Client client(undoFolder);
    bool finished = false;
    client.Scan(255, finished);
    REQUIRE(finished);
    for (const Finding& f : client.Findings()) {
        bool mine = false;
        for (const std::wstring* text : {&f.item, &f.keyPath, &f.valueName, &f.reason}) {
            mine = mine || Contains(*text, tag);
            for (const std::wstring& guid : guids)
                mine = mine || Contains(*text, guid);
        }
        if (mine)
            FAIL_CHECK("false finding: " << Describe(f));
    }

    RegDeleteKeyValueW(HKEY_CURRENT_USER, (kVersion + L"\\Control Panel\\Cpls").c_str(), (tag + L"cpl").c_str());
    values.clear();
    trees.clear();
    DeleteFileW(helpFile.c_str());
    RemoveFolder(undoFolder);
}

TEST_CASE("engine through COM: a paused, stopped or restarted full scan leaves one finding per fault") {
    RegisteredEngine engine;
    REQUIRE(engine.ExitCode() == 0);
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    const std::wstring undoFolder = UndoFolder();
    {
        Client client(undoFolder);
        // A scan restarted while it runs, and one stopped at once.
        CHECK(client->Scan(255) == S_OK);
        Sleep(300);
        CHECK(client->Scan(255) == S_OK);
        Sleep(300);
        CHECK(client->Stop() == S_OK);
        CHECK(client->Scan(255) == S_OK);
        CHECK(client->Stop() == S_OK);

        // Paused and resumed: it still runs to its end, and nothing of the
        // stopped scans comes after the list was emptied.
        TestSink* sink = new TestSink();
        IConnectionPointContainer* container = nullptr;
        IConnectionPoint* point = nullptr;
        DWORD cookie = 0;
        REQUIRE(client->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)) == S_OK);
        REQUIRE(container->FindConnectionPoint(DIID__ICrawlerEvents, &point) == S_OK);
        container->Release();
        REQUIRE(point->Advise(sink, &cookie) == S_OK);
        long count = 0;
        REQUIRE(client->get_Count(&count) == S_OK);
        for (; count > 0; --count)
            CHECK(client->DelRecord(count) == S_OK);
        CHECK(client->Scan(255) == S_OK);
        Sleep(200);
        CHECK(client->Pause(VARIANT_TRUE) == S_OK);
        Sleep(500);
        CHECK(client->Pause(VARIANT_FALSE) == S_OK);
        const ULONGLONG end = GetTickCount64() + 5 * 60 * 1000;
        long done = 0;
        while (done != 255 && GetTickCount64() < end) {
            Sleep(50);
            done = 0;
            for (const TestSink::Call& call : sink->Calls())
                if (call.id == 2 && call.arguments.size() == 1)
                    done |= std::stol(call.arguments[0]);
        }
        CHECK(done == 255);
        Sleep(200);
        point->Unadvise(cookie);
        point->Release();
        sink->Release();

        std::vector<Finding> findings = client.Findings();
        for (const Expected& e : Baseline()) {
            CAPTURE(Narrow(e.item));
            CHECK(std::count_if(findings.begin(), findings.end(), [&](const Finding& f) { return Matches(f, e); }) ==
                  1);
        }
        for (size_t i = 0; i < findings.size(); ++i)
            for (size_t j = i + 1; j < findings.size(); ++j)
                CHECK_MESSAGE(!(findings[i].errorId == findings[j].errorId &&
                                SameText(findings[i].keyPath, findings[j].keyPath) &&
                                findings[i].valueName == findings[j].valueName),
                              "reported twice: " << Describe(findings[i]));
    }
    RemoveFolder(undoFolder);
}
