// What qnControl.dll serves and its registry entries.
#include <iterator>
#include "htmlcontrol/qnControl.h"
#include "htmlcontrol/HtmlControl.h"
#include "common/com/ClassRegistration.h"
#include "common/com/InprocServer.h"

namespace {
// The module's AppID: it names the server in the AppID keys.
const GUID kAppId = {0x2fe5b5f4, 0x2599, 0x45c8, {0x9d, 0x61, 0x0e, 0x0a, 0x82, 0xaf, 0x46, 0x5a}};

const ClassEntry kClasses[] = {{&CLSID_CQNHTMLControl, nullptr, &CQNHTMLControl::Create}};

const ClassRegistration kControlRegistration = {
    &CLSID_CQNHTMLControl, L"CQNHTMLControl Object", L"qnControl.QNHTMLControl.1",
    L"qnControl.QNHTMLControl", L"apartment", &LIBID_qnControl, &kAppId, L"qnControl"};

// OLEMISC_SETCLIENTSITEFIRST | ACTIVATEWHENVISIBLE | INSIDEOUT | CANTLINKINSIDE | RECOMPOSEONRESIZE
const wchar_t kMiscStatus[] = L"131473";

RegistryTable ControlKeys() {
    const tstring classKey = kControlRegistration.ClassKey();
    RegistryTable keys = kControlRegistration.Keys();
    keys.Key(classKey + L"\\Control")
        .Value(classKey + L"\\ToolboxBitmap32", L"", ComModule::Path() + L", 1")
        .Value(classKey + L"\\MiscStatus", L"", kMiscStatus)
        .Value(classKey + L"\\Version", L"", L"1.0");
    return keys;
}
}

// The control's window class is the module's: it goes when the module does.
const InprocServer kThisServer = {kClasses, std::size(kClasses), &ControlKeys,
                                  &ActiveXControl::UnregisterWindowClass};
