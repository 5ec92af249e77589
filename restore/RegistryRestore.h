#pragma once
#include "common/tstring/tstring.h"
#include "restore/RestoreReport.h"

// Puts the machine hives saved in a backup file (a zlib stream of a file pack,
// or the bare pack) over the hive files in <windowsFolder>\system32\config.
// Returns true when every machine hive of the backup is in place. Otherwise
// the reason has gone to report.ShowError and the config folder is exactly as
// it was. Either way the work folder is gone before the call returns.
bool RestoreRegistry(const tstring& windowsFolder, const tstring& backupFile, RestoreReport& report);

// The config file a pack entry replaces ("HKLM_SOFTWARE.dat" gives
// "SOFTWARE"), or the empty string for an entry that is not a machine hive:
// user hives, names with a folder part, anything else.
tstring MachineHiveName(const tstring& entryName);
