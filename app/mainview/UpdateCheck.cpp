#include "app/mainview/UpdateCheck.h"
#include <urlmon.h>
#include <cwctype>
#include "app/AppUtilities.h"
#include "app/html/HtmlPage.h"
#include "app/html/ScriptText.h"
#include "app/html/UiCache.h"
#include "app/mainview/DownloadCancel.h"
#include "common/system/ModuleVersion.h"
#include "common/system/OsDescription.h"
#include "common/system/WebAddress.h"

namespace {

const wchar_t kCantConnect[] = L"Can't connect to server. Check your Internet connection or try again later.";
const DWORD kMostReplyBytes = 64 * 1024;
const wchar_t kReplyFile[] = L"\\updates.htm";
// How long the checker's end, and a new check, wait for a worker whose
// download the abort did not end; the worker then ends with the process.
const DWORD kWorkerEndMs = 3000;

// Whether a worker of this process has the reply file that every check
// names ("updates.htm"): one at a time, so that two downloads never write it
// at once.
volatile LONG replyFileTaken = 0;

// The file one worker downloads to: the shared reply file when no other
// worker has it, else one of its own (named after the worker's thread,
// unique while it runs), deleted when the worker is done with it. A cancelled
// download that never ends keeps the shared file for good, and every later
// check still gets an answer through a file of its own.
class ReplyFile {
public:
    ReplyFile() {
        tstring folder = GetUiCacheFolder(true);
        tstring own = folder + FormatText(L"\\updates-%lu.htm", GetCurrentThreadId());
        path_ = folder + kReplyFile;
        // Nothing that can throw once the shared file is taken.
        shared_ = InterlockedCompareExchange(&replyFileTaken, 1, 0) == 0;
        if (!shared_) path_.swap(own);
    }
    ~ReplyFile() {
        if (shared_)
            InterlockedExchange(&replyFileTaken, 0);
        else
            DeleteFileW(path_.c_str());
    }
    ReplyFile(const ReplyFile&) = delete;
    ReplyFile& operator=(const ReplyFile&) = delete;
    const tstring& Path() const { return path_; }

private:
    bool shared_ = false;
    tstring path_;
};

// Aborts the download when the check is cancelled and keeps the HTTP status.
// Counted: urlmon may hold it after the download returns (its binding kept
// by a cancel that raced the end).
class DownloadCallback final : public IBindStatusCallback, public IHttpNegotiate {
public:
    explicit DownloadCallback(std::shared_ptr<DownloadCancel> cancel) : cancel_(std::move(cancel)) {}
    DWORD status = 0;
    bool tooLong = false;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IBindStatusCallback)
            *object = static_cast<IBindStatusCallback*>(this);
        else if (iid == IID_IHttpNegotiate)
            *object = static_cast<IHttpNegotiate*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return ULONG(left);
    }
    STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override { return cancel_->Hold(binding) ? S_OK : E_ABORT; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    // Only the reply's first 64 KiB count: an endless reply must not fill the
    // disk. What arrived before the abort is the reply when the file keeps it.
    STDMETHODIMP OnProgress(ULONG progress, ULONG, ULONG, LPCWSTR) override {
        if (progress > kMostReplyBytes) tooLong = true;
        return Cancelled() || tooLong ? E_ABORT : S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override {
        cancel_->Drop();
        return S_OK;
    }
    STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
        if (flags) *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
        (void)info;
        return S_OK;
    }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return Cancelled() ? E_ABORT : S_OK; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
        if (additional) *additional = nullptr;
        return Cancelled() ? E_ABORT : S_OK;
    }
    STDMETHODIMP OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override {
        status = code;
        if (additional) *additional = nullptr;
        return Cancelled() ? E_ABORT : S_OK;
    }

private:
    ~DownloadCallback() = default;
    bool Cancelled() const { return cancel_->Cancelled(); }
    std::shared_ptr<DownloadCancel> cancel_;
    LONG references_ = 1;
};

