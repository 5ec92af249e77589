#include "app/html/BrowserSettingsOverride.h"

BrowserSettingsOverride::BrowserSettingsOverride()
    : main_(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main"),
      settings_(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Settings"),
      styles_(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Styles") {
    main_.SetString(L"Disable Script Debugger", L"yes");
    main_.SetString(L"DisableScriptDebuggerIE", L"yes");
    settings_.SetNumber(L"Always Use My Colors", 0);
    settings_.SetNumber(L"Always Use My Font Face", 0);
    settings_.SetNumber(L"Always Use My Font Size", 0);
    styles_.SetNumber(L"Use My Stylesheet", 0);
    styles_.SetNumber(L"MaxScriptStatements", 0x7FFFFFFE);
}

BrowserSettingsOverride::~BrowserSettingsOverride() { Restore(); }

void BrowserSettingsOverride::Restore() {
    styles_.Restore();
    settings_.Restore();
    main_.Restore();
}
