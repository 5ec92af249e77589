#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <sddl.h>
#include <algorithm>
#include <string>
#include <vector>
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "RegExport.h"
#include "app/OperationLock.h"
#include "app/pages/UndoPage.h"

namespace {

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

// Control Panel applets whose files are missing: faults of category 8. The
// names and paths carry quotes, markup and line breaks, which the page must
// show literally.
const std::vector<std::wstring> kFaults = {L"OvUndoA'\"</a><img src=x onerror=alert(1)>", L"OvUndoB\\&quot;",
                                           L"OvUndoC", L"OvUndoD\x2028\r\n'x"};

void Plant() { PlantCpls(kFaults); }

// The lines of an export that the other one lacks.
std::vector<std::wstring> Missing(const std::string& from, const std::string& in) {
    auto lines = [](const std::string& bytes) {
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        std::vector<std::wstring> result;
        size_t start = 0, end;
        while ((end = text.find(L"\r\n", start)) != std::wstring::npos) {
            result.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        result.push_back(text.substr(start));
        return result;
    };
    std::vector<std::wstring> have = lines(in), missing;
    for (const auto& line : lines(from))
        if (std::find(have.begin(), have.end(), line) == have.end()) missing.push_back(line);
    return missing;
}

// The key's DACL replaced by read access for everyone while it lives.
class DenyWrite {
public:
    DenyWrite() {
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCplsKey, 0, KEY_ALL_ACCESS, &key_);
        DWORD size = 0;
        RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size);
        if (RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS) saved_.clear();
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                 nullptr)) {
            RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, readOnly);
            LocalFree(readOnly);
        }
    }
    ~DenyWrite() {
        if (!saved_.empty()) RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data());
        RegCloseKey(key_);
    }
    bool Refuses() const {
        HKEY key = nullptr;
        LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCplsKey, 0, KEY_SET_VALUE, &key);
        if (result == ERROR_SUCCESS) RegCloseKey(key);
        return !saved_.empty() && result == ERROR_ACCESS_DENIED;
    }

private:
    HKEY key_ = nullptr;
    std::vector<BYTE> saved_;
};

std::wstring ValueOf(const std::wstring& name) { return CplValue(name); }

std::vector<long> FindFaults(ICrawler* engine, long above = 0) { return FindCplFaults(engine, kFaults, above); }

void MakeSession(ICrawler* engine, const std::vector<long>& ids) {
    REQUIRE(engine->BeginFixSession() == S_OK);
    for (long id : ids)
        CHECK(engine->FixError(id) == S_OK);
    REQUIRE(engine->FinalizeFixSession() == S_OK);
}

// The undo files of the folder, oldest first.
std::vector<std::wstring> UndoFiles(const std::wstring& folder) {
    std::vector<std::pair<ULONGLONG, std::wstring>> found;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + L"*.dat").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ULARGE_INTEGER created;
            created.LowPart = data.ftCreationTime.dwLowDateTime;
            created.HighPart = data.ftCreationTime.dwHighDateTime;
            found.push_back({created.QuadPart, data.cFileName});
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::wstring> names;
    for (const auto& f : found) names.push_back(f.second);
    return names;
}

// Overwrites bytes in the middle: the file's checksum no longer matches.
void Damage(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    SetFilePointer(file, LONG(GetFileSize(file, nullptr) / 2), nullptr, FILE_BEGIN);
    DWORD written = 0;
    WriteFile(file, "\xA5\x5A\xA5\x5A", 4, &written, nullptr);
    CloseHandle(file);
}

// Saves reports to a set file.
struct SavingUi : RecordingUiServices {
    BOOL SaveFileDialog(OPENFILENAMEW* request) override {
        lstrcpynW(request->lpstrFile, file.c_str(), request->nMaxFile);
        return TRUE;
    }
    std::wstring file;
};

// The key as Wine's reg.exe exports it (UTF-16 with BOM).
std::string RegExport(const std::wstring& file) {
    std::string bytes = RegExportTo(L"HKLM\\" + tstring(kCplsKey), file, "reg.exe did not start");
    REQUIRE(bytes != "reg.exe did not start");
    return bytes;
}

