#include "EngineTestSupport.h"
#include "TestSink.h"
#include <doctest/doctest.h>
#include <oleauto.h>
#include <winternl.h>
#include <cstdint>
#include <string>
#include "common/archive/Crc32.h"
#include "common/settings/AppFolders.h"
#include "engine/com/ListLock.h"
#include "HeldFile.h"
#include "ScriptHost.h"
#include "../scan/test_ignore_files.h"
#include "StartProcess.h"
#include "TestLimits.h"
#include <fstream>
#include <thread>
#include <vector>

namespace {

const HRESULT kUnknownItem = HRESULT(0x80040227);

struct MultiThreaded {
    MultiThreaded() { hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~MultiThreaded() {
        if (SUCCEEDED(hr))
            CoUninitialize();
    }
    HRESULT hr;
};

template <class T>
struct Held {
    T* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    ~Held() { Reset(); }
    void Reset() {
        if (p)
            p->Release();
        p = nullptr;
    }
    T** out() {
        Reset();
        return &p;
    }
    T* operator->() const { return p; }
};

struct Text {
    BSTR b = nullptr;
    Text() = default;
    explicit Text(const std::wstring& s) : b(SysAllocStringLen(s.data(), UINT(s.size()))) {}
    ~Text() { SysFreeString(b); }
    BSTR* out() {
        SysFreeString(b);
        b = nullptr;
        return &b;
    }
    std::wstring str() const { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
};

// The bytes of an ignore file: the check value, then the body.
struct FileBytes {
    std::string body;
    FileBytes& Byte(uint8_t v) {
        body.push_back(char(v));
        return *this;
    }
    FileBytes& Int(int32_t v) {
        body.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
    FileBytes& Str(const std::wstring& s) {
        Int(int32_t(s.size() * 2));
        body.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
        return *this;
    }
    FileBytes& Full(const std::wstring& key, const std::wstring& value, const std::wstring& reason,
                    const std::wstring& item, int32_t errorId) {
        return Byte(0).Str(key).Str(value).Str(reason).Str(item).Int(errorId);
    }
    std::string Bytes() const {
        uint32_t crc = Crc32::Of(body.data(), body.size());
        return std::string(reinterpret_cast<const char*>(&crc), 4) + body;
    }
};

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &n, nullptr) && n)
        bytes.append(chunk, n);
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    CloseHandle(file);
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"orvane-comrecords-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
}

// The engine keeps its user list in the shared data folder: the test puts
// back what was there before it.
class UserListGuard {
public:
    UserListGuard() : path_(GetIgnoreFilePath(false, false)), saved_(ReadBytes(path_)), existed_(Exists()) {}
    ~UserListGuard() {
        if (existed_)
            WriteBytes(path_, saved_);
        else
            DeleteFileW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }

private:
    bool Exists() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::wstring path_;
    std::string saved_;
    bool existed_;
};

void Create(Held<ICrawler>& crawler) {
    CLSID clsid = {};
    REQUIRE(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid) == S_OK);
    REQUIRE(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler,
                             reinterpret_cast<void**>(crawler.out())) == S_OK);
}

long IgnoreCount(ICrawler* crawler) {
    long count = -1;
    CHECK(crawler->get_IgnoreCount(&count) == S_OK);
    return count;
}

std::wstring KeyOf(ICrawler* crawler, long index) {
    Held<IqnRegRecord> record;
    Text key;
    if (crawler->IgnoreRecord(index, record.out()) != S_OK || !record.p)
        return L"?";
    record->get_KeyPath(key.out());
    return key.str();
}

}  // namespace

