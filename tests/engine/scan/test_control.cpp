#include <windows.h>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>
#include <doctest/doctest.h>
#include <sddl.h>
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/scan/ScanController.h"

namespace {

// Everything the controller hands to the engine object, from any thread.
class RecordingEvents : public ScanEvents {
public:
    struct Found {
        tstring text;
        uint32_t bit;
        int32_t errorId;
        int32_t fixId;
    };

    void AppendRecord(const FoundRecord& record) override {
        std::lock_guard<std::mutex> hold(mutex_);
        records_.push_back(record);
    }
    void RaiseFound(const tstring& text, uint32_t groupBit, int32_t errorId, int32_t fixId) override {
        std::lock_guard<std::mutex> hold(mutex_);
        found_.push_back(Found{text, groupBit, errorId, fixId});
    }
    void RaiseProgress(uint32_t groupBit, int32_t percent) override {
        std::lock_guard<std::mutex> hold(mutex_);
        progress_.push_back({groupBit, percent});
    }
    void RaiseFinish(uint32_t groupBit) override {
        std::lock_guard<std::mutex> hold(mutex_);
        finished_.insert(groupBit);
        SetEvent(finishEvent_);
    }

    std::vector<FoundRecord> Records() {
        std::lock_guard<std::mutex> hold(mutex_);
        return records_;
    }
    std::vector<Found> FoundEvents() {
        std::lock_guard<std::mutex> hold(mutex_);
        return found_;
    }
    std::set<uint32_t> Finished() {
        std::lock_guard<std::mutex> hold(mutex_);
        return finished_;
    }
    // Waits until every group of bits has finished.
    bool WaitFinished(const std::set<uint32_t>& bits, DWORD timeoutMs = 20000) {
        ULONGLONG end = GetTickCount64() + timeoutMs;
        for (;;) {
            std::set<uint32_t> done = Finished();
            bool all = true;
            for (uint32_t bit : bits)
                all = all && done.count(bit);
            if (all)
                return true;
            if (GetTickCount64() >= end)
                return false;
            WaitForSingleObject(finishEvent_, 50);
        }
    }

    RecordingEvents() : finishEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~RecordingEvents() override { CloseHandle(finishEvent_); }

private:
    std::mutex mutex_;
    std::vector<FoundRecord> records_;
    std::vector<Found> found_;
    std::vector<std::pair<uint32_t, int32_t>> progress_;
    std::set<uint32_t> finished_;
    HANDLE finishEvent_;
};

tstring TempFile(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return FormatText(L"%sorvane-control-%s-%u.dat", temp, name, unsigned(GetCurrentProcessId()));
}

// A controller over its own found-list mutex, fix map and ignore list, with
// the procedures the test gives per group bit.
struct Engine {
    explicit Engine(std::map<uint32_t, GroupProcedure> procedures)
        : mutex(CreateMutexW(nullptr, FALSE, nullptr)),
          ignores(TempFile(L"user"), TempFile(L"system")),
          controller(new ScanController(events, mutex, fixes, &ignores, [procedures](uint32_t bit) {
              auto it = procedures.find(bit);
              return it == procedures.end() ? GroupProcedure() : it->second;
          })) {}
    ~Engine() {
        controller.reset();
        CloseHandle(mutex);
    }

    HANDLE mutex;
    FixMap fixes;
    IgnoreList ignores;
    RecordingEvents events;
    std::unique_ptr<ScanController> controller;
};

CheckResult Finding(uint16_t problem, const tstring& keyPath, const tstring& valueName, const tstring& item) {
    return CheckResult{problem ? int32_t(MakeErrorID(problem, 100)) : 0, item, L"reason of " + item, keyPath, valueName};
}

// A procedure that reports the findings, then ends.
GroupProcedure Reporting(std::vector<CheckResult> findings) {
    return [findings](ScanGroup& group) -> DWORD {
        for (const CheckResult& finding : findings)
            group.ReportFound(finding.KeyPath, finding.ValueName, finding);
        return ScanGroup::ExitDone;
    };
}

const tstring kRoot = FormatText(L"HKCU\\Software\\OrvaneTest\\control\\scan-%u", unsigned(GetCurrentProcessId()));

}  // namespace

