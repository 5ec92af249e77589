#pragma once
#include <mutex>
#include <vector>
#include "engine/scan/ScanSink.h"

// Records what a scan group reports, from any thread.
class TestSink : public ScanSink {
public:
    struct Found {
        tstring keyPath;
        tstring valueName;
        CheckResult result;
        uint32_t groupBit;
    };

    void HandleFound(const tstring& keyPath, const tstring& valueName, const CheckResult& result,
                     uint32_t groupBit) override {
        std::lock_guard<std::mutex> lock(mutex);
        found.push_back({keyPath, valueName, result, groupBit});
    }
    void ForwardProgress(uint32_t groupBit, int32_t percent) override {
        std::lock_guard<std::mutex> lock(mutex);
        progress.push_back(percent);
        progressBits.push_back(groupBit);
    }
    void GroupFinished(uint32_t groupBit) override {
        std::lock_guard<std::mutex> lock(mutex);
        finished.push_back(groupBit);
    }
    void GroupFailed(uint32_t groupBit, const tstring& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        errors.push_back(text);
    }

    size_t FinishCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return finished.size();
    }

    std::mutex mutex;
    std::vector<Found> found;
    std::vector<int32_t> progress;
    std::vector<uint32_t> progressBits;
    std::vector<uint32_t> finished;
    std::vector<tstring> errors;
};