TEST_CASE("The ignore list through the engine: import, list, remove, save, export") {
    RegisteredEngine engine;
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    UserListGuard guard;
    std::wstring importPath = TempFile(L"import.dat");
    std::wstring exportPath = TempFile(L"export.dat");

    Held<ICrawler> crawler;
    Create(crawler);
    CHECK(crawler->DismissIgnoreList() == S_OK);
    CHECK(crawler->SaveIgnore() == S_OK);
    CHECK(ReadBytes(guard.Path()) == std::string(4, '\0'));
    CHECK(IgnoreCount(crawler.p) == 0);

    FileBytes file;
    file.Full(L"HKCR\\CLSID\\{A}", L"", L"missing server", L"{A}", 0x012C0064);
    file.Byte(1).Str(L"HKLM\\short").Str(L"v");
    file.Full(L"HKCU\\Software\\Run", L"Tool", L"no file", L"tool.exe", 0x012D0065);
    WriteBytes(importPath, file.Bytes());
    Text importName(importPath);
    CHECK(crawler->ImportIgnoreList(importName.b) == S_OK);
    CHECK(crawler->ImportIgnoreList(importName.b) == S_OK);
    REQUIRE(IgnoreCount(crawler.p) == 2);

    SUBCASE("each record object carries the record and no union or FixID") {
        Held<IqnRegRecord> record;
        REQUIRE(crawler->IgnoreRecord(2, record.out()) == S_OK);
        Text item, reason, key, value;
        long errorId = 0, fixId = -1, regUnion = -1;
        record->get_Item(item.out());
        record->get_Reason(reason.out());
        record->get_KeyPath(key.out());
        record->get_ValueName(value.out());
        record->get_ErrorID(&errorId);
        record->get_FixID(&fixId);
        record->get_RegUnion(&regUnion);
        CHECK(item.str() == L"tool.exe");
        CHECK(reason.str() == L"no file");
        CHECK(key.str() == L"HKCU\\Software\\Run");
        CHECK(value.str() == L"Tool");
        CHECK(errorId == 0x012D0065);
        CHECK(fixId == 0);
        CHECK(regUnion == 0);
        Held<IqnRegRecord> first;
        REQUIRE(crawler->IgnoreRecord(1, first.out()) == S_OK);
        Text emptyValue;
        first->get_ValueName(emptyValue.out());
        CHECK(emptyValue.b != nullptr);
        CHECK(emptyValue.str().empty());
    }
    SUBCASE("indexes count from 1") {
        Held<IqnRegRecord> record;
        CHECK(crawler->IgnoreRecord(0, record.out()) == kUnknownItem);
        CHECK(record.p == nullptr);
        CHECK(crawler->IgnoreRecord(3, record.out()) == kUnknownItem);
        CHECK(crawler->IgnoreRecord(1, nullptr) == E_FAIL);
        CHECK(crawler->get_IgnoreCount(nullptr) == E_FAIL);
        CHECK(crawler->RemoveFromIgnoreList(0) == E_FAIL);
        CHECK(crawler->RemoveFromIgnoreList(3) == E_FAIL);
        CHECK(IgnoreCount(crawler.p) == 2);
        CHECK(crawler->RemoveFromIgnoreList(1) == S_OK);
        CHECK(IgnoreCount(crawler.p) == 1);
        CHECK(KeyOf(crawler.p, 1) == L"HKCU\\Software\\Run");
        // The removed entry is new again to an import.
        CHECK(crawler->ImportIgnoreList(importName.b) == S_OK);
        CHECK(IgnoreCount(crawler.p) == 2);
        CHECK(KeyOf(crawler.p, 2) == L"HKCR\\CLSID\\{A}");
    }
    SUBCASE("the import saved the user file, which a new engine object reads") {
        Held<ICrawler> second;
        Create(second);
        CHECK(IgnoreCount(second.p) == 2);
        CHECK(KeyOf(second.p, 1) == L"HKCR\\CLSID\\{A}");
    }
    SUBCASE("export writes the list as the user file holds it") {
        Text exportName(exportPath);
        CHECK(crawler->ExportIgnoreList(exportName.b) == S_OK);
        CHECK(ReadBytes(exportPath) == ReadBytes(guard.Path()));
        Text badExport(TempFile(L"no-such-folder\\export.dat"));
        HRESULT hr = crawler->ExportIgnoreList(badExport.b);
        CHECK(FAILED(hr));
        Text noName;
        CHECK(FAILED(crawler->ExportIgnoreList(noName.b)));
    }
    SUBCASE("damaged files import nothing and report S_FALSE") {
        std::string good = FileBytes().Full(L"HKCU\\new", L"", L"", L"", 1).Bytes();
        std::string flipped = good;
        flipped[6] ^= 0x20;
        std::string crafted = FileBytes().Byte(0).Int(0x7FFFFFF0).Bytes();
        for (const std::string& bytes : {flipped, good.substr(0, good.size() - 1), crafted, std::string("\1")}) {
            WriteBytes(importPath, bytes);
            CHECK(crawler->ImportIgnoreList(importName.b) == S_FALSE);
        }
        Text missing(TempFile(L"absent.dat"));
        CHECK(crawler->ImportIgnoreList(missing.b) == S_FALSE);
        CHECK(IgnoreCount(crawler.p) == 2);
    }
    SUBCASE("dismissing empties the list; saving writes that") {
        CHECK(crawler->DismissIgnoreList() == S_OK);
        CHECK(IgnoreCount(crawler.p) == 0);
        CHECK(crawler->SaveIgnore() == S_OK);
        CHECK(ReadBytes(guard.Path()) == std::string(4, '\0'));
    }
    crawler.Reset();
    DeleteFileW(importPath.c_str());
    DeleteFileW(exportPath.c_str());
}

