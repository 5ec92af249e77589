// ScanRun: a console client of the scan engine. It creates the engine by its
// ProgID, runs a scan with progress, lists the findings, fixes them in a fix
// session and undoes them again from the undo file, all through ICrawler.
//
//   ScanRun [--mask N] [--filter TEXT] [--no-fix] [--no-undo] [--ignore]
//   ScanRun --undo-newest
//
// --filter fixes only findings whose key path or value name contains TEXT
// (any case). --ignore puts those findings on the saved ignore list instead
// of fixing them.
// --undo-newest scans nothing: it undoes every fix of the newest undo file,
// e.g. the session a scheduled scan and fix left behind.
#include <windows.h>
#include <engine/engine.h>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>
#include "EventSink.h"
#include "common/com/ComPtr.h"
#include "common/records/CheckResultCode.h"

namespace {

struct Options {
    long mask = 255;
    std::wstring filter;
    bool fix = true;
    bool undo = true;
    bool undoNewestOnly = false;
    bool ignore = false;
};

struct Finding {
    long fixId = 0;
    long errorId = 0;
    long regUnion = 0;
    std::wstring item, reason, keyPath, valueName;
};

const wchar_t* CategoryName(long bit) {
    switch (bit) {
    case 1: return L"COM and ActiveX";
    case 2: return L"Internet Explorer";
    case 4: return L"Shared components";
    case 8: return L"Uninstall and Control Panel";
    case 16: return L"Office add-ins";
    case 32: return L"MRU lists and App Paths";
    case 64: return L"File associations";
    case 128: return L"Names with NUL characters";
    default: return L"(unknown category)";
    }
}

CRITICAL_SECTION g_printLock;

void Print(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    tstring line;
    line.FormatV(format, args);
    va_end(args);
    // Console output as UTF-8 so wine's terminal shows every character.
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), &bytes[0], n, nullptr, nullptr);
    EnterCriticalSection(&g_printLock);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
    LeaveCriticalSection(&g_printLock);
}

std::wstring Take(BSTR b) {
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return s;
}

bool ContainsNoCase(std::wstring text, std::wstring part) {
    CharLowerBuffW(&text[0], DWORD(text.size()));
    CharLowerBuffW(&part[0], DWORD(part.size()));
    return text.find(part) != std::wstring::npos;
}

bool ParseOptions(int argc, wchar_t** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--mask" && i + 1 < argc)
            o.mask = wcstol(argv[++i], nullptr, 0);
        else if (a == L"--filter" && i + 1 < argc)
            o.filter = argv[++i];
        else if (a == L"--no-fix")
            o.fix = false;
        else if (a == L"--no-undo")
            o.undo = false;
        else if (a == L"--ignore")
            o.ignore = true;
        else if (a == L"--undo-newest")
            o.undoNewestOnly = true;
        else
            return false;
    }
    return o.mask > 0 && o.mask <= 255;
}

// The client lives in the multithreaded apartment, as the engine does, so the
// events arrive directly on the engine's group threads.
bool WaitUntil(const std::function<bool()>& done, DWORD limitMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limitMs)
            return false;
        Sleep(50);
    }
    return true;
}

HRESULT RunScan(ICrawler* engine, long mask) {
    ComPtr<IConnectionPointContainer> cpc;
    ComPtr<IConnectionPoint> cp;
    HRESULT hr = engine->QueryInterface(IID_IConnectionPointContainer, cpc.ReceiveVoid());
    if (SUCCEEDED(hr))
        hr = cpc->FindConnectionPoint(DIID__ICrawlerEvents, cp.Receive());
    if (FAILED(hr))
        return hr;
    EventSink* sink = new EventSink;
    std::atomic<long> pending{mask};
    std::atomic<long> lastShown[8];
    for (auto& shown : lastShown)
        shown = -100;
    std::atomic<int> found{0};
    sink->onProgress = [&](long bit, long percent) {
        for (int i = 0; i < 8; ++i)
            if (bit == (1L << i) && percent >= lastShown[i] + 10) {
                lastShown[i] = percent;
                Print(L"  %-28s %3ld%%\n", CategoryName(bit), percent);
            }
    };
    sink->onFound = [&](const wchar_t*, long, long, long) { ++found; };
    sink->onFinish = [&](long bit) {
        pending &= ~bit;
        Print(L"  %-28s done\n", CategoryName(bit));
    };
    sink->onStopped = [&] { pending = 0; };
    DWORD cookie = 0;
    hr = cp->Advise(sink, &cookie);
    sink->Release();
    if (FAILED(hr))
        return hr;
    DWORD start = GetTickCount();
    hr = engine->Scan(mask);
    if (SUCCEEDED(hr) && !WaitUntil([&] { return pending == 0; }, 30 * 60 * 1000))
        hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    cp->Unadvise(cookie);
    Print(L"Scan finished in %.1f s: %d problems reported\n\n", (GetTickCount() - start) / 1000.0, found.load());
    return hr;
}

std::vector<Finding> ReadFindings(ICrawler* engine) {
    std::vector<Finding> list;
    long count = 0;
    if (FAILED(engine->get_Count(&count)))
        return list;
    // Record indexes count from 1.
    for (long i = 1; i <= count; ++i) {
        ComPtr<IqnRegRecord> r;
        if (FAILED(engine->Record(i, r.Receive())) || !r)
            continue;
        Finding f;
        BSTR b = nullptr;
        r->get_FixID(&f.fixId);
        r->get_ErrorID(&f.errorId);
        r->get_RegUnion(&f.regUnion);
        if (SUCCEEDED(r->get_Item(&b))) f.item = Take(b);
        if (SUCCEEDED(r->get_Reason(&b))) f.reason = Take(b);
        if (SUCCEEDED(r->get_KeyPath(&b))) f.keyPath = Take(b);
        if (SUCCEEDED(r->get_ValueName(&b))) f.valueName = Take(b);
        list.push_back(f);
    }
    return list;
}

