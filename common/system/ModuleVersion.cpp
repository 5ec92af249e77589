#include "common/system/ModuleVersion.h"
#include <vector>

namespace {

tstring VersionText(DWORD mostSignificant, DWORD leastSignificant) {
    return FormatText(_T("%d.%d.%d.%d"), int(HIWORD(mostSignificant)), int(LOWORD(mostSignificant)),
                      int(HIWORD(leastSignificant)), int(LOWORD(leastSignificant)));
}

}  // namespace

ModuleVersion::ModuleVersion(HMODULE module, const char* name) {
    InitFromModule(module);
    if (name)
        moduleName_.AssignNarrow(name);
}

ModuleVersion::ModuleVersion(HMODULE module, const wchar_t* name) {
    InitFromModule(module);
    if (name)
        moduleName_ = tstring::FromWide(name);
}

ModuleVersion::ModuleVersion(const tstring& path) : path_(path) {
    ReadVersionInfo(path_);
}

void ModuleVersion::InitFromModule(HMODULE module) {
    module_ = module ? module : GetModuleHandle(nullptr);
    TCHAR buffer[520];
    DWORD n = GetModuleFileName(module_, buffer, ARRAYSIZE(buffer));
    path_.assign(buffer, n < ARRAYSIZE(buffer) ? n : 0);
    ReadVersionInfo(path_);
}

void ModuleVersion::ReadVersionInfo(const tstring& path) {
    fileVersion_.clear();
    productVersion_.clear();
    productName_.clear();

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSize(path.c_str(), &ignored);
    if (size == 0)
        return;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfo(path.c_str(), 0, size, block.data()))
        return;

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValue(block.data(), _T("\\"), &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        fileVersion_ = VersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
        productVersion_ = VersionText(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    }

    if (!VerQueryValue(block.data(), _T("\\VarFileInfo\\Translation"), &value, &length) || length < 4)
        return;
    const WORD* translation = static_cast<const WORD*>(value);
    WORD language = translation[0];
    WORD codePage = translation[1];
    tstring query = FormatText(_T("\\StringFileInfo\\%02X%02X%02X%02X\\%s"), HIBYTE(language), LOBYTE(language),
                               HIBYTE(codePage), LOBYTE(codePage), _T("ProductName"));
    if (VerQueryValue(block.data(), query.c_str(), &value, &length) && length > 0 && value)
        productName_ = static_cast<const TCHAR*>(value);
}
