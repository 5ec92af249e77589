#pragma once
#include <cstdint>
#include <functional>
#include "common/tstring/tstring.h"
#include "engine/fix/FixMap.h"
#include "engine/fix/SessionLatch.h"
#include "engine/fix/UndoFile.h"

// A fix session: the fixes of planned findings, each written with its undo
// data into one new undo file before it is applied.
class FixSession {
public:
    // The engine's codes for a FixID that no planned finding has.
    static const int32_t UnknownFixId = int32_t(0x80040227);

    // undoFolder: asked at each Begin for the folder of the undo files.
    FixSession(FixMap& fixes, SessionLatch& latch, std::function<tstring()> undoFolder);
    FixSession(const FixSession&) = delete;
    FixSession& operator=(const FixSession&) = delete;

    bool IsOpen() const { return open_; }
    // The undo file of the open session.
    const tstring& FilePath() const { return file_.Path(); }

    // S_OK; E_FAIL while a fix or an undo session is open; a failure to
    // create the undo file.
    int32_t Begin();
    // Fixes one finding: S_OK; E_FAIL without a session; UnknownFixId for a
    // FixID without a planned fix (0 included); otherwise the failure code.
    // A fix whose undo data cannot be written is not applied; a fix that
    // fails is rolled back and its entry stays in the map for another try.
    int32_t Fix(int32_t fixId);
    // Fixes every planned finding in FixID order and empties the map. report
    // gets one line per failed fix. S_OK, or the code of the last failure.
    // A failed fix that cannot be rolled back ends it at once with HRError of
    // the restore's code: report unchanged, that entry and those not yet
    // tried stay in the map, and the undo file keeps the entry's record.
    int32_t FixAll(tstring& report);
    // S_OK; E_FAIL without a session, and then no file is touched.
    int32_t Finalize();

    // "\tKey: <key>; Error: 0x<code> (<text>).   \r\n"
    static tstring ReportLine(const tstring& keyPath, int32_t code);

private:
    struct Outcome {
        int32_t code;     // 0 or the fix's failure
        int32_t restore;  // 0 or the failure of the rollback
    };
    Outcome FixEntryOf(std::unique_ptr<FixEntry>& entry);

    FixMap& fixes_;
    SessionLatch& latch_;
    std::function<tstring()> undoFolder_;
    UndoFile file_;
    bool open_ = false;
};