TEST_CASE("A missing user ignore file is created empty by a new engine object") {
    RegisteredEngine engine;
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    UserListGuard guard;
    DeleteFileW(guard.Path().c_str());
    Held<ICrawler> crawler;
    Create(crawler);
    CHECK(ReadBytes(guard.Path()) == std::string(4, '\0'));
    CHECK(IgnoreCount(crawler.p) == 0);
}

namespace {
DWORD WINAPI HoldMutex(void* parameter) {
    HANDLE* handles = static_cast<HANDLE*>(parameter);
    WaitForSingleObject(handles[0], testlimit::kStep);
    SetEvent(handles[1]);
    WaitForSingleObject(handles[2], testlimit::kStep);
    ReleaseMutex(handles[0]);
    return 0;
}
}  // namespace

TEST_CASE("A list lock that cannot be had is an error, never a silent success") {
    SUBCASE("a wait that fails") {
        CHECK_THROWS_AS(ListLock{nullptr}, ErrorBase);
    }
    SUBCASE("a mutex held elsewhere past the wait") {
        HANDLE handles[3] = {NewListMutex(), CreateEventW(nullptr, TRUE, FALSE, nullptr),
                             CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        HANDLE thread = CreateThread(nullptr, 0, HoldMutex, handles, 0, nullptr);
        REQUIRE(WaitForSingleObject(handles[1], 10000) == WAIT_OBJECT_0);
        int32_t code = 0;
        try {
            ListLock hold(handles[0]);
        } catch (const ErrorBase& e) {
            code = e.Code();
        }
        CHECK(code == int32_t(0x800705B4));
        SetEvent(handles[2]);
        testlimit::Join(thread, testlimit::kStep, "the thread that holds the list mutex");
        CloseHandle(thread);
        // Free again, the lock is had at once.
        CHECK_NOTHROW(ListLock{handles[0]});
        for (HANDLE h : handles)
            CloseHandle(h);
    }
}

TEST_CASE("A record object from IgnoreCount outlives a rebuild of the list") {
    RegisteredEngine engine;
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    UserListGuard guard;
    std::wstring importPath = TempFile(L"outlive.dat");
    WriteBytes(importPath, FileBytes().Full(L"HKCU\\kept", L"", L"", L"", 2).Bytes());

    Held<ICrawler> crawler;
    Create(crawler);
    CHECK(crawler->DismissIgnoreList() == S_OK);
    Text name(importPath);
    REQUIRE(crawler->ImportIgnoreList(name.b) == S_OK);
    REQUIRE(IgnoreCount(crawler.p) == 1);
    Held<IqnRegRecord> record;
    REQUIRE(crawler->IgnoreRecord(1, record.out()) == S_OK);
    CHECK(crawler->DismissIgnoreList() == S_OK);
    CHECK(IgnoreCount(crawler.p) == 0);
    Text key;
    CHECK(record->get_KeyPath(key.out()) == S_OK);
    CHECK(key.str() == L"HKCU\\kept");
    CHECK(crawler->SaveIgnore() == S_OK);
    crawler.Reset();
    DeleteFileW(importPath.c_str());
}

TEST_CASE("Findings are named by FixID; 0 and unknown FixIDs name none") {
    RegisteredEngine engine;
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    Held<ICrawler> crawler;
    Create(crawler);

    CHECK(crawler->AddToIgnoreList(0) == kUnknownItem);
    CHECK(crawler->AddToIgnoreList(123456) == kUnknownItem);

    // A pointer the caller did not clear comes back cleared when nothing matches.
    IqnRegRecord* record = reinterpret_cast<IqnRegRecord*>(uintptr_t(0x10));
    CHECK(crawler->RecordByFixID(77, &record) == S_OK);
    CHECK(record == nullptr);
    CHECK(crawler->RecordByFixID(77, nullptr) == E_FAIL);
}

namespace {

// A value whose name holds a NUL: only the native registry functions can
// make one, and the engine's embedded-NUL scan reports it.
struct NulValueKey {
    std::wstring subKey;
    explicit NulValueKey(const std::wstring& tag) : subKey(L"Software\\OrvaneTest\\records\\" + tag) {
        RegDeleteTreeW(HKEY_CURRENT_USER, subKey.c_str());
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr) == ERROR_SUCCESS);
        using SetValue = LONG(NTAPI*)(HANDLE, UNICODE_STRING*, ULONG, ULONG, PVOID, ULONG);
        auto set = reinterpret_cast<SetValue>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey"));
        REQUIRE(bool(set));
        wchar_t name[] = {L'v', 0, L'x'};
        UNICODE_STRING counted = {USHORT(sizeof(name)), USHORT(sizeof(name)), name};
        wchar_t data[] = L"data";
        LONG status = set(key, &counted, 0, REG_SZ, data, sizeof(data));
        RegCloseKey(key);
        REQUIRE(status == 0);
    }
    ~NulValueKey() { RegDeleteTreeW(HKEY_CURRENT_USER, subKey.c_str()); }
};

