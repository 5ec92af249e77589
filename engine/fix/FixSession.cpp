#include "engine/fix/FixSession.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "engine/fix/UndoCatalogue.h"

FixSession::FixSession(FixMap& fixes, SessionLatch& latch, std::function<tstring()> undoFolder)
    : fixes_(fixes), latch_(latch), undoFolder_(std::move(undoFolder)) {}

int32_t FixSession::Begin() {
    if (open_ || !latch_.Enter(SessionLatch::Fixing))
        return E_FAIL;
    try {
        UndoCatalogue catalogue(undoFolder_());
        file_.Create(catalogue.NewFileName());
    } catch (...) {
        latch_.Leave(SessionLatch::Fixing);
        throw;
    }
    open_ = true;
    return S_OK;
}

FixSession::Outcome FixSession::FixEntryOf(std::unique_ptr<FixEntry>& entry) {
    int32_t recordsBefore = file_.RecordCount();
    // The entry reaches the disk with its undo data before any action runs;
    // when it cannot, nothing is applied.
    int32_t code = file_.WriteAndApply(*entry);
    if (code >= 0)
        return Outcome{0, 0};
    if (file_.RecordCount() <= recordsBefore)
        return Outcome{code, 0};
    try {
        // Takes the record out of the file only once the registry is restored.
        file_.RollbackLast(*entry);
        return Outcome{code, 0};
    } catch (const ErrorBase& e) {
        return Outcome{code, int32_t(HResultOf(e))};
    }
}

int32_t FixSession::Fix(int32_t fixId) {
    if (!open_)
        return E_FAIL;
    if (fixId == 0)
        return UnknownFixId;
    std::unique_ptr<FixEntry> entry = fixes_.Take(fixId);
    if (!entry)
        return UnknownFixId;
    Outcome outcome = FixEntryOf(entry);
    if (outcome.code != 0)
        fixes_.Store(fixId, std::move(entry));
    return outcome.code;
}

int32_t FixSession::FixAll(tstring& report) {
    if (!open_)
        return E_FAIL;
    tstring lines;
    int32_t result = S_OK;
    for (int32_t fixId : fixes_.PlannedIds()) {
        std::unique_ptr<FixEntry> entry = fixes_.Take(fixId);
        if (!entry)
            continue;
        Outcome outcome = FixEntryOf(entry);
        if (outcome.code == 0)
            continue;
        if (outcome.restore != 0) {
            fixes_.Store(fixId, std::move(entry));
            throw HRError(outcome.restore);
        }
        lines += ReportLine(entry->GetError().KeyPath, outcome.code);
        result = outcome.code;
    }
    file_.UpdateCrc();
    fixes_.Clear();
    report = lines;
    return result;
}

int32_t FixSession::Finalize() {
    if (!open_)
        return E_FAIL;
    open_ = false;
    latch_.Leave(SessionLatch::Fixing);
    file_.UpdateCrc();
    file_.Close();
    return S_OK;
}

tstring FixSession::ReportLine(const tstring& keyPath, int32_t code) {
    tstring text = ModuleErrorText(code);
    return FormatText(L"\tKey: %s; Error: 0x%x (%s).   \r\n", keyPath.c_str(), unsigned(code), text.c_str());
}
