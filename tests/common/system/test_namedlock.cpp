#include <doctest/doctest.h>
#include <process.h>
#include "common/system/NamedLock.h"

namespace {

tstring UniqueName(const TCHAR* what) {
    return FormatText(_T("OrvaneTest-%s-%u"), what, unsigned(GetCurrentProcessId()));
}

struct Contender {
    tstring name;
    int kind;
    volatile LONG owned = 0;
};

unsigned __stdcall Contend(void* argument) {
    Contender* c = static_cast<Contender*>(argument);
    NamedLock lock;
    if (lock.Acquire(c->name.c_str(), c->kind))
        InterlockedExchange(&c->owned, 1);
    return 0;
}

// Takes the mutex and ends the thread without releasing it, which abandons it.
unsigned __stdcall Abandon(void* argument) {
    Contender* c = static_cast<Contender*>(argument);
    HANDLE mutex = CreateMutex(nullptr, FALSE, c->name.c_str());
    if (WaitForSingleObject(mutex, 30000) == WAIT_OBJECT_0)
        InterlockedExchange(&c->owned, 1);
    CloseHandle(mutex);
    return 0;
}

HANDLE Start(Contender& c) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Contend, &c, 0, nullptr));
}

}  // namespace

TEST_CASE("NamedLock kinds") {
    tstring name = UniqueName(_T("kinds"));
    NamedLock first;
    CHECK(first.Acquire(name.c_str(), NamedLock::CreateOwned));
    CHECK(first.Owned());
    CHECK_FALSE(first.Existed());

    NamedLock opener;
    CHECK_FALSE(opener.Acquire(name.c_str(), NamedLock::OpenOnly));
    CHECK(opener.Existed());
    CHECK(opener.Handle() != nullptr);

    first.Release();
    CHECK_FALSE(first.Owned());
    CHECK(first.Handle() != nullptr);
    CHECK(opener.Wait(0));
    opener.Close();
    CHECK(opener.Handle() == nullptr);
    CHECK_FALSE(opener.Wait(0));
}

TEST_CASE("NamedLock kind 1 waits for a mutex that already exists instead of claiming it") {
    tstring name = UniqueName(_T("exists"));
    NamedLock holder;
    REQUIRE(holder.Acquire(name.c_str(), NamedLock::WaitOwned));
    Contender c{name, NamedLock::CreateOwned};
    HANDLE thread = Start(c);
    // Generous: a contender that claimed the lock would report it at once.
    CHECK(WaitForSingleObject(thread, 300) == WAIT_TIMEOUT);
    CHECK(c.owned == 0);
    holder.Release();
    CHECK(WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0);
    CHECK(c.owned == 1);
    CloseHandle(thread);
}

TEST_CASE("NamedLock::Wait: time-out, abandoned and recursive ownership") {
    tstring name = UniqueName(_T("wait"));
    NamedLock lock;
    lock.Acquire(name.c_str(), NamedLock::OpenOnly);
    REQUIRE(lock.Handle() != nullptr);

    Contender c{name, NamedLock::WaitOwned};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Abandon, &c, 0, nullptr));
    REQUIRE(WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    CHECK(c.owned == 1);
    // The owner ended without releasing: abandoned still counts as owned.
    CHECK(lock.Wait(5000));
    CHECK(lock.Owned());
    CHECK(lock.Wait(0));  // recursive for its owner
    CHECK(ReleaseMutex(lock.Handle()));
    lock.Close();
}

TEST_CASE("NamedLock: a held mutex times out for others") {
    tstring name = UniqueName(_T("timeout"));
    NamedLock a;
    REQUIRE(a.Acquire(name.c_str(), NamedLock::CreateOwned));
    struct Args {
        tstring name;
        volatile LONG result = -1;
    } args{name};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, 0,
        [](void* p) -> unsigned {
            Args* args = static_cast<Args*>(p);
            NamedLock b;
            b.Acquire(args->name.c_str(), NamedLock::OpenOnly);
            InterlockedExchange(&args->result, b.Wait(10) ? 1 : 0);
            return 0;
        },
        &args, 0, nullptr));
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    CHECK(args.result == 0);
}

TEST_CASE("NamedLock: the block lock name") {
    const void* block = reinterpret_cast<const void*>(static_cast<uintptr_t>(0xABC0));
    CHECK(NamedLock::BlockLockName(block) == FormatText(_T("MEMLCK-%X-ABC0"), unsigned(GetCurrentProcessId())));
    NamedLock lock;
    CHECK(lock.Open(block, NamedLock::WaitOwned));
    CHECK(lock.Owned());
}
