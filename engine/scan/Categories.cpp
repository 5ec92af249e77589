#include "engine/scan/Categories.h"
#include <stdexcept>
#include "common/system/PlatformInfo.h"
#include "common/errors/ErrorBase.h"
#include "engine/registry/NativeRegistry.h"
#include "engine/registry/RegKey.h"
#include "engine/scan/PathChecks.h"

namespace {

// The expressions escape with backslashes of their own (\{, \., \a ...), doubled here for C++.

ScanRule Rooted(ScanGroup* group, const tstring& root, const wchar_t* keyTail, const wchar_t* valuePattern) {
    return ScanRule(group, L"#" + root + keyTail, valuePattern);
}

bool NtPlatform() {
    // Asked once: the answer cannot change while the process runs.
    static const bool nt = [] {
        try {
            return IsNtPlatform();
        } catch (...) {
            // Every system this engine runs on is of the NT family.
            return true;
        }
    }();
    return nt;
}

bool IsLiteral(const PathPattern& pattern, size_t index, const wchar_t* name) {
    if (index >= pattern.KeyCount() || !pattern.KeyElement(index).IsLiteral()) return false;
    tstring text = pattern.KeyElement(index).Text();
    return CompareStringOrdinal(text.c_str(), int(text.size()), name, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

ScanRule Wow64ViewRule(const ScanRule& native) {
    const PathPattern& pattern = native.Pattern();
    size_t level = 0;
    if (pattern.RootKey() == HKEY_CLASSES_ROOT)
        level = 1;
    else if (pattern.RootKey() == HKEY_LOCAL_MACHINE && IsLiteral(pattern, 1, L"SOFTWARE"))
        level = 2;
    else
        throw std::invalid_argument("the rule's area has no 32-bit view");
    return ScanRule(native.Group(), pattern.WithLiteralLevel(level, RegKey::Wow64ViewName));
}

bool IsSharedWow64View(const ScanRule& wow64) {
    const PathPattern& pattern = wow64.Pattern();
    RegKey key(pattern.RootKey());
    tstring name;
    try {
        for (size_t level = 1; level < pattern.KeyCount() && pattern.KeyElement(level).IsLiteral(); ++level)
            key = RegKey::OpenChild(key, pattern.KeyElement(level).Text());
        if (key.IsRoot() || NativeRegistry::KeyObjectName(key.Handle(), name) != ERROR_SUCCESS)
            return false;
    } catch (const ErrorBase&) {
        return false;  // nothing there that could be walked twice, or no way to tell
    }
    return UpperText(name + L"\\").find(L"\\" + UpperText(RegKey::Wow64ViewName) + L"\\") == tstring::npos;
}

ScanRule ServicesRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SYSTEM#CurrentControlSet#Services@{.*}", L"#@MAGIC_PATTERN");
}

ScanRule ClsidRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR#CLSID@\\{{.*}\\}", L"#@MAGIC_PATTERN");
}

ScanRule ProgIdRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR@^{!(CLSID)!(Typelib)!(Interface)(\\a+(\\.\\a+)*)}@^{(CLSID)|(CurVer)}",
                    L"#@{.*}");
}

ScanRule TypeLibRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR#TypeLib@\\{{.*}\\}@{\\d+(\\.\\d+)*}@{\\d+}@^{(win32)|(win64)}$", L"#@{.*}");
}

ScanRule InterfaceRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR#Interface@{\\{\\a+(-\\a+)+\\}}", L"#@MAGIC_PATTERN");
}

ScanRule BrowserExtensionRule(ScanGroup* group, const tstring& root) {
    return Rooted(group, root, L"#SOFTWARE#Microsoft#Internet Explorer#Extensions@\\{{.*}\\}", L"#@MAGIC_PATTERN");
}

ScanRule BrowserMenuExtensionRule(ScanGroup* group, const tstring& root) {
    return Rooted(group, root, L"#SOFTWARE#Microsoft#Internet Explorer#MenuExt@{.*}", L"#(Default)@{.*}");
}

