#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>
#include <string>
#include <vector>
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "app/pages/SettingsPage.h"

namespace {

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
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

// Answers the folder picker with a set folder and the file dialogs with a set path.
struct PickingUi : RecordingUiServices {
    PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW* request) override {
        flags = request->ulFlags;
        return folder.empty() ? nullptr : ILCreateFromPathW(folder.c_str());
    }
    int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override {
        int answer = RecordingUiServices::ShowMessage(owner, text, caption, type);
        if (next < answers.size()) answer = answers[next++];
        return answer;
    }
    BOOL OpenFileDialog(OPENFILENAMEW* request) override { return Answer(request); }
    BOOL SaveFileDialog(OPENFILENAMEW* request) override { return Answer(request); }
    BOOL Answer(OPENFILENAMEW* request) {
        dialogFlags = request->Flags;
        if (file.empty()) return FALSE;
        lstrcpynW(request->lpstrFile, file.c_str(), request->nMaxFile);
        return TRUE;
    }
    std::wstring folder, file;
    std::vector<int> answers;  // taken in turn before boxAnswer
    size_t next = 0;
    UINT flags = 0;
    DWORD dialogFlags = 0;
};

struct ShownPage {
    explicit ShownPage(ICrawler* engine) {
        apply = sink.Add(sink.body, L"apply");
        page.AttachControl(nullptr, 0, nullptr, &sink);
        page.SetEngine(engine);
    }
    void Send(const wchar_t* name, VARIANT param) {
        BSTR n = SysAllocString(name), e = SysAllocString(L"");
        page.OnHTMLEvent(nullptr, n, e, &param);
        SysFreeString(n);
        SysFreeString(e);
        VariantClear(&param);
    }
    bool ApplyEnabled() const { return !apply->attributes.count(L"DISABLED"); }
    bool Ran(const std::wstring& text) const {
        for (const auto& s : sink.scripts)
            if (s.text == text) return true;
        return false;
    }
    RecordingScriptSink sink;
    std::shared_ptr<FakeElement> apply;
    SettingsPage page;
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

std::wstring UndoDirectory(ICrawler* engine) {
    BSTR text = nullptr;
    engine->get_UndoDirectory(&text);
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    return result;
}

}  // namespace

TEST_CASE("settings: edits reach the engine only on apply, both drive boxes off stay off") {
    ComApartment com;
    PickingUi ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    ShownPage shown(engine);
    shown.Send(L"pageLoaded", Text(L""));
    CHECK_FALSE(shown.ApplyEnabled());
    CHECK(shown.sink.scripts.at(0).text == L"DelAllIgnore();");

    shown.Send(L"SkipParams", Number(0));
    CHECK(shown.ApplyEnabled());
    long mask = 0;
    engine->get_SkipScanDrives(&mask);
    CHECK((mask & 6) == 6);  // not before apply

    CreateDirectoryW(L"C:\\users\\O'Brien", nullptr);
    CreateDirectoryW(L"C:\\users\\O'Brien\\x1", nullptr);
    ui.folder = L"C:\\users\\O'Brien\\x1";
    shown.Send(L"BrowseForFolder", Text(L"undoPath"));
    CHECK(ui.flags == 0x49);
    CHECK(shown.sink.scripts.back().text ==
          L"document.getElementById('undoPath').value='C:\\\\users\\\\O\\'Brien\\\\x1\\\\';");
    std::wstring before = UndoDirectory(engine);

    SUBCASE("Cancel to moving the undo files keeps everything pending") {
        ui.boxAnswer = IDCANCEL;
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(ui.boxes.back().text == L"Do you want to move UNDO files into the new directory?");
        CHECK(shown.page.IsModified());
        CHECK(UndoDirectory(engine) == before);
        // Yes to saving, then Cancel to moving: the answer is Cancel, edits kept.
        ui.answers = {IDYES, IDCANCEL};
        CHECK(shown.page.AskSaveChanges(nullptr) == IDCANCEL);
        CHECK(ui.boxes[ui.boxes.size() - 2].text == L"Settings have been modified.\nDo you want to save changes?");
        CHECK(shown.page.IsModified());
    }
    SUBCASE("Yes moves the files; a fresh engine reads the applied values") {
        ui.boxAnswer = IDYES;
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(ui.boxes.back().text == L"All files were moved successfully");
        CHECK_FALSE(shown.page.IsModified());
        CHECK_FALSE(shown.ApplyEnabled());
        ComPtr<ICrawler> fresh = LoadEngine();
        CHECK(UndoDirectory(fresh) == L"C:\\users\\O'Brien\\x1\\");
        fresh->get_SkipScanDrives(&mask);
        CHECK((mask & 6) == 0);
        // The same folder in another case and without the backslash is no move.
        size_t asked = ui.boxes.size();
        ui.folder = L"C:\\USERS\\o'brien\\X1";
        shown.Send(L"BrowseForFolder", Text(L"undoPath"));
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(ui.boxes.size() == asked);
        // Reset brings the defaults back as pending values.
        shown.Send(L"configurationReset", Text(L""));
        CHECK(shown.page.PendingSkipMask() == 6);
        CHECK(shown.page.IsModified());
        CHECK(shown.Ran(L"document.getElementById('netshares').checked = true; "
                        L"document.getElementById('removable').checked = true; "));
        ui.boxAnswer = IDNO;
        CHECK(shown.page.AskSaveChanges(nullptr) == IDNO);
        CHECK_FALSE(shown.page.IsModified());
        BSTR home = SysAllocString(before.c_str());
        engine->put_UndoDirectory(home);
        SysFreeString(home);
        engine->put_SkipScanDrives(6);
    }
}

TEST_CASE("ignore list: numbers out of range mark nothing, a damaged import changes nothing") {
    ComApartment com;
    PickingUi ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    ShownPage shown(engine);
    shown.page.SetIgnoreMode(true);
    CHECK(shown.page.HelpContextId() == 10);
    shown.Send(L"pageLoaded", Text(L""));
    long count = 0;
    engine->get_IgnoreCount(&count);
    shown.Send(L"DeleteSelected", Text(L"0 -3 99999"));
    CHECK_FALSE(shown.page.IsModified());
    CHECK_FALSE(shown.page.Marked(0));

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    ui.file = std::wstring(temp) + L"damaged-ignore.dat";
    HANDLE file = CreateFileW(ui.file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "not an ignore list at all", 25, &written, nullptr);
    CloseHandle(file);
    shown.Send(L"ImportIgnoreList", Text(L""));
    CHECK(ui.dialogFlags == 0x800);
    REQUIRE_FALSE(ui.boxes.empty());
    CHECK(ui.boxes.back().text == L"Wrong file format or file was corrupted");
    long after = 0;
    engine->get_IgnoreCount(&after);
    CHECK(after == count);
    DeleteFileW(ui.file.c_str());
}
