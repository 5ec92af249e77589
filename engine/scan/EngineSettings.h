#pragma once
#include "common/settings/Settings.h"
#include "common/tstring/tstring.h"

// The settings as the engine's COM properties carry them: switches travel as
// the longs 0 and 1, texts as plain text, the drive-skip mask as given.
class EngineSettings {
public:
    enum Switch {
        ReportMailSwitch,
        ScanResultsThreshold,
        AutoFix,
        AutoReboot,
        AutoBackupSwitch,
        BackupRetentionSwitch,
    };
    enum Text {
        BackupDirectory,     // read: the default folder when unset, created when missing
        UndoDirectory,       // read: the default folder when unset, created when missing
        ReportMail,
        ReportMailServer,
        PEBuilderDirectory,
        WindowsDirectory,
    };

    // The engine module's own settings object: read from "settings.dat" on
    // first use and written back when the module goes.
    EngineSettings();
    explicit EngineSettings(Settings& settings);

    // A mask of 0 reads as 6, and the 6 is kept. The mask is process-wide;
    // a put is stored through this object at once, as the other puts are.
    static long GetSkipScanDrives();
    void PutSkipScanDrives(long value);

    long GetSwitch(Switch which) const;
    // On exactly when value is 1: scripts pass true as -1, which must not
    // switch anything on by accident.
    void PutSwitch(Switch which, long value);

    tstring GetText(Text which);
    // Folder texts get a trailing separator unless they end in one.
    void PutText(Text which, const tstring& value);

    // Whether the engine's settings object uses "settings.dat" at all (on
    // exactly for 1). Only a value set before that object is first built
    // counts; later the object keeps the choice it was built with.
    static void PutUseFile(long value);

private:
    // Writes the changes of the settings object to the file at once; a file
    // that cannot be written is logged and the changes stay pending.
    void Store();
    Settings& settings_;
};
