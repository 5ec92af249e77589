#pragma once
#include <vector>
#include "hives/RAssistant.h"

// Saves hives into the work folder and puts saved hives back.
//
// A restore never half-applies: every file is checked first (a known name
// whose key or profile exists, and a file the registry loads as a hive);
// before each key is replaced its live hive is saved to a kept copy, and
// before a profile's hive file is overwritten it is copied aside; when a
// later replacement fails, the earlier ones are replaced again from their
// copies and the restore fails. Two cases stay as they always were: in a
// fail-safe boot a machine hive that cannot be replaced is skipped, and the
// hive of another user who is logged on is left alone with an error line in
// the log.
class RBackup : public RAssistant {
public:
    explicit RBackup(const tstring& workFolder);
    ~RBackup() override;

    // Every hive: the machine and users-root hives, then the current user's,
    // then every other profile's.
    void backupAll();
    // The current user's two hives; returns the user's SID.
    tstring backupCurrent();

    // The current user's two hive files of the work folder.
    void restoreCurrent();
    // Every .dat file of the work folder, in name order.
    void restoreAll();
    // One file of the work folder.
    void fromFile(const tstring& fileName);

protected:
    void processKey(HKEY key, const tstring& name) override;

private:
    struct HiveRestore {
        enum Action { ReplaceKey, MoveFile, Skip };
        Action action = Skip;
        // The trace line of a replacement: a machine or users-root key, the
        // current user's hive restored alone (user, classes) or with the rest.
        enum Trace { SystemKey, UserHive, UserClasses, CurrentUser };
        Trace trace = SystemKey;
        tstring file;      // the saved hive in the work folder
        tstring hiveName;  // its name without ".dat"
        HKEY root = nullptr;
        tstring subKey;
        bool machineRoot = false;  // "HKLM_" or "HKU_": may be skipped in a fail-safe boot
        tstring target;            // MoveFile: the profile's hive file
        tstring kept;              // the live hive as it was before
        bool applied = false;
        bool keptInUse = false;    // kept is the new file of an undo replacement
    };

    HiveRestore PlanFile(const tstring& fileName);
    void CheckLoads(const HiveRestore& step);
    void ApplyAll(std::vector<HiveRestore>& plan);
    void Apply(HiveRestore& step);
    static void TraceReplacement(const HiveRestore& step, LONG status);
    void Undo(HiveRestore& step);
};
