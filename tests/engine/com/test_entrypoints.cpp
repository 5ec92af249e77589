#include "EngineTestSupport.h"
#include <doctest/doctest.h>

namespace {
using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(WINAPI*)();

struct Library {
    Library() : module(LoadLibraryW(EngineDllPath().c_str())) {}
    ~Library() {
        if (module)
            FreeLibrary(module);
    }
    HMODULE module;
};
}

TEST_CASE("the exported entry points: class objects and the unload answer") {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        Library dll;
        REQUIRE(dll.module != nullptr);
        auto getClassObject =
            reinterpret_cast<GetClassObjectFn>(GetProcAddress(dll.module, "DllGetClassObject"));
        auto canUnloadNow =
            reinterpret_cast<CanUnloadNowFn>(GetProcAddress(dll.module, "DllCanUnloadNow"));
        REQUIRE(bool(getClassObject));
        REQUIRE(bool(canUnloadNow));
        CHECK(bool(GetProcAddress(dll.module, "DllRegisterServer")));
        CHECK(bool(GetProcAddress(dll.module, "DllUnregisterServer")));
        CHECK(bool(GetProcAddress(dll.module, "DllMain")));

        CHECK(canUnloadNow() == S_OK);

        // Records are made only by the engine itself.
        void* none = nullptr;
        CHECK(getClassObject(CLSID_CqnRegRecord, IID_IClassFactory, &none) ==
              CLASS_E_CLASSNOTAVAILABLE);
        CHECK(none == nullptr);

        IClassFactory* factory = nullptr;
        REQUIRE(getClassObject(CLSID_CCrawler, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)) == S_OK);
        ICrawler* crawler = nullptr;
        REQUIRE(factory->CreateInstance(nullptr, IID_ICrawler,
                                        reinterpret_cast<void**>(&crawler)) == S_OK);
        // A live object keeps the module loaded, and so does LockServer.
        CHECK(canUnloadNow() == S_FALSE);
        crawler->Release();
        CHECK(canUnloadNow() == S_OK);
        factory->LockServer(TRUE);
        CHECK(canUnloadNow() == S_FALSE);
        factory->LockServer(FALSE);
        CHECK(canUnloadNow() == S_OK);
        factory->Release();
    }
    CoUninitialize();
}
