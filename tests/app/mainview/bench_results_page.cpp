// Results page benchmark (prints figures; not a test; scripts/benchmark-results
// runs it): plants N missing shared DLLs (default 10,000), scans them with the
// registered engine, then times the results page from
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
#include "PageTestSupport.h"
#include "RecordingScriptSink.h"
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

// As the main view has it: by its ProgID from the UI thread's apartment, so
// that every call crosses to the engine's free-threaded objects.
ComPtr<ICrawler> CreateEngine() {
    CLSID clsid;
    ComPtr<ICrawler> engine;
    if (SUCCEEDED(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid)))
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler, engine.ReceiveVoid());
    return engine;
}

// Wine's type library marshaler looks only under the neutral locale, where
// Windows falls back to the registered 0x409: the engine's calls from this
// apartment need that entry under Wine.
void AddNeutralLocaleEntry() {
    const wchar_t library[] = L"TypeLib\\{7BAD77B0-1397-4787-B963-DBF7F5C5757A}\\1.0";
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = sizeof path;
    if (RegGetValueW(HKEY_CLASSES_ROOT, (std::wstring(library) + L"\\409\\win64").c_str(), nullptr, RRF_RT_REG_SZ,
                     nullptr, path, &size) == ERROR_SUCCESS)
        RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(library) + L"\\0\\win64").c_str(), nullptr, REG_SZ, path,
                        size);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_results_page <scripts.json> [findings] (the engine registered)\n");
        return 2;
    }
    long count = argc > 2 ? _wtol(argv[2]) : 10000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = 1;
    Plant(count, false);
    AddNeutralLocaleEntry();
    {
        ComPtr<ICrawler> engine = CreateEngine();
        long found = 0;
        // Each finding's event crosses into this apartment: allow minutes.
        if (engine && ScanToFinish(engine.Get(), 4, 600000, true) && SUCCEEDED(engine->get_Count(&found))) {
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
            printf("program: %ld findings, %.1f million characters of script: %.0f ms from Scan_InitResult to the last "
                   "script text\n",
                   found, double(chars) / 1e6, ms);
            std::ofstream(argv[1], std::ios::binary) << sink.ToJson();
            result = 0;
        } else {
            fprintf(stderr, engine ? "the scan did not finish\n" : "no engine: is it registered?\n");
        }
    }
    Plant(count, true);
    CoUninitialize();
    return result;
}
