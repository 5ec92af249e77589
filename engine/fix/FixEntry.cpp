#include "engine/fix/FixEntry.h"
#include <vector>
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"

namespace {

// Smallest action record: its kind and one empty text.
const uint32_t kMinimumActionRecord = 8;
// Undo data is staged in memory in pages of this size.
const uint32_t kStagingPageSize = 0x10000;

}  // namespace

void FixEntry::Push(std::unique_ptr<FixAction> action) {
    if (action)
        actions_.push_back(std::move(action));
}

int32_t FixEntry::SaveUndoData(Archive& archive) {
    undoSaved_ = false;
    try {
        // Staged first, so that an action failing halfway leaves no partial
        // undo data behind in the caller's stream.
        Archive staging;
        staging.SetPageSize(kStagingPageSize);
        for (auto it = actions_.rbegin(); it != actions_.rend(); ++it) {
            int32_t result = (*it)->SaveUndo(staging);
            if (result < 0)
                return result;
        }
        std::vector<BYTE> bytes(staging.Size());
        staging.Seek(0, 0);
        if (!bytes.empty())
            staging.ReadRaw(bytes.data(), uint32_t(bytes.size()));
        archive.WriteRaw(bytes.data(), uint32_t(bytes.size()));
    } catch (const ErrorBase& e) {
        return int32_t(HResultOf(e));
    } catch (...) {
        return int32_t(E_OUTOFMEMORY);
    }
    undoSaved_ = true;
    return 0;
}

int32_t FixEntry::Apply(const PersistStep& persist) {
    applied_ = 0;
    if (!undoSaved_ || !persist)
        return int32_t(E_UNEXPECTED);
    int32_t persisted = int32_t(E_FAIL);
    try {
        persisted = persist();
    } catch (const ErrorBase& e) {
        persisted = int32_t(HResultOf(e));
    } catch (...) {
        persisted = int32_t(E_FAIL);
    }
    if (persisted != 0)
        return persisted < 0 ? persisted : int32_t(E_FAIL);
    // The saved state is the state before this apply only: applying again
    // needs the undo data taken afresh.
    undoSaved_ = false;
    for (const auto& action : actions_) {
        int32_t result = action->Apply();
        if (result < 0)
            return result;
        ++applied_;
    }
    return 0;
}

int32_t FixEntry::Undo(Archive& archive) {
    if (undone_)
        return 0;
    int32_t first = 0;
    for (auto it = actions_.rbegin(); it != actions_.rend(); ++it) {
        int32_t result = (*it)->Restore(archive);
        if (result < 0 && first == 0)
            first = result;
        if (result == FixAction::UndoDataDamaged)
            break;
    }
    if (first == 0)
        undone_ = true;
    return first;
}

bool FixEntry::Serialize(Archive& archive, bool storing) {
    return storing ? Store(archive) : Load(archive);
}

bool FixEntry::Store(Archive& archive) {
    try {
        UndoStream::WriteText(archive, error_.Item);
        UndoStream::WriteText(archive, error_.Reason);
        archive.WriteInt(error_.ErrorID);
        UndoStream::WriteText(archive, error_.KeyPath);
        UndoStream::WriteText(archive, error_.ValueName);
        archive.WriteByte(undone_ ? 1 : 0);
        archive.WriteInt(int32_t(actions_.size()));
        for (const auto& action : actions_) {
            archive.WriteInt(action->Kind());
            if (!action->Serialize(archive, true))
                return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool FixEntry::Load(Archive& archive) {
    actions_.clear();
    error_.Clear();
    undone_ = false;
    undoSaved_ = false;
    applied_ = 0;
    try {
        BYTE undone = 0;
        uint32_t count = 0;
        if (!UndoStream::ReadText(archive, error_.Item) || !UndoStream::ReadText(archive, error_.Reason) ||
            !UndoStream::ReadInt(archive, error_.ErrorID) || !UndoStream::ReadText(archive, error_.KeyPath) ||
            !UndoStream::ReadText(archive, error_.ValueName) || !UndoStream::ReadByte(archive, undone) ||
            !UndoStream::ReadCount(archive, kMinimumActionRecord, count))
            return false;
        undone_ = undone != 0;
        for (uint32_t i = 0; i < count; ++i) {
            int32_t kind = 0;
            if (!UndoStream::ReadInt(archive, kind))
                return false;
            std::unique_ptr<FixAction> action = FixAction::Create(kind);
            if (!action)
                return false;
            bool read = action->Serialize(archive, false);
            actions_.push_back(std::move(action));
            if (!read)
                return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}
