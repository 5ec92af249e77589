#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"
#include "restore/ProgressDialog.h"
#include "restore/RestoreReport.h"

// The program's one window: the backup file and the WINDOWS folder of the
// installation to repair, and the button that restores its machine hives.
class RestoreDialog : private RestoreReport {
public:
    explicit RestoreDialog(HINSTANCE instance) : instance_(instance) {}
    ~RestoreDialog() override;
    RestoreDialog(const RestoreDialog&) = delete;
    RestoreDialog& operator=(const RestoreDialog&) = delete;

    // Modal; returns when the dialog closes.
    void Run();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    void OnBrowseBackup();
    void OnBrowseWindows();
    void OnRestore();
    void EnableControls(bool enable);
    void ReadControls();
    void WriteControls();

    void ShowError(const tstring& text) override;
    void PassOver(const tstring& entryName) override { passedOver_.push_back(entryName); }
    void ShowBox(const tstring& text, UINT type);

    HINSTANCE instance_;
    HWND window_ = nullptr;
    tstring backupFile_;
    tstring windowsFolder_;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    ProgressDialog progress_;
    std::vector<tstring> passedOver_;
};
