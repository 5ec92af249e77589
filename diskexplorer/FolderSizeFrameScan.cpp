// Scan control: the worker that fills the model, its stop, its end, and the
// drive commands that start it.
#include <process.h>
#include <new>
#include <stdexcept>
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "diskexplorer/DriveSource.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/FolderFigures.h"
#include "diskexplorer/FolderSizeFrame.h"

namespace {
struct WorkerBlock {
    FolderSizeFrame* frame;
    uint32_t number;        // the scan's number
    wchar_t devicePath[7];  // "\\.\C:" and its NUL
};
}  // namespace

void FolderSizeFrame::StartScan(const tstring& devicePath) {
    if (stopping_)
        return;
    driveText_ = devicePath.Mid(4, 2) + L"\\";
    list_.Clear();
    history_.Clear();
    tstring text = FormatText(tstring(MAKEINTRESOURCEW(IDS_SCANNING)).c_str(), driveText_.Left(2).c_str());
    SetWindowTextW(combo_, text.c_str());
    SetStatus(text);
    panel_.Folder().SetLinkText(text);
    panel_.Drive().SetLinkText(text);
    panel_.SetDriveImage(list_.LargeImages(), -1);
    EnableWindow(combo_, FALSE);
    RECT part{};
    SendMessageW(status_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
    HWND progress = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, part.left, part.top,
                                    part.right - part.left, part.bottom - part.top, status_, nullptr,
                                    ResourceModule(), nullptr);
    SendMessageW(progress, PBM_SETRANGE32, 0, 100);
    HWND old = progress_.exchange(progress);
    if (old)
        DestroyWindow(old);
    StopScan();
    EnableCommand(ID_REFRESH, false);
    EnableCommand(ID_GOTO, false);
    finished_ = false;
    auto block = new WorkerBlock{this, ++scanNumber_, {}};
    lstrcpynW(block->devicePath, devicePath.c_str(), 7);
    uintptr_t thread = _beginthreadex(nullptr, 0, &FolderSizeFrame::ScanThreadProc, block, 0, nullptr);
    if (!thread) {
        delete block;
        return;
    }
    worker_.Attach(reinterpret_cast<HANDLE>(thread));
}

void FolderSizeFrame::StopScan() {
    if (!worker_.IsValid() || stopping_)
        return;
    if (WaitForSingleObject(worker_, 0) == WAIT_TIMEOUT) {
        // The cancel flag stays set until the worker has ended: it checks it
        // before every record, but one read of a failing disk can take long.
        stopping_ = true;
        cancel_ = true;
        HANDLE worker = worker_;
        MSG quit{};
        while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
            DrainWhileStopping(quit);
        cancel_ = false;
        stopping_ = false;
        if (quit.message == WM_QUIT)
            PostQuitMessage(static_cast<int>(quit.wParam));
    }
    worker_.CloseNoThrow();
}

// Serves the window while a stop waits: paints and sent messages (the
// worker's progress among them) are handled; a request to close ends the
// process; clicks, keys and the frame's commands are dropped, since acted on
// after the stop they would hit a window that has changed under the user
// meanwhile. Other windows of the thread (COM's hidden ones) get theirs.
void FolderSizeFrame::DrainWhileStopping(MSG& quit) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        bool input = (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
                     (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST) ||
                     (message.message >= WM_NCMOUSEMOVE && message.message <= WM_NCXBUTTONDBLCLK);
        bool own = message.hwnd == Handle() || IsChild(Handle(), message.hwnd);
        if (message.message == WM_QUIT)
            quit = message;
        else if (IsCloseRequest(message))
            EndProcessNow();
        else if (message.message == WM_PAINT || (message.hwnd && !own && !input))
            DispatchMessageW(&message);
    }
}

// The close box, Alt+F4, the window menu's Close and Exit, as they arrive in
// the queue (a close sent to the window reaches WM_CLOSE directly).
bool FolderSizeFrame::IsCloseRequest(const MSG& message) const {
    if (!message.hwnd || (message.hwnd != Handle() && !IsChild(Handle(), message.hwnd)))
        return false;
    switch (message.message) {
    case WM_CLOSE: return message.hwnd == Handle();
    case WM_SYSCOMMAND: return (message.wParam & 0xFFF0) == SC_CLOSE;
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONUP: return message.wParam == HTCLOSE;
    case WM_SYSKEYDOWN: return message.wParam == VK_F4;
    case WM_COMMAND: return LOWORD(message.wParam) == ID_EXIT && message.lParam == 0;
    default: return false;
    }
}

void FolderSizeFrame::EndProcessNow() { TerminateProcess(GetCurrentProcess(), 0); }

unsigned __stdcall FolderSizeFrame::ScanThreadProc(void* argument) {
    std::unique_ptr<WorkerBlock> block(static_cast<WorkerBlock*>(argument));
    block->frame->RunScan(block->devicePath, block->number);
    return 0;
}