// Scans the NUL names and waits for the group's end.
void ScanNulNames(ICrawler* crawler, TestSink* sink) {
    size_t before = sink->Calls().size();
    REQUIRE(crawler->Scan(128) == S_OK);
    for (int waited = 0; waited < 1200; ++waited) {
        auto calls = sink->Calls();
        for (size_t i = before; i < calls.size(); ++i)
            if (calls[i].id == 2 && !calls[i].arguments.empty() && calls[i].arguments[0] == L"128")
                return;
        Sleep(100);
    }
    FAIL("the scan did not end");
}

// The FixID of the found record whose key path ends in tail; 0 when none.
long FixIdOfFinding(ICrawler* crawler, const std::wstring& tail) {
    long count = 0;
    crawler->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        Held<IqnRegRecord> record;
        if (crawler->Record(i, record.out()) != S_OK)
            continue;
        Text key;
        record->get_KeyPath(key.out());
        std::wstring k = key.str();
        if (k.size() >= tail.size() && _wcsicmp(k.c_str() + k.size() - tail.size(), tail.c_str()) == 0) {
            long fixId = 0;
            record->get_FixID(&fixId);
            return fixId;
        }
    }
    return 0;
}

}  // namespace

TEST_CASE("A finding moved to the ignore list leaves the found list and is not found again") {
    RegisteredEngine engine;
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    UserListGuard guard;
    std::wstring tag = L"ignore-" + std::to_wstring(GetCurrentProcessId());
    NulValueKey planted(tag);

    Held<ICrawler> crawler;
    Create(crawler);
    CHECK(crawler->DismissIgnoreList() == S_OK);
    TestSink* sink = new TestSink();
    Held<IConnectionPointContainer> container;
    REQUIRE(crawler->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.out())) ==
            S_OK);
    Held<IConnectionPoint> point;
    REQUIRE(container->FindConnectionPoint(DIID__ICrawlerEvents, point.out()) == S_OK);
    DWORD cookie = 0;
    REQUIRE(point->Advise(sink, &cookie) == S_OK);

    ScanNulNames(crawler.p, sink);
    long fixId = FixIdOfFinding(crawler.p, L"\\" + tag);
    REQUIRE(fixId != 0);
    long count = 0;
    crawler->get_Count(&count);

    CHECK(crawler->AddToIgnoreList(fixId) == S_OK);
    long after = 0;
    crawler->get_Count(&after);
    CHECK(after == count - 1);
    Held<IqnRegRecord> gone;
    CHECK(crawler->RecordByFixID(fixId, gone.out()) == S_OK);
    CHECK(gone.p == nullptr);
    // Its fix entry went with it.
    CHECK(crawler->AddToIgnoreList(fixId) == kUnknownItem);
    REQUIRE(IgnoreCount(crawler.p) == 1);
    CHECK(_wcsicmp(KeyOf(crawler.p, 1).c_str(), (L"HKCU\\" + planted.subKey).c_str()) == 0);

    ScanNulNames(crawler.p, sink);
    CHECK(FixIdOfFinding(crawler.p, L"\\" + tag) == 0);

    point->Unadvise(cookie);
    CHECK(crawler->DismissIgnoreList() == S_OK);
    sink->Release();
}

