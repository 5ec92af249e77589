#include "engine/com/CCrawler.h"
#include "common/com/ClassInfo.h"
#include "common/com/ComBoundary.h"
#include "common/com/ConnectionPointEnum.h"
#include "common/errors/CheckObjects.h"
#include "common/settings/AppFolders.h"
#include "common/system/OsVersion.h"
#include "common/system/Privilege.h"
#include "common/system/Security.h"
#include "engine/com/ListLock.h"
#include <new>

namespace {
// An index outside its list, or a FixID that no finding has.
const HRESULT kUnknownItem = HRESULT(0x80040227);
VARIANT LongArgument(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

const IID* const kErrorInfoInterfaces[] = {&IID_ICrawler};
const TCHAR kProfilePrivilege[] = _T("SeSystemProfilePrivilege");

// An account that lacks the privilege still gets a working engine: the
// privilege only widens what the scan may read.
bool SwitchProfilePrivilege(bool enable) noexcept {
    try {
        if (!IsAdministrator() && !IsPowerUser())
            return false;
        EnablePrivilege(kProfilePrivilege, enable, true);
        return true;
    } catch (...) {
        return false;
    }
}

// The module's lines go to the program's log file from its first object on.
// Not at load: DllMain runs under the loader lock, where the shell's folder
// look-up must not run. A data folder that cannot be had is tried again with
// the next object.
BOOL CALLBACK OpenLog(PINIT_ONCE, PVOID, PVOID*) { return UseDataFolderLog(); }
INIT_ONCE logOpened = INIT_ONCE_STATIC_INIT;
}

CCrawler::CCrawler()
    : events_(this, DIID__ICrawlerEvents),
      eventDispatch_(static_cast<ICrawler*>(this), events_, DIID__ICrawlerEvents),
      foundMutex_(NewListMutex()),
      ignoreObjectsMutex_(NewListMutex()),
      privileged_(SwitchProfilePrivilege(true)),
      windows6_(IsWindowsMajor6()) {
    // A list that cannot be read stays empty, and its file is kept from this
    // object's saves until it is read; the engine works without it.
    ignores_.Load(IgnoreList::User);
    ignores_.Load(IgnoreList::System);
}

CCrawler::~CCrawler() {
    if (privileged_)
        SwitchProfilePrivilege(false);
}

HRESULT CCrawler::CreateInstance(REFIID iid, void** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    InitOnceExecuteOnce(&logOpened, OpenLog, nullptr, nullptr);
    return ComCall(CLSID_CCrawler, [&] {
        CCrawler* crawler = new CCrawler();
        crawler->AddRef();
        HRESULT hr = crawler->QueryInterface(iid, result);
        crawler->Release();
        return hr;
    });
}

STDMETHODIMP CCrawler::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    void* answer = nullptr;
    if (IsEqualIID(iid, IID_IProvideClassInfo2) || IsEqualIID(iid, IID_IProvideClassInfo))
        answer = static_cast<IProvideClassInfo2*>(this);
    else if (IsEqualIID(iid, IID_IObjectWithSite))
        answer = static_cast<IObjectWithSite*>(this);
    else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ICrawler) ||
             IsEqualIID(iid, IID_IDispatch))
        answer = static_cast<ICrawler*>(this);
    else if (IsEqualIID(iid, DIID__ICrawlerEvents))
        answer = static_cast<IDispatch*>(&eventDispatch_);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer))
        answer = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, IID_ISupportErrorInfo))
        answer = static_cast<ISupportErrorInfo*>(this);
    *result = answer;
    if (!answer)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CCrawler::AddRef() {
    return refs_.AddRef();
}

STDMETHODIMP_(ULONG) CCrawler::Release() {
    ULONG n = refs_.Release();
    if (n == 0)
        delete this;
    return n;
}

HRESULT CCrawler::RaiseFound(const wchar_t* item, long regUnion, long errorId,
                             long fixId) noexcept {
    VARIANT args[4];
    args[3].vt = VT_BSTR;
    args[3].bstrVal = SysAllocString(item ? item : L"");
    if (!args[3].bstrVal)
        return E_OUTOFMEMORY;
    args[2] = LongArgument(regUnion);
    args[1] = LongArgument(errorId);
    args[0] = LongArgument(fixId);
    DISPPARAMS params = {args, nullptr, 4, 0};
    HRESULT hr = events_.Fire(1, params);
    SysFreeString(args[3].bstrVal);
    return hr;
}

HRESULT CCrawler::RaiseFinish(long regUnion) noexcept {
    VARIANT args[1] = {LongArgument(regUnion)};
    DISPPARAMS params = {args, nullptr, 1, 0};
    return events_.Fire(2, params);
}

HRESULT CCrawler::RaiseProgress(long regUnion, long percentComplete) noexcept {
    VARIANT args[2] = {LongArgument(percentComplete), LongArgument(regUnion)};
    DISPPARAMS params = {args, nullptr, 2, 0};
    return events_.Fire(3, params);
}

STDMETHODIMP CCrawler::get_Count(LONG* pVal) {
    if (!pVal)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        ListLock hold(foundMutex_);
        *pVal = LONG(found_.size());
        return S_OK;
    });
}

STDMETHODIMP CCrawler::Record(LONG Index, IqnRegRecord** pVal) {
    if (!pVal)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        ListLock hold(foundMutex_);
        if (Index < 1 || size_t(Index) > found_.size())
            return kUnknownItem;
        return found_[size_t(Index) - 1]->QueryInterface(IID_IqnRegRecord,
                                                         reinterpret_cast<void**>(pVal));
    });
}

STDMETHODIMP CCrawler::DelRecord(LONG Index) {
    return ComCall(IID_ICrawler, [&] {
        ListLock hold(foundMutex_);
        if (Index < 1 || size_t(Index) > found_.size())
            return kUnknownItem;
        found_.erase(found_.begin() + (Index - 1));
        return S_OK;
    });
}

STDMETHODIMP CCrawler::RecordByFixID(LONG FixID, IqnRegRecord** pVal) {
    if (!pVal)
        return E_FAIL;
    // A caller that tests the pointer must not take an old value for a match.
    *pVal = nullptr;
    return ComCall(IID_ICrawler, [&] {
        ListLock hold(foundMutex_);
        IqnRegRecord* match = nullptr;
        for (const auto& record : found_) {
            LONG id = 0;
            record->get_FixID(&id);
            if (id == FixID)
                match = record;
        }
        if (match)
            return match->QueryInterface(IID_IqnRegRecord, reinterpret_cast<void**>(pVal));
        return S_OK;
    });
}

STDMETHODIMP CCrawler::GetClassInfo(ITypeInfo** result) {
    return ClassInfoOf(CLSID_CCrawler, result);
}

STDMETHODIMP CCrawler::GetGUID(DWORD kind, GUID* result) {
    return ClassGuidOf(kind, DIID__ICrawlerEvents, result);
}

STDMETHODIMP CCrawler::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsListedInterface(iid, kErrorInfoInterfaces, 1) ? S_OK : S_FALSE;
}

STDMETHODIMP CCrawler::SetSite(IUnknown* site) {
    return site_.SetSite(site);
}

STDMETHODIMP CCrawler::GetSite(REFIID iid, void** result) {
    return site_.GetSite(iid, result);
}

STDMETHODIMP CCrawler::EnumConnectionPoints(IEnumConnectionPoints** result) {
    return ConnectionPointEnum::Create({&events_}, 0, result);
}

STDMETHODIMP CCrawler::FindConnectionPoint(REFIID iid, IConnectionPoint** result) {
    return FindConnectionPointIn({&events_}, iid, result);
}
