#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"
#include "hives/HiveList.h"
#include "hives/RLog.h"

// The walk over every registry hive that backup, analysis and compaction
// share. Each hive is handed to processKey once, open, with its name:
//   "HKLM_" + K  for each subkey K of HKEY_LOCAL_MACHINE but "HARDWARE..."
//   "HKU_" + K   for each subkey K of HKEY_USERS but "S-1-5-18..." and
//                "S-1-5-21-..." (the users' hives come through their profiles)
//   SID, SID + "_Classes"  for a user profile's two hives.
// The hive file of a name is <work folder>\<name>.dat.
class RAssistant {
public:
    static const TCHAR kMachinePrefix[];  // "HKLM_"
    static const TCHAR kUsersPrefix[];    // "HKU_"
    static const TCHAR kClasses[];        // "_Classes"
    static const TCHAR kHiveExtension[];  // ".dat"

    // Creates the work folder when it does not exist; reads the profiles of
    // real users ("S-1-5-21-"). Throws Win32Error.
    explicit RAssistant(const tstring& workFolder);
    virtual ~RAssistant() = default;
    RAssistant(const RAssistant&) = delete;
    RAssistant& operator=(const RAssistant&) = delete;

    // Returns the previous sink.
    RLog* SetLog(RLog* sink, int value);
    tstring HiveFile(const tstring& name, bool classes) const;
    const tstring& WorkFolder() const { return workFolder_; }
    const HiveList& Profiles() const { return profiles_; }

    // Every subkey of root not beginning with one of the exclusions (compared
    // with case), as prefix + name.
    void walkKey(HKEY root, const tstring& prefix, const std::vector<tstring>& exclusions);
    // The HKEY_LOCAL_MACHINE and HKEY_USERS walks with their fixed exclusions.
    void walkMachineHives();
    // Loads the profile's two hives, hands each to processKey and unloads
    // exactly what was loaded here. A hive already loaded (the user is logged
    // on: ERROR_SHARING_VIOLATION) is processed where it is and stays loaded.
    // index -1 looks the SID up; a SID that is no profile is skipped.
    void processUser(const tstring& sid, int index);
    // Every profile but except (null: every profile).
    void processAllUsers(const TCHAR* except);

protected:
    virtual void processKey(HKEY key, const tstring& name) = 0;
    int AddLogEntry(int level, const tstring& text, const tstring& name);
    void MarkLogDone(int row);

    tstring workFolder_;
    RLog* log_ = nullptr;
    HiveList profiles_;
    int logValue_ = 0;

private:
    void processUserHive(const tstring& name, const tstring& file);
};

// Enables "SeBackupPrivilege" and, with restore, "SeRestorePrivilege" in the
// thread's token. Throws Win32Error when the token lacks one.
void EnableHivePrivileges(bool restore);
