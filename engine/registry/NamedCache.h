#pragma once
#include <windows.h>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include "common/tstring/tstring.h"

// A set of verdicts keyed by text that one scan group fills and other groups
// read. Consumers wait on the ready event until the producer has finished its
// walk; the event is set without the ready flag when the producer is absent
// or was stopped, which tells consumers that no verdict is to be had.
class NamedCache {
public:
    // readyEvent: a manual-reset event shared with the table (not closed here);
    // null makes the cache create and own one of its own.
    NamedCache(const tstring& name, HANDLE readyEvent);
    ~NamedCache();
    NamedCache(const NamedCache&) = delete;
    NamedCache& operator=(const NamedCache&) = delete;

    const tstring& Name() const { return name_; }

    // Empties the entries and clears the ready flag; the event is the table's to reset.
    void Clear();

    bool Contains(const tstring& key) const;
    // Finds the key or adds it with the verdict false; returns the verdict.
    bool Insert(const tstring& key);
    // Adds the key when missing and stores the verdict.
    void Set(const tstring& key, bool verdict);
    // The verdict of a present key; nothing for an absent one.
    std::optional<bool> Lookup(const tstring& key) const;
    // True when the key was present.
    bool Erase(const tstring& key);
    size_t Size() const;

    // With wait, blocks on the ready event while the cache is not ready; returns the flag.
    bool WaitReady(bool wait) const;
    bool IsReady() const { return ready_; }
    // Stores the flag and sets the event (also for false, which releases waiters
    // with "not completed").
    void SetReady(bool value);
    HANDLE ReadyEvent() const { return readyEvent_; }

private:
    tstring name_;
    mutable std::mutex mutex_;
    std::map<tstring, bool> entries_;
    std::atomic<bool> ready_{false};
    HANDLE readyEvent_ = nullptr;
    bool ownsEvent_ = false;
};
