#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>
#include "common/tstring/tstring.h"
#include "engine/registry/ScanRule.h"
#include "engine/scan/EntryTest.h"
#include "engine/scan/ScanGroup.h"

// Makes the test object of a rule. Called just before the rule runs, so a
// test that waits for a verdict cache is built only after the rules that
// fill it (in its own group, they run before it).
using TestFactory = std::function<std::shared_ptr<EntryTest>()>;

// The rules of one category, run one after another through the path walker.
// All rules are built before the first one runs, so the group's progress is
// the mean over all of them from the start. A failure of one rule (its test
// cannot be built, its Begin or End fails) is written to the program log and
// confined to that rule, and the next rule runs. The caches that a failed or
// stopped rule was to fill are released as not ready, so that their consumers
// judge nothing instead of waiting, or judging by a partial cache.
class CategoryRun {
public:
    explicit CategoryRun(ScanGroup& group) : group_(group) {}
    CategoryRun(const CategoryRun&) = delete;
    CategoryRun& operator=(const CategoryRun&) = delete;

    // produces: the names of the caches the rule's test fills and marks ready.
    void Add(ScanRule rule, TestFactory makeTest, std::vector<tstring> produces = {});
    // The rule, then the same area in the 32-bit view (Wow64ViewRule), walked
    // by one test object between one Begin and one End: the caches it fills
    // hold the verdicts of both views when it marks them ready.
    void AddWithWow64View(ScanRule rule, TestFactory makeTest, std::vector<tstring> produces = {});

    // Runs the rules in order, reports the group's end once and returns the
    // thread's exit code: ExitStopped when the stop flag was found set after
    // a rule, else ExitDone. Rules and tests are gone when it returns.
    DWORD Run();

private:
    struct Step {
        std::vector<ScanRule> rules;
        TestFactory makeTest;
        std::vector<tstring> produces;
        std::shared_ptr<EntryTest> test;
    };
    void RunStep(Step& step);

    ScanGroup& group_;
    std::vector<Step> steps_;
};

// A new test object for each rule that uses the factory.
template <class T, class... Args>
TestFactory NewTest(Args... args) {
    return [args...]() -> std::shared_ptr<EntryTest> { return std::make_shared<T>(args...); };
}

// One test object for every rule that uses this factory, made at the first.
template <class T, class... Args>
TestFactory SharedTest(Args... args) {
    auto cell = std::make_shared<std::shared_ptr<EntryTest>>();
    return [cell, args...]() -> std::shared_ptr<EntryTest> {
        if (!*cell) *cell = std::make_shared<T>(args...);
        return *cell;
    };
}

// The procedures of the eight scan groups, each run on its group's thread.
DWORD ComGroupProc(ScanGroup& group);
DWORD BrowserGroupProc(ScanGroup& group);
DWORD SharedComponentsGroupProc(ScanGroup& group);
DWORD ControlPanelGroupProc(ScanGroup& group);
DWORD OfficeGroupProc(ScanGroup& group);
DWORD MruGroupProc(ScanGroup& group);
DWORD AssociationsGroupProc(ScanGroup& group);
// NullNamesGroupProc (bit 128) is in NulNameScan.h.

// The procedure of a category bit; null for a value that is not one bit.
GroupProcedure GroupProcedureFor(uint32_t categoryBit);