TEST_CASE("control: every finding passes the ignore lists, gets its fix plan and is announced") {
    const tstring ignored = kRoot + L"\\Ignored";
    std::vector<CheckResult> findings = {
        Finding(ProblemHelpFile, kRoot + L"\\A", L"Help", L"c:\\missing.hlp"),
        Finding(ProblemInterface, kRoot + L"\\B", L"", L""),
        Finding(ProblemDefaultKey, kRoot + L"\\C", L"Name", L"no planner"),
        Finding(ProblemHelpFile, ignored + L"Below\\Deeper", L"Help", L"{abcdef}"),
        Finding(0, ignored, L"", L"sound"),
        Finding(ProblemHelpFile, kRoot + L"\\D", L"", L""),
    };
    Engine engine({{1, Reporting(findings)}});
    ScanRecord rule;
    rule.KeyPath = ignored;
    engine.ignores.Add(rule);
    NamedCache* cache = CacheTable::Instance().GetOrCreate(CacheTable::InvalidClsidCache);

    engine.controller->Scan(1);
    REQUIRE(engine.events.WaitFinished({1}));
    auto found = engine.events.FoundEvents();
    auto records = engine.events.Records();
    REQUIRE(found.size() == 5);
    REQUIRE(records.size() == 5);

    SUBCASE("planned findings get FixIDs counted up, and their entries wait in the fix map") {
        CHECK(found[0].fixId > 0);
        CHECK(found[1].fixId == found[0].fixId + 1);
        CHECK(found[4].fixId == found[1].fixId + 1);
        CHECK(engine.fixes.Contains(found[0].fixId));
        CHECK(engine.fixes.Contains(found[1].fixId));
        CHECK(engine.fixes.Contains(found[4].fixId));
        CheckResult stored;
        REQUIRE(engine.fixes.GetError(found[0].fixId, stored));
        CHECK(stored.Item == L"c:\\missing.hlp");
        CHECK(stored.ValueName == L"Help");
    }
    SUBCASE("a finding without a planner is announced with FixID 0 and never planned") {
        CHECK(found[2].fixId == 0);
        CHECK(found[2].errorId == int32_t(MakeErrorID(ProblemDefaultKey, 100)));
        CHECK(engine.fixes.PlannedIds().size() == 3);
    }
    SUBCASE("an ignored finding is dropped; a sound one is announced all the same") {
        for (const auto& event : found)
            CHECK(event.text != L"{abcdef}");
        CHECK(found[3].text == L"sound");
        CHECK(found[3].errorId == 0);
        CHECK(found[3].fixId == 0);
    }
    SUBCASE("texts: the item, or the key and value with (Default) for the unnamed one") {
        CHECK(found[0].text == L"c:\\missing.hlp");
        CHECK(found[1].text == kRoot + L"\\B:(Default)");
        CHECK(records[1].Item == kRoot + L"\\B:(Default)");
        CHECK(records[1].ValueName == L"");
        CHECK(records[0].Reason == L"reason of c:\\missing.hlp");
        CHECK(records[0].RegUnion == 1);
        CHECK(records[0].FixID == found[0].fixId);
        CHECK(records[0].KeyPath == kRoot + L"\\A");
    }
    (void)cache;
}

