#include "PlantedFaults.h"
#include <doctest/doctest.h>
#include <oleauto.h>

const wchar_t kCplsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls";
const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

ComPtr<ICrawler> LoadEngine() {
    std::string path = "Z:" + std::string(ORVANE_ENGINE_DLL);
    HMODULE dll = LoadLibraryA(path.c_str());
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(GetProcAddress(dll, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    ComPtr<ICrawler> engine;
    if (get && SUCCEEDED(get(CLSID_CCrawler, IID_IClassFactory, factory.ReceiveVoid())))
        factory->CreateInstance(nullptr, IID_ICrawler, engine.ReceiveVoid());
    return engine;
}

void PlantCpls(const std::vector<std::wstring>& names) {
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCplsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    for (const auto& name : names) {
        std::wstring data = L"C:\\ovundo-missing\\" + name + L".cpl";
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

void RemoveCpls(const std::vector<std::wstring>& names) {
    for (const auto& name : names)
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCplsKey, name.c_str());
}

std::wstring CplValue(const std::wstring& name) {
    wchar_t data[512] = {};
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kCplsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<gone>";
    return data;
}

std::vector<long> FindCplFaults(ICrawler* engine, const std::vector<std::wstring>& names, long above) {
    REQUIRE(engine->Scan(8) == S_OK);
    std::vector<long> ids;
    for (int tries = 0; tries < 600 && ids.size() < names.size(); ++tries) {
        Sleep(100);
        ids.clear();
        long count = 0;
        engine->get_Count(&count);
        for (long i = 1; i <= count; ++i) {
            ComPtr<IqnRegRecord> record;
            if (FAILED(engine->Record(i, record.Receive())))
                continue;
            BSTR item = nullptr;
            record->get_Item(&item);
            std::wstring text = item ? item : L"";
            SysFreeString(item);
            for (const auto& name : names)
                if (text.find(name) != std::wstring::npos) {
                    long id = 0;
                    record->get_FixID(&id);
                    if (id > above)
                        ids.push_back(id);
                }
        }
    }
    engine->Stop();
    return ids;
}

void PlantSharedDlls(const std::vector<std::wstring>& names) {
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    DWORD one = 1;
    for (const auto& name : names)
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    RegCloseKey(key);
}

void RemoveSharedDlls(const std::vector<std::wstring>& names) {
    for (const auto& name : names)
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSharedDlls, name.c_str());
}
