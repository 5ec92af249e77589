#include "engine/fix/FixPlanners.h"
#include "common/errors/CheckObjects.h"
#include "engine/fix/FixEntry.h"
#include "engine/fix/KeyActions.h"
#include "engine/fix/LibraryVersionAction.h"
#include "engine/fix/NtActions.h"
#include "engine/fix/ValueActions.h"
#include "engine/registry/RegKey.h"

namespace {

bool ReasonIs(const CheckResult& error, std::initializer_list<uint16_t> accepted) {
    uint16_t reason = ReasonOf(uint32_t(error.ErrorID));
    for (uint16_t code : accepted)
        if (reason == code)
            return true;
    return false;
}

RegKey OpenFindingKey(const tstring& keyPath) {
    return RegKey::OpenPath(keyPath, false, false);
}

// A fix never deletes a whole hive: a key that turns out to be a root (a
// finding too close to the top for its planner's ancestors) is left out.
void PushKeyDelete(FixEntry& entry, const RegKey& key, int32_t onlyWithoutSubkeys) {
    if (key.IsRoot() || key.IsEmpty())
        return;
    entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(key.FullPath(), onlyWithoutSubkeys)));
}

bool NamedAs(const RegKey& key, const wchar_t* name) {
    tstring own = key.Name();
    return CompareStringOrdinal(own.c_str(), int(own.size()), name, -1, TRUE) == CSTR_EQUAL;
}

// HKLM\Software\Classes, HKCU\Software\Classes and HKLM\Software\Wow6432Node\Classes:
// the class tables that HKCR and its 32-bit view merge.
bool IsClassesRoot(const RegKey& key) {
    int depth = key.AncestorCount();
    if ((depth != 2 && depth != 3) || !NamedAs(key, L"Classes"))
        return false;
    HKEY hive = key.Ancestor(depth - 1).Handle();
    if (!NamedAs(key.Ancestor(depth - 2), L"Software"))
        return false;
    if (depth == 2)
        return hive == HKEY_LOCAL_MACHINE || hive == HKEY_CURRENT_USER;
    return hive == HKEY_LOCAL_MACHINE && RegKey::IsWow64ViewName(key.Ancestor(0).Name());
}

// The levels between the key and the root of its registry view: the hive's
// root, a classes root, or the "Wow6432Node" key that holds the 32-bit view
// (0 for such a key itself).
int LevelsBelowView(const RegKey& key) {
    int levels = 0;
    for (RegKey level = key; !level.IsRoot() && !RegKey::IsWow64ViewName(level.Name()) && !IsClassesRoot(level);
         level = level.Ancestor(0))
        ++levels;
    return levels;
}

// Keys that a planner derives from the finding's key (its ancestors, its
// parent's subkeys) are deleted with their contents only when they lie at
// least two levels below the root of their view: a finding reported one level
// higher than its planner expects must not cost a whole CLSID or TypeLib key
// of a class table, nor the 32-bit view itself.
void PushDerivedDelete(FixEntry& entry, const RegKey& key, int32_t onlyWithoutSubkeys) {
    if (!onlyWithoutSubkeys && LevelsBelowView(key) < 2)
        return;
    PushKeyDelete(entry, key, onlyWithoutSubkeys);
}

void PushAncestorDelete(FixEntry& entry, const RegKey& key, int n, int32_t onlyWithoutSubkeys) {
    if (n < key.AncestorCount())
        PushDerivedDelete(entry, key.Ancestor(n), onlyWithoutSubkeys);
}

// The subkey, or an empty object when it does not open.
RegKey TryOpenChild(const RegKey& parent, const tstring& name) {
    try {
        return RegKey::OpenChild(parent, name);
    } catch (const ErrorBase&) {
        return RegKey();
    }
}

}  // namespace

std::unique_ptr<FixPlanner> FixPlanner::Create(PlannerKind kind) {
    switch (kind) {
    case PlannerKind::ClsidKey: return std::unique_ptr<FixPlanner>(new ClsidKeyPlanner);
    case PlannerKind::ProgId: return std::unique_ptr<FixPlanner>(new ProgIdPlanner);
    case PlannerKind::TypeLib: return std::unique_ptr<FixPlanner>(new TypeLibPlanner);
    case PlannerKind::KeyDelete: return std::unique_ptr<FixPlanner>(new KeyDeletePlanner);
    case PlannerKind::ValueDelete: return std::unique_ptr<FixPlanner>(new ValueDeletePlanner);
    case PlannerKind::SharedTool: return std::unique_ptr<FixPlanner>(new SharedToolPlanner);
    case PlannerKind::ExtensionHandler: return std::unique_ptr<FixPlanner>(new ExtensionHandlerPlanner);
    case PlannerKind::NtValueDelete: return std::unique_ptr<FixPlanner>(new NtValueDeletePlanner);
    case PlannerKind::NtKeyDelete: return std::unique_ptr<FixPlanner>(new NtKeyDeletePlanner);
    case PlannerKind::QuotedValue: return std::unique_ptr<FixPlanner>(new QuotedValuePlanner);
    default: return nullptr;
    }
}

