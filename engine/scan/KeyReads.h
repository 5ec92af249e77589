#pragma once
#include "common/errors/ErrorBase.h"
#include "common/tstring/tstring.h"
#include "engine/registry/RegKey.h"

// Small registry reads shared by the COM checkers, where a key or value that
// cannot be read counts as absent rather than as a failure.

// The HRESULT of a key that does not exist.
constexpr int32_t MissingKeyCode = int32_t(0x80070002);

inline bool IsMissingKey(const ErrorBase& e) { return e.Code() == MissingKeyCode; }

// Whether the key's own name is `name`, in any letter case (as the registry
// compares key names).
bool IsNamed(const RegKey& key, const wchar_t* name);

// The child key, or an empty key object when it cannot be opened for any reason.
RegKey OpenChildOrEmpty(const RegKey& parent, const tstring& name);

// The child key, or an empty key object when it does not exist; other
// failures are raised.
RegKey OpenChildIfPresent(const RegKey& parent, const tstring& name);

// The text of a value (the default value for the empty name); empty when the
// value is absent or cannot be read.
tstring ValueTextOrEmpty(const RegKey& key, const tstring& name = tstring());

// True when the value exists; false also when it cannot be read.
bool ValueExists(const RegKey& key, const tstring& name);

// True when the key "ROOT\path" exists; false only for a missing key, other
// failures are raised.
bool KeyPathExists(const tstring& path);

// True when the class has a key under HKCR\CLSID, in the native or the
// 32-bit view. A class can lack a verdict although its key exists: a 64-bit
// scan walks only the native view, and a key that was added or removed beside
// the walk can shift the enumeration past a class. Such a class is not
// judged rather than reported as missing.
bool ClassKeyExists(const tstring& clsid);