struct Shown {
    explicit Shown(ICrawler* engine) {
        page.AttachControl(nullptr, 0, nullptr, &sink);
        page.Refresh(engine);
    }
    void Send(const wchar_t* name, VARIANT param) { SendEvent(page, name, L"", param); }
    bool Ran(const std::wstring& part) const {
        for (const auto& s : sink.scripts)
            if (s.text.find(part) != std::wstring::npos) return true;
        return false;
    }
    RecordingScriptSink sink;
    UndoPage page;
};

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
    for (const auto& name : UndoFiles(folder))
        DeleteFileW((folder + name).c_str());
    BSTR undoFolder = SysAllocString(folder.c_str());
    engine->put_UndoDirectory(undoFolder);
    SysFreeString(undoFolder);

    Plant();
    std::string exportBefore = RegExport(folder + L"before.reg");
    REQUIRE(exportBefore.size() > 2);
    std::vector<long> ids = FindFaults(engine);
    REQUIRE(ids.size() == kFaults.size());
    MakeSession(engine, ids);
    for (const auto& fault : kFaults)
        CHECK(ValueOf(fault) == L"<gone>");
    std::string exportFixed = RegExport(folder + L"fixed.reg");

    Shown shown(engine);
    CHECK(shown.page.Titles().size() == 1);
    CHECK(shown.Ran(L"AddUndoItem(0,'"));
    CHECK(shown.sink.scripts.back().text == L"SelectUndoItem(0);");

    shown.sink.scripts.clear();
    shown.Send(L"ShowUndoData", Number(0));
    CHECK(shown.Ran(L"setCounter(4);"));
    // Replayed in the real page by its Chromium test.
    CHECK(shown.sink.CompareWithGolden("undo", "session") == "");
    CHECK(shown.sink.scripts.back().text == L"handsOn();");
    // The record texts reach the list escaped: no raw quote, tag or line break survives.
    CHECK(shown.Ran(L"OvUndoA\\'\\\"&lt;/a&gt;&lt;img src=x onerror=alert(1)&gt;"));
    CHECK(shown.Ran(L"OvUndoD\\u2028[CR][LF]"));
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
    CHECK(ReadAll(ui.file) == std::string(reinterpret_cast<const char*>(report.data()), report.size() * 2));

    // Every row unchecked but the second: exactly that fix comes back, and
    // the export differs from the fixed one by that value only.
    shown.Send(L"UndoFixes", Text(L" 1 3 4"));
    int restored = 0;
    for (const auto& fault : kFaults)
        restored += ValueOf(fault) != L"<gone>";
    CHECK(restored == 1);
    CHECK(ui.boxes.back().text == L"Selected changes have been successfully rolled back.");
    std::string exportOne = RegExport(folder + L"one.reg");
    CHECK(Missing(exportOne, exportBefore).empty());  // nothing the registry did not hold
    CHECK(Missing(exportFixed, exportOne).empty());   // nothing else came back or went
    CHECK_FALSE(Missing(exportOne, exportFixed).empty());
    // Every row unchecked: nothing is tried, and the box says so.
    shown.Send(L"ShowUndoData", Number(0));
    shown.Send(L"UndoFixes", Text(L" 1 2 3"));
    CHECK(ui.boxes.back().text ==
          L"Nothing was rolled back: no undo session is loaded, or no change of it is selected.");
    CHECK(RegExport(folder + L"none.reg") == exportOne);

    {
        // Writes to the key refused: two undos fail, then one; nothing changes.
        DenyWrite denied;
        REQUIRE(denied.Refuses());
        shown.Send(L"ShowUndoData", Number(0));
        CHECK(shown.Ran(L"setCounter(3);"));
        shown.Send(L"UndoFixes", Text(L" 3"));
        CHECK(ui.boxes.back().text ==
              L"2 issues were not restored because the registry has been significantly modified after the last fix.");
        CHECK(ui.boxes.back().caption == L"Warning");
        CHECK(ui.boxes.back().type == MB_ICONWARNING);
        shown.Send(L"ShowUndoData", Number(0));
        shown.Send(L"UndoFixes", Text(L" 2 3"));
        CHECK(ui.boxes.back().text ==
              L"1 issue was not restored because the registry has been significantly modified after the last fix.");
        CHECK(ui.boxes.back().type == MB_ICONWARNING);
        CHECK(RegExport(folder + L"denied.reg") == exportOne);
    }

    // Everything else: the registry is back byte for byte, and the used-up
    // session leaves the list.
    shown.Send(L"ShowUndoData", Number(0));
    shown.Send(L"UndoFixes", Text(L""));
    CHECK(ui.boxes.back().text == L"Selected changes have been successfully rolled back.");
    CHECK(RegExport(folder + L"after.reg") == exportBefore);
    CHECK(shown.page.Titles().empty());
    CHECK(shown.sink.scripts.back().text == L"handsOn();");
    CHECK(shown.sink.scripts[shown.sink.scripts.size() - 2].text == L"SelectUndoItem(-1);");

    // Three new sessions, listed.
    std::vector<std::vector<std::wstring>> sessionFiles;
    for (int i = 0; i < 3; ++i) {
        Plant();
        ids = FindFaults(engine, *std::max_element(ids.begin(), ids.end()));
        REQUIRE(ids.size() == kFaults.size());
        MakeSession(engine, ids);
        sessionFiles.push_back(UndoFiles(folder));
    }
    REQUIRE(sessionFiles[0].size() == 1);
    shown.Send(L"pageLoaded", Text(L""));
    REQUIRE(shown.page.Titles().size() == 3);
    CHECK(shown.sink.scripts.back().text == L"SelectUndoItem(2);");

    // The oldest file is damaged after the listing: its error in red, the
    // page usable, the operation lock free, and a scan still starts.
    Damage(folder + sessionFiles[0][0]);
    shown.Send(L"ShowUndoData", Number(0));
    CHECK(shown.Ran(L"itemsList.innerHTML=\"<H3 style='color: red'>Loading undo file: "));
    CHECK(shown.sink.scripts.back().text == L"handsOn();");
    CHECK(TryBeginOperation());
    EndOperation();
    CHECK(engine->Scan(8) == S_OK);
    engine->Stop();

    // The newest deleted: the damaged file drops out of the next listing
    // too, and the selection moves to the one that is now the last.
    ui.boxAnswer = IDOK;
    shown.Send(L"ShowUndoData", Number(2));
    shown.Send(L"DeleteSession", Text(L""));
    CHECK(ui.boxes.back().type == 0x131);
    CHECK(shown.page.Titles().size() == 1);
    CHECK(shown.sink.scripts.back().text == L"SelectUndoItem(0);");
    // The last one deleted: none is selected.
    shown.Send(L"ShowUndoData", Number(0));
    shown.Send(L"DeleteSession", Text(L""));
    CHECK(shown.page.Titles().empty());
    CHECK(shown.sink.scripts.back().text == L"SelectUndoItem(-1);");

    RemoveCpls(kFaults);
    for (const auto& name : UndoFiles(folder))
        DeleteFileW((folder + name).c_str());
}

TEST_CASE("unchecked rows: each number after one space") {
    CHECK(ParseExcluded(L" 2 5") == std::set<long>{2, 5});
    CHECK(ParseExcluded(L"").empty());
}