void FolderSizeFrame::RunScan(const wchar_t* devicePath, uint32_t number) {
    int32_t code = 0;
    try {
        if (model_) {
            model_->RemoveListener(cookie_);
            DeleteModel(model_);
        }
        model_ = new MftScanner(devicePath);
        cookie_ = model_->AddListener(this);
        bool finished = model_->Scan();
        if (finished && !cancel_) {
            finished_ = true;
            Post(WM_SCAN_DONE, MftScanner::kRootRecord, 0);
        }
        return;
    } catch (const ErrorBase& e) {
        code = e.Code() ? e.Code() : E_FAIL;
    } catch (const std::bad_alloc&) {
        code = FoldWin32(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::length_error&) {
        code = FoldWin32(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        code = E_UNEXPECTED;
    }
    // The frame shows the failure: a box of this thread could wait for the
    // UI thread while that waits for this one in StopScan.
    if (!cancel_)
        Post(WM_SCAN_FAILED, static_cast<WPARAM>(static_cast<uint32_t>(code)), number);
}

void FolderSizeFrame::OnScanFailed(WPARAM code, LPARAM number) {
    if (static_cast<uint32_t>(number) != scanNumber_ || !worker_.IsValid())
        return;  // a scan that has since been stopped or replaced
    WaitForSingleObject(worker_, INFINITE);  // the post was its last act
    tstring text = ModuleErrorText(static_cast<int32_t>(code));
    MessageBoxW(Handle(), text.c_str(), L"Unexpected Error", MB_OK);
    Post(WM_CLOSE);
}

bool FolderSizeFrame::OnScanProgress(int32_t percent) {
    if (cancel_)
        return false;
    if (percent == -1)
        MessageBoxW(Handle(), L"MFT Scan was stoped!", L"", MB_OK);
    SendMessageW(progress_.load(), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    return true;
}

void FolderSizeFrame::OnScanDone(WPARAM record, LPARAM open) {
    if (open) {
        if (IsShownFolder(static_cast<int64_t>(record)))
            OpenInShell(static_cast<int64_t>(record));
        list_.SetFocus();
        return;
    }
    if (record != MftScanner::kRootRecord) {
        ShowFolder(static_cast<int64_t>(record));
        return;
    }
    if (!finished_ || !worker_.IsValid())
        return;  // the end of a scan that has since been replaced
    // The worker posted this as its last act.
    WaitForSingleObject(worker_, INFINITE);
    if (!model_)
        return;
    wchar_t label[MAX_PATH + 1] = L"";
    GetVolumeInformationW(driveText_.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0);
    tstring title = label[0] ? tstring(label) + L" (" + driveText_.Left(1) + L":)" : TrimBackslashes(driveText_);
    ULARGE_INTEGER available{}, total{}, free{};
    GetDiskFreeSpaceExW(driveText_.c_str(), &available, &total, &free);
    uint64_t used = total.QuadPart - free.QuadPart;
    const FolderRecord* root = model_->Record(MftScanner::kRootRecord);
    tstring info = FormatText(tstring(MAKEINTRESOURCEW(IDS_DRIVE_INFO)).c_str(), title.c_str(),
                              FormatGrouped(static_cast<int64_t>(used)).c_str(),
                              FormatGrouped(static_cast<int64_t>(free.QuadPart)).c_str(),
                              FormatGrouped(root ? root->totalFileCount : 0).c_str());
    panel_.Drive().SetLinkText(info);
    panel_.SetDriveImage(list_.LargeImages(), ShareImage(total.QuadPart ? uint32_t(used * 100 / total.QuadPart) : 0));
    EnableWindow(combo_, TRUE);
    EnableCommand(ID_REFRESH, true);
    EnableCommand(ID_GOTO, true);
    HWND progress = progress_.exchange(nullptr);
    if (progress)
        DestroyWindow(progress);
    SetStatus(readyText_);
    int64_t folder = MftScanner::kRootRecord;
    if (!pendingPath_.empty()) {
        int32_t found = model_->FindFolderByPath(pendingPath_, driveText_);
        folder = found >= 0 ? found : MftScanner::kRootRecord;
    }
    ShowFolder(folder);
}


void FolderSizeFrame::OnDriveCommand(int index) {
    if (index < 0 || index >= static_cast<int>(drives_.Drives().size()))
        return;
    wchar_t letter = drives_.Drives()[index].letter;
    tstring name;
    name += letter;
    name += L':';
    tstring target;
    if (!DriveSource::Current().DosDeviceTarget(name, target))
        return;
    bool current = !driveText_.empty() && towupper(driveText_[0]) == towupper(letter);
    if (target.Left(3) != L"\\??") {
        if (!current)
            StartScan(L"\\\\.\\" + name);
        else if (!IsScanning())
            ShowFolder(MftScanner::kRootRecord);
        return;
    }
    tstring folder = target.Mid(4);
    tstring drive = folder.Left(2);
    tstring question = FormatText(tstring(MAKEINTRESOURCEW(IDS_VIRTUAL_DRIVE)).c_str(), name.c_str(), folder.c_str(), drive.c_str(),
                                  folder.c_str());
    if (MessageBoxW(Handle(), question.c_str(), tstring(MAKEINTRESOURCEW(IDR_MAINFRAME)).c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    folder = TrimBackslashes(folder);
    if (folder.empty())
        return;
    if (!driveText_.empty() && towupper(folder[0]) == towupper(driveText_[0])) {
        if (const MftScanner* model = Model()) {
            int32_t found = model->FindFolderByPath(folder, driveText_);
            ShowFolder(found >= 0 ? found : MftScanner::kRootRecord);
        }
    } else {
        pendingPath_ = folder;
        StartScan(L"\\\\.\\" + drive);
    }
}

