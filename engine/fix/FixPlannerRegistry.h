#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include "engine/fix/FixPlanners.h"

class FixEntry;

// The process's fix planners, one per problem code, made the first time the
// code is seen. Planning hands out FixIDs from the process-wide counter.
class FixPlannerRegistry {
public:
    static FixPlannerRegistry& Instance();

    // The finding's FixID when a planner planned its fix into the entry,
    // 0 when none did (no entry, a code without planner, a refusal).
    // Errors of the planner (its key does not open) pass to the caller.
    int32_t Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error, FixEntry* entry);

private:
    FixPlannerRegistry() = default;
    const FixPlanner* PlannerFor(uint16_t problem);

    std::mutex lock_;
    std::map<uint16_t, std::unique_ptr<FixPlanner>> planners_;
};