bool ClsidKeyPlanner::Plan(const tstring& keyPath, const tstring&, const CheckResult& error,
                           FixEntry& entry) const {
    uint16_t reason = ReasonOf(uint32_t(error.ErrorID));
    if (!((reason >= ReasonClsidNotFound && reason <= ReasonScriptNotFound) || reason == ReasonProgIdNotFound))
        return false;
    entry.SetError(error);
    entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(keyPath, 0)));
    return true;
}

bool ProgIdPlanner::Plan(const tstring& keyPath, const tstring&, const CheckResult& error, FixEntry& entry) const {
    if (!ReasonIs(error, {ReasonClsidNotFound, ReasonInvalidClsid}))
        return false;
    RegKey key = OpenFindingKey(keyPath);
    entry.SetError(error);
    if (key.IsRoot())
        return true;
    RegKey parent = key.Ancestor(0);
    for (const wchar_t* name : {L"CLSID", L"CurVer"}) {
        RegKey child = TryOpenChild(parent, name);
        if (!child.IsEmpty())
            PushDerivedDelete(entry, child, 0);
    }
    return true;
}

// A finding names one platform entry, ...\{library}\version\locale\win32 or
// win64; the other platform's entry may serve its clients still. The entry
// goes, then its locale when that is left empty, then the version whole once
// no locale holds a platform entry, then the library key when left empty.
bool TypeLibPlanner::Plan(const tstring& keyPath, const tstring&, const CheckResult& error, FixEntry& entry) const {
    if (!ReasonIs(error, {ReasonNone, ReasonFileNotFound}))
        return false;
    RegKey key = OpenFindingKey(keyPath);
    entry.SetError(error);
    bool platformEntry = (NamedAs(key, L"win32") || NamedAs(key, L"win64")) && key.AncestorCount() > 2;
    if (!platformEntry) {
        PushAncestorDelete(entry, key, 1, 0);
        PushAncestorDelete(entry, key, 2, 1);
        return true;
    }
    RegKey version = key.Ancestor(1);
    if (LevelsBelowView(version) < 2)
        return true;
    PushKeyDelete(entry, key, 0);
    PushKeyDelete(entry, key.Ancestor(0), 1);
    entry.Push(std::unique_ptr<FixAction>(new DeleteLibraryVersionAction(version.FullPath())));
    PushAncestorDelete(entry, key, 2, 1);
    return true;
}

bool KeyDeletePlanner::Plan(const tstring& keyPath, const tstring&, const CheckResult& error,
                            FixEntry& entry) const {
    entry.SetError(error);
    entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(keyPath, 0)));
    return true;
}

bool ValueDeletePlanner::Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
                              FixEntry& entry) const {
    entry.SetError(error);
    entry.Push(std::unique_ptr<FixAction>(new DeleteValueAction(keyPath, valueName)));
    return true;
}

bool SharedToolPlanner::Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
                             FixEntry& entry) const {
    if (!ReasonIs(error, {ReasonNone, ReasonFileNotFound}))
        return false;
    RegKey key = OpenFindingKey(keyPath);
    entry.SetError(error);
    DWORD subkeys = 0;
    Win32Check ck(keyPath);
    ck = RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
    bool onlyClients = false;
    if (subkeys == 1) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.Handle(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            onlyClients = tstring(name, length) == L"Clients";
    }
    if (onlyClients && !key.IsRoot())
        PushKeyDelete(entry, key, 0);
    else
        entry.Push(std::unique_ptr<FixAction>(new DeleteValueAction(keyPath, valueName)));
    return true;
}

bool ExtensionHandlerPlanner::Plan(const tstring& keyPath, const tstring&, const CheckResult& error,
                                   FixEntry& entry) const {
    if (!ReasonIs(error, {ReasonNone, ReasonFileNotFound}))
        return false;
    RegKey key = OpenFindingKey(keyPath);
    entry.SetError(error);
    PushKeyDelete(entry, key, 0);
    PushAncestorDelete(entry, key, 0, 1);
    PushAncestorDelete(entry, key, 1, 1);
    return true;
}

bool NtValueDeletePlanner::Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
                                FixEntry& entry) const {
    entry.SetError(error);
    entry.Push(std::unique_ptr<FixAction>(new NtDeleteValueAction(keyPath, valueName)));
    return true;
}

bool NtKeyDeletePlanner::Plan(const tstring& keyPath, const tstring&, const CheckResult& error,
                              FixEntry& entry) const {
    entry.SetError(error);
    entry.Push(std::unique_ptr<FixAction>(new NtDeleteKeyAction(keyPath, 0)));
    return true;
}

tstring QuotedValuePlanner::Unquoted(const tstring& text) {
    tstring result;
    result.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        result += text[at];
        if (text[at] == L'"' && at + 1 < text.size() && text[at + 1] == L'"')
            ++at;
    }
    return result;
}

bool QuotedValuePlanner::Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
                              FixEntry& entry) const {
    if (!ReasonIs(error, {ReasonNone, ReasonFileNotFound}))
        return false;
    OpenFindingKey(keyPath);
    tstring text = Unquoted(error.Reason);
    if (text == error.Reason)
        return false;
    entry.SetError(error);
    entry.Push(std::unique_ptr<FixAction>(new SetValueAction(keyPath, valueName, text)));
    return true;
}
