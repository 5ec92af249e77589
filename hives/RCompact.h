#pragma once
#include "hives/RAssistant.h"

// Replaces each hive by a freshly saved copy of itself at the next boot: a
// saved hive carries no free space. The new copy is a hidden "new" temp file;
// the live file moves to <work folder>\<name>.dat.arctemp when the system
// swaps them. Built and run by the compaction library only.
class RCompact : public RAssistant {
public:
    explicit RCompact(const tstring& workFolder);
    // The temporary-files folder as the work folder.
    RCompact();

    // Every hive: the HKEY_LOCAL_MACHINE and HKEY_USERS walks, then every
    // profile's two hives.
    void compactAll();
    // Windows 6: every hive. Otherwise the hives the request list names
    // ("CompactAll" or users' SIDs). Failures of the walk itself (request
    // list, registry enumeration) throw; a hive that fails is counted and the
    // walk goes on.
    void Run();

    // Hives whose compaction failed so far.
    int Failures() const { return failures_; }

protected:
    void processKey(HKEY key, const tstring& name) override;

private:
    int failures_ = 0;
};
