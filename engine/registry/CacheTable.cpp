#include "engine/registry/CacheTable.h"
#include "common/errors/CheckObjects.h"

const wchar_t* const CacheTable::InvalidClsidCache = L"Invalid_CLSID_Cache";
const wchar_t* const CacheTable::SuspiciousProgIdCache = L"Suspicious_ProgID_Cache";
const wchar_t* const CacheTable::InvalidProgIdCache = L"Invalid_ProgID_Cache";
const wchar_t* const CacheTable::ProgIdCache = L"ProgID_Cache";
const wchar_t* const CacheTable::TypeLibCache = L"TypeLib_Cache";
const wchar_t* const CacheTable::ServiceCache = L"Service_Cache";
const wchar_t* const CacheTable::AppIdCache = L"AppID_Cache";

namespace {
const uint32_t kComGroup = 1;
}

CacheTable& CacheTable::Instance() {
    // Never destroyed: at process exit the scan threads are killed wherever
    // they are, perhaps holding the table's lock, and a destructor run at the
    // DLL's detach would wait for that lock for good.
    static CacheTable* table = new CacheTable;
    return *table;
}

CacheTable::CacheTable() {
    for (const wchar_t* name : {InvalidClsidCache, SuspiciousProgIdCache, InvalidProgIdCache, ProgIdCache,
                                TypeLibCache, ServiceCache, AppIdCache})
        producers_[name] = kComGroup;
}

// Only a table no scan uses any more is destroyed: no lock to take.
CacheTable::~CacheTable() {
    caches_.clear();
    for (auto& e : events_) CloseHandle(e.second);
    events_.clear();
}

void CacheTable::SetProducer(const tstring& name, uint32_t groupBit) {
    std::lock_guard<std::mutex> lock(mutex_);
    producers_[name] = groupBit;
}

HANDLE CacheTable::EventOf(const tstring& name) {
    auto it = events_.find(name);
    if (it != events_.end()) return it->second;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) throw BoolError();
    events_.emplace(name, event);
    return event;
}

NamedCache* CacheTable::GetOrCreate(const tstring& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = caches_.find(name);
    if (it != caches_.end()) return it->second.get();
    auto cache = std::make_unique<NamedCache>(name, EventOf(name));
    NamedCache* result = cache.get();
    caches_.emplace(name, std::move(cache));
    return result;
}

NamedCache* CacheTable::Find(const tstring& name, bool wait) {
    if (wait) {
        HANDLE event;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            event = EventOf(name);
        }
        if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = caches_.find(name);
    return it == caches_.end() ? nullptr : it->second.get();
}

void CacheTable::ResetAll(uint32_t startingGroups) {
    std::lock_guard<std::mutex> lock(mutex_);
    BoolCheck ck;
    for (auto& c : caches_) c.second->Clear();
    for (auto& e : events_) ck = ResetEvent(e.second);
    for (auto& p : producers_)
        if (!(p.second & startingGroups)) ck = SetEvent(EventOf(p.first));
}

void CacheTable::SignalAll() {
    // Runs on the stopping thread while groups may be inside Find; the map
    // itself is guarded, the events are set outside any wait.
    std::lock_guard<std::mutex> lock(mutex_);
    BoolCheck ck;
    for (auto& e : events_) ck = SetEvent(e.second);
}

void CacheTable::ReleaseProducer(uint32_t groupBit) {
    std::lock_guard<std::mutex> lock(mutex_);
    BoolCheck ck;
    for (auto& p : producers_)
        if (p.second & groupBit) ck = SetEvent(EventOf(p.first));
}
