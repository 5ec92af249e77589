#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include "engine/fix/FixAction.h"
#include "engine/scan/CheckResult.h"

class Archive;

// One fixed finding: its CheckResult and the ordered actions that repair it.
//
// A fix runs in three steps, and the order is enforced here, because a fix
// whose undo data never reached the disk cannot be taken back:
//   1. SaveUndoData writes every action's undo data (last action first) into
//      the undo stream, whole or not at all;
//   2. Apply runs the caller's persist step (which must get that data onto
//      the disk) and only when it succeeds applies the actions in order;
//   3. after a failed Apply the caller rolls back with Undo from the saved
//      undo data, which restores every action, applied or not.
//
// Record in an undo stream (Serialize): text Item, text Reason, int32
// ErrorID, text KeyPath, text ValueName, byte undone, int32 action count, and
// per action its int32 kind followed by the action's own fields.
class FixEntry {
public:
    // Returns 0 when the undo data is safely stored, else a failure code.
    using PersistStep = std::function<int32_t()>;

    FixEntry() = default;
    FixEntry(const FixEntry&) = delete;
    FixEntry& operator=(const FixEntry&) = delete;

    void SetError(const CheckResult& error) { error_ = error; }
    CheckResult GetError() const { return error_; }

    void Push(std::unique_ptr<FixAction> action);
    size_t ActionCount() const { return actions_.size(); }
    const FixAction& Action(size_t index) const { return *actions_[index]; }

    bool Undone() const { return undone_; }
    void SetUndone(bool undone) { undone_ = undone; }

    // 0, or the code of the first action that could not save its undo data;
    // then nothing was written to the archive.
    int32_t SaveUndoData(Archive& archive);
    // Refused (E_UNEXPECTED) unless SaveUndoData succeeded for this entry
    // since its last apply; refused with the persist step's code when that
    // fails. Otherwise the actions in order up to the first failure, whose
    // code is returned.
    int32_t Apply(const PersistStep& persist);
    // Actions that Apply ran successfully (for the caller's report).
    size_t AppliedCount() const { return applied_; }
    // Restores every action from its undo data, last action first, also
    // after one of them failed (only damaged undo data, after which nothing
    // further can be read in step, ends it early). The entry becomes undone
    // only when every restore succeeded; the result is 0 or the first
    // failure. An entry already undone is left alone (0).
    int32_t Undo(Archive& archive);

    // Storing: true when the whole record was written. Reading: empties the
    // entry first; false for a short or damaged record or an unknown action
    // kind, and the entry then holds the actions read so far.
    bool Serialize(Archive& archive, bool storing);

private:
    bool Store(Archive& archive);
    bool Load(Archive& archive);

    std::deque<std::unique_ptr<FixAction>> actions_;
    CheckResult error_;
    bool undone_ = false;
    bool undoSaved_ = false;
    size_t applied_ = 0;
};
