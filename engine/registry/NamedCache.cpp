#include "engine/registry/NamedCache.h"
#include "common/errors/CheckObjects.h"

NamedCache::NamedCache(const tstring& name, HANDLE readyEvent) : name_(name), readyEvent_(readyEvent) {
    if (!readyEvent_) {
        readyEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ownsEvent_ = true;
    }
}

NamedCache::~NamedCache() {
    if (ownsEvent_ && readyEvent_) CloseHandle(readyEvent_);
}

void NamedCache::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    ready_ = false;
}

bool NamedCache::Contains(const tstring& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.count(key) != 0;
}

bool NamedCache::Insert(const tstring& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.emplace(key, false).first->second;
}

void NamedCache::Set(const tstring& key, bool verdict) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[key] = verdict;
}

std::optional<bool> NamedCache::Lookup(const tstring& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

bool NamedCache::Erase(const tstring& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.erase(key) != 0;
}

size_t NamedCache::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

bool NamedCache::WaitReady(bool wait) const {
    if (wait && !ready_) {
        if (WaitForSingleObject(readyEvent_, INFINITE) != WAIT_OBJECT_0) return false;
    }
    return ready_;
}

void NamedCache::SetReady(bool value) {
    ready_ = value;
    BoolCheck ck;
    ck = SetEvent(readyEvent_);
}
