#include <doctest/doctest.h>
#include "common/com/RegistryTable.h"
#include <objbase.h>

namespace {
const tstring kBase = _T("Software\\OrvaneTest\\com\\RegistryTable");

bool Exists(const tstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

tstring Read(const tstring& path, const TCHAR* name) {
    TCHAR data[256] = {};
    DWORD bytes = sizeof(data) - sizeof(TCHAR);
    if (RegGetValue(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &bytes) !=
        ERROR_SUCCESS)
        return _T("<missing>");
    return data;
}

struct CleanBase {
    ~CleanBase() { RegDeleteTree(HKEY_CURRENT_USER, kBase.c_str()); RegDeleteKey(HKEY_CURRENT_USER, kBase.c_str()); }
};
}

TEST_CASE("a registry table writes its entries and removes only the Remove keys") {
    CleanBase clean;
    const tstring shared = kBase + _T("\\Shared");
    const tstring own = shared + _T("\\Own");
    RegistryTable table(HKEY_CURRENT_USER);
    table.Value(kBase + _T("\\Prog.1"), _T(""), _T("Object"))
        .Value(kBase + _T("\\Prog.1\\CLSID"), _T(""), _T("{X}"))
        .Key(shared, OnUnregister::Keep)
        .Value(own, _T(""), _T("Own object"))
        .Value(own, _T("Mode"), _T("free"))
        .Key(own + _T("\\Marker"));

    // A neighbour under the shared key that the table does not own.
    HKEY neighbour = nullptr;
    REQUIRE(RegCreateKeyEx(HKEY_CURRENT_USER, (shared + _T("\\Neighbour")).c_str(), 0, nullptr, 0,
                           KEY_WRITE, nullptr, &neighbour, nullptr) == ERROR_SUCCESS);
    RegCloseKey(neighbour);

    table.Register();
    CHECK(Read(kBase + _T("\\Prog.1"), nullptr) == _T("Object"));
    CHECK(Read(kBase + _T("\\Prog.1\\CLSID"), nullptr) == _T("{X}"));
    CHECK(Read(own, nullptr) == _T("Own object"));
    CHECK(Read(own, _T("Mode")) == _T("free"));
    CHECK(Exists(own + _T("\\Marker")));

    // Registering again overwrites in place.
    table.Register();
    CHECK(Read(own, _T("Mode")) == _T("free"));

    table.Unregister();
    CHECK_FALSE(Exists(kBase + _T("\\Prog.1")));
    CHECK_FALSE(Exists(own));
    CHECK(Exists(shared));
    CHECK(Exists(shared + _T("\\Neighbour")));

    // Nothing left to remove is no failure.
    CHECK_NOTHROW(table.Unregister());
}

TEST_CASE("a failed write throws with the registry's code") {
    RegistryTable table(HKEY_CURRENT_USER);
    // A key path may not exceed 255 characters per level.
    table.Value(kBase + _T("\\") + tstring(300, _T('x')), _T(""), _T("v"));
    CleanBase clean;
    bool thrown = false;
    try {
        table.Register();
    } catch (const ErrorBase& e) {
        thrown = true;
        CHECK((uint32_t(e.Code()) & 0xFFFF0000u) == 0x80070000u);
    }
    CHECK(thrown);
}

TEST_CASE("GUID text is braced upper case") {
    const GUID guid = {0x9df54c6f, 0x3f2e, 0x4359, {0xb3, 0x6a, 0xf6, 0xc8, 0x76, 0x3a, 0xdb, 0x1f}};
    CHECK(GuidText(guid) == _T("{9DF54C6F-3F2E-4359-B36A-F6C8763ADB1F}"));
}