TEST_CASE("control: an ignored finding settles its item in the verdict caches") {
    const tstring ignored = kRoot + L"\\Settled", ignoredWow = kRoot + L"\\Wow6432Node\\Settled";
    GroupProcedure procedure = [ignored, ignoredWow](ScanGroup& group) -> DWORD {
        // Made after the scan's reset, as a producer's walk would.
        CacheTable& table = CacheTable::Instance();
        table.GetOrCreate(CacheTable::InvalidClsidCache)->Set(L"{ABC-123}", false);
        table.GetOrCreate(CacheTable::InvalidProgIdCache)->Set(L"Some.ProgId", true);
        table.GetOrCreate(CacheTable::InvalidProgIdCache)->Set(L"Wow6432Node\\Wow.ProgId", true);
        CheckResult wow = Finding(ProblemProgId, ignoredWow, L"", L"Wow.ProgId");
        group.ReportFound(wow.KeyPath, wow.ValueName, wow);
        CheckResult clsid = Finding(ProblemClsid, ignored, L"", L"{abc-123}");
        CheckResult progId = Finding(ProblemProgId, ignored, L"", L"Some.ProgId");
        group.ReportFound(clsid.KeyPath, clsid.ValueName, clsid);
        group.ReportFound(progId.KeyPath, progId.ValueName, progId);
        return ScanGroup::ExitDone;
    };
    Engine engine({{1, procedure}});
    ScanRecord rule;
    rule.KeyPath = ignored;
    engine.ignores.Add(rule);
    rule.KeyPath = ignoredWow;
    engine.ignores.Add(rule);

    engine.controller->Scan(1);
    REQUIRE(engine.events.WaitFinished({1}));
    CHECK(engine.events.FoundEvents().empty());
    CacheTable& table = CacheTable::Instance();
    CHECK(table.Find(CacheTable::InvalidClsidCache, false)->Lookup(L"{ABC-123}") == std::optional<bool>(true));
    CHECK_FALSE(table.Find(CacheTable::InvalidProgIdCache, false)->Contains(L"Some.ProgId"));
    CHECK_FALSE(table.Find(CacheTable::InvalidProgIdCache, false)->Contains(L"Wow6432Node\\Wow.ProgId"));
    CHECK(engine.fixes.Size() == 0);
}

TEST_CASE("control: Scan starts the groups of the low byte's bits and empties the fix map first") {
    std::atomic<uint32_t> ran{0};
    std::map<uint32_t, GroupProcedure> procedures;
    for (uint32_t bit = 1; bit <= 128; bit <<= 1)
        procedures[bit] = [&ran, bit](ScanGroup&) -> DWORD {
            ran |= bit;
            return ScanGroup::ExitDone;
        };
    Engine engine(procedures);
    engine.fixes.Store(77, std::unique_ptr<FixEntry>(new FixEntry));

    engine.controller->Scan(0x181);
    REQUIRE(engine.events.WaitFinished({1, 128}));
    engine.controller->Stop();
    CHECK(ran == 0x81u);
    CHECK(engine.events.Finished() == std::set<uint32_t>{1, 128});
    CHECK(engine.fixes.Size() == 0);
}

TEST_CASE("control: pause holds the groups of bits 1 to 64; a stop while paused ends at once") {
    std::atomic<int> steps1{0}, steps128{0};
    auto walking = [](std::atomic<int>& steps) {
        return [&steps](ScanGroup& group) -> DWORD {
            while (group.ContinueWalk()) {
                ++steps;
                Sleep(1);
            }
            return ScanGroup::ExitStopped;
        };
    };
    Engine engine({{1, walking(steps1)}, {128, walking(steps128)}});
    engine.controller->Scan(0x81);
    while (steps1 == 0 || steps128 == 0)
        Sleep(1);

    engine.controller->Pause(true);
    CHECK(engine.controller->Group(0).Paused());
    CHECK_FALSE(engine.controller->Group(7).Paused());
    Sleep(50);  // a step under way when the pause came ends
    int held = steps1;
    int running = steps128;
    Sleep(200);
    CHECK(steps1 == held);
    CHECK(steps128 > running);

    ULONGLONG start = GetTickCount64();
    engine.controller->Stop();
    CHECK(GetTickCount64() - start < 1000);
    CHECK_FALSE(engine.controller->IsRunning());
}

