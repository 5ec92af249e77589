#include "engine/scan/MimeTypeTest.h"
#include <vector>
#include "common/records/CheckResultCode.h"
#include "engine/registry/NamedCache.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/KeyReads.h"
#include "engine/scan/PathChecks.h"

namespace {

void FillFinding(CheckResult& result, uint16_t reason, const RegKey& key, const tstring& reasonText) {
    result.ErrorID = int32_t(MakeErrorID(ProblemMimeType, reason));
    result.Item = key.Name();
    result.Reason = reasonText;
    result.KeyPath = key.FullPath();
    result.ValueName.clear();
}

}  // namespace

MimeTypeTest::MimeTypeTest() : CachedClsidTest(false), extensions_(RegisteredExtensions(HKEY_CLASSES_ROOT)) {}

std::set<tstring> MimeTypeTest::RegisteredExtensions(HKEY root) {
    std::set<tstring> extensions;
    // Key names are limited to 255 characters.
    std::vector<wchar_t> name(256);
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(name.size());
        LONG status = RegEnumKeyExW(root, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            // A longer name than the registry promises: skip it, once.
            continue;
        }
        // Anything else but success (no more items, a vanished or unreadable
        // root) ends the list: retrying the same index would never end.
        if (status != ERROR_SUCCESS)
            break;
        if (length > 0 && name[0] == L'.')
            extensions.insert(UpperText(tstring(name.data(), length)));
    }
    return extensions;
}

// A class whose key exists but that has no verdict was not walked: not judged.
bool MimeTypeTest::UnjudgedClass(const tstring& clsid) const {
    return clsidCache_ && !clsidCache_->Contains(UpperText(clsid)) && ClassKeyExists(clsid);
}

bool MimeTypeTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    const RegKey& key = value.Key();
    int present = 0;
    bool clsidOk = false;
    bool extensionOk = false;
    RegValue clsid(key, L"CLSID");
    if (clsid.Query()) {
        present = 1;
        tstring text = clsid.DataText();
        clsidOk = TestClsid(text) || UnjudgedClass(text);
        if (!clsidOk)
            FillFinding(result, ReasonInvalidClsid, key, text);
    }
    RegValue extension(key, L"Extension");
    if (extension.Query()) {
        ++present;
        tstring text = extension.DataText();
        extensionOk = extensions_.count(UpperText(text)) != 0;
        if (!extensionOk)
            FillFinding(result, ReasonMimeExtension, key, text);
    }
    if (present == 0 || clsidOk || extensionOk) {
        result.Clear();
        return true;
    }
    return false;
}
