#pragma once
#include <windows.h>
#include "engine/engine.h"

// An engine that holds `count` records, all without data, and fails
// Record(failAt); everything else is not implemented. Counts its references.
class FakeCrawler : public ICrawler {
public:
    long count = 0;
    long failAt = 0;
    HRESULT failure = E_FAIL;
    LONG refs = 1;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_ICrawler) return E_NOINTERFACE;
        *object = static_cast<ICrawler*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    STDMETHODIMP Record(LONG index, IqnRegRecord** record) override {
        if (record) *record = nullptr;
        return index == failAt ? failure : S_OK;
    }
    STDMETHODIMP get_Count(LONG* value) override {
        *value = count;
        return S_OK;
    }
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP Scan(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP Pause(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP FixError(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP FixAllErrors(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP AddToIgnoreList(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP DismissIgnoreList() override { return E_NOTIMPL; }
    STDMETHODIMP UndoAll() override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFromIgnoreList(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetUndoFilesCount(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP UndoFix(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP FinalizeUndoSession() override { return E_NOTIMPL; }
    STDMETHODIMP FinalizeFixSession() override { return E_NOTIMPL; }
    STDMETHODIMP BeginFixSession() override { return E_NOTIMPL; }
    STDMETHODIMP GetUndoFileInfo(LONG, DATE*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP UndoRecord(LONG, IqnRegRecord**) override { return E_NOTIMPL; }
    STDMETHODIMP get_UndoCount(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP ReadUndoFile(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_SkipScanDrives(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_SkipScanDrives(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_BackupDirectory(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_BackupDirectory(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_UndoDirectory(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_UndoDirectory(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP IgnoreRecord(LONG, IqnRegRecord**) override { return E_NOTIMPL; }
    STDMETHODIMP get_IgnoreCount(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReportMail(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ReportMail(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReportMailSwitch(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ReportMailSwitch(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReportMailServer(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ReportMailServer(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_AutoFix(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AutoFix(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_AutoReboot(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AutoReboot(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP put_UseFile(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP DelRecord(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_ScanResultsThreshold(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ScanResultsThreshold(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_AutoBackupSwitch(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AutoBackupSwitch(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_BackupRetentionSwitch(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_BackupRetentionSwitch(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP RecordByFixID(LONG, IqnRegRecord**) override { return E_NOTIMPL; }
    STDMETHODIMP ExportIgnoreList(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP ImportIgnoreList(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_PEBuilderDirectory(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_WindowsDirectory(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP SaveIgnore() override { return E_NOTIMPL; }
    STDMETHODIMP DeleteUndoFile(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_WindowsDirectory(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_PEBuilderDirectory(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP MoveUndoFiles(BSTR) override { return E_NOTIMPL; }
};
