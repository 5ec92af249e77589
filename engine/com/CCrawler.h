#pragma once
#include <memory>
#include <vector>
#include "engine/engine.h"
#include "common/com/ComModule.h"
#include "common/com/ComPtr.h"
#include "common/com/ConnectionPoint.h"
#include "common/com/DispatchImpl.h"
#include "common/com/SiteHolder.h"
#include "common/system/HandleHolder.h"
#include "engine/com/CrawlerEventDispatch.h"
#include "engine/com/CrawlerScan.h"
#include "engine/com/CrawlerSessions.h"
#include "engine/fix/FixMap.h"
#include "engine/scan/IgnoreList.h"

// The engine's one creatable COM object. It lives in the multithreaded
// apartment (ThreadingModel "free"); its methods may be called from any
// thread, several at once, and its events are raised on the caller's thread.
class CCrawler : public DispatchImpl<ICrawler, &IID_ICrawler>,
                 public IProvideClassInfo2,
                 public ISupportErrorInfo,
                 public IObjectWithSite,
                 public IConnectionPointContainer {
public:
    // The class factory's creator: a new object answering iid.
    static HRESULT CreateInstance(REFIID iid, void** result) noexcept;

    // The events of _ICrawlerEvents, raised to every advised sink; the
    // result is that of the last sink called (a failing sink ends the event).
    HRESULT RaiseFound(const wchar_t* item, long regUnion, long errorId, long fixId) noexcept;
    HRESULT RaiseFinish(long regUnion) noexcept;
    HRESULT RaiseProgress(long regUnion, long percentComplete) noexcept;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Scan(LONG UnionsMask) override;
    STDMETHODIMP Record(LONG Index, IqnRegRecord **pVal) override;
    STDMETHODIMP get_Count(LONG *pVal) override;
    STDMETHODIMP Pause(VARIANT_BOOL SetPause) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP FixError(LONG FixID) override;
    STDMETHODIMP FixAllErrors(BSTR *pReport) override;
    STDMETHODIMP AddToIgnoreList(LONG FixID) override;
    STDMETHODIMP DismissIgnoreList() override;
    STDMETHODIMP UndoAll() override;
    STDMETHODIMP RemoveFromIgnoreList(LONG Index) override;
    STDMETHODIMP GetUndoFilesCount(LONG *Count) override;
    STDMETHODIMP UndoFix(LONG ID) override;
    STDMETHODIMP FinalizeUndoSession() override;
    STDMETHODIMP FinalizeFixSession() override;
    STDMETHODIMP BeginFixSession() override;
    STDMETHODIMP GetUndoFileInfo(LONG Index, DATE *date, LONG *fixesCount) override;
    STDMETHODIMP UndoRecord(LONG Index, IqnRegRecord **pVal) override;
    STDMETHODIMP get_UndoCount(LONG *pVal) override;
    STDMETHODIMP ReadUndoFile(LONG Index) override;
    STDMETHODIMP get_SkipScanDrives(LONG *pVal) override;
    STDMETHODIMP put_SkipScanDrives(LONG newVal) override;
    STDMETHODIMP get_BackupDirectory(BSTR *pVal) override;
    STDMETHODIMP put_BackupDirectory(BSTR newVal) override;
    STDMETHODIMP get_UndoDirectory(BSTR *pVal) override;
    STDMETHODIMP put_UndoDirectory(BSTR newVal) override;
    STDMETHODIMP IgnoreRecord(LONG Index, IqnRegRecord **pVal) override;
    STDMETHODIMP get_IgnoreCount(LONG *pVal) override;
    STDMETHODIMP get_ReportMail(BSTR *pVal) override;
    STDMETHODIMP put_ReportMail(BSTR newVal) override;
    STDMETHODIMP get_ReportMailSwitch(LONG *pVal) override;
    STDMETHODIMP put_ReportMailSwitch(LONG newVal) override;
    STDMETHODIMP get_ReportMailServer(BSTR *pVal) override;
    STDMETHODIMP put_ReportMailServer(BSTR newVal) override;
    STDMETHODIMP get_AutoFix(LONG *pVal) override;
    STDMETHODIMP put_AutoFix(LONG newVal) override;
    STDMETHODIMP get_AutoReboot(LONG *pVal) override;
    STDMETHODIMP put_AutoReboot(LONG newVal) override;
    STDMETHODIMP put_UseFile(LONG newVal) override;
    STDMETHODIMP DelRecord(LONG Index) override;
    STDMETHODIMP get_ScanResultsThreshold(LONG *pVal) override;
    STDMETHODIMP put_ScanResultsThreshold(LONG newVal) override;
    STDMETHODIMP get_AutoBackupSwitch(LONG *pVal) override;
    STDMETHODIMP put_AutoBackupSwitch(LONG newVal) override;
    STDMETHODIMP get_BackupRetentionSwitch(LONG *pVal) override;
    STDMETHODIMP put_BackupRetentionSwitch(LONG newVal) override;
    STDMETHODIMP RecordByFixID(LONG FixID, IqnRegRecord **pVal) override;
    STDMETHODIMP ExportIgnoreList(BSTR FileName) override;
    STDMETHODIMP ImportIgnoreList(BSTR FileName) override;
    STDMETHODIMP put_PEBuilderDirectory(BSTR FileName) override;
    STDMETHODIMP put_WindowsDirectory(BSTR FileName) override;
    STDMETHODIMP SaveIgnore() override;
    STDMETHODIMP DeleteUndoFile(LONG Index) override;
    STDMETHODIMP get_WindowsDirectory(BSTR *pVal) override;
    STDMETHODIMP get_PEBuilderDirectory(BSTR *pVal) override;
    STDMETHODIMP MoveUndoFiles(BSTR NewDirectory) override;

    STDMETHODIMP GetClassInfo(ITypeInfo** result) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* result) override;
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** result) override;
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** result) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** result) override;

private:
    CCrawler();
    virtual ~CCrawler();

    RefCount refs_;
    ModuleLock moduleLock_;
    ConnectionPoint events_;
    CrawlerEventDispatch eventDispatch_;
    SiteHolder site_;

    // The found list, guarded by its mutex.
    HandleHolder foundMutex_;
    std::vector<ComPtr<IqnRegRecord>> found_;

    // The user and system ignore lists, and the record objects that
    // IgnoreCount last built from the user list, guarded by their mutex.
    IgnoreList ignores_;
    HandleHolder ignoreObjectsMutex_;
    std::vector<ComPtr<IqnRegRecord>> ignoreObjects_;

    // "SeSystemProfilePrivilege" was enabled for this object and goes again with it.
    bool privileged_;
    // The running Windows has major version 6.
    bool windows6_;

    // The planned fixes of the findings, by FixID.
    FixMap fixes_;
    std::unique_ptr<CrawlerSessions> sessions_{new CrawlerSessions(fixes_)};
    // Last, so destroyed first: the scan is stopped before anything that its
    // threads report into goes.
    std::unique_ptr<CrawlerScan> scan_{new CrawlerScan(*this, foundMutex_, found_, fixes_, ignores_, windows6_)};
};