tstring Utf8Percent(const tstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], size, nullptr, nullptr);
    tstring out;
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~')
            out += wchar_t(c);
        else
            out += FormatText(L"%%%02X", unsigned(c));
    }
    return out;
}

struct WorkerStart {
    HtmlPage* page;
    LONG generation;
    std::shared_ptr<DownloadCancel> cancel;
    // The cancelled worker before this one, still on its way out, or NULL.
    HANDLE previous;
};

}  // namespace

tstring ProductSite() {
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase", RRF_RT_REG_SZ, nullptr, value, &size) ==
            ERROR_SUCCESS &&
        IsUpdateLink(value)) {
        tstring site(value);
        while (!site.empty() && site.back() == L'/') site.pop_back();
        return site;
    }
    return kProductSite;
}

tstring InfoPageAddress(const tstring& path) { return ProductSite() + L"/" + path + L"/info.html"; }

tstring VersionCode() {
    // Held by name: a range over a temporary's member would read freed text.
    ModuleVersion version;
    tstring digits;
    for (wchar_t c : version.ProductVersion())
        if (c != L'.') digits += c;
    return digits.substr(0, 3);
}

bool IsUpdateLink(const tstring& text) {
    if (!IsWebAddress(text.c_str())) return false;
    for (wchar_t c : text) {
        bool allowed = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
                       wcschr(L"-._~:/?#@!$&()*+,;=%", c) != nullptr;
        if (!allowed) return false;
    }
    return true;
}

tstring UpdateReplyScript(const std::string& reply) {
    // The reply ends at its first NUL, as a text file read whole would.
    std::string narrow(reply.c_str());
    int size = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), int(narrow.size()), nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), int(narrow.size()), &wide[0], size);
    tstring text(wide);
    tstring shown;
    size_t open = text.find(L'['), close = text.find(L']');
    tstring target = open != tstring::npos && close != tstring::npos && open > 0 && close > open
                         ? text.substr(open + 1, close - open - 1)
                         : tstring();
    if (!target.empty() && IsUpdateLink(target)) {
        tstring attribute;
        for (wchar_t c : target) attribute += c == L'&' ? tstring(L"&amp;") : tstring(1, c);
        shown = EscapeScriptString(text.substr(0, open + 1)) + L"<a href=\\\"javascript:;\\\" onClick=\\\"GoUpdateOnline(\\'" +
                attribute + L"\\');\\\">" + attribute + L"</a>" + EscapeScriptString(text.substr(close));
    } else {
        shown = EscapeScriptString(text);
    }
    return L"license_middle.innerHTML = \"" + shown + L"\"";
}

tstring SupportAddress(const tstring& base, const tstring& name, const tstring& mail) {
    return base + L"?name=" + Utf8Percent(name) + L"&email=" + Utf8Percent(mail) + L"&product=OV" + VersionCode() +
           L"&winver=" + Utf8Percent(OsName()) + L"&platform=" + (sizeof(void*) == 8 ? L"64" : L"32");
}

UpdateChecker::~UpdateChecker() {
    Cancel();
    Wait();
}

tstring UpdateChecker::TargetFile() {
    return GetUiCacheFolder(true) + kReplyFile;
}

bool UpdateChecker::Download(const tstring& address, const tstring& file, const std::shared_ptr<DownloadCancel>& cancel,
                             std::string& reply) {
    // An earlier reply must not pass for this one.
    DeleteFileW(file.c_str());
    ComPtr<DownloadCallback> callback;
    callback.Attach(new DownloadCallback(cancel));
    HRESULT result = URLDownloadToFileW(nullptr, address.c_str(), file.c_str(), 0, callback.Get());
    if ((FAILED(result) && !callback->tooLong) || cancel->Cancelled() ||
        (callback->status != 0 && (callback->status < 200 || callback->status > 299)))
        return false;
    HandleHolder handle(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.IsValid()) return false;
    reply.assign(kMostReplyBytes, '\0');
    DWORD read = 0;
    // A server that closes the connection without a word leaves an empty
    // file behind a successful download: that is no answer either.
    if (!ReadFile(handle, &reply[0], kMostReplyBytes, &read, nullptr) || read == 0) return false;
    reply.resize(read);
    return true;
}

