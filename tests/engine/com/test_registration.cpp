#include "EngineTestSupport.h"
#include <doctest/doctest.h>
#include <oleauto.h>

namespace {
const std::wstring kClassKey = L"CLSID\\{9DF54C6F-3F2E-4359-B36A-F6C8763ADB1F}";
const std::wstring kClsid = L"{9DF54C6F-3F2E-4359-B36A-F6C8763ADB1F}";
const std::wstring kLibid = L"{7BAD77B0-1397-4787-B963-DBF7F5C5757A}";

using Names = std::set<std::wstring>;
using Values = std::map<std::wstring, std::wstring>;
}

TEST_CASE("regsvr32 writes exactly the class, ProgID and AppID keys") {
    RegisteredEngine engine;

    CHECK(ClassesSubKeys(L"OrvaneEngine.Crawler.1") == Names{L"CLSID"});
    CHECK(ClassesValues(L"OrvaneEngine.Crawler.1") == Values{{L"", L"CCrawler Object"}});
    CHECK(ClassesValues(L"OrvaneEngine.Crawler.1\\CLSID") == Values{{L"", kClsid}});

    CHECK(ClassesSubKeys(L"OrvaneEngine.Crawler") == Names{L"CLSID", L"CurVer"});
    CHECK(ClassesValues(L"OrvaneEngine.Crawler") == Values{{L"", L"CCrawler Object"}});
    CHECK(ClassesValues(L"OrvaneEngine.Crawler\\CLSID") == Values{{L"", kClsid}});
    CHECK(ClassesValues(L"OrvaneEngine.Crawler\\CurVer") ==
          Values{{L"", L"OrvaneEngine.Crawler.1"}});

    CHECK(ClassesSubKeys(kClassKey) == Names{L"InprocServer32", L"ProgID", L"Programmable",
                                              L"TypeLib", L"VersionIndependentProgID"});
    Values classValues = ClassesValues(kClassKey);
    REQUIRE(classValues.size() == 2);
    CHECK(classValues[L""] == L"CCrawler Object");
    const std::wstring appId = classValues[L"APPID"];
    CLSID parsed;
    REQUIRE(CLSIDFromString(appId.c_str(), &parsed) == S_OK);
    CHECK(appId == Upper(appId));

    CHECK(ClassesValues(kClassKey + L"\\ProgID") == Values{{L"", L"OrvaneEngine.Crawler.1"}});
    CHECK(ClassesValues(kClassKey + L"\\VersionIndependentProgID") ==
          Values{{L"", L"OrvaneEngine.Crawler"}});
    CHECK(ClassesSubKeys(kClassKey + L"\\Programmable").empty());
    CHECK(ClassesValues(kClassKey + L"\\Programmable").empty());
    CHECK(ClassesValues(kClassKey + L"\\TypeLib") == Values{{L"", kLibid}});

    Values server = ClassesValues(kClassKey + L"\\InprocServer32");
    REQUIRE(server.size() == 2);
    CHECK(Upper(server[L""]) == Upper(EngineDllPath()));
    CHECK(server[L"THREADINGMODEL"] == L"free");

    CHECK(ClassesSubKeys(L"AppID\\" + appId).empty());
    CHECK(ClassesValues(L"AppID\\" + appId) == Values{{L"", L"OrvaneEngine"}});
    CHECK(ClassesSubKeys(L"AppID\\OrvaneEngine.DLL").empty());
    CHECK(ClassesValues(L"AppID\\OrvaneEngine.DLL") == Values{{L"APPID", appId}});

    // The type library is registered under its LIBID for the module itself.
    ITypeLib* library = nullptr;
    REQUIRE(LoadRegTypeLib(LIBID_OrvaneEngine, 1, 0, 0x409, &library) == S_OK);
    library->Release();
    CHECK(Upper(ClassesValues(L"TypeLib\\" + kLibid + L"\\1.0\\409\\win64")[L""]) ==
          Upper(EngineDllPath()));
}

TEST_CASE("regsvr32 /u removes the engine's keys and keeps the shared AppID key") {
    std::wstring appId;
    {
        RegisteredEngine engine;
        appId = ClassesValues(kClassKey)[L"APPID"];
        REQUIRE(ClassesKeyExists(L"AppID\\" + appId));
    }
    CHECK_FALSE(ClassesKeyExists(L"OrvaneEngine.Crawler.1"));
    CHECK_FALSE(ClassesKeyExists(L"OrvaneEngine.Crawler"));
    CHECK_FALSE(ClassesKeyExists(kClassKey));
    CHECK_FALSE(ClassesKeyExists(L"AppID\\" + appId));
    CHECK_FALSE(ClassesKeyExists(L"AppID\\OrvaneEngine.DLL"));
    CHECK(ClassesKeyExists(L"AppID"));
    CHECK(ClassesKeyExists(L"CLSID"));
    CHECK_FALSE(ClassesKeyExists(L"TypeLib\\" + kLibid));

    CLSID clsid;
    CHECK(FAILED(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid)));
}

TEST_CASE("registering twice is harmless and one unregistration removes everything") {
    {
        RegisteredEngine first;
        CHECK(RunRegsvr32(false) == 0);
        CHECK(ClassesKeyExists(kClassKey + L"\\InprocServer32"));
    }
    CHECK_FALSE(ClassesKeyExists(kClassKey));
    // Unregistering what is not registered succeeds too.
    CHECK(RunRegsvr32(true) == 0);
}
