#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"
#include "engine/scan/CheckResult.h"

// When a path named by registry data counts as missing. A registry cleaner's
// fix deletes what it finds, so every rule here leans towards "present" when
// the file might well be there: drives the user excludes from the scan, paths
// the system cannot judge and files hidden by access rights all count as present.

// True when the SkipScanDrives setting excludes the path's drive: bit 2
// network paths, bit 4 removable, CD-ROM, unknown and rootless drives. The
// drive type comes from DriveTypeSource.
bool IsSkippedDrive(const tstring& path);

// Drops the drive types remembered for IsSkippedDrive; a scan starts with
// this, so a drive that changed between scans is asked again.
void ForgetDriveTypes();

// True when the file exists (result.ErrorID is set to 0, nothing else). The
// text may carry blanks around it, enclosing quotes and %NAME% references. A
// bare name without a folder is missing; so is a folder, unless folderCounts.
// On 64-bit Windows a system-folder file may lie in the 32-bit system folder,
// and a file in "Sysnative" (as 32-bit programs name it) in the system folder.
bool PathExistsForCheck(const tstring& path, CheckResult& result, bool folderCounts = false);

// The module (default extension ".dll") or program (".exe") that the text
// names, searched along the system's search path. Quotes, a quoted path
// followed by arguments and %NAME% references are understood; a lone
// placeholder such as "%1" counts as found. With relativeAllowed false a
// relative module name is not judged (found). On 64-bit Windows the 32-bit
// program and system folders are searched too. Never throws; sets
// result.ErrorID to 0.
bool FindModuleFile(const tstring& text, CheckResult& result, bool relativeAllowed, bool secondPass = false);
bool FindProgramFile(const tstring& text, CheckResult& result, bool secondPass = false);

// The text as a 32-bit program on 64-bit Windows expands it: for it
// %ProgramFiles% and %CommonProgramFiles% name the (x86) folders (only
// %ProgramW6432% and %CommonProgramW6432% name the native ones). Where this
// process knows no such folders, the text as this process expands it.
tstring ExpandedFor32Bit(const tstring& text);

// The text in upper case (CLSIDs, service names and AppIDs meet upper-cased
// in the named caches).
tstring UpperText(const tstring& text);

// Blanks and tabs removed from both ends.
tstring TrimBlanks(const tstring& text);

// ASCII-case-insensitive test of a text's start.
bool StartsWithNoCase(const tstring& text, const wchar_t* start);

namespace nsWOW {
// The kernel32 function, bound by name at first use. Throws Win32Error 126
// when the library cannot be loaded and 127 when it lacks the function.
BOOLEAN Wow64EnableWow64FsRedirection(BOOLEAN enable);
}  // namespace nsWOW
