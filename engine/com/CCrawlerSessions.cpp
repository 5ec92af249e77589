// The fix and undo members of CCrawler.
#include "engine/com/CCrawler.h"

STDMETHODIMP CCrawler::BeginFixSession() {
    return sessions_->BeginFixSession();
}

STDMETHODIMP CCrawler::FixError(LONG FixID) {
    return sessions_->FixError(FixID);
}

STDMETHODIMP CCrawler::FixAllErrors(BSTR* pReport) {
    return sessions_->FixAllErrors(pReport);
}

STDMETHODIMP CCrawler::FinalizeFixSession() {
    return sessions_->FinalizeFixSession();
}

STDMETHODIMP CCrawler::GetUndoFilesCount(LONG* Count) {
    return sessions_->GetUndoFilesCount(Count);
}

STDMETHODIMP CCrawler::GetUndoFileInfo(LONG Index, DATE* date, LONG* fixesCount) {
    return sessions_->GetUndoFileInfo(Index, date, fixesCount);
}

STDMETHODIMP CCrawler::ReadUndoFile(LONG Index) {
    return sessions_->ReadUndoFile(Index);
}

STDMETHODIMP CCrawler::get_UndoCount(LONG* pVal) {
    return sessions_->UndoCount(pVal);
}

STDMETHODIMP CCrawler::UndoRecord(LONG Index, IqnRegRecord** pVal) {
    return sessions_->UndoRecord(Index, pVal);
}

STDMETHODIMP CCrawler::UndoFix(LONG ID) {
    return sessions_->UndoFix(ID);
}

STDMETHODIMP CCrawler::UndoAll() {
    return sessions_->UndoAll();
}

STDMETHODIMP CCrawler::FinalizeUndoSession() {
    return sessions_->FinalizeUndoSession();
}

STDMETHODIMP CCrawler::DeleteUndoFile(LONG Index) {
    return sessions_->DeleteUndoFile(Index);
}

STDMETHODIMP CCrawler::MoveUndoFiles(BSTR NewDirectory) {
    return sessions_->MoveUndoFiles(NewDirectory);
}
