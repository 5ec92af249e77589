#include <doctest/doctest.h>
#include "common/com/ServerModule.h"
#include "Recorder.h"

namespace {
// {5F0A7E0C-6B1E-4B8C-9C55-0B7E4A6E1D01}
const CLSID kTestClass = {0x5f0a7e0c, 0x6b1e, 0x4b8c, {0x9c, 0x55, 0x0b, 0x7e, 0x4a, 0x6e, 0x1d, 0x01}};
const CLSID kOtherClass = {0x5f0a7e0c, 0x6b1e, 0x4b8c, {0x9c, 0x55, 0x0b, 0x7e, 0x4a, 0x6e, 0x1d, 0x02}};

int g_created = 0;

HRESULT CreateRecorder(REFIID iid, void** result) {
    ++g_created;
    Recorder* recorder = new Recorder();
    HRESULT hr = recorder->QueryInterface(iid, result);
    recorder->Release();
    return hr;
}

const ClassEntry kClasses[] = {{&kTestClass, &CreateRecorder}};
}

TEST_CASE("class objects: creation, aggregation refusal and server locks") {
    IClassFactory* factory = nullptr;
    REQUIRE(ServerGetClassObject(kClasses, 1, kTestClass, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)) == S_OK);
    REQUIRE(factory != nullptr);

    SUBCASE("an unknown class or interface is refused") {
        void* other = reinterpret_cast<void*>(1);
        CHECK(ServerGetClassObject(kClasses, 1, kOtherClass, IID_IClassFactory, &other) ==
              CLASS_E_CLASSNOTAVAILABLE);
        CHECK(other == nullptr);
        CHECK(ServerGetClassObject(kClasses, 1, kTestClass, IID_IDispatch, &other) ==
              E_NOINTERFACE);
        CHECK(ServerGetClassObject(kClasses, 1, kTestClass, IID_IClassFactory, nullptr) ==
              E_POINTER);
    }

    SUBCASE("CreateInstance") {
        int before = g_created;
        IDispatch* object = nullptr;
        CHECK(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)) ==
              S_OK);
        REQUIRE(object != nullptr);
        object->Release();
        CHECK(g_created == before + 1);

        BareUnknown outer;
        IUnknown* inner = reinterpret_cast<IUnknown*>(1);
        CHECK(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)) ==
              CLASS_E_NOAGGREGATION);
        CHECK(inner == nullptr);
        CHECK(factory->CreateInstance(&outer, IID_IDispatch, reinterpret_cast<void**>(&inner)) ==
              CLASS_E_NOAGGREGATION);
        CHECK(factory->CreateInstance(nullptr, IID_IDispatch, nullptr) == E_POINTER);
        CHECK(g_created == before + 1);
        CHECK(outer.refs_ == 1);
    }

    SUBCASE("LockServer keeps the module loaded") {
        LONG before = ComModule::LockCount();
        CHECK(factory->LockServer(TRUE) == S_OK);
        CHECK(ComModule::LockCount() == before + 1);
        CHECK(ServerCanUnloadNow() == S_FALSE);
        CHECK(factory->LockServer(FALSE) == S_OK);
        CHECK(ComModule::LockCount() == before);
    }

    factory->Release();
    CHECK(ServerCanUnloadNow() == S_OK);
}

TEST_CASE("a module lock is held for the life of its holder") {
    LONG before = ComModule::LockCount();
    {
        ModuleLock a, b;
        CHECK(ComModule::LockCount() == before + 2);
    }
    CHECK(ComModule::LockCount() == before);
}
