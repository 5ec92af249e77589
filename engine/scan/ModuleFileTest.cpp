#include "engine/scan/ModuleFileTest.h"
#include <shlwapi.h>
#include "common/records/CheckResultCode.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/PathReadings.h"

namespace {

// "-101", "3", "" (a trailing comma): what may follow the module.
bool IsIconIndex(const tstring& text) {
    tstring index = TrimBlanks(text);
    size_t at = (!index.empty() && (index[0] == L'-' || index[0] == L'+')) ? 1 : 0;
    if (at == 1 && index.size() == 1) return false;
    for (; at < index.size(); ++at)
        if (index[at] < L'0' || index[at] > L'9') return false;
    return true;
}

}  // namespace

bool ProgramFileTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    tstring shown = text;
    for (const tstring& reading : PathReadings(value))
        if (FindProgramFile(shown = reading, result)) return true;
    // A program named without its folder is started from the folders of the
    // entry's "Path", a list such as "C:\App;C:\App\bin;".
    tstring name = TrimBlanks(text);
    RegValue folders(value.Key(), L"Path");
    if (!name.empty() && PathIsRelativeW(name.c_str()) && folders.Query()) {
        for (const tstring& reading : PathReadings(folders)) {
            tstring list = reading + L";";
            for (size_t start = 0, end; (end = list.find(L';', start)) != tstring::npos; start = end + 1) {
                tstring folder = TrimBlanks(list.substr(start, end - start));
                if (folder.empty()) continue;
                for (const tstring& candidate : {name, tstring(name + L".exe")})
                    if (PathExistsForCheck(folder + L"\\" + candidate, result)) return true;
            }
        }
    }
    FillFinding(result, MakeErrorID(ProblemAppPath, ReasonFileNotFound), value.Key().Name(), shown, value);
    return false;
}

bool ModulePathTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    if (FindModuleFile(text, result, true)) return true;
    FillFinding(result, MakeErrorID(ProblemControlPanelApplet, ReasonFileNotFound), value.Name(), text, value);
    return false;
}

tstring ModuleFileTest::ModulePart(const tstring& data) {
    size_t comma = data.rfind(L',');
    // A comma inside a folder or file name is no index separator.
    if (comma == tstring::npos || !IsIconIndex(data.substr(comma + 1))) return data;
    return data.substr(0, comma);
}

bool ModuleFileTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    // "@{package?ms-resource://...}": packaged applications register their
    // icons as a resource of an installed package, which no file search finds.
    if (StartsWithNoCase(TrimBlanks(text), L"@{")) return true;
    tstring module = TrimBlanks(ModulePart(text));
    if (!module.empty() && FindModuleFile(module, result, relativeAllowed_)) return true;
    tstring parent = value.Key().AncestorCount() > 0 ? value.Key().Ancestor(0).Name() : value.Key().Name();
    FillFinding(result, MakeErrorID(ProblemDefaultIcon, ReasonFileNotFound), parent, text, value);
    result.ValueName.clear();
    return false;
}
