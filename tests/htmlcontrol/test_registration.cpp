#include "ControlTestSupport.h"
#include <doctest/doctest.h>
#include <oleauto.h>
#include "htmlcontrol/qnControl.h"

namespace {
using Names = std::set<std::wstring>;
using Values = std::map<std::wstring, std::wstring>;
const std::wstring kClsid = L"{7B24A4FF-CAE2-4F2A-B2CA-907AA7E31A5B}";
const std::wstring kClassKey = L"CLSID\\" + kClsid;
const std::wstring kLibid = L"{31D4B7C3-1AEB-44F0-98FE-72384C19D2C9}";
}

TEST_CASE("regsvr32 writes exactly the control's keys and /u removes them, keeping shared ones") {
    std::wstring appId;
    {
        RegisteredControl control;
        RegQuery progId = QueryClassesKey(L"qnControl.QNHTMLControl.1");
        CHECK(progId.keys == Names{L"CLSID"});
        CHECK(QueryClassesKey(L"qnControl.QNHTMLControl.1\\CLSID").values == Values{{L"", kClsid}});
        CHECK(QueryClassesKey(L"qnControl.QNHTMLControl").keys == Names{L"CLSID", L"CurVer"});
        CHECK(QueryClassesKey(L"qnControl.QNHTMLControl\\CLSID").values == Values{{L"", kClsid}});
        CHECK(QueryClassesKey(L"qnControl.QNHTMLControl\\CurVer").values ==
              Values{{L"", L"qnControl.QNHTMLControl.1"}});

        RegQuery cls = QueryClassesKey(kClassKey);
        CHECK(cls.keys == Names{L"Control", L"InprocServer32", L"MiscStatus", L"ProgID", L"ToolboxBitmap32",
                                L"TypeLib", L"Version", L"VersionIndependentProgID"});
        CHECK(cls.values == Values{{L"", L"CQNHTMLControl Object"}});
        CHECK(QueryClassesKey(kClassKey + L"\\ProgID").values == Values{{L"", L"qnControl.QNHTMLControl.1"}});
        CHECK(QueryClassesKey(kClassKey + L"\\VersionIndependentProgID").values ==
              Values{{L"", L"qnControl.QNHTMLControl"}});
        CHECK(QueryClassesKey(kClassKey + L"\\MiscStatus").values == Values{{L"", L"131473"}});
        CHECK(QueryClassesKey(kClassKey + L"\\TypeLib").values == Values{{L"", kLibid}});
        CHECK(QueryClassesKey(kClassKey + L"\\Version").values == Values{{L"", L"1.0"}});
        CHECK(QueryClassesKey(kClassKey + L"\\Control").values.empty());
        Values server = QueryClassesKey(kClassKey + L"\\InprocServer32").values;
        CHECK(Upper(server[L""]) == Upper(ControlDllPath()));
        CHECK(server[L"THREADINGMODEL"] == L"apartment");
        CHECK(server.size() == 2);
        CHECK(Upper(QueryClassesKey(kClassKey + L"\\ToolboxBitmap32").values[L""]) ==
              Upper(ControlDllPath() + L", 1"));

        Values dll = QueryClassesKey(L"AppID\\qnControl.DLL").values;
        REQUIRE(dll.size() == 1);
        appId = dll[L"APPID"];
        CLSID parsed;
        CHECK(CLSIDFromString(appId.c_str(), &parsed) == S_OK);
        CHECK(QueryClassesKey(L"AppID\\" + appId).values == Values{{L"", L"qnControl"}});

        ITypeLib* library = nullptr;
        REQUIRE(LoadRegTypeLib(LIBID_qnControl, 1, 0, 0x409, &library) == S_OK);
        library->Release();

        // The toolbox bitmap the key names is in the module.
        HMODULE module = LoadLibraryExW(ControlDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        REQUIRE(module);
        CHECK(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(2)) != nullptr);
        FreeLibrary(module);
    }
    CHECK_FALSE(QueryClassesKey(L"qnControl.QNHTMLControl.1").found);
    CHECK_FALSE(QueryClassesKey(L"qnControl.QNHTMLControl").found);
    CHECK_FALSE(QueryClassesKey(kClassKey).found);
    CHECK_FALSE(QueryClassesKey(L"AppID\\" + appId).found);
    CHECK_FALSE(QueryClassesKey(L"AppID\\qnControl.DLL").found);
    CHECK_FALSE(QueryClassesKey(L"TypeLib\\" + kLibid).found);
    CHECK(QueryClassesKey(L"AppID").found);
    CHECK(QueryClassesKey(L"CLSID").found);
}
