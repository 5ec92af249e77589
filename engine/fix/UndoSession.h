#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <vector>
#include "common/tstring/tstring.h"
#include "engine/fix/SessionLatch.h"
#include "engine/fix/UndoCatalogue.h"
#include "engine/fix/UndoFile.h"
#include "engine/scan/CheckResult.h"

// The undo side of the engine: the catalogue of the undo folder and the undo
// session, which loads one undo file, undoes some or all of its pending
// entries and writes their undone marks back.
class UndoSession {
public:
    // An index outside the catalogue or the pending entries.
    static const int32_t UnknownIndex = int32_t(0x80040227);
    // ReadUndoFile's index outside the catalogue.
    static const int32_t NoSuchFile = int32_t(0x80040228);

    // undoFolder: asked at each listing for the folder of the undo files.
    UndoSession(SessionLatch& latch, std::function<tstring()> undoFolder);
    UndoSession(const UndoSession&) = delete;
    UndoSession& operator=(const UndoSession&) = delete;

    bool IsOpen() const { return open_; }
    const tstring& FilePath() const { return file_.Path(); }

    // Lists the undo folder anew (an open undo session is finalized first)
    // and counts its usable files. The file of a fix session still writing
    // is held open by it, so the listing neither shows nor deletes it.
    int32_t RefreshCatalogue(int32_t& count);
    const std::vector<UndoFileInfo>& Catalogue() const { return catalogue_; }
    // S_OK, or UnknownIndex outside the catalogue of the last listing.
    int32_t FileInfo(int32_t index, SYSTEMTIME& time, int32_t& fixesCount) const;

    // Loads catalogue entry index (from 0) as the session's file: S_OK;
    // NoSuchFile outside the catalogue; E_FAIL while a fix session is open. A
    // file that cannot be read raises its error; the session then stays open
    // with what was read.
    int32_t Read(int32_t index);
    // The findings of the entries that were pending when the file was read,
    // in file order; IDs of Undo count from 1 in this list.
    std::vector<CheckResult> PendingErrors() const;
    size_t PendingCount() const { return pending_.size(); }
    bool IsUndone(int32_t id) const;

    // S_OK; E_FAIL without a session or for an entry already undone;
    // UnknownIndex outside the pending list; or the undo's failure code.
    int32_t Undo(int32_t id);
    // Undoes every pending entry, newest first: S_OK, E_FAIL without a
    // session, or the code of the last failure (the others are still undone).
    int32_t UndoAll();
    // Writes the undone marks back when anything was undone and closes the
    // file; S_OK, or the failure of the write-back (the session ends anyway).
    int32_t Finalize();

    // Deletes catalogue entry index (an undo session on that file is
    // finalized first): S_OK; UnknownIndex outside the catalogue; ErrorBase
    // "Can't delete UNDO file" when the file stays.
    int32_t DeleteUndoFile(int32_t index);
    // Lists the undo folder and moves every listed file into newFolder:
    // S_OK, or E_FAIL when any file stayed behind. While a fix session is
    // open nothing moves: ErrorBase of HRESULT_FROM_WIN32(ERROR_BUSY).
    int32_t MoveFiles(const tstring& newFolder);

private:
    tstring PathOf(const UndoFileInfo& info) const;
    void EndSession();

    SessionLatch& latch_;
    std::function<tstring()> undoFolder_;
    UndoFile file_;
    UndoEntryList entries_;
    std::vector<int32_t> pending_;
    std::vector<UndoFileInfo> catalogue_;
    tstring listedFolder_;
    bool open_ = false;
    bool untouched_ = true;
};
