#include "app/html/BrowserVersion.h"
#include "common/system/ModuleVersion.h"
#include <cwchar>

namespace {

bool known = false;
BrowserVersion version;

BrowserVersion ReadLoadedBrowserVersion() {
    HMODULE module = ::GetModuleHandleW(L"IEFRAME.DLL");
    if (!module) module = ::GetModuleHandleW(L"SHDOCVW.DLL");
    if (!module) return BrowserVersion();
    return ParseBrowserVersion(ModuleVersion(module).FileVersion());
}

}  // namespace

BrowserVersion ParseBrowserVersion(const tstring& text) {
    BrowserVersion parsed;
    if (swscanf(text.c_str(), L"%d.%d", &parsed.major, &parsed.minor) < 1) return BrowserVersion();
    if (parsed.major < 0 || parsed.minor < 0) return BrowserVersion();
    return parsed;
}

BrowserVersion GetIEVersion() {
    if (!known) {
        version = ReadLoadedBrowserVersion();
        // A browser that is not loaded yet is read again on the next call.
        known = version.major != 0;
    }
    return version;
}

void SetIEVersion(BrowserVersion newVersion) {
    version = newVersion;
    known = newVersion.major != 0;
}
