#include "app/pages/EmergencyDiskPage.h"
#include <objbase.h>
#include <commdlg.h>
#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cwchar>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/html/ScriptText.h"
#include "app/html/VariantText.h"
#include "app/OperationLock.h"
#include "app/pages/FolderPicker.h"
#include "bootdisk/AnswerFile.h"
#include "bootdisk/CdRecord.h"
#include "bootdisk/PeBuilder.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/FileSystem.h"

namespace {

const wchar_t kCaption[] = L"QUARN Orvane";
const wchar_t kUnknownError[] = L"Error was occured";
const wchar_t kBusy[] = L"Another operation is in progress. Please try again when it has finished.";
const wchar_t kIsoFilter[] = L"ISO-files (*.iso)\0*.iso\0All files(*.*)\0*.*\0\0";
const DWORD kIsoDialogFlags = 0x806;  // path must exist, overwrite prompt, hide read-only
const wchar_t kScrollDown[] = L"consoleOutput.doScroll(\"scrollbarPageDown\");";
const wchar_t kScrollEnd[] = L"consoleOutput.scrollTop = consoleOutput.scrollHeight;";

[[noreturn]] void Fail(const wchar_t* text) { throw ErrorBase(E_FAIL, text); }

// The fields of an event parameter, split at line feeds; missing ones are empty.
std::vector<tstring> Fields(const tstring& text, size_t count) {
    std::vector<tstring> fields;
    size_t start = 0;
    while (fields.size() + 1 < count) {
        size_t end = text.find(L'\n', start);
        if (end == tstring::npos) break;
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    fields.push_back(start <= text.size() ? text.substr(start) : tstring());
    fields.resize(count);
    return fields;
}

tstring WithoutTrailingSlash(tstring folder) {
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

bool IsFolder(const tstring& path) { return !path.empty() && PathIsDirectoryW(path.c_str()); }

// The builder plug-in that ships beside the program.
tstring PluginSource() {
    tstring path = GetModulePath();
    size_t slash = path.find_last_of(L'\\');
    return path.substr(0, slash == tstring::npos ? 0 : slash) + L"\\PEBuilder Plugin";
}

// The line of a device option: escaped, leading blanks dropped.
tstring OptionText(const tstring& text) {
    tstring escaped = EscapeScriptString(text);
    size_t first = escaped.find_first_not_of(L' ');
    return first == tstring::npos ? tstring() : escaped.substr(first);
}

// A piece of burn output inside a double-quoted literal: backspaces as
// blanks, tabs as escapes, and a run of 13 blanks (the tool's progress
// padding) as a line break.
tstring OutputLiteral(const tstring& piece) {
    tstring text = EscapeScriptString(piece);
    text.Replace(L"\b", L" ");
    text.Replace(L"\t", L"\\t");
    text.Replace(L"             ", L"\\n");
    return text;
}

}  // namespace

EmergencyDiskPage::~EmergencyDiskPage() {
    // The window waits for a build before it closes; an end of the process
    // in the middle of one must not leave the thread on a dead page.
    if (builder_) {
        WaitForSingleObject(builder_, INFINITE);
        CloseHandle(builder_);
    }
}

int EmergencyDiskPage::OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR, VARIANT* param) {
    try {
        if (IsEvent(eventName, L"Emergency_OnLoad"))
            Load();
        else if (IsEvent(eventName, L"OnEmergencyDisk"))
            StartBuild(ParamText(param));
        else if (IsEvent(eventName, L"BrowseForFolder"))
            BrowseForFolder(ParamText(param));
        else if (IsEvent(eventName, L"BrowseForFile"))
            BrowseForFile();
        else if (IsEvent(eventName, L"BurnSelected"))
            ScanDevices(ParamText(param));
        else if (IsEvent(eventName, L"BurnCD"))
            Burn(ParamText(param));
        else if (IsEvent(eventName, L"BuilderFinish")) {
            // Only the builder thread's post ends a build, never page script.
            if (!document) FinishBuild(param);
        } else
            return 1;
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Emergency disk page: %s", e.Message().c_str());
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Emergency disk page: unexpected failure");
    }
    return 0;
}

ComPtr<ICrawler> EmergencyDiskPage::Engine() {
    if (engine_) return engine_;
    ComPtr<ICrawler> engine;
    CLSID clsid;
    if (SUCCEEDED(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid)))
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler, engine.ReceiveVoid());
    return engine;
}

