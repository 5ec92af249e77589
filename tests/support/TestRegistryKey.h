#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// A scratch key HKCU\Software\OrvaneTest\<area>\<name>-<pid>, created empty
// and deleted with everything below it when the object goes. Test programs
// run in parallel in one prefix, so the name carries the process id.
class TestRegistryKey {
public:
    TestRegistryKey(const wchar_t* area, const wchar_t* name)
        : relative_(FormatText(L"Software\\OrvaneTest\\%s\\%s-%u", area, name, unsigned(GetCurrentProcessId()))) {
        RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str());
        RegCreateKeyExW(HKEY_CURRENT_USER, relative_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~TestRegistryKey() {
        if (key_)
            RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str());
    }
    TestRegistryKey(const TestRegistryKey&) = delete;
    TestRegistryKey& operator=(const TestRegistryKey&) = delete;

    HKEY Handle() const { return key_; }
    // "HKCU\Software\OrvaneTest\<area>\<name>-<pid>"
    tstring Path() const { return L"HKCU\\" + relative_; }
    const tstring& Relative() const { return relative_; }
    // A key below; an empty one names the scratch key itself.
    tstring Path(const tstring& below) const { return below.empty() ? Path() : Path() + L"\\" + below; }
    tstring Relative(const tstring& below) const {
        return below.empty() ? relative_ : tstring(relative_ + L"\\" + below);
    }

private:
    tstring relative_;
    HKEY key_ = nullptr;
};
