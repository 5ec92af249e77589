#pragma once
#include <windows.h>

// Owner of an open registry key, closed with RegCloseKey. The call that opens
// or creates the key fills it through Receive().
class RegKeyHolder {
public:
    RegKeyHolder() = default;
    ~RegKeyHolder() {
        if (key_)
            RegCloseKey(key_);
    }
    RegKeyHolder(const RegKeyHolder&) = delete;
    RegKeyHolder& operator=(const RegKeyHolder&) = delete;

    HKEY* Receive() { return &key_; }
    HKEY Get() const { return key_; }
    operator HKEY() const { return key_; }

private:
    HKEY key_ = nullptr;
};
