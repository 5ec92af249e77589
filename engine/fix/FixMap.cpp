#include "engine/fix/FixMap.h"

void FixMap::Store(int32_t fixId, std::unique_ptr<FixEntry> entry) {
    std::unique_ptr<FixEntry> replaced;
    std::lock_guard<std::mutex> hold(lock_);
    auto& slot = entries_[fixId];
    replaced = std::move(slot);
    slot = std::move(entry);
}

std::unique_ptr<FixEntry> FixMap::Take(int32_t fixId) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = entries_.find(fixId);
    if (it == entries_.end())
        return nullptr;
    std::unique_ptr<FixEntry> entry = std::move(it->second);
    entries_.erase(it);
    return entry;
}

bool FixMap::Contains(int32_t fixId) const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.count(fixId) != 0;
}

bool FixMap::GetError(int32_t fixId, CheckResult& error) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = entries_.find(fixId);
    if (it == entries_.end() || !it->second)
        return false;
    error = it->second->GetError();
    return true;
}

bool FixMap::Erase(int32_t fixId) {
    return Take(fixId) != nullptr;
}

void FixMap::Clear() {
    std::map<int32_t, std::unique_ptr<FixEntry>> old;
    {
        std::lock_guard<std::mutex> hold(lock_);
        old.swap(entries_);
    }
}

size_t FixMap::Size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.size();
}

std::vector<int32_t> FixMap::PlannedIds() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<int32_t> ids;
    for (const auto& entry : entries_)
        if (entry.first != 0)
            ids.push_back(entry.first);
    return ids;
}
