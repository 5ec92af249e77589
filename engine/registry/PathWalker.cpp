#include "engine/registry/PathWalker.h"
#include <exception>
#include "common/errors/ErrorBase.h"
#include "engine/scan/ScanGroup.h"

namespace {

const HKEY kAllRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
                          HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,     HKEY_USERS};

// The names of a key's subkeys, one at a time, without opening them: a level
// usually selects a few of the children it lists, and each open and close is
// a round trip to the registry. A name holding a NUL character is skipped
// (it cannot be opened by name); an enumeration error ends the list, since it
// would repeat for every index.
class SubKeyNames {
public:
    explicit SubKeyNames(const RegKey& key) : key_(key.Handle()) {}

    bool Next(tstring& name) {
        for (;;) {
            DWORD length = DWORD(sizeof buffer_ / sizeof buffer_[0]);
            if (RegEnumKeyExW(key_, index_, buffer_, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                return false;
            ++index_;
            if (length == DWORD(lstrlenW(buffer_))) {
                name.assign(buffer_, length);
                return true;
            }
        }
    }

private:
    HKEY key_;
    DWORD index_ = 0;
    // Key names are limited to 255 characters.
    wchar_t buffer_[256];
};

// The 32-bit registry view is never an entry of the key it lies in (a ProgID
// of HKCR, an uninstall entry, a class ...): judged as one, its fix would take
// every 32-bit registration with it. Rules reach the view only by naming it
// as a literal level.
bool Selects(const PatternElement& element, const tstring& name) {
    return !RegKey::IsWow64ViewName(name) && element.Match(name);
}

bool Stopped(const ScanRule& rule) { return rule.Group() && rule.Group()->StopRequested(); }

// The checks between subkeys: a stop ends the walk, a pause holds it.
bool MayGoOn(const ScanRule& rule) { return !rule.Group() || rule.Group()->ContinueWalk(); }

}  // namespace

PathWalker::PathWalker(const ScanRule& rule, EntryTest* test)
    : pattern_(rule.Pattern()), test_(test) {
    check_ = [test](const tstring& text, RegValue& value, CheckResult& result) {
        return test->Test(text, value, result);
    };
}

PathWalker::PathWalker(const ScanRule& rule, EntryTest* test, EntryCheck check)
    : pattern_(rule.Pattern()), test_(test), check_(std::move(check)) {}

bool PathWalker::Run(ScanRule& rule) {
    if (HKEY root = pattern_.RootKey()) {
        Walk(RegKey(root), rule, 100.0, 0.0);
        return true;
    }
    for (HKEY root : kAllRoots) {
        rule.RestartProgress();
        Walk(RegKey(root), rule, 100.0, 0.0);
        if (Stopped(rule)) return false;
    }
    return true;
}

bool PathWalker::RunWithVisitor(ScanRule& rule) {
    if (test_) test_->Begin(rule);
    bool result = Run(rule);
    if (test_) test_->End(rule);
    return result;
}

bool PathWalker::Walk(const RegKey& key, ScanRule& rule, double share, double base) {
    try {
        size_t next = size_t(key.AncestorCount()) + 1;
        if (next >= pattern_.KeyCount()) {
            WalkValues(key, rule);
            return true;
        }
        const PatternElement& element = pattern_.KeyElement(next);
        if (element.IsLiteral()) {
            Walk(RegKey::OpenChild(key, element.Text()), rule, share, base);
            return true;
        }
        return WalkExpressionLevel(key, element, rule, share, base);
    } catch (const ErrorBase&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

bool PathWalker::WalkExpressionLevel(const RegKey& key, const PatternElement& element, ScanRule& rule,
                                     double share, double base) {
    // Counted first, so that the share can be split evenly among the matches.
    int count = 0;
    tstring name;
    for (SubKeyNames names(key); names.Next(name);) {
        if (!MayGoOn(rule)) return false;
        if (Selects(element, name)) ++count;
    }
    double unit = count > 1 ? share / count : share;
    int walked = 0;
    for (SubKeyNames names(key); names.Next(name);) {
        if (!MayGoOn(rule)) return false;
        if (!Selects(element, name)) continue;
        // A child that cannot be opened for reading has nothing to walk; its
        // share of the progress is done all the same.
        RegKey child;
        try {
            child = RegKey::OpenChild(key, name);
        } catch (const ErrorBase&) {
        }
        if (!child.IsEmpty()) Walk(child, rule, unit, base + walked * unit);
        ++walked;
        rule.Advance(base + walked * unit);
    }
    return true;
}

bool PathWalker::WalkValues(const RegKey& key, ScanRule& rule) {
    const PatternElement& nameElement = pattern_.ValueNameElement();
    tstring capture;
    if (nameElement.IsLiteral()) {
        RegValue value(key, nameElement.Text());
        CheckResult result;
        if (CheckValue(value, capture, result)) ReportFinding(rule, value, capture, result);
        return true;
    }
    for (RegValue& value : key.ValuesRead()) {
        if (Stopped(rule)) return false;
        // A fresh result per value: a finding must not carry texts of the one before.
        CheckResult result;
        capture.clear();
        if (CheckValue(value, capture, result)) ReportFinding(rule, value, capture, result);
    }
    return true;
}

void PathWalker::ReportFinding(ScanRule& rule, RegValue& value, const tstring& capture, CheckResult& result) {
    if (result.Item.empty() && result.Reason.empty()) result.Reason = capture;
    if (rule.Group()) rule.Group()->ReportValueFinding(value, result);
}

bool PathWalker::CheckValue(RegValue& value, tstring& capture, CheckResult& result) {
    if (!pattern_.ValueNameElement().Match(value.Name())) return false;
    const PatternElement& data = pattern_.DataElement();
    if (value.Type() == RegValue::NotRead) value.Query();
    if (data.IsMagic()) {
        // Every visited key is tested once, whether or not its value exists.
        if (value.Type() != RegValue::Absent) capture = value.DataText();
    } else {
        if (value.Type() == RegValue::Absent) return false;
        if (!data.MatchText(value.DataText(), capture)) return false;
    }
    return !check_(capture, value, result);
}
