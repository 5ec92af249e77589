#include <doctest/doctest.h>
#include <atomic>
#include <thread>
#include <vector>
#include "engine/registry/CacheTable.h"
#include "TestLimits.h"

namespace {
const wchar_t* const kName = L"Test_Cache";
}

TEST_CASE("CacheTable creates a cache once and finds it without waiting") {
    CacheTable table;
    CHECK(table.Find(kName, false) == nullptr);
    NamedCache* c = table.GetOrCreate(kName);
    REQUIRE(c != nullptr);
    CHECK(c->Name() == kName);
    CHECK(table.GetOrCreate(kName) == c);
    CHECK(table.Find(kName, false) == c);
    // Names compare ordinally.
    CHECK(table.Find(L"test_cache", false) == nullptr);
    CHECK(&CacheTable::Instance() == &CacheTable::Instance());
}

TEST_CASE("NamedCache verdicts") {
    CacheTable table;
    NamedCache* c = table.GetOrCreate(kName);
    CHECK_FALSE(c->Contains(L"{A}"));
    CHECK_FALSE(c->Lookup(L"{A}").has_value());
    CHECK(c->Insert(L"{A}") == false);  // added, not yet known
    CHECK(c->Contains(L"{A}"));
    c->Set(L"{A}", true);
    CHECK(c->Insert(L"{A}") == true);  // an existing verdict is kept
    CHECK(c->Lookup(L"{A}") == std::optional<bool>(true));
    // Keys are ordinal: upper-cased CLSIDs meet, ProgIDs in another case do not.
    tstring clsid = L"{abc}";
    for (auto& ch : clsid) ch = towupper(ch);
    c->Set(clsid, true);
    CHECK(c->Lookup(L"{ABC}") == std::optional<bool>(true));
    c->Set(L"Word.Document", true);
    CHECK_FALSE(c->Contains(L"word.document"));
    CHECK(c->Erase(L"{A}"));
    CHECK_FALSE(c->Erase(L"{A}"));
    CHECK(c->Size() == 2);
    c->SetReady(true);
    CHECK(c->IsReady());
    c->Clear();
    CHECK(c->Size() == 0);
    CHECK_FALSE(c->IsReady());
}

TEST_CASE("A consumer that asks before the producer exists gets the filled cache") {
    CacheTable table;
    std::atomic<bool> got{false};
    bool verdictA = false, ready = false, presentB = true;
    std::thread consumer([&] {
        NamedCache* c = table.Find(kName, true);
        if (c) {
            ready = c->WaitReady(true);
            verdictA = c->Lookup(L"A").value_or(false);
            presentB = c->Contains(L"B");
        }
        got = true;
    });
    Sleep(50);
    CHECK_FALSE(got);  // nothing has released it yet
    std::thread producer([&] {
        NamedCache* c = table.GetOrCreate(kName);
        c->Set(L"A", true);
        c->Insert(L"C");
        c->SetReady(true);
    });
    testlimit::Join(producer, testlimit::kStep, "the cache's producer");
    testlimit::Join(consumer, testlimit::kStep, "the consumer waiting for the cache");
    CHECK(got);
    CHECK(ready);
    CHECK(verdictA);
    CHECK_FALSE(presentB);
}

TEST_CASE("SignalAll releases waiters without completing the caches") {
    CacheTable table;
    NamedCache* existing = table.GetOrCreate(L"Existing_Cache");
    NamedCache* found = reinterpret_cast<NamedCache*>(1);
    bool readyAfterStop = true;
    std::thread waitMissing([&] { found = table.Find(L"Never_Made", true); });
    std::thread waitExisting([&] { readyAfterStop = existing->WaitReady(true); });
    Sleep(50);
    table.SignalAll();
    testlimit::Join(waitMissing, testlimit::kStep, "the wait for a cache never made");
    testlimit::Join(waitExisting, testlimit::kStep, "the wait for an existing cache");
    CHECK(found == nullptr);
    CHECK_FALSE(readyAfterStop);
    // Later waits return at once with "not completed".
    CHECK_FALSE(existing->WaitReady(true));
}

TEST_CASE("ResetAll starts a new scan: caches empty, consumers block until the new producer is done") {
    CacheTable table;
    NamedCache* c = table.GetOrCreate(CacheTable::InvalidClsidCache);
    c->Set(L"X", true);
    c->SetReady(true);
    table.ResetAll();
    CHECK(c->Size() == 0);
    CHECK_FALSE(c->IsReady());
    std::atomic<bool> released{false};
    bool ready = false;
    std::thread consumer([&] {
        NamedCache* found = table.Find(CacheTable::InvalidClsidCache, true);
        ready = found && found->WaitReady(true);
        released = true;
    });
    Sleep(50);
    CHECK_FALSE(released);
    c->SetReady(true);
    testlimit::Join(consumer, testlimit::kStep, "the consumer waiting for the new producer");
    CHECK(ready);
}

TEST_CASE("A scan without the producing group does not block the consumers") {
    CacheTable table;
    NamedCache* made = table.GetOrCreate(CacheTable::TypeLibCache);
    table.ResetAll(2 | 64);  // the COM group is not part of this scan
    // Both a cache that exists and one never made return at once, not completed.
    CHECK_FALSE(made->WaitReady(true));
    CHECK(table.Find(CacheTable::ProgIdCache, true) == nullptr);
    CHECK(table.Find(CacheTable::TypeLibCache, true) == made);

    SUBCASE("with the producer in the scan they wait again") {
        table.ResetAll(1 | 2);
        std::atomic<bool> released{false};
        std::thread consumer([&] {
            table.Find(CacheTable::ServiceCache, true);
            released = true;
        });
        Sleep(50);
        CHECK_FALSE(released);
        // The producer group ended without completing its caches.
        table.ReleaseProducer(1);
        testlimit::Join(consumer, testlimit::kStep, "the consumer waiting for the producer group");
        CHECK(released);
    }
    SUBCASE("a declared producer of another group") {
        table.SetProducer(kName, 8);
        table.ResetAll(1);
        CHECK(table.Find(kName, true) == nullptr);
    }
}

TEST_CASE("Concurrent insert, erase and lookup keep the cache consistent") {
    CacheTable table;
    NamedCache* c = table.GetOrCreate(kName);
    const int kThreads = 4, kKeys = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (int i = 0; i < kKeys; ++i) {
                    tstring key = FormatText(L"K%d-%d", t, i);
                    c->Insert(key);
                    c->Set(key, (i & 1) != 0);
                    c->Lookup(FormatText(L"K%d-%d", (t + 1) % kThreads, i));
                    c->Contains(key);
                }
                for (int i = 0; i < kKeys; i += 2) c->Erase(FormatText(L"K%d-%d", t, i));
            }
        });
    }
    for (auto& th : threads) testlimit::Join(th, testlimit::kStep, "the cache's writers");
    CHECK(c->Size() == size_t(kThreads * kKeys / 2));
    for (int t = 0; t < kThreads; ++t) {
        CHECK(c->Lookup(FormatText(L"K%d-%d", t, 1)) == std::optional<bool>(true));
        CHECK_FALSE(c->Contains(FormatText(L"K%d-%d", t, 0)));
    }
}
