#include "common/com/GlobalInterfaceTable.h"
#include "common/errors/CheckObjects.h"

namespace {
HRESULT OpenTable(ComPtr<IGlobalInterfaceTable>& table) {
    return CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IGlobalInterfaceTable, table.ReceiveVoid());
}
}

DWORD GlobalInterfaceTable::Register(IUnknown* object, REFIID iid) {
    ComPtr<IGlobalInterfaceTable> table;
    HRCheck ck(_T("GlobalInterfaceTable"));
    ck = OpenTable(table);
    DWORD cookie = 0;
    ck = table->RegisterInterfaceInGlobal(object, iid, &cookie);
    return cookie;
}

void GlobalInterfaceTable::Revoke(DWORD cookie) noexcept {
    ComPtr<IGlobalInterfaceTable> table;
    if (SUCCEEDED(OpenTable(table)))
        table->RevokeInterfaceFromGlobal(cookie);
}

HRESULT GlobalInterfaceTable::Get(DWORD cookie, REFIID iid, void** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    ComPtr<IGlobalInterfaceTable> table;
    HRESULT hr = OpenTable(table);
    if (FAILED(hr))
        return hr;
    return table->GetInterfaceFromGlobal(cookie, iid, result);
}

MtaScope::MtaScope() {
    // S_FALSE also counts: the thread was already in the MTA and this call added one reference.
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    joined_ = SUCCEEDED(hr);
}

MtaScope::~MtaScope() {
    if (joined_)
        CoUninitialize();
}
