// Results page benchmark (prints figures; not a test; scripts/benchmark-results
// runs it): plants N missing shared DLLs (default 10,000), scans them with the
// engine loaded from its DLL, then times the results page from
// "Scan_InitResult" to its last script text. The texts go to a JSON file for
// the Chromium half of the benchmark to replay.
//
//   bench_results_page.exe <scripts.json> [N]
#include <winsock2.h>  // before windows.h: the pages reach the mail client
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <fstream>
#include <string>
#include "RecordingScriptSink.h"
#include "TestSink.h"
#include "app/pages/ScanResultsPage.h"
#include "common/com/ComPtr.h"

namespace {

const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// Stamps each script text as the page runs it.
class TimingSink : public RecordingScriptSink {
public:
    HRESULT ExecScript(const wchar_t* code, const wchar_t* language) override {
        QueryPerformanceCounter(&last);
        return RecordingScriptSink::ExecScript(code, language);
    }
    LARGE_INTEGER last = {};
};

std::wstring ValueName(long i) { return L"C:\\orvane-bench\\gone\\library" + std::to_wstring(i) + L".dll"; }

void Plant(long count, bool remove) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        return;
    const DWORD one = 1;
    for (long i = 0; i < count; ++i) {
        std::wstring name = ValueName(i);
        if (remove)
            RegDeleteValueW(key, name.c_str());
        else
            RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
    RegCloseKey(key);
}

ComPtr<ICrawler> LoadEngine() {
    std::string path = "Z:" + std::string(ORVANE_ENGINE_DLL);
    HMODULE dll = LoadLibraryA(path.c_str());
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = dll ? reinterpret_cast<GetClassObject>(GetProcAddress(dll, "DllGetClassObject")) : nullptr;
    ComPtr<IClassFactory> factory;
    ComPtr<ICrawler> engine;
    if (get && SUCCEEDED(get(CLSID_CCrawler, IID_IClassFactory, factory.ReceiveVoid())))
        factory->CreateInstance(nullptr, IID_ICrawler, engine.ReceiveVoid());
    return engine;
}

// Scans the shared components and waits for their finish (bounded).
bool Scan(ICrawler* engine) {
    TestSink* sink = new TestSink();
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    engine->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid());
    if (!container || FAILED(container->FindConnectionPoint(DIID__ICrawlerEvents, point.Receive())) ||
        FAILED(point->Advise(sink, &cookie)))
        return false;
    engine->Scan(4);
    bool finished = false;
    for (int i = 0; i < 6000 && !finished; ++i) {
        Sleep(50);
        for (const auto& call : sink->Calls()) finished = finished || call.id == 2;
    }
    point->Unadvise(cookie);
    sink->Release();
    return finished;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_results_page <scripts.json> [findings]\n");
        return 2;
    }
    long count = argc > 2 ? _wtol(argv[2]) : 10000;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int result = 1;
    Plant(count, false);
    {
        ComPtr<ICrawler> engine = LoadEngine();
        long found = 0;
        if (engine && Scan(engine.Get()) && SUCCEEDED(engine->get_Count(&found))) {
            TimingSink sink;
            ScanResultsPage page;
            page.AttachControl(nullptr, 0, nullptr, &sink);
            page.SetEngine(engine.Get());
            BSTR name = SysAllocString(L"Scan_InitResult");
            BSTR element = SysAllocString(L"");
            LARGE_INTEGER frequency, start;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&start);
            page.OnHTMLEvent(nullptr, name, element, nullptr);
            double ms = double(sink.last.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
            SysFreeString(name);
            SysFreeString(element);
            size_t chars = 0;
            for (const auto& script : sink.scripts) chars += script.text.size();
            // The engine's share: the same record reads without the page.
            LARGE_INTEGER readStart, readEnd;
            QueryPerformanceCounter(&readStart);
            for (long i = 1; i <= found; ++i) {
                ComPtr<IqnRegRecord> record;
                long number = 0;
                BSTR text = nullptr;
                if (FAILED(engine->Record(i, record.Receive())) || !record) continue;
                record->get_FixID(&number);
                record->get_Item(&text);
                SysFreeString(text);
                text = nullptr;
                record->get_Reason(&text);
                SysFreeString(text);
                record->get_ErrorID(&number);
                record->get_RegUnion(&number);
            }
            QueryPerformanceCounter(&readEnd);
            double readMs = double(readEnd.QuadPart - readStart.QuadPart) * 1000.0 / double(frequency.QuadPart);
            printf("program: %ld findings, %.1f million characters of script: %.0f ms from Scan_InitResult to the last script text "
                   "(reading the records alone: %.0f ms)\n",
                   found, double(chars) / 1e6, ms, readMs);
            std::ofstream(argv[1], std::ios::binary) << sink.ToJson();
            result = 0;
        } else {
            fprintf(stderr, "the engine did not load or scan\n");
        }
    }
    Plant(count, true);
    CoUninitialize();
    return result;
}
