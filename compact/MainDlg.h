#pragma once
#include <windows.h>
#include <functional>
#include "common/tstring/tstring.h"
#include "common/ui/Dialog.h"
#include "hives/RLog.h"

namespace compact {

// The compaction's progress dialog: one row per hive with its id and the step
// it is at. A worker thread runs the compaction job and ends the dialog when
// the job is over; the user cannot close it. Rows are written from the
// worker through list messages, which run on the dialog's thread.
class CMainDlg : public Dialog, public RLog {
public:
    // The work done on the worker thread, with the dialog as its log. True
    // when the walk ended and every hive was compacted; false or an exception
    // otherwise.
    using Job = std::function<bool(CMainDlg& log)>;

    explicit CMainDlg(Job job);

    // Shows the dialog modally (no owner) until the worker ends it. True when
    // the job succeeded; false when it failed, threw or could not start.
    // Throws BoolError when the dialog cannot be created.
    bool DoModal();

    // Level 3 lines show; others are walk progress and only count. A line
    // for the hive of the last row rewrites that row. Returns the row.
    int AddEntry(int level, const tstring& text, const tstring& name) override;
    void MarkDone(int row) override;

protected:
    bool OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    static unsigned __stdcall WorkerMain(void* self);
    void SetUpList();
    void RunJob();
    void ShowRow(int row);

    Job job_;
    Window list_;
    HANDLE worker_ = nullptr;
    bool succeeded_ = false;
    tstring lastName_;
};

}  // namespace compact
