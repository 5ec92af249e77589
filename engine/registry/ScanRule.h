#pragma once
#include <cstdint>
#include "common/tstring/tstring.h"
#include "engine/registry/PathPattern.h"

class ScanGroup;

// One rule of a scan group: a compiled key and value pattern, and the
// progress of its walks. The rule registers a sub-task with its group when it
// is built and removes it when it goes. The entry test is paired with the
// rule by the walker that runs it.
class ScanRule {
public:
    // group may be null: the walk then has no stop, pause or reports.
    ScanRule(ScanGroup* group, const tstring& keyPattern, const tstring& valuePattern);
    ScanRule(ScanGroup* group, const PathPattern& pattern);
    ~ScanRule();
    ScanRule(ScanRule&& other) noexcept;
    ScanRule(const ScanRule&) = delete;
    ScanRule& operator=(const ScanRule&) = delete;
    ScanRule& operator=(ScanRule&&) = delete;

    ScanGroup* Group() const { return group_; }
    const PathPattern& Pattern() const { return pattern_; }
    uint32_t SubtaskId() const { return subtaskId_; }
    bool SubtaskRegistered() const { return subtaskRegistered_; }

    // The share of the rule's walk reached so far, and the share last sent.
    double Current() const { return current_; }
    double LastReported() const { return lastReported_; }
    // Records the walk's position; sends it to the group when it has grown by
    // more than one point since the last report.
    void Advance(double percent);
    // A walk from another root starts again from 0.
    void RestartProgress();

private:
    void Register();

    ScanGroup* group_;
    bool subtaskRegistered_ = false;
    double current_ = 0.0;
    double lastReported_ = 0.0;
    uint32_t subtaskId_ = 0;
    PathPattern pattern_;
};
