#include "engine/scan/InterfaceTest.h"
#include "common/errors/ErrorBase.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/NamedCache.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/TypeLibFileTest.h"

namespace {

const int32_t kNotFound = int32_t(0x80070002);

// The default value of a subkey; false when the subkey does not exist.
bool SubkeyDefault(const RegKey& key, const tstring& name, tstring& path, tstring& data) {
    try {
        RegKey subkey = key.SubKey(name);
        path = subkey.FullPath();
        RegValue value(subkey, tstring());
        data = value.Query() ? value.DataText() : tstring();
        return true;
    } catch (const ErrorBase& e) {
        if (e.Code() != kNotFound) throw;
        return false;
    }
}

// The in-process server of a class, upper-cased; empty when it has none. An
// interface of the 32-bit view is marshalled by the 32-bit class.
tstring InprocServer(const tstring& clsid, bool wow64View) {
    tstring classes = L"HKCR\\CLSID\\";
    if (wow64View) classes = L"HKCR\\" + tstring(RegKey::Wow64ViewName) + L"\\CLSID\\";
    try {
        RegKey server = RegKey::OpenPath(classes + clsid + L"\\InprocServer32");
        RegValue value(server, tstring());
        return value.Query() ? UpperText(TrimBlanks(value.DataText())) : tstring();
    } catch (const ErrorBase& e) {
        if (e.Code() != kNotFound) throw;
        return tstring();
    }
}

// A type library registered for some platform under HKCR\TypeLib.
bool TypeLibRegistered(const tstring& guid) {
    try {
        RegKey::OpenPath(L"HKCR\\TypeLib\\" + guid);
        return true;
    } catch (const ErrorBase& e) {
        if (e.Code() != kNotFound) throw;
        return false;
    }
}

}  // namespace

bool InterfaceTest::TypeLibIsBad(const tstring& guid, bool wow64View) const {
    if (TestClsid(guid, wow64View)) return false;
    // A library without a verdict for these clients that is registered (for
    // the other platform only, say) is not judged.
    bool judged = typeLibCache_ && typeLibCache_->WaitReady(false) &&
                  typeLibCache_->Lookup(TypeLibFileTest::CacheKey(guid, wow64View));
    return judged || !TypeLibRegistered(guid);
}

bool InterfaceTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    const RegKey& key = value.Key();
    int32_t finding = 0;
    tstring reason, keyPath, path, data;

    bool hasTypeLib = false, typeLibBad = false;
    if (SubkeyDefault(key, L"TypeLib", path, data) && !data.empty()) {
        hasTypeLib = true;
        if (TypeLibIsBad(data, key.InWow64View())) {
            typeLibBad = true;
            finding = int32_t(MakeErrorID(ProblemInterface, ReasonInvalidTypeLib));
            reason = data;
            keyPath = path;
        }
    }
    if (!hasTypeLib || typeLibBad) {
        if (SubkeyDefault(key, L"ProxyStubClsid32", path, data) && !data.empty()) {
            if (!TestClsid(data, key.InWow64View())) {
                finding = int32_t(MakeErrorID(ProblemInterface, ReasonInvalidClsid));
                reason = data;
                keyPath = path;
            } else if (typeLibBad && InprocServer(data, key.InWow64View()) != L"OLEAUT32.DLL") {
                // Marshalled by a proxy of its own: the type library is not needed.
                finding = 0;
            }
        }
    }
    if (!finding) return true;

    RegValue name(key, tstring());
    tstring item = name.Query() ? name.DataText() : tstring();
    result.ErrorID = finding;
    result.Item = item.empty() ? key.Name() : item;
    result.Reason = reason;
    result.KeyPath = keyPath;
    result.ValueName = L"(Default)";
    return false;
}
