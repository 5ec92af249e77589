// What OrvaneEngine.dll serves and its registry entries.
#include <iterator>
#include "engine/com/CCrawler.h"
#include "common/com/ClassRegistration.h"
#include "common/com/InprocServer.h"

namespace {
// The module's AppID: it names the server in the AppID keys.
const GUID kAppId = {0x9867ce9e, 0xe948, 0x4439, {0xbe, 0x5e, 0xd3, 0x30, 0x28, 0x27, 0xb3, 0xcc}};

const ClassEntry kClasses[] = {{&CLSID_CCrawler, &CCrawler::CreateInstance}};

const ClassRegistration kCrawlerRegistration = {
    &CLSID_CCrawler, L"CCrawler Object", L"OrvaneEngine.Crawler.1", L"OrvaneEngine.Crawler",
    L"free", &LIBID_OrvaneEngine, &kAppId, L"OrvaneEngine"};

RegistryTable EngineKeys() {
    const tstring classKey = kCrawlerRegistration.ClassKey();
    RegistryTable keys = kCrawlerRegistration.Keys();
    keys.Value(classKey, L"AppID", GuidText(kAppId)).Key(classKey + L"\\Programmable");
    return keys;
}
}

const InprocServer kThisServer = {kClasses, std::size(kClasses), &EngineKeys, nullptr};
