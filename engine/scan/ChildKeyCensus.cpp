#include "engine/scan/ChildKeyCensus.h"
#include "engine/scan/KeyReads.h"

ChildKeyCensus::ChildKeyCensus(const RegKey& key) : key_(key) {
    DWORD subkeys = 0;
    if (!key_.IsEmpty() && RegQueryInfoKeyW(key_.Handle(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        unseen_ = long(subkeys);
}

RegKey ChildKeyCensus::OpenIfPresent(const tstring& name) {
    bool direct = name.find(L'\\') == tstring::npos;
    if (direct && unseen_ == 0 && !WasOpened(name)) return RegKey();
    RegKey child = OpenChildIfPresent(key_, name);
    if (direct && !child.IsEmpty() && !WasOpened(name)) {
        opened_.push_back(name);
        if (unseen_ > 0) --unseen_;
    }
    return child;
}

bool ChildKeyCensus::WasOpened(const tstring& name) const {
    for (const tstring& seen : opened_)
        if (CompareStringOrdinal(seen.c_str(), int(seen.size()), name.c_str(), int(name.size()), TRUE) == CSTR_EQUAL)
            return true;
    return false;
}
