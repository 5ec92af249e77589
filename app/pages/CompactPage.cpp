#include "app/pages/CompactPage.h"
#include "app/AppUtilities.h"
#include "app/html/ScriptText.h"
#include "app/resource.h"
#include "common/errors/CheckObjects.h"
#include "common/log/Log.h"
#include "common/system/OsVersion.h"
#include "hives/CompactFlags.h"
#include "hives/SystemRestart.h"

namespace {

const char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kRunOnceValue[] = "QUARN OrvaneCompact";
const char kRunOnceCommand[] = "rundll32.exe OrvaneCompact.dll,OnRunOnce";

const wchar_t kReportHeader[] =
    L"document.getElementById('reportHost').innerHTML=\""
    L"<table id='reportTable' bgcolor='#F0F0F0' width='520px' border='1' bordercolor='white'>"
    L"<tr style='font-weight: bold'><td width='170px'>Hive</td><td width='140px' align='right'>Current size</td>"
    L"<td width='140px' align='right'>Size after compact</td><td width='70px' align='right'>Benefit</td></tr>"
    L"</table><span id=diagnosis>Please wait while your Registry is being analyzed.<BR>This can take several "
    L"minutes during which the program may stop responding.</span>\"; ";

bool BoolParam(const VARIANT* param) {
    if (!param)
        return false;
    VARIANT value;
    VariantInit(&value);
    bool result = SUCCEEDED(VariantChangeType(&value, const_cast<VARIANT*>(param), 0, VT_BOOL)) &&
                  value.boolVal == VARIANT_TRUE;
    VariantClear(&value);
    return result;
}

tstring TextParam(const VARIANT* param) {
    return param ? tstring::FromVariant(*param) : tstring();
}

// Turns the 64-bit file-system redirection off or on through kernel32 by
// name: older systems lack the function, and then nothing is done.
void SetFsRedirection(bool enable) {
    static HMODULE kernel = LoadLibraryW(L"Kernel32.dll");
    if (!kernel)
        return;
    using Function = BOOLEAN(WINAPI*)(BOOLEAN);
    static auto function =
        reinterpret_cast<Function>(GetProcAddress(kernel, "Wow64EnableWow64FsRedirection"));
    if (function)
        function(enable ? TRUE : FALSE);
}

class RunOnceKey {
public:
    RunOnceKey() {
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ | KEY_WOW64_64KEY | KEY_CREATE_SUB_KEY | KEY_SET_VALUE,
                      &key_);
    }
    ~RunOnceKey() {
        if (key_)
            RegCloseKey(key_);
    }
    RunOnceKey(const RunOnceKey&) = delete;
    RunOnceKey& operator=(const RunOnceKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

bool HasRunOnceRequest() {
    RunOnceKey key;
    if (!key.Get())
        return false;
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    return RegQueryValueExA(key.Get(), kRunOnceValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ==
           ERROR_SUCCESS;
}

void ToggleRunOnceRequest() {
    RunOnceKey key;
    if (!key.Get())
        return;
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    if (RegQueryValueExA(key.Get(), kRunOnceValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ==
        ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), kRunOnceValue);
    else
        RegSetValueExA(key.Get(), kRunOnceValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kRunOnceCommand),
                       sizeof kRunOnceCommand);
}

int CompactPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT* param) {
    if (IsEvent(eventName, L"RCompactAll")) {
        OnCompactAll(param);
    } else if (IsEvent(eventName, L"RCompactCurrent")) {
        OnCompactCurrent(param);
    } else if (IsEvent(eventName, L"RCompactChange")) {
        changed_ = true;
    } else if (IsEvent(eventName, L"Analyze")) {
        OnAnalyze();
    } else if (IsEvent(eventName, L"SaveReport")) {
        savedReport_ = TextParam(param);
    } else if (IsEvent(eventName, L"PageLoaded")) {
        OnPageLoaded();
    } else if (IsEvent(eventName, L"Restart")) {
        OnRestart();
    } else {
        return 1;
    }
    return 0;
}

int CompactPage::AskSaveChanges(HWND owner) {
    if (!changed_)
        return IDNO;
    int answer = ShowMessageBox(owner, IDS_SAVE_CHANGES, 0, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDYES)
        ExecScript(L"OnApply();");
    if (answer == IDYES || answer == IDNO)
        changed_ = false;
    return answer;
}

void CompactPage::OnCompactAll(const VARIANT* param) {
    if (IsWindowsMajor6()) {
        ToggleRunOnceRequest();
        return;
    }
    try {
        CompactFlags requests;
        requests.Open(false);
        if (BoolParam(param)) {
            if (!requests.IsAll())
                requests.SetAll();
        } else {
            requests.ClearAll();
        }
        changed_ = false;
        requests.Close();
    } catch (const ErrorBase& e) {
        // The list exists only while the compaction library is registered and a logon created it.
        ShowMessageBox(GetMainWindow(), e.Message().c_str(), nullptr, MB_ICONERROR);
    }
}

void CompactPage::OnCompactCurrent(const VARIANT* param) {
    try {
        CompactFlags requests;
        requests.Open(false);
        if (BoolParam(param)) {
            if (!requests.IsCurrent())
                requests.AddCurrent();
        } else {
            requests.ClearCurrent();
        }
        changed_ = false;
        requests.Close();
    } catch (const ErrorBase& e) {
        ShowMessageBox(GetMainWindow(), e.Message().c_str(), nullptr, MB_ICONERROR);
    }
}

void CompactPage::OnOriginalSize(const tstring& name, int64_t size) {
    ExecScript(FormatText(L"GotOriginalSize('%s', '%s'); ", EscapeScriptString(name).c_str(), SizeText(size).c_str()));
    PumpMessages();
}

void CompactPage::OnCompactedSize(const tstring& name, int64_t size, double percent) {
    ExecScript(FormatText(L"GotComapactedSize('%s', '%s', '%.2f%%'); ", EscapeScriptString(name).c_str(),
                          SizeText(size).c_str(), percent));
    PumpMessages();
}

void CompactPage::OnAnalyze() {
    HiveAnalyzer analyzer(this);
    ExecScript(kReportHeader);
    ExecScript(L"DisableToolbars();");
    PumpMessages();

    // Whatever happens in the walk, the window comes back to life.
    struct Restore {
        CompactPage& page;
        ~Restore() {
            SetFsRedirection(true);
            try {
                page.ExecScript(L"EnableToolbars();");
            } catch (...) {
            }
            page.EnableCloseMenu();
            EnableWindow(GetMainWindow(), TRUE);
            page.EnablePage(true);
        }
    };
    EnablePage(false);
    EnableWindow(GetMainWindow(), FALSE);
    DisableCloseMenu();
    tstring verdict;
    bool analyzed = false;
    {
        Restore restore{*this};
        SetFsRedirection(false);
        // A failed walk says so where the wait text stands, or it would stand for good.
        try {
            double benefit = analyzer.Analyze();
            verdict = tstring(MAKEINTRESOURCEW(AnalysisVerdictId(benefit)));
            analyzed = true;
        } catch (const ErrorBase& e) {
            Log::Instance().Print(LogError, L"[error] Registry analysis: %s", e.Message().c_str());
            verdict = L"<font color=red>The analysis failed: " + HtmlEncode(e.Message()) + L"</font>";
        } catch (...) {
            Log::Instance().Print(LogError, L"[error] Registry analysis: unexpected failure");
            verdict = L"<font color=red>The analysis failed.</font>";
        }
        SetFsRedirection(true);
        ExecScript(L"document.getElementById('diagnosis').innerHTML=\"" + HtmlScriptLiteral(verdict) + L"\"");
    }
    if (!analyzed)
        return;
    ExecScript(L"setBtnState(); window.external.OnHTMLEvent(document, 'SaveReport', '', "
               L"document.getElementById('reportHost').innerHTML)");
    PumpMessages();
}

void CompactPage::OnPageLoaded() {
    ExecScript(L"try{document.getElementById('reportHost').innerHTML=\"" + HtmlScriptLiteral(savedReport_) +
               L"\";}catch(e){alert(e.description);} ");
}

void CompactPage::OnRestart() {
    if (ShowMessageBox(GetMainWindow(), IDS_REBOOT_NOW, 0, MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    GetSystemRestart().ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, SHTDN_REASON_FLAG_PLANNED);
}
