#include "engine/com/CrawlerSessions.h"
#include <oleauto.h>
#include "common/com/ComBoundary.h"
#include "engine/com/CqnRegRecord.h"
#include "engine/com/ListLock.h"
#include "engine/scan/EngineSettings.h"

namespace {

tstring UndoFolder() {
    return EngineSettings().GetText(EngineSettings::UndoDirectory);
}

ComPtr<IqnRegRecord> UndoObject(const CheckResult& error) {
    CqnRegRecord* object = nullptr;
    HRESULT hr = CqnRegRecord::CreateInstance(&object);
    if (FAILED(hr))
        throw HRError(hr);
    ComPtr<IqnRegRecord> held(object);
    object->SetFields(error.Item.c_str(), error.Reason.c_str(), 0, error.ErrorID, 0, error.KeyPath.c_str(),
                      error.ValueName.c_str());
    return held;
}

}  // namespace

CrawlerSessions::CrawlerSessions(FixMap& fixes)
    : fix_(fixes, latch_, UndoFolder), undo_(latch_, UndoFolder), undoObjectsMutex_(NewListMutex()) {}

HRESULT CrawlerSessions::BeginFixSession() noexcept {
    return ComCall(IID_ICrawler, [&] { return HRESULT(fix_.Begin()); });
}

HRESULT CrawlerSessions::FixError(LONG fixId) noexcept {
    return ComCall(IID_ICrawler, [&] { return HRESULT(fix_.Fix(int32_t(fixId))); });
}

HRESULT CrawlerSessions::FixAllErrors(BSTR* report) noexcept {
    if (!report)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        if (!fix_.IsOpen())
            return E_FAIL;
        tstring lines;
        HRESULT result = HRESULT(fix_.FixAll(lines));
        BSTR text = SysAllocStringLen(lines.c_str(), UINT(lines.size()));
        if (!text)
            return E_OUTOFMEMORY;
        *report = text;
        return result;
    });
}

HRESULT CrawlerSessions::FinalizeFixSession() noexcept {
    return ComCall(IID_ICrawler, [&] { return HRESULT(fix_.Finalize()); });
}

HRESULT CrawlerSessions::GetUndoFilesCount(LONG* count) noexcept {
    if (!count)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        if (undo_.IsOpen())
            EndUndoSession();
        int32_t listed = 0;
        HRESULT hr = HRESULT(undo_.RefreshCatalogue(listed));
        if (SUCCEEDED(hr))
            *count = LONG(listed);
        return hr;
    });
}

HRESULT CrawlerSessions::GetUndoFileInfo(LONG index, DATE* date, LONG* fixesCount) noexcept {
    if (!date || !fixesCount)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        SYSTEMTIME time = {};
        int32_t fixes = 0;
        HRESULT hr = HRESULT(undo_.FileInfo(int32_t(index), time, fixes));
        if (FAILED(hr))
            return hr;
        DATE when = 0;
        if (!SystemTimeToVariantTime(&time, &when))
            return E_INVALIDARG;
        *date = when;
        *fixesCount = LONG(fixes);
        return S_OK;
    });
}

HRESULT CrawlerSessions::ReadUndoFile(LONG index) noexcept {
    return ComCall(IID_ICrawler, [&] {
        if (index < 0 || size_t(index) >= undo_.Catalogue().size())
            return HRESULT(UndoSession::NoSuchFile);
        ListLock hold(undoObjectsMutex_);
        if (undo_.IsOpen())
            EndUndoSession();
        HRESULT hr = HRESULT(undo_.Read(int32_t(index)));
        if (FAILED(hr))
            return hr;
        std::vector<ComPtr<IqnRegRecord>> objects;
        for (const CheckResult& error : undo_.PendingErrors())
            objects.push_back(UndoObject(error));
        SetUndoObjects(std::move(objects));
        return S_OK;
    });
}

HRESULT CrawlerSessions::UndoCount(LONG* count) noexcept {
    if (!count)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        ListLock hold(undoObjectsMutex_);
        *count = LONG(undoObjects_.size());
        return S_OK;
    });
}

HRESULT CrawlerSessions::UndoRecord(LONG index, IqnRegRecord** record) noexcept {
    if (!record)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        ListLock hold(undoObjectsMutex_);
        if (index < 1 || size_t(index) > undoObjects_.size())
            return HRESULT(UndoSession::UnknownIndex);
        return undoObjects_[size_t(index) - 1]->QueryInterface(IID_IqnRegRecord,
                                                               reinterpret_cast<void**>(record));
    });
}

HRESULT CrawlerSessions::UndoFix(LONG id) noexcept {
    return ComCall(IID_ICrawler, [&] { return HRESULT(undo_.Undo(int32_t(id))); });
}

HRESULT CrawlerSessions::UndoAll() noexcept {
    return ComCall(IID_ICrawler, [&] { return HRESULT(undo_.UndoAll()); });
}

HRESULT CrawlerSessions::FinalizeUndoSession() noexcept {
    return ComCall(IID_ICrawler, [&] { return HRESULT(EndUndoSession()); });
}

HRESULT CrawlerSessions::DeleteUndoFile(LONG index) noexcept {
    return ComCall(IID_ICrawler, [&] {
        bool wasOpen = undo_.IsOpen();
        HRESULT hr = HRESULT(undo_.DeleteUndoFile(int32_t(index)));
        if (wasOpen && !undo_.IsOpen())
            SetUndoObjects({});
        return hr;
    });
}

HRESULT CrawlerSessions::MoveUndoFiles(BSTR newDirectory) noexcept {
    return ComCall(IID_ICrawler, [&] {
        if (undo_.IsOpen())
            EndUndoSession();
        return HRESULT(undo_.MoveFiles(tstring(newDirectory ? newDirectory : L"")));
    });
}

int32_t CrawlerSessions::EndUndoSession() {
    int32_t result = undo_.Finalize();
    SetUndoObjects({});
    return result;
}

void CrawlerSessions::SetUndoObjects(std::vector<ComPtr<IqnRegRecord>> objects) {
    {
        // The mutex is a Win32 one: a caller already holding it takes it again.
        ListLock hold(undoObjectsMutex_);
        undoObjects_.swap(objects);
    }
    // The replaced objects are released here, outside the lock.
}
