#pragma once

// The process-wide operation lock: one long operation at a time (scans,
// fixing, undo, backup and restore, scheduled jobs, the settings page, the
// boot-disk build, a page navigation). A busy flag whose test-and-set runs
// under a named mutex, so that worker threads and the UI thread agree.

// Takes the lock when it is free; false when busy or when the mutex cannot be
// had within 50 ms.
bool TryBeginOperation();
// Gives the lock back (a plain store: only its holder calls it).
void EndOperation();
// Whether an operation holds the lock now.
bool IsOperationRunning();

// The operation lock for a scope: taken when free, given back on every way
// out (an exception included) unless the work that outlives the scope is
// handed it.
class OperationScope {
public:
    // Takes the lock when it is free.
    OperationScope() : held_(TryBeginOperation()) {}
    // Adopts a lock the caller already holds.
    struct Adopt {};
    explicit OperationScope(Adopt) : held_(true) {}
    ~OperationScope() { Release(); }
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

    bool Held() const { return held_; }
    void Release() {
        if (held_) EndOperation();
        held_ = false;
    }
    // The lock goes on with the work; this scope no longer gives it back.
    void HandOver() { held_ = false; }

private:
    bool held_;
};
