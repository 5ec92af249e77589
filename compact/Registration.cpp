#include "compact/Registration.h"
#include <windows.h>
#include "common/errors/CheckObjects.h"
#include "compact/LibraryFile.h"

namespace compact {

namespace {

const wchar_t kNotifyKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\OrvaneCompact";
const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\OrvaneCompact";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Orvane Scheduler";

// A key created for writing; closing it is a step that can fail like any other.
class WriteKey {
public:
    WriteKey(HKEY root, const wchar_t* path) {
        Win32Check ck(FormatText(L"RegCreateKeyEx(%s)", path));
        ck = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key_, nullptr);
    }
    ~WriteKey() {
        if (key_)
            RegCloseKey(key_);
    }
    WriteKey(const WriteKey&) = delete;
    WriteKey& operator=(const WriteKey&) = delete;

    // The text with its terminating NUL: readers that take the data as it is
    // stored (Winlogon reads "DllName" this way) would otherwise run past it.
    void SetText(const wchar_t* name, DWORD type, const tstring& text) {
        Win32Check ck(FormatText(L"RegSetValueEx(%s)", name));
        ck = RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                            DWORD((text.size() + 1) * sizeof(wchar_t)));
    }
    void SetDword(const wchar_t* name, DWORD value) {
        Win32Check ck(FormatText(L"RegSetValueEx(%s)", name));
        ck = RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void DeleteValue(const wchar_t* name) {
        Win32Check ck(FormatText(L"RegDeleteValue(%s)", name));
        ck = RegDeleteValueW(key_, name);
    }
    void Close() {
        HKEY key = key_;
        key_ = nullptr;
        Win32Check ck(L"RegCloseKey");
        ck = RegCloseKey(key);
    }

private:
    HKEY key_ = nullptr;
};

// A 32-bit copy left in the 32-bit system folder by an earlier installation
// would be loaded by 32-bit hosts in place of this one.
void DeleteOld32BitCopy() {
    wchar_t folder[MAX_PATH] = {};
    UINT n = GetSystemWow64DirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    DeleteFileW((tstring(folder) + L"\\OrvaneCompact.dll").c_str());
}

}  // namespace

int32_t RegisterLibrary() {
    try {
        DeleteOld32BitCopy();
        const tstring& fileName = LibraryFileName();
        WriteKey notify(HKEY_LOCAL_MACHINE, kNotifyKey);
        notify.SetText(L"Logon", REG_SZ, L"WLEventLogon");
        notify.SetText(L"Logoff", REG_SZ, L"WLEventLogoff");
        notify.SetText(L"Shutdown", REG_SZ, L"WLEventShutdown");
        notify.SetText(L"DllName", REG_EXPAND_SZ, fileName);
        // Winlogon calls the handlers synchronously, so shutdown waits for the compaction.
        notify.SetDword(L"Asynchronous", 0);
        WriteKey source(HKEY_LOCAL_MACHINE, kEventSourceKey);
        source.SetText(L"EventMessageFile", REG_EXPAND_SZ, L"%SystemRoot%\\System32\\" + fileName);
        source.SetDword(L"TypesSupported", EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE);
        notify.Close();
        source.Close();
        return 0;
    } catch (const ErrorBase& e) {
        return HResultOf(e);
    } catch (...) {
        return E_FAIL;
    }
}

int32_t UnregisterLibrary() {
    int32_t result = 0;
    try {
        Win32Check ck(L"RegDeleteKey");
        ck = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kNotifyKey);
    } catch (const ErrorBase& e) {
        result = HResultOf(e);
    } catch (...) {
        result = E_FAIL;
    }
    try {
        WriteKey run(HKEY_LOCAL_MACHINE, kRunKey);
        run.DeleteValue(kRunValue);
    } catch (const ErrorBase& e) {
        result = HResultOf(e);
    } catch (...) {
        result = E_FAIL;
    }
    return result;
}

}  // namespace compact
