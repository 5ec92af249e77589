#pragma once
#include "common/tstring/tstring.h"
#include "restore/RestoreReport.h"

// Puts the machine hives saved in a backup file (a zlib stream of a file pack,
// or the bare pack) over the hive files in <windowsFolder>\system32\config.
// Only an entry "HKLM_<name>.dat" whose name is a hive file the folder already
// holds goes in, and only when it is a real hive; every other "HKLM_" entry
// goes to report.PassOver (one whose name this code page cannot hold exactly
// among them: it reads with '?' for a look-alike of a hive's name), user
// hives are left out in silence. Returns true
// when every such hive is in place. Otherwise the reason, naming the backup,
// entry or file it concerns, has gone to report.ShowError and the config
// folder is exactly as it was. Either way the unpacked backup and its hives
// are deleted before the call returns.
bool RestoreRegistry(const tstring& windowsFolder, const tstring& backupFile, RestoreReport& report);

// The config file a pack entry may replace ("HKLM_SOFTWARE.dat" gives
// "SOFTWARE"): the part between "HKLM_" and ".dat" when it is a plain name of
// ASCII letters and digits and no device name (NUL, COM1); else the empty
// string.
tstring MachineHiveName(const tstring& entryName);

// True for an entry named as a machine hive, "HKLM_" at its start.
bool IsMachineEntry(const tstring& entryName);
