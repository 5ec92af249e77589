#include "engine/registry/ScanRule.h"
#include "engine/scan/ScanGroup.h"

ScanRule::ScanRule(ScanGroup* group, const tstring& keyPattern, const tstring& valuePattern)
    : group_(group), pattern_(keyPattern, valuePattern) {
    Register();
}

ScanRule::ScanRule(ScanGroup* group, const PathPattern& pattern) : group_(group), pattern_(pattern) {
    Register();
}

ScanRule::ScanRule(ScanRule&& other) noexcept
    : group_(other.group_),
      subtaskRegistered_(other.subtaskRegistered_),
      current_(other.current_),
      lastReported_(other.lastReported_),
      subtaskId_(other.subtaskId_),
      pattern_(std::move(other.pattern_)) {
    other.subtaskRegistered_ = false;
}

ScanRule::~ScanRule() {
    if (subtaskRegistered_ && group_) group_->RemoveSubtask(subtaskId_);
}

void ScanRule::Register() {
    if (!group_) return;
    subtaskId_ = group_->RegisterSubtask();
    subtaskRegistered_ = true;
}

void ScanRule::Advance(double percent) {
    current_ = percent;
    if (current_ - lastReported_ > 1.0) {
        if (group_) group_->ReportProgress(subtaskId_, current_);
        lastReported_ = current_;
    }
}

void ScanRule::RestartProgress() {
    current_ = 0.0;
    lastReported_ = 0.0;
}
