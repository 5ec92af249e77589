#pragma once
#include <windows.h>
#include <prsht.h>
#include "common/tstring/tstring.h"

// The control id of the schedule-type combo box on the Task Scheduler's
// schedule page.
const int kScheduleTypeCombo = 1692;

// A modal property sheet of the given pages whose first page, when the sheet
// is first shown, selects the entry typeIndex in its schedule-type combo box
// and is told so as if the user had picked it. The sheet's result.
INT_PTR ShowScheduleSheet(HPROPSHEETPAGE* pages, UINT count, const tstring& caption, HWND parent, int typeIndex);