using ignoretest::StoredKeyText;

// Another process, a script host through the engine's COM face, shares the
// user's list: a first read that meets it busy must not wipe it, and neither
// object's save may write over the other's records.
TEST_CASE("engine through COM: a held first read and another process's records survive the saves") {
    RegisteredEngine engine;
    MultiThreaded mta;
    REQUIRE(SUCCEEDED(mta.hr));
    UserListGuard guard;
    WriteBytes(guard.Path(), FileBytes()
                                 .Full(L"HKCU\\kept1", L"", L"r1", L"i1", 0x012C0064)
                                 .Full(L"HKCU\\kept2", L"v", L"r2", L"i2", 0x012D0065)
                                 .Bytes());

    SUBCASE("held without sharing while the host's engine loads, let go before its save") {
        HeldFile held(guard.Path());
        REQUIRE(held.Held());
        ScriptHost host(TempFile(L""), L"", L"try { e.SaveIgnore(); WScript.Echo('saved'); } catch (x) { WScript.Echo('refused'); }\n"
                        L"WScript.Echo('count=' + e.IgnoreCount);");
        CHECK_MESSAGE(host.WaitReady(), "the script host never made its engine object");
        held.Release();
        host.Go();
        CHECK(host.output.find("saved") != std::string::npos);
        CHECK(host.output.find("count=2") != std::string::npos);
        CHECK(StoredKeyText(ReadBytes(guard.Path())) == "HKCU\\kept1 HKCU\\kept2");
    }
    SUBCASE("the host imports a record after this object loaded; this object saves its own") {
        Held<ICrawler> crawler;
        Create(crawler);
        std::wstring theirs = TempFile(L"theirs.dat"), mine = TempFile(L"mine.dat");
        WriteBytes(theirs, FileBytes().Full(L"HKCU\\addedByP2", L"", L"", L"", 0x012E0066).Bytes());
        WriteBytes(mine, FileBytes().Full(L"HKCU\\mine", L"", L"", L"", 0x012F0067).Bytes());
        {
            ScriptHost host(TempFile(L""), L"", L"WScript.Echo('import=' + e.ImportIgnoreList(" + ScriptLiteral(theirs) + L"));");
            CHECK_MESSAGE(host.WaitReady(), "the script host never made its engine object");
        }
        CHECK(StoredKeyText(ReadBytes(guard.Path())) == "HKCU\\kept1 HKCU\\kept2 HKCU\\addedByP2");
        Text mineName(mine);
        CHECK(crawler->ImportIgnoreList(mineName.b) == S_OK);
        CHECK(crawler->RemoveFromIgnoreList(1) == S_OK);
        CHECK(crawler->SaveIgnore() == S_OK);
        CHECK(StoredKeyText(ReadBytes(guard.Path())) == "HKCU\\kept2 HKCU\\addedByP2 HKCU\\mine");
        CHECK(IgnoreCount(crawler.p) == 3);
        CHECK(KeyOf(crawler.p, 2) == L"HKCU\\addedByP2");
        DeleteFileW(theirs.c_str());
        DeleteFileW(mine.c_str());
    }
}
