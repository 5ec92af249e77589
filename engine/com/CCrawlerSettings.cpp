// The settings properties of CCrawler: plain reads and writes of the
// engine's settings object, which the property calls share with the scan.
#include "engine/com/CCrawler.h"
#include "common/com/ComBoundary.h"
#include "engine/scan/EngineSettings.h"

namespace {
HRESULT GetSwitch(EngineSettings::Switch which, LONG* result) {
    if (!result)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        *result = EngineSettings().GetSwitch(which);
        return S_OK;
    });
}

HRESULT PutSwitch(EngineSettings::Switch which, LONG value) {
    return ComCall(IID_ICrawler, [&] {
        EngineSettings().PutSwitch(which, value);
        return S_OK;
    });
}

HRESULT GetText(EngineSettings::Text which, BSTR* result) {
    if (!result)
        return E_FAIL;
    *result = nullptr;
    return ComCall(IID_ICrawler, [&] {
        tstring text = EngineSettings().GetText(which);
        *result = SysAllocStringLen(text.c_str(), UINT(text.length()));
        return *result ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT PutText(EngineSettings::Text which, BSTR value) {
    return ComCall(IID_ICrawler, [&] {
        EngineSettings().PutText(which, tstring(value ? value : L""));
        return S_OK;
    });
}
}

STDMETHODIMP CCrawler::get_SkipScanDrives(LONG* pVal) {
    if (!pVal)
        return E_FAIL;
    return ComCall(IID_ICrawler, [&] {
        *pVal = EngineSettings::GetSkipScanDrives();
        return S_OK;
    });
}

STDMETHODIMP CCrawler::put_SkipScanDrives(LONG newVal) {
    return ComCall(IID_ICrawler, [&] {
        EngineSettings().PutSkipScanDrives(newVal);
        return S_OK;
    });
}

STDMETHODIMP CCrawler::put_UseFile(LONG newVal) {
    return ComCall(IID_ICrawler, [&] {
        EngineSettings::PutUseFile(newVal);
        return S_OK;
    });
}

STDMETHODIMP CCrawler::get_ReportMailSwitch(LONG* pVal) { return GetSwitch(EngineSettings::ReportMailSwitch, pVal); }
STDMETHODIMP CCrawler::put_ReportMailSwitch(LONG newVal) { return PutSwitch(EngineSettings::ReportMailSwitch, newVal); }
STDMETHODIMP CCrawler::get_ScanResultsThreshold(LONG* pVal) { return GetSwitch(EngineSettings::ScanResultsThreshold, pVal); }
STDMETHODIMP CCrawler::put_ScanResultsThreshold(LONG newVal) { return PutSwitch(EngineSettings::ScanResultsThreshold, newVal); }
STDMETHODIMP CCrawler::get_AutoFix(LONG* pVal) { return GetSwitch(EngineSettings::AutoFix, pVal); }
STDMETHODIMP CCrawler::put_AutoFix(LONG newVal) { return PutSwitch(EngineSettings::AutoFix, newVal); }
STDMETHODIMP CCrawler::get_AutoReboot(LONG* pVal) { return GetSwitch(EngineSettings::AutoReboot, pVal); }
STDMETHODIMP CCrawler::put_AutoReboot(LONG newVal) { return PutSwitch(EngineSettings::AutoReboot, newVal); }
STDMETHODIMP CCrawler::get_AutoBackupSwitch(LONG* pVal) { return GetSwitch(EngineSettings::AutoBackupSwitch, pVal); }
STDMETHODIMP CCrawler::put_AutoBackupSwitch(LONG newVal) { return PutSwitch(EngineSettings::AutoBackupSwitch, newVal); }
STDMETHODIMP CCrawler::get_BackupRetentionSwitch(LONG* pVal) { return GetSwitch(EngineSettings::BackupRetentionSwitch, pVal); }
STDMETHODIMP CCrawler::put_BackupRetentionSwitch(LONG newVal) { return PutSwitch(EngineSettings::BackupRetentionSwitch, newVal); }

STDMETHODIMP CCrawler::get_BackupDirectory(BSTR* pVal) { return GetText(EngineSettings::BackupDirectory, pVal); }
STDMETHODIMP CCrawler::put_BackupDirectory(BSTR newVal) { return PutText(EngineSettings::BackupDirectory, newVal); }
STDMETHODIMP CCrawler::get_UndoDirectory(BSTR* pVal) { return GetText(EngineSettings::UndoDirectory, pVal); }
STDMETHODIMP CCrawler::put_UndoDirectory(BSTR newVal) { return PutText(EngineSettings::UndoDirectory, newVal); }
STDMETHODIMP CCrawler::get_ReportMail(BSTR* pVal) { return GetText(EngineSettings::ReportMail, pVal); }
STDMETHODIMP CCrawler::put_ReportMail(BSTR newVal) { return PutText(EngineSettings::ReportMail, newVal); }
STDMETHODIMP CCrawler::get_ReportMailServer(BSTR* pVal) { return GetText(EngineSettings::ReportMailServer, pVal); }
STDMETHODIMP CCrawler::put_ReportMailServer(BSTR newVal) { return PutText(EngineSettings::ReportMailServer, newVal); }
STDMETHODIMP CCrawler::get_PEBuilderDirectory(BSTR* pVal) { return GetText(EngineSettings::PEBuilderDirectory, pVal); }
STDMETHODIMP CCrawler::put_PEBuilderDirectory(BSTR FileName) { return PutText(EngineSettings::PEBuilderDirectory, FileName); }
STDMETHODIMP CCrawler::get_WindowsDirectory(BSTR* pVal) { return GetText(EngineSettings::WindowsDirectory, pVal); }
STDMETHODIMP CCrawler::put_WindowsDirectory(BSTR FileName) { return PutText(EngineSettings::WindowsDirectory, FileName); }
