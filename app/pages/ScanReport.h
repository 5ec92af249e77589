#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"
#include "engine/engine.h"

// The text report of the engine's findings, by category: empty when no finding
// is fixable. running names the system ("Running on ..."), may be empty.
tstring BuildScanReport(ICrawler* engine, const tstring& running);

// The same report over the other record lists: the loaded undo session or
// the ignore list. Their records carry no category: it comes from the kind.
enum class ReportList { Found, Undo, Ignore };
tstring BuildRecordReport(ICrawler* engine, ReportList list, const tstring& running);

// Asks for a text file (desktop first) and writes the report there; false
// when cancelled or not written.
bool SaveReportAs(HWND owner, const tstring& report);

// Reports leave as UTF-16 without byte-order mark or terminator; false when the
// file cannot be created or written.
bool WriteReportFile(const tstring& path, const tstring& report);
// CF_UNICODETEXT on the clipboard; false (clipboard unchanged) on failure.
bool CopyReportToClipboard(HWND owner, const tstring& report);
