#pragma once
#include <cstdint>
#include "common/tstring/tstring.h"
#include "engine/registry/ScanRule.h"

class ScanGroup;

// The category bits of a scan (UnionsMask) and of every finding (RegUnion).
enum CategoryBit : uint32_t {
    CategoryCom = 1,
    CategoryBrowser = 2,
    CategorySharedComponents = 4,
    CategoryControlPanel = 8,
    CategoryOffice = 16,
    CategoryMru = 32,
    CategoryAssociations = 64,
    CategoryNullNames = 128,
};

// The registry areas each category examines: one construction function per
// rule kind. A rule registers its sub-task with the group when it is built.
// The kinds with a root take "HKLM" or "HKCU" and then walk only that root.

// The same area as 32-bit programs see it on 64-bit Windows: the rule's key
// pattern with the "Wow6432Node" level below HKCR or HKLM\SOFTWARE, built for
// the same group. Raises std::invalid_argument for a rule of any other area
// (HKCU\Software and HKLM\SYSTEM have one view only). On a system without
// the 32-bit view the literal level is missing and the walk yields nothing.
ScanRule Wow64ViewRule(const ScanRule& native);
// True when the literal levels of such a rule lead through a link to a key
// outside the 32-bit view: an area both views share (Wine links them), which
// the native rule walks already.
bool IsSharedWow64View(const ScanRule& wow64);

// COM registrations.
ScanRule ServicesRule(ScanGroup* group);
ScanRule ClsidRule(ScanGroup* group);
ScanRule ProgIdRule(ScanGroup* group);
ScanRule TypeLibRule(ScanGroup* group);
ScanRule InterfaceRule(ScanGroup* group);

// Internet Explorer and shell extensions.
ScanRule BrowserExtensionRule(ScanGroup* group, const tstring& root);
ScanRule BrowserMenuExtensionRule(ScanGroup* group, const tstring& root);
ScanRule ContextMenuHandlerRule(ScanGroup* group);
ScanRule BrowserToolbarRule(ScanGroup* group, const tstring& root);
ScanRule BrowserBarRule(ScanGroup* group, const tstring& root);
ScanRule BrowserHelperObjectRule(ScanGroup* group);
ScanRule ShellExecuteHookRule(ScanGroup* group);

// Shared components.
ScanRule HelpFileRule(ScanGroup* group);
// The "Windows NT" key on the NT platform, the "Windows" key elsewhere.
ScanRule FontRule(ScanGroup* group);
ScanRule SharedToolRule(ScanGroup* group);
ScanRule SharedDllRule(ScanGroup* group);

// Control Panel applets and uninstall entries.
ScanRule ControlPanelAppletRule(ScanGroup* group, const tstring& root);
ScanRule UninstallRule(ScanGroup* group);
ScanRule ReinstallRule(ScanGroup* group);

// Office add-ins.
ScanRule OfficeAddinRule(ScanGroup* group, const tstring& root);

// MRU lists and application paths.
ScanRule AppPathRule(ScanGroup* group);
ScanRule OpenSaveMruRule(ScanGroup* group);

// File associations.
ScanRule ShellOpenCommandRule(ScanGroup* group);
ScanRule MimeContentTypeRule(ScanGroup* group);
ScanRule DefaultIconRule(ScanGroup* group);
ScanRule FileExtensionRule(ScanGroup* group);
