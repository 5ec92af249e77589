#pragma once
#include "app/html/RegistryOverride.h"

// The Internet Explorer settings under HKEY_CURRENT_USER that the first page
// navigation of the process needs changed: no script debugger, the pages' own
// colours, fonts and style sheet, no long-script question. Every value comes
// back exactly when the object goes (Styles, then Settings, then Main).
class BrowserSettingsOverride {
public:
    BrowserSettingsOverride();
    ~BrowserSettingsOverride();
    BrowserSettingsOverride(const BrowserSettingsOverride&) = delete;
    BrowserSettingsOverride& operator=(const BrowserSettingsOverride&) = delete;

    void Restore();

private:
    RegistryOverride main_;
    RegistryOverride settings_;
    RegistryOverride styles_;
};
