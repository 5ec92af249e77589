#include <doctest/doctest.h>
#include <string>
#include "common/system/LoadedModules.h"
#include "common/system/ModuleVersion.h"

namespace {

std::string Narrow(const tstring& text) {
    return std::string(text.begin(), text.end());
}

tstring TempFilePath(const TCHAR* stem) {
    TCHAR folder[MAX_PATH];
    GetTempPath(MAX_PATH, folder);
    return FormatText(_T("%s%s-%lu.txt"), folder, stem, GetCurrentProcessId());
}

const ModuleVersion* FindModule(const LoadedModules& modules, HMODULE handle) {
    for (const ModuleVersion& m : modules.Modules())
        if (m.Module() == handle)
            return &m;
    return nullptr;
}

}  // namespace

TEST_CASE("ModuleVersion reads the program's own version resource") {
    ModuleVersion own;
    CHECK(own.Module() == GetModuleHandle(nullptr));
    CHECK(own.Path() == GetModulePath());
    CHECK(Narrow(own.FileVersion()) == "5.1.2600.2180");
    CHECK(Narrow(own.ProductVersion()) == "7.0.3.14");
    // The first translation is 0409/04B0, so the English block answers.
    CHECK(Narrow(own.ProductName()) == "Orvane System Test");
    CHECK(own.ModuleName().empty());

    ModuleVersion byPath(own.Path());
    CHECK(byPath.Module() == nullptr);
    CHECK(byPath.Path() == own.Path());
    CHECK(byPath.FileVersion() == own.FileVersion());
    CHECK(byPath.ProductName() == own.ProductName());

    ModuleVersion copy = byPath;
    CHECK(copy.ProductVersion() == own.ProductVersion());
}

TEST_CASE("ModuleVersion keeps the name it is given") {
    CHECK(Narrow(ModuleVersion(nullptr, "narrow-name").ModuleName()) == "narrow-name");
    CHECK(Narrow(ModuleVersion(nullptr, L"wide-name").ModuleName()) == "wide-name");
    HMODULE kernel = GetModuleHandle(_T("kernel32.dll"));
    ModuleVersion k(kernel, "kernel32");
    CHECK(k.Module() == kernel);
    CHECK(CompareNoCase(k.Path().Right(13).c_str(), _T( "\\kernel32.dll")) == 0);
    CHECK(Narrow(k.ModuleName()) == "kernel32");
}

TEST_CASE("a file without a version resource gives empty texts") {
    tstring path = TempFilePath(_T("sysinfo-noversion"));
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "plain text", 10, &written, nullptr);
    CloseHandle(file);

    ModuleVersion plain(path);
    CHECK(plain.Path() == path);
    CHECK(plain.FileVersion().empty());
    CHECK(plain.ProductVersion().empty());
    CHECK(plain.ProductName().empty());
    DeleteFile(path.c_str());

    ModuleVersion missing(path);
    CHECK(missing.FileVersion().empty());
    CHECK(missing.ProductName().empty());

    // Reading another file over a described one leaves nothing of the first behind.
    ModuleVersion reused;
    REQUIRE_FALSE(reused.FileVersion().empty());
    reused.ReadVersionInfo(path);
    CHECK(reused.FileVersion().empty());
    CHECK(reused.ProductName().empty());
}

TEST_CASE("LoadedModules lists every loaded module with its full 64-bit base") {
    LoadedModules modules;
    REQUIRE(modules.Count() >= 3);

    // The program's image lies above 4 GiB; a truncated base would not match.
    HMODULE self = GetModuleHandle(nullptr);
    const ModuleVersion* own = FindModule(modules, self);
    REQUIRE(own != nullptr);
    CHECK(own->Path() == GetModulePath());
    CHECK(Narrow(own->FileVersion()) == "5.1.2600.2180");
    CHECK_FALSE(own->ModuleName().empty());

    const ModuleVersion* kernel = FindModule(modules, GetModuleHandle(_T("kernel32.dll")));
    REQUIRE(kernel != nullptr);
    CHECK_FALSE(kernel->FileVersion().empty());

    SUBCASE("Refresh follows modules loaded and freed since") {
        HMODULE extra = LoadLibrary(_T("msimg32.dll"));
        REQUIRE(extra != nullptr);
        CHECK(FindModule(modules, extra) == nullptr);
        modules.Refresh();
        CHECK(FindModule(modules, extra) != nullptr);
        FreeLibrary(extra);
        modules.Refresh();
        CHECK(FindModule(modules, extra) == nullptr);
        CHECK(FindModule(modules, self) != nullptr);
    }
}