bool UpdateChecker::Start(HtmlPage* page) {
    if (running_) return false;
    // A cancelled worker may still be on its way out of its aborted download:
    // the new one waits a few seconds for it on its own thread, not here on
    // the UI thread, so that it mostly finds the shared reply file free.
    HANDLE previous = nullptr;
    if (thread_.IsValid() && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT)
        DuplicateHandle(GetCurrentProcess(), thread_, GetCurrentProcess(), &previous, SYNCHRONIZE, FALSE, 0);
    thread_.CloseNoThrow();
    cancel_ = std::make_shared<DownloadCancel>();
    ++generation_;
    auto* start = new WorkerStart{page, generation_, cancel_, previous};
    thread_.Attach(CreateThread(nullptr, 0, &UpdateChecker::Worker, start, 0, nullptr));
    if (!thread_.IsValid()) {
        if (previous) CloseHandle(previous);
        delete start;
        return false;
    }
    running_ = true;
    return true;
}

void UpdateChecker::Cancel() {
    if (cancel_) cancel_->Cancel();
    ++generation_;
    running_ = false;
}

void UpdateChecker::Wait() {
    if (!thread_.IsValid()) return;
    HANDLE thread = thread_.Get();
    ULONGLONG end = GetTickCount64() + kWorkerEndMs;
    for (ULONGLONG now; (now = GetTickCount64()) < end;) {
        if (MsgWaitForMultipleObjects(1, &thread, FALSE, DWORD(end - now), QS_SENDMESSAGE) != WAIT_OBJECT_0 + 1) break;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    thread_.CloseNoThrow();
}

tstring UpdateChecker::Accept(const tstring& posted) {
    size_t bar = posted.find(L'|');
    if (!running_ || bar == tstring::npos || _wtol(posted.substr(0, bar).c_str()) != generation_) return tstring();
    running_ = false;
    return posted.substr(bar + 1);
}

DWORD WINAPI UpdateChecker::Worker(void* argument) {
    WorkerStart start = *static_cast<WorkerStart*>(argument);
    delete static_cast<WorkerStart*>(argument);
    // The cancelled worker before this one mostly ends within moments of its
    // abort and gives the shared reply file back; one whose download ignores
    // the abort is not waited for past the bound, and this check goes on with
    // a file of its own.
    if (start.previous) {
        WaitForSingleObject(start.previous, kWorkerEndMs);
        CloseHandle(start.previous);
    }
    const DownloadCancel& cancel = *start.cancel;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string reply;
    tstring script;
    bool received = false;
    // Nothing may leave the thread: any failure reads as no connection.
    try {
        tstring address = ProductSite() + L"/vertest/orvane.php?ver=" + VersionCode();
        ReplyFile file;
        received = Download(address, file.Path(), start.cancel, reply);
    } catch (...) {
        received = false;
    }
    if (received) {
        script = UpdateReplyScript(reply);
    } else {
        std::string text;
        for (const wchar_t* p = kCantConnect; *p; ++p) text += char(*p);
        script = UpdateReplyScript(text);
    }
    for (int i = 0; i < 10 && !cancel.Cancelled(); ++i) Sleep(50);
    if (!cancel.Cancelled()) {
        VARIANT param;
        param.vt = VT_BSTR;
        tstring posted = FormatText(L"%ld|", start.generation) + script;
        param.bstrVal = SysAllocString(posted.c_str());
        start.page->PostEvent(L"ShowUpdate", &param);
        SysFreeString(param.bstrVal);
    }
    CoUninitialize();
    return 0;
}
