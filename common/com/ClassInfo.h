#pragma once
#include <windows.h>
#include <ocidl.h>

// The answers of IProvideClassInfo2 for a coclass of the module's type library.
HRESULT ClassInfoOf(REFCLSID clsid, ITypeInfo** result) noexcept;
// GUIDKIND_DEFAULT_SOURCE_DISP_IID gives the class's default event interface.
HRESULT ClassGuidOf(DWORD kind, REFIID defaultSource, GUID* result) noexcept;

// True when iid is one of the interfaces listed (ISupportErrorInfo).
bool IsListedInterface(REFIID iid, const IID* const* list, size_t count) noexcept;
