#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>
#include "engine/fix/FixEntry.h"

// The planned fixes of the findings of a scan, by FixID. Findings without a
// plan share FixID 0, under which the latest entry is kept (for the ignore
// list); it is never fixed. Scan threads add entries while the caller may
// read or take them, so every member takes the map's lock.
class FixMap {
public:
    FixMap() = default;
    FixMap(const FixMap&) = delete;
    FixMap& operator=(const FixMap&) = delete;

    // Replaces (and destroys) an entry already stored under fixId.
    void Store(int32_t fixId, std::unique_ptr<FixEntry> entry);
    // The entry leaves the map; null when there is none.
    std::unique_ptr<FixEntry> Take(int32_t fixId);
    bool Contains(int32_t fixId) const;
    // The finding of the entry; false when there is none.
    bool GetError(int32_t fixId, CheckResult& error) const;
    bool Erase(int32_t fixId);
    void Clear();
    size_t Size() const;
    // The planned FixIDs (0 left out), ascending.
    std::vector<int32_t> PlannedIds() const;

private:
    mutable std::mutex lock_;
    std::map<int32_t, std::unique_ptr<FixEntry>> entries_;
};
