#include "common/system/FileSystem.h"
#include "StartProcess.h"
#include "EngineTestSupport.h"
#include "TestSink.h"
#include <doctest/doctest.h>
#include <olectl.h>
#include <oleauto.h>
#include <winternl.h>
#include <algorithm>
#include <string>
#include <vector>
#include "TestLimits.h"

// A scan, a fix and its undo through the registered engine, driven from a
// single-threaded apartment whose sink receives the events. The broken
// entries are names with an embedded NUL under HKCU\Software\OrvaneTest\control,
// which the whole-hive walk of group 128 finds wherever they are.

namespace {

const HRESULT kNoSuchFile = HRESULT(0x80040228);

typedef LONG(NTAPI* NtCreateKeyFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING, ULONG,
                                    PULONG);
typedef LONG(NTAPI* NtSetValueKeyFn)(HANDLE, PUNICODE_STRING, ULONG, ULONG, PVOID, ULONG);
typedef LONG(NTAPI* NtOpenKeyFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);

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

// HKCU\Software\OrvaneTest\control\com-<pid>-<name>, holding the value
// "va<NUL>lue" and the key "su<NUL>bkey" with a value inside.
class NulTree {
public:
    explicit NulTree(const wchar_t* name) {
        wchar_t text[160];
        swprintf(text, 160, L"Software\\OrvaneTest\\control\\com-%u-%ls", unsigned(GetCurrentProcessId()), name);
        relative_ = text;
        RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str());
        HKEY parent = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, relative_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent,
                        nullptr);
        std::wstring valueName(L"va\0lue", 6);
        UNICODE_STRING counted = Counted(valueName);
        const wchar_t data[] = L"broken";
        Native<NtSetValueKeyFn>("NtSetValueKey")(parent, &counted, 0, REG_SZ, const_cast<wchar_t*>(data),
                                                 sizeof(data));
        std::wstring keyName(L"su\0bkey", 7);
        UNICODE_STRING countedKey = Counted(keyName);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &countedKey, OBJ_CASE_INSENSITIVE, parent, nullptr);
        HANDLE child = nullptr;
        ULONG disposition = 0;
        Native<NtCreateKeyFn>("NtCreateKey")(&child, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition);
        if (child) {
            const wchar_t inner[] = L"inside";
            RegSetValueExW(static_cast<HKEY>(child), L"Inner", 0, REG_SZ, reinterpret_cast<const BYTE*>(inner),
                           sizeof(inner));
            CloseHandle(child);
        }
        RegCloseKey(parent);
    }
    // The Win32 functions cannot name the NUL subkey, so RegDeleteTree alone
    // would leave the tree behind for every later walk of group 128.
    ~NulTree() {
        HKEY parent = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, relative_.c_str(), 0, KEY_ALL_ACCESS, &parent) == ERROR_SUCCESS) {
            std::wstring keyName(L"su\0bkey", 7);
            UNICODE_STRING countedKey = Counted(keyName);
            OBJECT_ATTRIBUTES attributes;
            InitializeObjectAttributes(&attributes, &countedKey, OBJ_CASE_INSENSITIVE, parent, nullptr);
            HANDLE child = nullptr;
            if (Native<NtOpenKeyFn>("NtOpenKey")(&child, KEY_ALL_ACCESS, &attributes) == 0 && child) {
                Native<NtDeleteKeyFn>("NtDeleteKey")(child);
                CloseHandle(child);
            }
            RegCloseKey(parent);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, relative_.c_str());
    }

    std::wstring Path() const { return L"HKCU\\" + relative_; }
    // The subkeys and values as the Win32 functions count them.
    std::pair<DWORD, DWORD> Counts() const {
        HKEY key = nullptr;
        DWORD keys = 99, values = 99;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, relative_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr);
            RegCloseKey(key);
        }
        return {keys, values};
    }
    std::string Export(const std::wstring& file) const {
        DeleteFileW(file.c_str());
        std::wstring command = L"reg.exe export \"HKCU\\" + relative_ + L"\" \"" + file + L"\" /y";
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        std::string bytes;
        if (!CreateProcessRetrying(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &process))
            return bytes;
        testlimit::Wait(process.hProcess, 60000, "reg.exe export");
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return bytes;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(handle, buffer, sizeof(buffer), &read, nullptr) && read)
            bytes.append(buffer, read);
        CloseHandle(handle);
        DeleteFileW(file.c_str());
        return bytes;
    }

