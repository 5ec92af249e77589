#include <doctest/doctest.h>
#include <atomic>
#include <stdexcept>
#include "test_category_support.h"
#include "common/errors/ErrorBase.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/GroupProcedures.h"

using namespace cattest;

namespace {

// Counts its calls; can ask the group to stop from inside the walk.
struct CountingTest : EntryTest {
    explicit CountingTest(std::atomic<int>* calls, ScanGroup* stopGroup = nullptr)
        : calls_(calls), stopGroup_(stopGroup) {}
    bool Test(const tstring&, RegValue&, CheckResult& result) override {
        result.ErrorID = 0;
        ++*calls_;
        if (stopGroup_) stopGroup_->RequestStop();
        return true;
    }
    std::atomic<int>* calls_;
    ScanGroup* stopGroup_;
};

// Fills a cache of its own during the walk and marks it ready at the end.
struct ProducerTest : EntryTest {
    explicit ProducerTest(tstring name, bool failInBegin = false, ScanGroup* stopGroup = nullptr)
        : name_(std::move(name)), fail_(failInBegin), stopGroup_(stopGroup) {}
    void Begin(ScanRule&) override {
        cache_ = CacheTable::Instance().GetOrCreate(name_);
        cache_->Set(L"PARTIAL", true);
        if (fail_) throw std::runtime_error("begin failed");
    }
    void End(ScanRule&) override { cache_->SetReady(true); }
    bool Test(const tstring&, RegValue&, CheckResult& result) override {
        result.ErrorID = 0;
        cache_->Set(L"WALKED", true);
        if (stopGroup_) stopGroup_->RequestStop();
        return true;
    }
    tstring name_;
    bool fail_;
    ScanGroup* stopGroup_;
    NamedCache* cache_ = nullptr;
};

// Waits for the cache when it is built, as the cached-verdict tests do, and
// reports every entry when the cache is ready and lacks the entry "WALKED".
struct ConsumerTest : EntryTest {
    explicit ConsumerTest(const tstring& name) {
        cache_ = CacheTable::Instance().Find(name, true);
        if (cache_) cache_->WaitReady(true);
    }
    bool Test(const tstring&, RegValue& value, CheckResult& result) override {
        result.ErrorID = 0;
        if (!cache_ || !cache_->WaitReady(false)) return true;
        if (cache_->Lookup(L"WALKED").value_or(false)) return true;
        result.ErrorID = 0x01310069;
        result.Item = value.Key().Name();
        return false;
    }
    NamedCache* cache_ = nullptr;
};

// Keys r1 ... r5 under a test key; rule n visits key rn once.
struct RuleKeys {
    RuleKeys() : key(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\" + Tag() + L"fw") {
        for (int i = 1; i <= 5; ++i) key.MakeSub(FormatText(L"r%d", i));
    }
    ScanRule Rule(ScanGroup& group, int n) const {
        return ScanRule(&group, FormatText(L"#HKCU#Software#OrvaneTest#%s#r%d", (Tag() + L"fw").c_str(), n),
                        L"#@MAGIC_PATTERN");
    }
    PlantedKey key;
};

template <class T, class... Args>
TestFactory Counted(std::atomic<int>* built, Args... args) {
    return [built, args...]() -> std::shared_ptr<EntryTest> {
        ++*built;
        return std::make_shared<T>(args...);
    };
}

}  // namespace

TEST_CASE("A procedure stopped during its third rule reports its end once and runs no further rule") {
    RuleKeys keys;
    TestSink sink;
    ScanGroup group(&sink, 16);
    std::atomic<int> calls{0}, built{0};

    CategoryRun run(group);
    run.Add(keys.Rule(group, 1), NewTest<CountingTest>(&calls));
    run.Add(keys.Rule(group, 2), NewTest<CountingTest>(&calls));
    run.Add(keys.Rule(group, 3), NewTest<CountingTest>(&calls, &group));
    run.Add(keys.Rule(group, 4), Counted<CountingTest>(&built, &calls));
    run.Add(keys.Rule(group, 5), Counted<CountingTest>(&built, &calls));
    // Every rule counts from the start.
    CHECK(group.SubtaskCount() == 5);

    CHECK(run.Run() == ScanGroup::ExitStopped);
    CHECK(calls == 3);
    CHECK(built == 0);
    CHECK(sink.finished == std::vector<uint32_t>{16});
    CHECK(group.SubtaskCount() == 0);
}

TEST_CASE("An unstopped procedure runs every rule, reports its end once and returns 0") {
    RuleKeys keys;
    TestSink sink;
    ScanGroup group(&sink, 16);
    std::atomic<int> calls{0};
    TestFactory shared = SharedTest<CountingTest>(&calls);
    CategoryRun run(group);
    for (int n = 1; n <= 5; ++n) run.Add(keys.Rule(group, n), shared);
    CHECK(run.Run() == ScanGroup::ExitDone);
    CHECK(calls == 5);
    CHECK(shared().use_count() == 2);  // the factory's cell and this call: one object served every rule
    CHECK(sink.finished == std::vector<uint32_t>{16});
}

