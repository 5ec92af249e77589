#pragma once
#include "hives/BackupCatalogue.h"
#include "hives/BackupGate.h"

// Creates backup files from the saved hives and restores hives from them;
// the catalogue is its other half.
//
// Create never loses an older backup: the new file is written beside the
// target, inflated again and compared with the saved hives, committed (when
// a gate is set), moved over the target and catalogued; only then does
// retention remove the oldest entries.
// Every temporary file and folder is removed on every path.
class BackupManager : public BackupCatalogue {
public:
    static constexpr int kRetainedBackups = 5;

    // The sink that Create reports its steps to (null: none).
    void SetProgress(RLog* sink) { progress_ = sink; }
    RLog* Progress() const { return progress_; }
    // A waiting side that may give the next Create up (null: none). Create then
    // reports its files to the gate and commits through it before the new file
    // takes its name; a Create given up never touches that name.
    void SetGate(BackupGate* gate) { gate_ = gate; }

    // kind 1: every hive; 0: the current user's hives. Returns the index of
    // the new entry. Throws ErrorBase.
    int Create(int kind, const tstring& target, const tstring& comment, bool retention);
    // Restores from the entry: every hive when all is set and the entry is a
    // full backup, otherwise the current user's. Throws ErrorBase; nothing is
    // then left replaced.
    void Restore(int index, bool all);

private:
    void Report(const TCHAR* step);
    void Verify(const tstring& backup, const tstring& work);
    void Retain(const tstring& kept);

    BackupGate* gate_ = nullptr;
};
