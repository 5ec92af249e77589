#pragma once
#include <cstdint>
#include "common/tstring/tstring.h"
#include "engine/scan/CheckResult.h"

// What a running scan group reports to: the engine object implements it to
// raise its events and keep its records. Calls arrive on the group threads,
// several at a time; an implementation serialises its own state.
class ScanSink {
public:
    virtual ~ScanSink() = default;

    virtual void HandleFound(const tstring& keyPath, const tstring& valueName, const CheckResult& result,
                             uint32_t groupBit) = 0;
    // percent: the group's whole progress, 0 to 100.
    virtual void ForwardProgress(uint32_t groupBit, int32_t percent) = 0;
    // The group's end, exactly once per run, whether it completed, was
    // stopped or failed.
    virtual void GroupFinished(uint32_t groupBit) = 0;
    // A failure ended the group's procedure (it is in the program log
    // already); GroupFinished follows.
    virtual void GroupFailed(uint32_t groupBit, const tstring& text) = 0;
};