void EmergencyDiskPage::ShowError(const tstring& text) {
    ShowMessageBox(GetMainWindow(), text.empty() ? kUnknownError : text.c_str(), kCaption, MB_ICONERROR);
}

void EmergencyDiskPage::Load() {
    HWND main = GetMainWindow();
    EnableWindow(main, FALSE);
    EnableControl(false);
    struct Reenable {
        EmergencyDiskPage* page;
        HWND main;
        ~Reenable() {
            page->EnableControl(true);
            EnableWindow(main, TRUE);
        }
    } reenable{this, main};
    tstring windows, builder;
    windowsShown_ = builderShown_ = false;
    if (ComPtr<ICrawler> engine = Engine()) {
        BSTR text = nullptr;
        if ((windowsShown_ = SUCCEEDED(engine->get_WindowsDirectory(&text)))) windows = TakeBstr(text);
        text = nullptr;
        if ((builderShown_ = SUCCEEDED(engine->get_PEBuilderDirectory(&text)))) builder = TakeBstr(text);
    }
    shownWindows_ = windows;
    shownBuilder_ = builder;
    if (builder.empty()) builder = PeBuilder::InstalledFolder();
    ExecScript(L"document.getElementById('PEBuilderPath').value='" + EscapeScriptString(builder) + L"';");
    ExecScript(L"document.getElementById('WinPath').value='" + EscapeScriptString(windows) + L"';");
}

void EmergencyDiskPage::StartBuild(const tstring& param) {
    if (Busy()) return;
    if (!TryBeginOperation()) {
        ShowError(kBusy);
        return;
    }
    lockHeld_ = true;
    tstring failure;
    try {
        PrepareBuild(param);
        ExecScript(L"DisableToolbars();");
        DisableCloseMenu();
        building_ = true;
        if (builder_) CloseHandle(builder_);
        builder_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, BuilderThread, this, 0, nullptr));
        if (builder_) return;
        building_ = false;
        failure = kUnknownError;
    } catch (const ErrorBase& e) {
        failure = e.Message();
    } catch (...) {
        failure = kUnknownError;
    }
    // Nothing started: the lock and the window are given back at once.
    building_ = false;
    lockHeld_ = false;
    EndOperation();
    if (CloseDisabled()) {
        EnableCloseMenu();
        try {
            ExecScript(L"EnableToolbars();");
        } catch (...) {
        }
    }
    ShowError(failure);
}

