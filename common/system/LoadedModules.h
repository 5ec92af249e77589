#pragma once
#include <windows.h>
#include <vector>
#include "common/system/ModuleVersion.h"

// Every module loaded in the process with its version details, listed through
// dbghelp's EnumerateLoadedModulesW64, bound by name. Raises BoolError when
// "dbghelp.dll" or that entry cannot be found.
class LoadedModules {
public:
    LoadedModules();
    ~LoadedModules();
    LoadedModules(const LoadedModules&) = delete;
    LoadedModules& operator=(const LoadedModules&) = delete;

    // Lists the modules loaded now, replacing the previous list.
    void Refresh();

    const std::vector<ModuleVersion>& Modules() const { return modules_; }
    size_t Count() const { return modules_.size(); }
    const ModuleVersion& operator[](size_t i) const { return modules_[i]; }

private:
    std::vector<ModuleVersion> modules_;
    HMODULE dbghelp_ = nullptr;
    FARPROC enumerate_ = nullptr;
};
