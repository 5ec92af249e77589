#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The registry's whole-hive functions, as Windows results (0 = success).
// Everything that saves, loads, unloads or replaces a hive goes through the
// one installed object, so a test can record replacements (which take effect
// only at the next boot, and which Wine does not implement) and make any
// chosen call fail.
class HiveOps {
public:
    virtual ~HiveOps() = default;

    // RegSaveKeyW of an open key to a new file.
    virtual LONG Save(HKEY key, const tstring& file) = 0;
    // RegLoadKeyW / RegUnLoadKeyW of root\subKey.
    virtual LONG Load(HKEY root, const tstring& subKey, const tstring& file) = 0;
    virtual LONG Unload(HKEY root, const tstring& subKey) = 0;
    // RegReplaceKeyW: newFile becomes the hive of root\subKey at the next
    // boot, the current file moves to oldFile. An empty subKey replaces the
    // hive of the open key root itself. hiveName names the hive for logs and
    // records (for example "HKLM_Software").
    virtual LONG Replace(HKEY root, const tstring& subKey, const tstring& newFile, const tstring& oldFile,
                         const tstring& hiveName) = 0;
};

// The system's own functions.
class SystemHiveOps : public HiveOps {
public:
    LONG Save(HKEY key, const tstring& file) override;
    LONG Load(HKEY root, const tstring& subKey, const tstring& file) override;
    LONG Unload(HKEY root, const tstring& subKey) override;
    LONG Replace(HKEY root, const tstring& subKey, const tstring& newFile, const tstring& oldFile,
                 const tstring& hiveName) override;
};

// The installed object: the system's unless another was set.
HiveOps& GetHiveOps();
// Installs ops (null: the system's again); returns the one installed before.
HiveOps* SetHiveOps(HiveOps* ops);
