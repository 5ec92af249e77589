#include <doctest/doctest.h>
#include <shlwapi.h>
#include "common/settings/UiCacheFolder.h"
#include "common/system/SpecialFolder.h"

TEST_CASE("UI cache folders are named by process id and number and never reused") {
    CHECK(UiCacheFolderName(0x1A2b, 7) == _T("QNHTML1A2B-7"));
    CHECK(UiCacheFolderName(0, 12) == _T("QNHTML0-12"));

    const tstring root = GetUiCacheRoot();
    CHECK(root == SpecialFolderPath(CSIDL_INTERNET_CACHE, false) + _T("\\QNORVANE.CACHE"));
    CHECK(PathIsDirectory(root.c_str()));

    const tstring own = root + _T("\\") + UiCacheFolderName(GetCurrentProcessId(), 1);
    const tstring first = CreateUiCacheFolder();
    const tstring second = CreateUiCacheFolder();
    CHECK(first == own);
    CHECK(second == root + _T("\\") + UiCacheFolderName(GetCurrentProcessId(), 2));
    CHECK(PathIsDirectory(second.c_str()));
    RemoveDirectory(second.c_str());
    RemoveDirectory(first.c_str());
}
