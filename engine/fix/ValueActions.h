#pragma once
#include "engine/fix/FixAction.h"

// Deletes one value through the Win32 registry functions. Its undo data is
// the value's exact bytes and its type as UndoTypeCode stores it
// (AbsentValueType when there was no such value).
class DeleteValueAction : public ValueDeletionAction {
public:
    DeleteValueAction(const tstring& keyPath, const tstring& valueName);

    int32_t Apply() override;
    int32_t SaveUndo(Archive& archive) override;

protected:
    DeleteValueAction(int32_t kind, const tstring& keyPath, const tstring& valueName);
    LONG PutBack(DWORD type, const SharedBuffer& data) override;
    // The value as it is now, exactly: bytes, then type.
    int32_t SaveValue(Archive& archive) const;
};

// Writes a new text into a value, keeping it expandable when it was an
// expandable string (any other value becomes a plain string). Undo puts the
// old bytes and type back, or removes the value when it did not exist.
class SetValueAction : public DeleteValueAction {
public:
    SetValueAction(const tstring& keyPath, const tstring& valueName, const tstring& dataText);

    const tstring& DataText() const { return dataText_; }

    tstring Target() const override;
    int32_t Apply() override;
    bool Serialize(Archive& archive, bool storing) override;

protected:
    // The fix created the value: undoing it removes it again.
    int32_t RestoreAbsent() override { return DeleteValueAction::Apply(); }

private:
    tstring dataText_;
    // Read back from an undo file: the data text is not there, so the action
    // may only be restored.
    bool readBack_ = false;
    // Empty unless read back from a file of an older writer.
    tstring heldName_;
};
