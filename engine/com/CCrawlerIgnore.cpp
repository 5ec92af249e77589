// The ignore-list members of CCrawler. The lists themselves take their own
// lock; the record objects that IgnoreCount hands out live in a list of their
// own under the ignore-objects mutex.
#include "engine/com/CCrawler.h"
#include "common/com/ComBoundary.h"
#include "engine/com/CqnRegRecord.h"
#include "engine/com/ListLock.h"

namespace {
// An index outside its list, or a FixID that no finding has.
const HRESULT kUnknownItem = HRESULT(0x80040227);

ComPtr<IqnRegRecord> IgnoreObject(const ScanRecord& record) {
    CqnRegRecord* object = nullptr;
    HRESULT hr = CqnRegRecord::CreateInstance(&object);
    if (FAILED(hr))
        throw HRError(hr);
    ComPtr<IqnRegRecord> held(object);
    object->SetFields(record.Item.c_str(), record.Reason.c_str(), 0, record.ErrorID, 0,
                      record.KeyPath.c_str(), record.ValueName.c_str());
    return held;
}

tstring FileNameOf(BSTR name) {
    return tstring(name ? name : L"");
}
}  // namespace

STDMETHODIMP CCrawler::get_IgnoreCount(LONG* pVal) {
    if (!pVal)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        // A list whose file was busy when this object read it is shown as the file has it.
        ignores_.CatchUp();
        std::vector<ComPtr<IqnRegRecord>> objects;
        for (const ScanRecord& record : ignores_.UserRecords())
            objects.push_back(IgnoreObject(record));
        // The old objects are released by objects' end, after the lock.
        ListLock hold(ignoreObjectsMutex_);
        ignoreObjects_.swap(objects);
        *pVal = LONG(ignoreObjects_.size());
        return S_OK;
    });
}

STDMETHODIMP CCrawler::IgnoreRecord(LONG Index, IqnRegRecord** pVal) {
    if (!pVal)
        return E_FAIL;
    *pVal = nullptr;
    return ComCall(IID_ICrawler, [&] {
        ListLock hold(ignoreObjectsMutex_);
        if (Index < 1 || size_t(Index) > ignoreObjects_.size())
            return kUnknownItem;
        return ignoreObjects_[size_t(Index) - 1]->QueryInterface(IID_IqnRegRecord,
                                                                 reinterpret_cast<void**>(pVal));
    });
}

STDMETHODIMP CCrawler::RemoveFromIgnoreList(LONG Index) {
    return ComCall(IID_ICrawler, [&] { return ignores_.Remove(Index) ? S_OK : E_FAIL; });
}

STDMETHODIMP CCrawler::DismissIgnoreList() {
    return ComCall(IID_ICrawler, [&] {
        ignores_.Dismiss();
        return S_OK;
    });
}

// A file that cannot be read (another program holds it) is left as it is and
// the failure returned: the changes stay for the next save.
STDMETHODIMP CCrawler::SaveIgnore() {
    return ComCall(IID_ICrawler, [&] {
        ignores_.Save();
        return S_OK;
    });
}

STDMETHODIMP CCrawler::ExportIgnoreList(BSTR FileName) {
    return ComCall(IID_ICrawler, [&] {
        ignores_.Export(FileNameOf(FileName));
        return S_OK;
    });
}

// Callers know S_FALSE as "the file could not be taken"; a damaged file
// merges nothing.
STDMETHODIMP CCrawler::ImportIgnoreList(BSTR FileName) {
    HRESULT hr = ComCall(IID_ICrawler, [&] {
        ignores_.Import(FileNameOf(FileName));
        return S_OK;
    });
    return SUCCEEDED(hr) ? hr : S_FALSE;
}

STDMETHODIMP CCrawler::AddToIgnoreList(LONG FixID) {
    // Every finding without a planned fix has FixID 0, so 0 names none of
    // them; taking one at random would hide a finding the user never chose.
    if (FixID == 0)
        return kUnknownItem;
    return ComCall(IID_ICrawler, [&] {
        ComPtr<IqnRegRecord> leaving;
        // Held throughout, so that the finding leaves the fix map, the found
        // list and enters the ignore list as one step, or not at all.
        ListLock hold(foundMutex_);
        CheckResult error;
        if (!fixes_.GetError(FixID, error))
            return kUnknownItem;
        ignores_.Add(ScanRecord(error));
        for (auto at = found_.begin(); at != found_.end(); ++at) {
            LONG id = 0;
            (*at)->get_FixID(&id);
            if (id == FixID) {
                leaving = *at;
                found_.erase(at);
                break;
            }
        }
        fixes_.Erase(FixID);
        return S_OK;
    });
}
