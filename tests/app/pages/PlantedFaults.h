#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "common/com/ComPtr.h"
#include "engine/engine.h"

// Real records for the page tests: Control Panel applets whose files are
// missing (faults of category 8) and shared DLLs that are gone (category 4),
// planted under HKLM, found by a real scan.
extern const wchar_t kCplsKey[];
extern const wchar_t kSharedDlls[];

// A new engine object straight from the built DLL.
ComPtr<ICrawler> LoadEngine();
// Each name with the data "C:\ovundo-missing\<name>.cpl".
void PlantCpls(const std::vector<std::wstring>& names);
void RemoveCpls(const std::vector<std::wstring>& names);
// The value's data, or "<gone>".
std::wstring CplValue(const std::wstring& name);
// Scans category 8 until every name is listed; their FixIDs, above those of
// an earlier scan (which the list may still hold).
std::vector<long> FindCplFaults(ICrawler* engine, const std::vector<std::wstring>& names, long above = 0);

// Each name as a shared DLL with a use count of 1; its file does not exist.
void PlantSharedDlls(const std::vector<std::wstring>& names);
void RemoveSharedDlls(const std::vector<std::wstring>& names);