ScanRule ContextMenuHandlerRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR@^!\\.({[a-zA-Z]+(\\.\\a+)*}|\\*)#shellex#ContextMenuHandlers@{.*}",
                    L"#@MAGIC_PATTERN");
}

ScanRule BrowserToolbarRule(ScanGroup* group, const tstring& root) {
    return Rooted(group, root, L"#SOFTWARE#Microsoft#Internet Explorer#Toolbar", L"@{.+}@{.*}");
}

ScanRule BrowserBarRule(ScanGroup* group, const tstring& root) {
    return Rooted(group, root, L"#SOFTWARE#Microsoft#Internet Explorer#Explorer Bars@\\{{.*}\\}",
                  L"#@MAGIC_PATTERN");
}

ScanRule BrowserHelperObjectRule(ScanGroup* group) {
    return ScanRule(group,
                    L"#HKLM#SOFTWARE#Microsoft#Windows#CurrentVersion#Explorer#Browser Helper Objects@\\{{.*}\\}",
                    L"#@MAGIC_PATTERN");
}

ScanRule ShellExecuteHookRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SOFTWARE#Microsoft#Windows#CurrentVersion#Explorer#ShellExecuteHooks",
                    L"@{.*}@{.*}");
}

ScanRule HelpFileRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SOFTWARE#Microsoft#Windows@^{(Help)|(HTML Help)}", L"@{.*}@{.*}");
}

ScanRule FontRule(ScanGroup* group) {
    const wchar_t* key = NtPlatform() ? L"#HKLM#SOFTWARE#Microsoft#Windows NT#CurrentVersion#Fonts"
                                      : L"#HKLM#SOFTWARE#Microsoft#Windows#CurrentVersion#Fonts";
    return ScanRule(group, key, L"@{.+}@{.*}");
}

ScanRule SharedToolRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SOFTWARE#Microsoft#Shared Tools@{.*}", L"#Path@{.*}");
}

ScanRule SharedDllRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SOFTWARE#Microsoft#Windows#CurrentVersion#SharedDlls", L"@{.*}\\b*$@{.*}");
}

ScanRule ControlPanelAppletRule(ScanGroup* group, const tstring& root) {
    return Rooted(group, root, L"#SOFTWARE#Microsoft#Windows#CurrentVersion#Control Panel#Cpls", L"@{.*}@{.*}");
}

ScanRule UninstallRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SOFTWARE#Microsoft#Windows#CurrentVersion#Uninstall@{.*}", L"#@MAGIC_PATTERN");
}

ScanRule ReinstallRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SOFTWARE#Microsoft#Windows#CurrentVersion#Reinstall@{.*}",
                    L"#ReinstallString@{.*}");
}

ScanRule OfficeAddinRule(ScanGroup* group, const tstring& root) {
    return Rooted(group, root,
                  L"#SOFTWARE#Microsoft#Office@^{(Outlook)|(Excel)|(Word)|(Access)|(PowerPoint)}#Addins@{.*}",
                  L"#@MAGIC_PATTERN");
}

ScanRule AppPathRule(ScanGroup* group) {
    return ScanRule(group, L"#HKLM#SOFTWARE#Microsoft#Windows#CurrentVersion#App Paths@{.*}", L"#(Default)@{.*}");
}

ScanRule OpenSaveMruRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCU#SOFTWARE#Microsoft#Windows#CurrentVersion#Explorer#ComDlg32#OpenSaveMRU@{.*}",
                    L"@^!(MRUList){.*}@{.*}");
}

ScanRule ShellOpenCommandRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR@^{!(CLSID)!(Typelib)!(Interface)(.+)}#shell@{.*}#command", L"#@{.*}");
}

ScanRule MimeContentTypeRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR#MIME#Database#Content Type@{.*}", L"#@MAGIC_PATTERN");
}

ScanRule DefaultIconRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR@^{!(CLSID)!(Typelib)!(Interface)(.+)}#DefaultIcon", L"#@{.*}");
}

ScanRule FileExtensionRule(ScanGroup* group) {
    return ScanRule(group, L"#HKCR@^{\\..*}", L"#@{.*}");
}