void ShowFindings(const std::vector<Finding>& list) {
    int n = 0;
    for (const Finding& f : list) {
        tstring problem = ProblemText(ProblemOf(uint32_t(f.errorId)));
        Print(L"%3d. [%s] %s\n", ++n, CategoryName(f.regUnion), problem.empty() ? L"Invalid entry" : problem.c_str());
        Print(L"     key:   %s\n", f.keyPath.c_str());
        Print(L"     value: %s\n", f.valueName.empty() ? L"(none)" : f.valueName.c_str());
        if (!f.item.empty() || !f.reason.empty())
            Print(L"     refers to: %s%s%s\n", f.item.c_str(), f.reason.empty() ? L"" : L" - ", f.reason.c_str());
    }
    if (list.empty())
        Print(L"No problems found.\n");
    Print(L"\n");
}

bool Chosen(const Finding& f, const std::wstring& filter) {
    return f.fixId != 0 &&
           (filter.empty() || ContainsNoCase(f.keyPath, filter) || ContainsNoCase(f.valueName, filter));
}

int IgnoreFindings(ICrawler* engine, const std::vector<Finding>& list, const std::wstring& filter) {
    int ignored = 0;
    for (const Finding& f : list)
        if (Chosen(f, filter) && SUCCEEDED(engine->AddToIgnoreList(f.fixId))) ++ignored;
    HRESULT hr = engine->SaveIgnore();
    Print(L"%d problems put on the ignore list (0x%08lX).\n\n", ignored, hr);
    return FAILED(hr) ? -1 : ignored;
}

int FixFindings(ICrawler* engine, const std::vector<Finding>& list, const std::wstring& filter) {
    HRESULT hr = engine->BeginFixSession();
    if (FAILED(hr)) {
        Print(L"BeginFixSession failed: 0x%08lX\n", hr);
        return -1;
    }
    int fixed = 0;
    for (const Finding& f : list) {
        if (!Chosen(f, filter))
            continue;
        hr = engine->FixError(f.fixId);
        if (SUCCEEDED(hr)) {
            ++fixed;
            Print(L"  fixed  %s%s%s\n", f.keyPath.c_str(), f.valueName.empty() ? L"" : L" : ", f.valueName.c_str());
        } else {
            Print(L"  FAILED %s (0x%08lX)\n", f.keyPath.c_str(), hr);
        }
    }
    engine->FinalizeFixSession();
    Print(L"%d problems fixed; their undo data is in the undo folder.\n\n", fixed);
    return fixed;
}

int UndoNewest(ICrawler* engine) {
    long files = 0;
    HRESULT hr = engine->GetUndoFilesCount(&files);
    if (FAILED(hr) || files == 0) {
        Print(L"No undo file found (0x%08lX).\n", hr);
        return -1;
    }
    // The catalogue lists the oldest file first; its indexes count from 0.
    const long newest = files - 1;
    hr = engine->ReadUndoFile(newest);
    if (FAILED(hr)) {
        Print(L"ReadUndoFile failed: 0x%08lX\n", hr);
        return -1;
    }
    long count = 0;
    engine->get_UndoCount(&count);
    Print(L"Undo file %ld of %ld holds %ld fixes; undoing all of them...\n", newest + 1, files, count);
    for (long i = 1; i <= count; ++i) {
        ComPtr<IqnRegRecord> r;
        BSTR key = nullptr;
        if (SUCCEEDED(engine->UndoRecord(i, r.Receive())) && r && SUCCEEDED(r->get_KeyPath(&key)))
            Print(L"  restore %s\n", Take(key).c_str());
    }
    hr = engine->UndoAll();
    engine->FinalizeUndoSession();
    Print(hr == S_OK ? L"All fixes undone.\n" : L"Undo reported 0x%08lX.\n", hr);
    return SUCCEEDED(hr) ? int(count) : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    InitializeCriticalSection(&g_printLock);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Print(L"usage: ScanRun [--mask 1-255] [--filter TEXT] [--no-fix] [--no-undo] [--ignore] | --undo-newest\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    int rc = 0;
    {
        CLSID clsid;
        ComPtr<ICrawler> engine;
        HRESULT hr = CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid);
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ICrawler, engine.ReceiveVoid());
        if (FAILED(hr)) {
            Print(L"Cannot create OrvaneEngine.Crawler (0x%08lX); is OrvaneEngine.dll registered?\n", hr);
            CoUninitialize();
            return 1;
        }
        if (options.undoNewestOnly) {
            int undone = UndoNewest(engine);
            engine.Release();
            CoUninitialize();
            return undone < 0 ? 1 : 0;
        }
        Print(L"Scanning (categories mask %ld)...\n", options.mask);
        hr = RunScan(engine, options.mask);
        if (FAILED(hr)) {
            Print(L"Scan failed: 0x%08lX\n", hr);
            rc = 1;
        }
        std::vector<Finding> findings = ReadFindings(engine);
        ShowFindings(findings);
        if (rc == 0 && options.ignore) {
            if (IgnoreFindings(engine, findings, options.filter) < 0)
                rc = 1;
        } else if (rc == 0 && options.fix) {
            int fixed = FixFindings(engine, findings, options.filter);
            if (fixed < 0)
                rc = 1;
            else if (fixed > 0 && options.undo && UndoNewest(engine) < 0)
                rc = 1;
        }
    }
    CoUninitialize();
    return rc;
}