private:
    std::wstring relative_;
};

std::wstring TempFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t text[MAX_PATH + 64];
    swprintf(text, MAX_PATH + 64, L"%lsorvane-control-com-%ls-%u\\", temp, name, unsigned(GetCurrentProcessId()));
    CreateDirectoryW(text, nullptr);
    return text;
}

// folder ends with "\"; the library's own deletion takes the bare path.
void RemoveFolder(const std::wstring& folder) {
    DeletePath(tstring(folder.substr(0, folder.size() - 1)));
}

template <class T>
void Release(T*& p) {
    if (p)
        p->Release();
    p = nullptr;
}

ICrawler* CreateCrawler(const std::wstring& undoFolder) {
    ICrawler* crawler = nullptr;
    if (FAILED(CoCreateInstance(CLSID_CCrawler, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler,
                                reinterpret_cast<void**>(&crawler))))
        return nullptr;
    // The test prefix's settings file stays as it is.
    crawler->put_UseFile(0);
    BSTR folder = SysAllocString(undoFolder.c_str());
    crawler->put_UndoDirectory(folder);
    SysFreeString(folder);
    return crawler;
}

bool AdviseSink(ICrawler* crawler, IDispatch* sink, IConnectionPoint*& point, DWORD& cookie) {
    IConnectionPointContainer* container = nullptr;
    if (FAILED(crawler->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
        return false;
    HRESULT hr = container->FindConnectionPoint(DIID__ICrawlerEvents, &point);
    container->Release();
    return SUCCEEDED(hr) && SUCCEEDED(point->Advise(sink, &cookie));
}

// Pumps the apartment's messages until the sink has the finish of group 128.
bool PumpUntilFinished(TestSink* sink, DWORD timeoutMs) {
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ULONGLONG end = GetTickCount64() + timeoutMs;
    bool finished = false;
    while (!finished && GetTickCount64() < end) {
        PumpUntil(never, 50);
        for (const auto& call : sink->Calls())
            finished = finished || (call.id == 2 && call.arguments == std::vector<std::wstring>{L"128"});
    }
    CloseHandle(never);
    return finished;
}

// Reads the found list while it handles each finding, as a client showing the
// finding's record does. The call goes through the proxy to another thread.
class ReadingSink : public TestSink {
public:
    explicit ReadingSink(ICrawler* crawler) : crawler_(crawler) {}
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override {
        HRESULT hr = TestSink::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
        if (id == 1) {
            ULONGLONG start = GetTickCount64();
            LONG count = 0;
            HRESULT read = crawler_->get_Count(&count);
            slowest = std::max(slowest, DWORD(GetTickCount64() - start));
            if (FAILED(read) || count < 1)
                failedReads++;
        }
        return hr;
    }
    DWORD slowest = 0;
    int failedReads = 0;

private:
    ICrawler* crawler_;
};

struct ScanContext {
    const NulTree* tree = nullptr;
    std::wstring treePath;
    std::wstring undoFolder;
    DWORD thread = 0;
    bool created = false, advised = false, finished = false;
    std::vector<TestSink::Call> calls;
    long fixIds[2] = {0, 0};
    HRESULT recordByFixId = E_FAIL;
    std::wstring recordKeyPath;
    HRESULT stop = E_FAIL, fixWithoutSession = S_OK, begin = E_FAIL, beginAgain = S_OK, fix[2] = {E_FAIL, E_FAIL},
            fixAgain = S_OK, finalize = E_FAIL;
    std::pair<DWORD, DWORD> countsAfterFix{0, 0};
    HRESULT filesCount = E_FAIL;
    long files = 0;
    HRESULT info = E_FAIL;
    long fixesInFile = 0;
    HRESULT readOutside = S_OK, read = E_FAIL, undoCount = E_FAIL, undoRecord = E_FAIL, undoAll = E_FAIL,
            finalizeUndo = E_FAIL, undoWithoutSession = S_OK;
    long pending = 0;
    std::wstring undoKeyPath;
    HRESULT emptyScan = E_FAIL, fixAllEmpty = E_FAIL;
    bool emptyReport = false;
    DWORD slowestRead = 0;
    int failedReads = -1;
    HRESULT pause = E_FAIL, resume = E_FAIL;
};

void ScanFixUndo(void* parameter) {
    auto* c = static_cast<ScanContext*>(parameter);
    c->thread = GetCurrentThreadId();
    ICrawler* crawler = CreateCrawler(c->undoFolder);
    c->created = crawler != nullptr;
    if (!crawler)
        return;
    ReadingSink* sink = new ReadingSink(crawler);
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    c->advised = AdviseSink(crawler, sink, point, cookie);

    crawler->Scan(128);
    // The embedded-NUL walk has no pause point: it runs on to its end.
    c->pause = crawler->Pause(VARIANT_TRUE);
    c->finished = PumpUntilFinished(sink, 100000);
    c->resume = crawler->Pause(1);
    c->stop = crawler->Stop();
    c->calls = sink->Calls();
    c->slowestRead = sink->slowest;
    c->failedReads = sink->failedReads;
    for (const auto& call : c->calls) {
        if (call.id != 1 || call.arguments.size() != 4 || call.arguments[0].rfind(c->treePath, 0) != 0)
            continue;
        bool isKey = call.arguments[0].find(L"su(null)bkey") != std::wstring::npos;
        c->fixIds[isKey ? 1 : 0] = std::stol(call.arguments[3]);
    }
    IqnRegRecord* record = nullptr;
    c->recordByFixId = crawler->RecordByFixID(c->fixIds[1], &record);
    if (record) {
        BSTR keyPath = nullptr;
        record->get_KeyPath(&keyPath);
        c->recordKeyPath = keyPath ? keyPath : L"";
        SysFreeString(keyPath);
        Release(record);
    }

    c->fixWithoutSession = crawler->FixError(c->fixIds[0]);
    c->begin = crawler->BeginFixSession();
    c->beginAgain = crawler->BeginFixSession();
    c->fix[0] = crawler->FixError(c->fixIds[0]);
    c->fix[1] = crawler->FixError(c->fixIds[1]);
    c->fixAgain = crawler->FixError(c->fixIds[1]);
    c->finalize = crawler->FinalizeFixSession();
    c->countsAfterFix = c->tree->Counts();

    c->filesCount = crawler->GetUndoFilesCount(&c->files);
    DATE date = 0;
    c->info = crawler->GetUndoFileInfo(0, &date, &c->fixesInFile);
    c->undoWithoutSession = crawler->UndoFix(1);
    c->readOutside = crawler->ReadUndoFile(c->files);
    c->read = crawler->ReadUndoFile(0);
    c->undoCount = crawler->get_UndoCount(&c->pending);
    c->undoRecord = crawler->UndoRecord(1, &record);
    if (record) {
        BSTR keyPath = nullptr;
        record->get_KeyPath(&keyPath);
        c->undoKeyPath = keyPath ? keyPath : L"";
        SysFreeString(keyPath);
        Release(record);
    }
    c->undoAll = crawler->UndoAll();
    c->finalizeUndo = crawler->FinalizeUndoSession();

    // A scan of nothing empties the fix map; fixing all of it fixes nothing.
    c->emptyScan = crawler->Scan(0);
    crawler->BeginFixSession();
    BSTR report = nullptr;
    c->fixAllEmpty = crawler->FixAllErrors(&report);
    c->emptyReport = report && SysStringLen(report) == 0;
    SysFreeString(report);
    crawler->FinalizeFixSession();

    BSTR empty = SysAllocString(L"");
    crawler->put_UndoDirectory(empty);
    SysFreeString(empty);
    if (point) {
        point->Unadvise(cookie);
        Release(point);
    }
    Release(crawler);
    sink->Release();
}

struct StopContext {
    std::wstring undoFolder;
    bool created = false;
    HRESULT scan = E_FAIL, stop = E_FAIL;
    size_t foundAtStop = 0, foundLater = 0;
    bool releasedWhileScanning = false;
    DWORD stopMs = 0;
};

void StopAndRelease(void* parameter) {
    auto* c = static_cast<StopContext*>(parameter);
    ICrawler* crawler = CreateCrawler(c->undoFolder);
    c->created = crawler != nullptr;
    if (!crawler)
        return;
    TestSink* sink = new TestSink();
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    AdviseSink(crawler, sink, point, cookie);
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    c->scan = crawler->Scan(128);
    PumpUntil(never, 100);
    ULONGLONG start = GetTickCount64();
    c->stop = crawler->Stop();
    c->stopMs = DWORD(GetTickCount64() - start);
    auto count = [sink] {
        auto calls = sink->Calls();
        return size_t(std::count_if(calls.begin(), calls.end(), [](const TestSink::Call& call) {
            return call.id == 1;
        }));
    };
    c->foundAtStop = count();
    PumpUntil(never, 300);
    c->foundLater = count();

    // The last reference goes while a scan runs: the object stops it first.
    crawler->Scan(128);
    PumpUntil(never, 50);
    point->Unadvise(cookie);
    Release(point);
    Release(crawler);
    c->releasedWhileScanning = true;
    CloseHandle(never);
    sink->Release();
}

}  // namespace

TEST_CASE("engine through COM: a scan's events reach a single-threaded sink; fix and undo restore the tree") {
    RegisteredEngine engine;
    REQUIRE(engine.ExitCode() == 0);
    NulTree tree(L"scan");
    ScanContext c;
    c.tree = &tree;
    c.treePath = tree.Path();
    c.undoFolder = TempFolder(L"scan");
    const std::wstring exportFile = c.undoFolder + L"export.reg";
    std::string before = tree.Export(exportFile);
    REQUIRE(before.size() > 50);
    REQUIRE(tree.Counts() == std::make_pair(DWORD(1), DWORD(1)));

    RunInApartment(COINIT_APARTMENTTHREADED, ScanFixUndo, &c);
    REQUIRE(c.created);
    REQUIRE(c.advised);
    CHECK(c.pause == S_OK);
    CHECK(c.finished);
    CHECK(c.resume == S_OK);
    CHECK(c.stop == S_OK);

    // Every event arrived on the sink's own thread.
    bool progress = false;
    for (const auto& call : c.calls) {
        CHECK(call.thread == c.thread);
        progress = progress || call.id == 3;
    }
    CHECK(progress);
    // The found list is free while a finding's event is handled.
    CHECK(c.failedReads == 0);
    CHECK(c.slowestRead < 5000);
    REQUIRE(c.fixIds[0] > 0);
    REQUIRE(c.fixIds[1] > 0);
    CHECK(c.recordByFixId == S_OK);
    CHECK(c.recordKeyPath == tree.Path() + L"\\su(null)bkey");

    CHECK(c.fixWithoutSession == E_FAIL);
    CHECK(c.begin == S_OK);
    CHECK(c.beginAgain == E_FAIL);
    CHECK(c.fix[0] == S_OK);
    CHECK(c.fix[1] == S_OK);
    CHECK(c.fixAgain == HRESULT(0x80040227));
    CHECK(c.finalize == S_OK);
    CHECK(c.countsAfterFix == std::make_pair(DWORD(0), DWORD(0)));

    CHECK(c.filesCount == S_OK);
    CHECK(c.files == 1);
    CHECK(c.info == S_OK);
    CHECK(c.fixesInFile == 2);
    CHECK(c.undoWithoutSession == E_FAIL);
    CHECK(c.readOutside == kNoSuchFile);
    CHECK(c.read == S_OK);
    CHECK(c.undoCount == S_OK);
    CHECK(c.pending == 2);
    CHECK(c.undoRecord == S_OK);
    CHECK(c.undoKeyPath == tree.Path());
    CHECK(c.undoAll == S_OK);
    CHECK(c.finalizeUndo == S_OK);
    CHECK(c.emptyScan == S_OK);
    CHECK(c.fixAllEmpty == S_OK);
    CHECK(c.emptyReport);

    CHECK(tree.Counts() == std::make_pair(DWORD(1), DWORD(1)));
    CHECK(tree.Export(exportFile) == before);
    RemoveFolder(c.undoFolder);
}

TEST_CASE("engine through COM: Stop ends the scan and its findings; the last release stops a running scan") {
    RegisteredEngine engine;
    REQUIRE(engine.ExitCode() == 0);
    NulTree tree(L"stop");
    StopContext c;
    c.undoFolder = TempFolder(L"stop");
    RunInApartment(COINIT_APARTMENTTHREADED, StopAndRelease, &c);
    REQUIRE(c.created);
    CHECK(c.scan == S_OK);
    CHECK(c.stop == S_OK);
    CHECK(c.stopMs < 6000);
    CHECK(c.foundLater == c.foundAtStop);
    CHECK(c.releasedWhileScanning);
    RemoveFolder(c.undoFolder);
}