TEST_CASE("A test waiting for a cache of its own thread is built after the rule that fills it") {
    RuleKeys keys;
    const tstring cacheName = Tag() + L"own_cache";
    TestSink sink;
    ScanGroup group(&sink, 1, [&](ScanGroup& g) {
        CategoryRun run(g);
        run.Add(keys.Rule(g, 1), NewTest<ProducerTest>(cacheName), {cacheName});
        run.Add(keys.Rule(g, 2), NewTest<ConsumerTest>(cacheName));
        return run.Run();
    });
    REQUIRE(group.Start() == ScanGroup::Started);
    // Built before the producer's walk, the consumer would wait for good.
    group.Wait(30000);
    CHECK(group.ExitCode() == ScanGroup::ExitDone);
    CHECK(sink.found.empty());
    CHECK(sink.finished == std::vector<uint32_t>{1});
}

TEST_CASE("A failing rule is confined to itself and releases its caches as not ready") {
    RuleKeys keys;
    std::atomic<int> calls{0};

    SUBCASE("its test cannot be built") {
        const tstring cacheName = Tag() + L"unbuilt_cache";
        TestSink sink;
        ScanGroup group(&sink, 1, [&](ScanGroup& g) {
            CategoryRun run(g);
            run.Add(keys.Rule(g, 1), []() -> std::shared_ptr<EntryTest> { throw Win32Error(ERROR_OUTOFMEMORY); },
                    {cacheName});
            run.Add(keys.Rule(g, 2), NewTest<ConsumerTest>(cacheName));
            run.Add(keys.Rule(g, 3), NewTest<CountingTest>(&calls));
            return run.Run();
        });
        REQUIRE(group.Start() == ScanGroup::Started);
        group.Wait(30000);
        CHECK(group.ExitCode() == ScanGroup::ExitDone);
        CHECK(calls == 1);
        CHECK(sink.found.empty());
        CHECK(sink.errors.empty());  // the group itself did not fail
        NamedCache* cache = CacheTable::Instance().Find(cacheName, false);
        REQUIRE(cache != nullptr);
        CHECK_FALSE(cache->IsReady());
    }
    SUBCASE("its Begin fails after part of the cache was filled") {
        const tstring cacheName = Tag() + L"partial_cache";
        TestSink sink;
        ScanGroup group(&sink, 1, [&](ScanGroup& g) {
            CategoryRun run(g);
            run.Add(keys.Rule(g, 1), NewTest<ProducerTest>(cacheName, true), {cacheName});
            // A partial cache taken as complete would make this consumer report.
            run.Add(keys.Rule(g, 2), NewTest<ConsumerTest>(cacheName));
            run.Add(keys.Rule(g, 3), NewTest<CountingTest>(&calls));
            return run.Run();
        });
        REQUIRE(group.Start() == ScanGroup::Started);
        group.Wait(30000);
        CHECK(group.ExitCode() == ScanGroup::ExitDone);
        CHECK(calls == 1);
        CHECK(sink.found.empty());
        CHECK_FALSE(CacheTable::Instance().GetOrCreate(cacheName)->IsReady());
    }
}

TEST_CASE("A producer stopped during its walk leaves its cache not ready") {
    RuleKeys keys;
    const tstring cacheName = Tag() + L"stopped_cache";
    TestSink sink;
    ScanGroup group(&sink, 1);
    std::atomic<int> built{0};
    CategoryRun run(group);
    // Visits r1 to r3; the stop comes at the first of them.
    run.Add(ScanRule(&group, FormatText(L"#HKCU#Software#OrvaneTest#%s@^r[1-3]$", (Tag() + L"fw").c_str()),
                     L"#@MAGIC_PATTERN"),
            NewTest<ProducerTest>(cacheName, false, &group), {cacheName});
    run.Add(keys.Rule(group, 4), Counted<ConsumerTest>(&built, cacheName));
    CHECK(run.Run() == ScanGroup::ExitStopped);
    CHECK(built == 0);
    NamedCache* cache = CacheTable::Instance().Find(cacheName, false);
    REQUIRE(cache != nullptr);
    CHECK_FALSE(cache->IsReady());
    CHECK(cache->Lookup(L"WALKED").value_or(false));
    CHECK(sink.finished == std::vector<uint32_t>{1});
}

TEST_CASE("Every category bit has its procedure") {
    for (uint32_t bit = 1; bit <= 128; bit <<= 1) CHECK(GroupProcedureFor(bit) != nullptr);
    CHECK(GroupProcedureFor(0) == nullptr);
    CHECK(GroupProcedureFor(3) == nullptr);
    CHECK(GroupProcedureFor(256) == nullptr);
}