void EmergencyDiskPage::PrepareBuild(const tstring& param) {
    std::vector<tstring> paths = Fields(param, 3);
    tstring builderFolder = WithoutTrailingSlash(paths[0]);
    tstring isoFile = paths[1];
    tstring windowsFolder = WithoutTrailingSlash(paths[2]);
    if (!IsFolder(builderFolder)) Fail(L"Wrong PE Builder directory");
    if (!IsFolder(windowsFolder)) Fail(L"Wrong path to Windows installation files");
    PeBuilder builder(builderFolder);
    if (!IsFolder(builderFolder + L"\\plugin\\")) Fail(L"Can't get access to PE Builder plugins directory");
    // The builder writes a relative image path from its own folder; this
    // program must look for the image where the builder puts it.
    if (!isoFile.empty() && PathIsRelativeW(isoFile.c_str())) isoFile = builderFolder + L"\\" + isoFile;
    if (isoFile.empty() || IsFolder(isoFile)) Fail(L"Can't get access to ISO-file");
    if (GetFileAttributesW(isoFile.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileW(isoFile.c_str()))
        Fail(L"Can't get access to ISO-file");
    PutChangedFolders(windowsFolder, builderFolder);
    builder.InstallPlugin(PluginSource());
    AnswerFile(isoFile, windowsFolder, builder.OutputFolder()).Write(builder.AnswerFilePath());
    peBuilderFolder_ = builderFolder;
    isoFile_ = isoFile;
    windowsFolder_ = windowsFolder;
}

namespace {

// The engine keeps a folder with its trailing separator, the page without.
bool SameText(const tstring& folder, const tstring& shown) {
    return WithoutTrailingSlash(folder) == WithoutTrailingSlash(shown);
}

// A folder put unless it is the one shown, which it then replaces.
void PutFolder(ICrawler* engine, HRESULT (STDMETHODCALLTYPE ICrawler::*put)(BSTR), const tstring& folder,
               tstring& shown, bool& known) {
    if (known && SameText(folder, shown))
        return;
    BSTR text = SysAllocString(folder.c_str());
    if (text && SUCCEEDED((engine->*put)(text))) {
        shown = folder;
        known = true;
    }
    SysFreeString(text);
}

}  // namespace

void EmergencyDiskPage::PutChangedFolders(const tstring& windowsFolder, const tstring& builderFolder) {
    if (windowsShown_ && SameText(windowsFolder, shownWindows_) && builderShown_ &&
        SameText(builderFolder, shownBuilder_))
        return;
    ComPtr<ICrawler> engine = Engine();
    if (!engine) return;
    PutFolder(engine.Get(), &ICrawler::put_WindowsDirectory, windowsFolder, shownWindows_, windowsShown_);
    PutFolder(engine.Get(), &ICrawler::put_PEBuilderDirectory, builderFolder, shownBuilder_, builderShown_);
}

unsigned __stdcall EmergencyDiskPage::BuilderThread(void* page) {
    static_cast<EmergencyDiskPage*>(page)->RunBuilder();
    return 0;
}

void EmergencyDiskPage::RunBuilder() {
    HRESULT com = CoInitialize(nullptr);
    tstring failure;
    bool built = false;
    try {
        PeBuilder builder(peBuilderFolder_);
        DWORD code = builder.Build();
        builder.DeleteOutputLater();
        if (code != 0) Fail(L"PE Builder exited with errors");
        if (!FileExists(isoFile_)) Fail(L"Emergency disk image was not created");
        built = true;
    } catch (const ErrorBase& e) {
        failure = e.Message().empty() ? tstring(kUnknownError) : e.Message();
    } catch (...) {
        failure = kUnknownError;
    }
    bool posted = false;
    try {
        if (built) {
            ShowMessageBox(GetMainWindow(), L"Emergency disk image was created successfully", kCaption,
                           MB_ICONINFORMATION);
            VARIANT done;
            VariantInit(&done);
            posted = PostEvent(L"BuilderFinish", &done);
        } else {
            Log::Instance().Print(LogError, L"[error] Emergency disk: %s", failure.c_str());
            ShowMessageBox(GetMainWindow(), failure.c_str(), kCaption, MB_ICONERROR);
            posted = PostEvent(L"BuilderFinish", nullptr);
        }
    } catch (...) {
    }
    if (!posted) {
        // No page to hear the end (the view is gone): the lock must not
        // outlive the build all the same.
        building_ = false;
        lockHeld_ = false;
        EndOperation();
    }
    if (SUCCEEDED(com)) CoUninitialize();
}

void EmergencyDiskPage::FinishBuild(VARIANT* param) {
    if (builder_) {
        WaitForSingleObject(builder_, INFINITE);
        CloseHandle(builder_);
        builder_ = nullptr;
    }
    building_ = false;
    if (lockHeld_) {
        lockHeld_ = false;
        EndOperation();
    }
    EnableCloseMenu();
    ExecScript(L"EnableToolbars();");
    EnablePage(true);
    if (param) ExecScript(L"OnBurnCD();");
}

void EmergencyDiskPage::BrowseForFolder(const tstring& id) {
    tstring path = PickFolder(GetMainWindow(), tstring());
    if (path.empty()) return;
    ExecScript(L"document.getElementById('" + EscapeScriptString(id) + L"').value='" + EscapeScriptString(path) +
               L"';");
}

void EmergencyDiskPage::BrowseForFile() {
    wchar_t file[MAX_PATH * 2] = {};
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof(request);
    HWND owner = nullptr;
    if (ComPtr<IQNHTMLControl> control = GetHtmlControl()) {
        ComPtr<IOleWindow> window;
        if (SUCCEEDED(control->QueryInterface(IID_IOleWindow, window.ReceiveVoid())) && window)
            window->GetWindow(&owner);
    }
    request.hwndOwner = owner ? owner : GetMainWindow();
    request.lpstrFilter = kIsoFilter;
    request.lpstrFile = file;
    request.nMaxFile = MAX_PATH * 2;
    request.lpstrDefExt = L"iso";
    request.Flags = kIsoDialogFlags;
    if (GetUiServices().SaveFileDialog(&request))
        ExecScript(L"SetISOFile('" + EscapeScriptString(file) + L"');");
}

void EmergencyDiskPage::ScanDevices(const tstring& folder) {
    if (Busy()) return;
    try {
        CdRecord tool(WithoutTrailingSlash(folder));
        if (!FileExists(tool.ProgramPath())) Fail(L"Can't get access to program: \"cdrecord.exe\"");
        tstring listing;
        CdRecord::Run(tool.ScanBusCommand(), 1023, [&](const tstring& piece) { listing += piece; });
        ExecScript(L"clearDevices();");
        PumpMessages();
        Sleep(500);
        devices_.clear();
        for (const CdRecord::Device& device : CdRecord::ParseDevices(listing)) {
            devices_.push_back(device.address);
            ExecScript(L"document.getElementById('selectDevice').add(new Option(\"" + OptionText(device.text) +
                       L"\"));");
        }
        ExecScript(L"selectDevice.disabled = false;");
        ExecScript(L"burnOpts.disabled = false;");
        ExecScript(L"selectDevice.remove(0)");
    } catch (...) {
        tstring text;
        try {
            throw;
        } catch (const ErrorBase& e) {
            text = e.Message();
        } catch (...) {
        }
        try {
            ExecScript(L"OnNotBurnCDCheck();");
        } catch (...) {
        }
        ShowError(text);
    }
}

void EmergencyDiskPage::Burn(const tstring& param) {
    if (Busy()) return;
    EnablePage(true);
    // The burn pumps messages while the tool runs: the lock keeps queued
    // operations from starting inside it and makes closing wait for its end.
    if (!TryBeginOperation()) {
        ShowError(kBusy);
        return;
    }
    burning_ = true;
    tstring failure;
    bool failed = false;
    try {
        RunBurn(param);
    } catch (const ErrorBase& e) {
        failed = true;
        failure = e.Message();
    } catch (...) {
        failed = true;
    }
    burning_ = false;
    EndOperation();
    EnableCloseMenu();
    try {
        ExecScript(L"EnableToolbars();");
        ExecScript(L"AllFinish.style.display = \"inline\";");
    } catch (...) {
    }
    if (failed) ShowError(failure);
}

void EmergencyDiskPage::RunBurn(const tstring& param) {
    std::vector<tstring> fields = Fields(param, 5);
    const tstring& index = fields[2];
    size_t device = devices_.size();
    if (!index.empty() && index.size() < 6 && index.find_first_not_of(L"0123456789") == tstring::npos)
        device = size_t(_wtoi(index.c_str()));
    if (device >= devices_.size()) Fail(L"Select device!");
    ExecScript(L"document.getElementById('consoleOutput').innerText=\"Please, wait...\\r\\n\"");
    ExecScript(kScrollDown);
    ExecScript(kScrollEnd);
    ExecScript(L"DisableToolbars();");
    DisableCloseMenu();
    CdRecord tool(WithoutTrailingSlash(fields[0]));
    const tstring& isoFile = fields[1];
    DWORD code = CdRecord::Run(tool.BurnCommand(devices_[device], fields[3] == L"true", isoFile), 127,
                               [&](const tstring& piece) {
                                   ExecScript(L"document.getElementById('consoleOutput').innerText+=\"" +
                                              OutputLiteral(piece) + L"\";");
                                   ExecScript(kScrollDown);
                                   ExecScript(kScrollEnd);
                                   PumpMessages();
                                   Sleep(5);
                               });
    if (code != 0) Fail(L"cdrecord.exe exited with errors");
    if (fields[4] == L"true") DeleteFileW(isoFile.c_str());
}
