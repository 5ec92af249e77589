#pragma once
#include "common/tstring/tstring.h"
#include "diskexplorer/PaneDialog.h"

// The maker's page for users without the suite.
extern const wchar_t kSuiteWebPage[];

// Starts Orvane.exe from the suite's installation folder, or opens the web
// page when the suite's uninstall entry or its "InstallLocation" is missing
// or unusable.
void OpenSuiteProgram();

// The side panel's pane with the link to the suite.
class SuiteLinkPane : public PaneDialog {
protected:
    bool OnInitDialog() override;
    LRESULT OnNotify(int id, NMHDR* header, bool& handled) override;
};
