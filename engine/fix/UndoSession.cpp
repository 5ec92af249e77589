#include "engine/fix/UndoSession.h"
#include <algorithm>
#include "common/errors/ErrorBase.h"
#include "engine/fix/FixEntry.h"

namespace {

size_t UndoneCount(const UndoEntryList& entries) {
    return size_t(std::count_if(entries.begin(), entries.end(),
                                [](const std::unique_ptr<FixEntry>& e) { return e && e->Undone(); }));
}

tstring WithSeparator(const tstring& folder) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/')
        return folder;
    return folder + L"\\";
}

}  // namespace

UndoSession::UndoSession(SessionLatch& latch, std::function<tstring()> undoFolder)
    : latch_(latch), undoFolder_(std::move(undoFolder)) {}

tstring UndoSession::PathOf(const UndoFileInfo& info) const {
    return listedFolder_ + info.FileName;
}

int32_t UndoSession::RefreshCatalogue(int32_t& count) {
    count = 0;
    if (open_)
        Finalize();
    UndoCatalogue catalogue(undoFolder_());
    listedFolder_ = catalogue.Folder();
    catalogue_.clear();
    catalogue_ = catalogue.List();
    count = int32_t(catalogue_.size());
    return S_OK;
}

int32_t UndoSession::FileInfo(int32_t index, SYSTEMTIME& time, int32_t& fixesCount) const {
    if (index < 0 || size_t(index) >= catalogue_.size())
        return UnknownIndex;
    time = catalogue_[size_t(index)].Time;
    fixesCount = catalogue_[size_t(index)].FixesCount;
    return S_OK;
}

int32_t UndoSession::Read(int32_t index) {
    if (index < 0 || size_t(index) >= catalogue_.size())
        return NoSuchFile;
    if (latch_.Current() == SessionLatch::Fixing)
        return E_FAIL;
    if (open_)
        Finalize();
    latch_.Enter(SessionLatch::Undoing);
    open_ = true;
    untouched_ = true;
    try {
        file_.Open(PathOf(catalogue_[size_t(index)]));
        file_.ReadEntries(entries_, true);
    } catch (...) {
        pending_.clear();
        for (size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i] && !entries_[i]->Undone())
                pending_.push_back(int32_t(i));
        throw;
    }
    pending_.clear();
    for (size_t i = 0; i < entries_.size(); ++i)
        if (!entries_[i]->Undone())
            pending_.push_back(int32_t(i));
    return S_OK;
}

std::vector<CheckResult> UndoSession::PendingErrors() const {
    std::vector<CheckResult> errors;
    errors.reserve(pending_.size());
    for (int32_t at : pending_)
        errors.push_back(entries_[size_t(at)]->GetError());
    return errors;
}

bool UndoSession::IsUndone(int32_t id) const {
    if (id < 1 || size_t(id) > pending_.size())
        return false;
    return entries_[size_t(pending_[size_t(id) - 1])]->Undone();
}

int32_t UndoSession::Undo(int32_t id) {
    if (!open_)
        return E_FAIL;
    if (id < 1 || size_t(id) > pending_.size())
        return UnknownIndex;
    size_t at = size_t(pending_[size_t(id) - 1]);
    if (entries_[at]->Undone())
        return E_FAIL;
    int32_t code = file_.UndoEntry(entries_, at);
    if (code < 0)
        return code;
    untouched_ = false;
    return S_OK;
}

int32_t UndoSession::UndoAll() {
    if (!open_)
        return E_FAIL;
    size_t before = UndoneCount(entries_);
    // Newest first: a later fix may have changed what an earlier one left.
    int32_t code = file_.UndoAll(entries_);
    if (UndoneCount(entries_) != before)
        untouched_ = false;
    return code < 0 ? code : S_OK;
}

int32_t UndoSession::Finalize() {
    int32_t result = S_OK;
    if (open_ && !untouched_ && file_.IsOpen() && file_.IsValid()) {
        try {
            for (const auto& entry : entries_)
                file_.WriteEntry(*entry);
            file_.UpdateCrc();
        } catch (const ErrorBase& e) {
            result = int32_t(HResultOf(e));
        }
    }
    try {
        file_.Close();
    } catch (const ErrorBase& e) {
        if (result == S_OK)
            result = int32_t(HResultOf(e));
    }
    EndSession();
    return result;
}

void UndoSession::EndSession() {
    entries_.clear();
    pending_.clear();
    untouched_ = true;
    open_ = false;
    latch_.Leave(SessionLatch::Undoing);
}

int32_t UndoSession::DeleteUndoFile(int32_t index) {
    if (index < 0 || size_t(index) >= catalogue_.size())
        return UnknownIndex;
    tstring path = PathOf(catalogue_[size_t(index)]);
    if (open_ && path.CompareNoCase(file_.Path().c_str()) == 0)
        Finalize();
    if (!::DeleteFileW(path.c_str())) {
        DWORD status = GetLastError();
        throw ErrorBase(int32_t(HRESULT_FROM_WIN32(status ? status : ERROR_ACCESS_DENIED)),
                        tstring(L"Can't delete UNDO file"));
    }
    catalogue_.erase(catalogue_.begin() + index);
    return S_OK;
}

int32_t UndoSession::MoveFiles(const tstring& newFolder) {
    // The file of an open fix session cannot move with the others: its fixes
    // would be left behind in a folder the caller is about to give up.
    if (latch_.Current() == SessionLatch::Fixing)
        throw ErrorBase(int32_t(HRESULT_FROM_WIN32(ERROR_BUSY)),
                        tstring(L"Can't move UNDO files while a fix session is open"));
    int32_t count = 0;
    RefreshCatalogue(count);
    tstring target = WithSeparator(newFolder);
    bool allMoved = true;
    for (const UndoFileInfo& info : catalogue_) {
        tstring to = target + info.FileName;
        if (!MoveFileExW(PathOf(info).c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
            allMoved = false;
    }
    return allMoved ? S_OK : E_FAIL;
}
