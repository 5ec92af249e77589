#pragma once
#include "engine/fix/KeyActions.h"

// Deletes a type library's version key with everything in it once no locale
// below it holds a platform entry ("win32" or "win64") any more: a version
// that still serves one platform keeps its FLAGS, HELPDIR and other locales.
// The platform entries of the fix go first, so whether the version goes is
// known only when this action runs. Its undo data and its stored form are
// those of a plain key deletion: restoring the saved tree writes back only
// what differs, so the undo is exact whether the key went or stayed.
class DeleteLibraryVersionAction : public DeleteKeyAction {
public:
    explicit DeleteLibraryVersionAction(const tstring& keyPath) : DeleteKeyAction(keyPath, 0) {}

    int32_t Apply() override;
};

// Whether a locale key below the version key holds a "win32" or "win64" key.
// A locale that cannot be asked counts as holding one.
bool HoldsPlatformEntry(HKEY version);
