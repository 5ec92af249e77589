#include <doctest/doctest.h>
#include "TestRegistryKey.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/ModuleFileTest.h"

namespace {

class ReviewKey : public TestRegistryKey {
public:
    explicit ReviewKey(const wchar_t* name) : TestRegistryKey(L"reviewscan", name) {}
    void SetText(const tstring& sub, const tstring& data) {
        RegSetKeyValueW(HKEY_CURRENT_USER, Relative(sub).c_str(), nullptr, REG_SZ, data.c_str(),
                        DWORD((data.size() + 1) * sizeof(wchar_t)));
    }
    bool Judge(ModuleFileTest& test, const tstring& sub, CheckResult& result) {
        RegValue value(RegKey::OpenPath(Path(sub)), tstring());
        value.Query();
        return test.Test(value.DataText(), value, result);
    }
};

}  // namespace

TEST_CASE("ModuleFileTest: icons of packaged applications name a package resource, not a file") {
    ReviewKey key(L"icons");
    // As Windows registers the file types of Store applications.
    key.SetText(L"AppXabc\\DefaultIcon",
                L"@{Microsoft.Windows.Photos_2019.19071.12548.0_x64__8wekyb3d8bbwe"
                L"?ms-resource://Microsoft.Windows.Photos/Files/Assets/PhotosAppList.png}");
    key.SetText(L"gone\\DefaultIcon", L"C:\\NoSuchFolder-reviewscan\\gone.dll,2");
    for (bool relative : {true, false}) {
        CAPTURE(relative);
        ModuleFileTest test(relative);
        CheckResult r;
        CHECK(key.Judge(test, L"AppXabc\\DefaultIcon", r));
        CHECK(r.ErrorID == 0);
        CHECK_FALSE(key.Judge(test, L"gone\\DefaultIcon", r));
        CHECK(r.ErrorID != 0);
    }
}
