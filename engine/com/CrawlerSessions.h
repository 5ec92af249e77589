#pragma once
#include <windows.h>
#include <vector>
#include "engine/engine.h"
#include "common/com/ComPtr.h"
#include "common/system/HandleHolder.h"
#include "engine/fix/FixMap.h"
#include "engine/fix/FixSession.h"
#include "engine/fix/SessionLatch.h"
#include "engine/fix/UndoSession.h"

// The fix and undo sessions of the engine object as its interface members
// see them: HRESULTs, BSTRs, record objects of the pending undo entries.
// Nothing is thrown out of a member.
class CrawlerSessions {
public:
    explicit CrawlerSessions(FixMap& fixes);
    CrawlerSessions(const CrawlerSessions&) = delete;
    CrawlerSessions& operator=(const CrawlerSessions&) = delete;

    HRESULT BeginFixSession() noexcept;
    HRESULT FixError(LONG fixId) noexcept;
    HRESULT FixAllErrors(BSTR* report) noexcept;
    HRESULT FinalizeFixSession() noexcept;

    HRESULT GetUndoFilesCount(LONG* count) noexcept;
    HRESULT GetUndoFileInfo(LONG index, DATE* date, LONG* fixesCount) noexcept;
    HRESULT ReadUndoFile(LONG index) noexcept;
    HRESULT UndoCount(LONG* count) noexcept;
    HRESULT UndoRecord(LONG index, IqnRegRecord** record) noexcept;
    HRESULT UndoFix(LONG id) noexcept;
    HRESULT UndoAll() noexcept;
    HRESULT FinalizeUndoSession() noexcept;
    HRESULT DeleteUndoFile(LONG index) noexcept;
    HRESULT MoveUndoFiles(BSTR newDirectory) noexcept;

private:
    int32_t EndUndoSession();
    void SetUndoObjects(std::vector<ComPtr<IqnRegRecord>> objects);

    SessionLatch latch_;
    FixSession fix_;
    UndoSession undo_;
    HandleHolder undoObjectsMutex_;
    std::vector<ComPtr<IqnRegRecord>> undoObjects_;
};
