#include "common/system/LoadedModules.h"
#include <dbghelp.h>
#include <exception>
#include "common/errors/CheckObjects.h"

namespace {

using EnumerateFunction = BOOL(WINAPI*)(HANDLE, PENUMLOADED_MODULES_CALLBACKW64, PVOID);

struct EnumerationContext {
    std::vector<ModuleVersion>* modules;
    std::exception_ptr failure;
};

// Module bases are 64-bit: an executable's default base lies above 4 GiB, so
// the 32-bit flavour of the enumeration would cut the handles short.
BOOL CALLBACK OnLoadedModule(PCWSTR name, DWORD64 base, ULONG size, PVOID context) {
    EnumerationContext* ctx = static_cast<EnumerationContext*>(context);
    try {
        HMODULE module = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(base));
        ctx->modules->push_back(ModuleVersion(module, name));
        return TRUE;
    } catch (...) {
        ctx->failure = std::current_exception();
        return FALSE;
    }
}

}  // namespace

LoadedModules::LoadedModules() {
    BoolCheck ck(_T("dbghelp.dll"));
    dbghelp_ = LoadLibrary(_T("dbghelp.dll"));
    ck = dbghelp_ != nullptr;
    try {
        BoolCheck pk(_T("EnumerateLoadedModulesW64"));
        enumerate_ = GetProcAddress(dbghelp_, "EnumerateLoadedModulesW64");
        pk = enumerate_ != nullptr;
        Refresh();
    } catch (...) {
        FreeLibrary(dbghelp_);
        throw;
    }
}

LoadedModules::~LoadedModules() {
    FreeLibrary(dbghelp_);
}

void LoadedModules::Refresh() {
    modules_.clear();
    EnumerationContext context{&modules_, nullptr};
    EnumerateFunction enumerate = reinterpret_cast<EnumerateFunction>(enumerate_);
    BOOL ok = enumerate(GetCurrentProcess(), &OnLoadedModule, &context);
    if (context.failure)
        std::rethrow_exception(context.failure);
    BoolCheck ck(_T("EnumerateLoadedModulesW64"));
    ck = ok;
}
