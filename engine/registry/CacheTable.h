#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include "common/tstring/tstring.h"
#include "engine/registry/NamedCache.h"

// The process-wide meeting point of the scan groups' verdict caches: named
// caches and, per name, a manual-reset event that says "stop waiting". A
// consumer may ask for a cache before its producer has made it.
//
// The table knows which scan group produces each cache, so that a scan
// without that group releases the consumers at its start instead of leaving
// them blocked for good, and a producer group that ends without completing
// its cache (a failure) releases them at its end.
class CacheTable {
public:
    static CacheTable& Instance();

    // The cache names in use.
    static const wchar_t* const InvalidClsidCache;
    static const wchar_t* const SuspiciousProgIdCache;
    static const wchar_t* const InvalidProgIdCache;
    static const wchar_t* const ProgIdCache;
    static const wchar_t* const TypeLibCache;
    static const wchar_t* const ServiceCache;
    static const wchar_t* const AppIdCache;

    // A table with the producers of the names above (all of the COM group, bit 1).
    CacheTable();
    ~CacheTable();
    CacheTable(const CacheTable&) = delete;
    CacheTable& operator=(const CacheTable&) = delete;

    // Declares (or changes) the scan group whose walk fills the named cache.
    void SetProducer(const tstring& name, uint32_t groupBit);

    // Never null.
    NamedCache* GetOrCreate(const tstring& name);
    // Without wait: the cache or null, creating nothing. With wait: blocks until
    // the name's event is set (producer ready, producer absent or a stop), then
    // the cache or null when no producer made it.
    NamedCache* Find(const tstring& name, bool wait);

    // Before a scan: empties every cache, resets every event, then sets the
    // events of the caches whose producer group is not in startingGroups.
    void ResetAll(uint32_t startingGroups = 0xFFFFFFFFu);
    // A stop: sets every event, leaving the ready flags alone.
    void SignalAll();
    // A producer group has ended: sets the events of the caches it produces,
    // so that consumers of a cache it left unfinished go on without it.
    void ReleaseProducer(uint32_t groupBit);

private:
    HANDLE EventOf(const tstring& name);  // under mutex_

    std::mutex mutex_;
    std::map<tstring, std::unique_ptr<NamedCache>> caches_;
    std::map<tstring, HANDLE> events_;
    std::map<tstring, uint32_t> producers_;
};
