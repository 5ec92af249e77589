#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The product's word that names its data folder ("Orvane").
tstring GetProductName();

// data true: the data folder, <local application data>\QUARN\Orvane, created
// when missing. data false: the program folder, the folder of the suite's own
// executable or, in another host, of its engine or control module. Never with
// a trailing separator. Throws Win32Error when a folder cannot be created and
// ErrorBase "Couldn't get module file name" when the module path is unknown.
tstring GetAppFolder(bool data);

tstring GetSettingsFilePath();   // data folder\settings.dat
tstring GetBackupListPath();     // data folder\backups.lst
// <common application data>\QUARN\Orvane\restore.flag, the folders created
// when missing. One machine-wide place: the user's program writes it and the
// compaction library reads it in the logon process under the system account,
// whose data folder is another one.
tstring GetRestoreFlagPath();
// data folder\Orvane.log, rotated first (RotateLogFile).
tstring GetLogFilePath();
// Gives the process log (Log::Instance) the data folder's "Orvane.log", the
// file every module of the suite writes; false when the data folder cannot be
// had. Not rotated: only the main program's start-up rotates the file.
bool UseDataFolderLog() noexcept;

// When the file at path is larger than 1 MiB and no other process has it
// open, it replaces path + ".old". Files that are missing, in use or not
// larger are left alone.
void RotateLogFile(const tstring& path);

// The ignore list: the user list "ignores.dat" (system false) in the data
// folder, or the system list "SystemIgnores.dat" (system true) in the program
// folder. With fallback, a user list missing from the data folder is looked
// for in the program folder too. The result is always a full path (a bare
// name would resolve against whatever the current folder is); it is empty
// only when the folder it belongs in cannot be found.
tstring GetIgnoreFilePath(bool fallback, bool system);
