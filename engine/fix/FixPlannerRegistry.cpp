#include "engine/fix/FixPlannerRegistry.h"
#include "common/records/CheckResultCode.h"
#include "engine/fix/FixEntry.h"

FixPlannerRegistry& FixPlannerRegistry::Instance() {
    static FixPlannerRegistry registry;
    return registry;
}

const FixPlanner* FixPlannerRegistry::PlannerFor(uint16_t problem) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = planners_.find(problem);
    if (found != planners_.end())
        return found->second.get();
    std::unique_ptr<FixPlanner> planner = FixPlanner::Create(PlannerOf(problem));
    if (!planner)
        return nullptr;
    const FixPlanner* result = planner.get();
    planners_[problem] = std::move(planner);
    return result;
}

int32_t FixPlannerRegistry::Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
                                 FixEntry* entry) {
    if (!entry)
        return 0;
    const FixPlanner* planner = PlannerFor(ProblemOf(uint32_t(error.ErrorID)));
    if (!planner || !planner->Plan(keyPath, valueName, error, *entry))
        return 0;
    return NextFixID();
}
