#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The version numbers and product name of one module, read from its version
// resource. A module without one gives empty texts; that is no error.
class ModuleVersion {
public:
    // The program's own module when none is given; the narrow name is taken
    // from the current ANSI code page.
    explicit ModuleVersion(HMODULE module = nullptr, const char* name = nullptr);
    ModuleVersion(HMODULE module, const wchar_t* name);
    // A module file that need not be loaded.
    explicit ModuleVersion(const tstring& path);

    // Fills the file and product versions and the product name from the file's
    // version resource; the three are emptied first.
    void ReadVersionInfo(const tstring& path);

    HMODULE Module() const { return module_; }
    const tstring& Path() const { return path_; }
    // "major.minor.build.revision"
    const tstring& FileVersion() const { return fileVersion_; }
    const tstring& ProductVersion() const { return productVersion_; }
    const tstring& ModuleName() const { return moduleName_; }
    // The "ProductName" of the first translation.
    const tstring& ProductName() const { return productName_; }

private:
    void InitFromModule(HMODULE module);

    HMODULE module_ = nullptr;
    tstring path_;
    tstring fileVersion_;
    tstring productVersion_;
    tstring moduleName_;
    tstring productName_;
};
