#include "engine/scan/BrowserExtensionTest.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/ResourceUrlTest.h"

namespace {

enum class Kind { Clsid, Script, Program };

struct Reference {
    const wchar_t* name;
    Kind kind;
    uint16_t reason;
};

const Reference kReferences[] = {
    {L"ClsidExtension", Kind::Clsid, ReasonInvalidClsid},
    {L"BandCLSID", Kind::Clsid, ReasonInvalidClsid},
    {L"Script", Kind::Script, ReasonScriptNotFound},
    {L"Exec", Kind::Program, ReasonFileNotFound},
};

}  // namespace

bool BrowserExtensionTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    const Reference* failed = nullptr;
    RegValue failedValue(value.Key(), tstring());
    tstring failedData;
    for (const Reference& reference : kReferences) {
        RegValue named(value.Key(), reference.name);
        if (!named.Query()) continue;
        tstring data = named.DataText();
        CheckResult scratch;
        bool good = reference.kind == Kind::Clsid    ? TestClsid(data)
                    : reference.kind == Kind::Script ? ResourceUrlTest::ResourceExists(data, scratch)
                                                     : FindProgramFile(data, scratch);
        if (good) return true;
        failed = &reference;
        failedValue = named;
        failedData = data;
    }
    if (!failed) return true;
    FillFinding(result, MakeErrorID(ProblemBrowserExtension, failed->reason), value.Key().Name(), failedData,
                failedValue);
    return false;
}
