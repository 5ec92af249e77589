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