TEST_CASE("control: after Stop no finding is announced and no dropped finding leaves a fix behind") {
    // Group 1 checks the stop flag between findings; group 2 never does and
    // is ended by force after its wait.
    CheckResult planned = Finding(ProblemHelpFile, kRoot + L"\\Loop", L"Help", L"x.hlp");
    GroupProcedure cooperative = [planned](ScanGroup& group) -> DWORD {
        while (group.ContinueWalk())
            group.ReportFound(planned.KeyPath, planned.ValueName, planned);
        return ScanGroup::ExitStopped;
    };
    std::atomic<bool> stubbornStarted{false};
    GroupProcedure stubborn = [planned, &stubbornStarted](ScanGroup& group) -> DWORD {
        stubbornStarted = true;
        for (;;) {
            group.ReportFound(planned.KeyPath, planned.ValueName, planned);
            Sleep(0);
        }
    };
    Engine engine({{1, cooperative}, {2, stubborn}});
    engine.controller->Scan(3);
    while (engine.events.FoundEvents().size() < 20 || !stubbornStarted)
        Sleep(1);

    engine.controller->Stop();
    CHECK_FALSE(engine.controller->IsRunning());
    size_t announced = engine.events.FoundEvents().size();
    Sleep(100);
    auto found = engine.events.FoundEvents();
    CHECK(found.size() == announced);
    CHECK(engine.events.Records().size() == announced);
    // One fix entry per announced finding, and none for the dropped ones.
    CHECK(engine.fixes.Size() == announced);
    for (const auto& event : found)
        CHECK(engine.fixes.Contains(event.fixId));
}

TEST_CASE("control: the controller's end stops a running scan before its sink goes") {
    std::atomic<bool> ended{false};
    auto* engine = new Engine({{4, [&ended](ScanGroup& group) -> DWORD {
                                    uint32_t id = group.RegisterSubtask();
                                    double percent = 0;
                                    while (group.ContinueWalk()) {
                                        group.ReportProgress(id, percent);
                                        percent = percent < 99 ? percent + 1 : 0;
                                        Sleep(1);
                                    }
                                    ended = true;
                                    return ScanGroup::ExitStopped;
                                }}});
    engine->controller->Scan(4);
    while (!engine->controller->IsRunning())
        Sleep(1);
    engine->controller.reset();
    CHECK(ended);
    delete engine;
}

namespace {

// A key under the control tree whose security lets everyone read it and no
// one write it; its owner may still change that, and does before deleting it.
class ReadOnlyKey {
public:
    explicit ReadOnlyKey(const tstring& relative) : relative_(relative) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, relative_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        SetDacl(key, L"D:P(A;;KR;;;WD)");
        RegCloseKey(key);
    }
    ~ReadOnlyKey() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, relative_.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            SetDacl(key, L"D:P(A;;KA;;;WD)");
            RegCloseKey(key);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str());
    }
    tstring Path() const { return L"HKCU\\" + relative_; }

private:
    static void SetDacl(HKEY key, const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
            LocalFree(descriptor);
        }
    }
    tstring relative_;
};

}  // namespace

TEST_CASE("control: where unwritable keys are dropped, a finding on one leaves no trace") {
    tstring relative = FormatText(L"Software\\OrvaneTest\\control\\locked-%u", unsigned(GetCurrentProcessId()));
    ReadOnlyKey locked(relative);
    HKEY probe = nullptr;
    LONG writable = RegOpenKeyExW(HKEY_CURRENT_USER, relative.c_str(), 0, KEY_WRITE, &probe);
    if (probe)
        RegCloseKey(probe);
    REQUIRE(writable == ERROR_ACCESS_DENIED);

    std::vector<CheckResult> findings = {
        Finding(ProblemHelpFile, locked.Path(), L"Help", L"locked.hlp"),
        Finding(ProblemHelpFile, kRoot + L"\\Open", L"Help", L"open.hlp"),
    };
    SUBCASE("dropped") {
        Engine engine({{16, Reporting(findings)}});
        engine.controller->SetDropUnwritable(true);
        engine.controller->Scan(16);
        REQUIRE(engine.events.WaitFinished({16}));
        auto found = engine.events.FoundEvents();
        REQUIRE(found.size() == 1);
        CHECK(found[0].text == L"open.hlp");
        CHECK(engine.fixes.Size() == 1);
    }
    SUBCASE("kept elsewhere") {
        Engine engine({{16, Reporting(findings)}});
        engine.controller->Scan(16);
        REQUIRE(engine.events.WaitFinished({16}));
        CHECK(engine.events.FoundEvents().size() == 2);
    }
}
