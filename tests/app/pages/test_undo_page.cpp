#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <string>
#include <vector>
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "app/pages/UndoPage.h"

namespace {

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

ComPtr<ICrawler> LoadEngine() {
    std::string path = "Z:" + std::string(ORVANE_ENGINE_DLL);
    HMODULE dll = LoadLibraryA(path.c_str());
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(GetProcAddress(dll, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    ComPtr<ICrawler> engine;
    if (get && SUCCEEDED(get(CLSID_CCrawler, IID_IClassFactory, factory.ReceiveVoid())))
        factory->CreateInstance(nullptr, IID_ICrawler, engine.ReceiveVoid());
    return engine;
}

const wchar_t kCpls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls";

// Control Panel applets whose files are missing: faults of category 8. The
// names carry quotes and markup, which the page must show literally.
const std::vector<std::wstring> kFaults = {L"OvUndoA'\"</a><img src=x onerror=alert(1)>", L"OvUndoB\\&quot;",
                                           L"OvUndoC"};

std::wstring ValueOf(const std::wstring& name) {
    wchar_t data[512] = {};
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kCpls, name.c_str(), RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<gone>";
    return data;
}

std::wstring TakeBstr(BSTR text) {
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    return result;
}

// Scans category 8 until every planted fault is listed; their FixIDs (above
// those of an earlier scan, which the list may still hold).
std::vector<long> FindFaults(ICrawler* engine, long above = 0) {
    REQUIRE(engine->Scan(8) == S_OK);
    std::vector<long> ids;
    for (int tries = 0; tries < 600 && ids.size() < kFaults.size(); ++tries) {
        Sleep(100);
        ids.clear();
        long count = 0;
        engine->get_Count(&count);
        for (long i = 1; i <= count; ++i) {
            ComPtr<IqnRegRecord> record;
            if (FAILED(engine->Record(i, record.Receive())))
                continue;
            BSTR item = nullptr;
            record->get_Item(&item);
            std::wstring text = TakeBstr(item);
            for (const auto& fault : kFaults)
                if (text.find(fault) != std::wstring::npos) {
                    long id = 0;
                    record->get_FixID(&id);
                    if (id > above)
                        ids.push_back(id);
                }
        }
    }
    engine->Stop();
    return ids;
}

// Saves reports to a set file.
struct SavingUi : RecordingUiServices {
    BOOL SaveFileDialog(OPENFILENAMEW* request) override {
        lstrcpynW(request->lpstrFile, file.c_str(), request->nMaxFile);
        return TRUE;
    }
    std::wstring file;
};

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const wchar_t* p = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
        text = p;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

struct Shown {
    explicit Shown(ICrawler* engine) {
        page.AttachControl(nullptr, 0, nullptr, &sink);
        page.Refresh(engine);
    }
    void Send(const wchar_t* name, VARIANT param) {
        BSTR n = SysAllocString(name), e = SysAllocString(L"");
        page.OnHTMLEvent(nullptr, n, e, &param);
        SysFreeString(n);
        SysFreeString(e);
        VariantClear(&param);
    }
    bool Ran(const std::wstring& part) const {
        for (const auto& s : sink.scripts)
            if (s.text.find(part) != std::wstring::npos) return true;
        return false;
    }
    RecordingScriptSink sink;
    UndoPage page;
};

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

VARIANT Number(int value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

}  // namespace

TEST_CASE("undo page: a fix session is listed, shown, undone one fix and then the rest") {
    ComApartment com;
    SavingUi ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"undo-page-test\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    BSTR undoFolder = SysAllocString(folder.c_str());
    engine->put_UndoDirectory(undoFolder);
    SysFreeString(undoFolder);

    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCpls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    for (const auto& fault : kFaults) {
        std::wstring data = L"C:\\ovundo-missing\\" + fault.substr(0, 7) + L".cpl";
        RegSetValueExW(key, fault.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);

    std::vector<long> ids = FindFaults(engine);
    REQUIRE(ids.size() == kFaults.size());
    long sessionsBefore = 0;
    engine->GetUndoFilesCount(&sessionsBefore);
    REQUIRE(engine->BeginFixSession() == S_OK);
    for (long id : ids)
        CHECK(engine->FixError(id) == S_OK);
    REQUIRE(engine->FinalizeFixSession() == S_OK);
    for (const auto& fault : kFaults)
        CHECK(ValueOf(fault) == L"<gone>");

    Shown shown(engine);
    CHECK(shown.page.Titles().size() == size_t(sessionsBefore + 1));
    CHECK(shown.Ran(L"AddUndoItem(" + std::to_wstring(sessionsBefore) + L",'"));
    CHECK(shown.sink.scripts.back().text == L"SelectUndoItem(" + std::to_wstring(sessionsBefore) + L");");

    shown.sink.scripts.clear();
    shown.Send(L"ShowUndoData", Number(sessionsBefore));
    CHECK(shown.Ran(L"setCounter(3);"));
    // Replayed in the real page by its Chromium test.
    CHECK(shown.sink.CompareWithGolden("undo", "session") == "");
    CHECK(shown.sink.scripts.back().text == L"handsOn();");
    // The record texts reach the list escaped: no raw quote or tag survives.
    CHECK(shown.Ran(L"OvUndoA\\'\\\"&lt;/a&gt;&lt;img src=x onerror=alert(1)&gt;"));
    for (const auto& s : shown.sink.scripts)
        CHECK(JScriptParseError(s.text) == L"");

    // A fix's information page opens; a number outside the session opens nothing.
    shown.Send(L"WebInfo", Number(2));
    shown.Send(L"WebInfo", Number(99));
    REQUIRE(ui.executes.size() == 1);
    CHECK(ui.executes[0].verb == L"open");
    CHECK(ui.executes[0].file.find(L"/info.html") != std::wstring::npos);

    // The session's report: on the clipboard and in a UTF-16LE file without BOM.
    shown.Send(L"CONTROL_C", Text(L"Windows 7"));
    std::wstring report = ClipboardText();
    CHECK(report.find(L"Running on Windows 7\r\n") != std::wstring::npos);
    CHECK(report.find(L"Control Panel\r\n-----") != std::wstring::npos);
    CHECK(report.find(kFaults[0]) != std::wstring::npos);
    ui.file = folder + L"report.txt";
    shown.Send(L"SaveReport", Text(L"Windows 7"));
    CHECK(FileBytes(ui.file) == std::string(reinterpret_cast<const char*>(report.data()), report.size() * 2));

    // Rows 1 and 3 unchecked: exactly one fix comes back.
    shown.Send(L"UndoFixes", Text(L" 1 3"));
    int restored = 0;
    for (const auto& fault : kFaults)
        restored += ValueOf(fault) != L"<gone>";
    CHECK(restored == 1);
    CHECK(ui.boxes.back().text == L"Selected changes have been successfully rolled back.");

    // The session again, everything else: all values are back.
    shown.Send(L"ShowUndoData", Number(sessionsBefore));
    shown.Send(L"UndoFixes", Text(L""));
    for (const auto& fault : kFaults)
        CHECK(ValueOf(fault).find(L"C:\\ovundo-missing\\") == 0);

    // A damaged session file shows its error in red and leaves the page usable.
    shown.Send(L"ShowUndoData", Number(9999));
    CHECK(shown.Ran(L"<H3 style='color: red'>Loading undo file: "));
    CHECK(shown.sink.scripts.back().text == L"handsOn();");

    // A new session, deleted: the selection moves to the new last one.
    ids = FindFaults(engine, *std::max_element(ids.begin(), ids.end()));
    REQUIRE(ids.size() == kFaults.size());
    REQUIRE(engine->BeginFixSession() == S_OK);
    for (long id : ids)
        engine->FixError(id);
    REQUIRE(engine->FinalizeFixSession() == S_OK);
    ui.boxAnswer = IDOK;
    long before = 0;
    engine->GetUndoFilesCount(&before);
    shown.Send(L"ShowUndoData", Number(before - 1));
    shown.Send(L"DeleteSession", Text(L""));
    CHECK(ui.boxes.back().type == 0x131);
    long after = 0;
    engine->GetUndoFilesCount(&after);
    CHECK(after == before - 1);
    CHECK(shown.sink.scripts.back().text == L"SelectUndoItem(" + std::to_wstring(after - 1) + L");");

    for (const auto& fault : kFaults)
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCpls, fault.c_str());
}

TEST_CASE("unchecked rows: each number after one space") {
    CHECK(ParseExcluded(L" 2 5") == std::set<long>{2, 5});
    CHECK(ParseExcluded(L"").empty());
}
