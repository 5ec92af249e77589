#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// What the control lets pages do. Only the program's own pages, "about:blank"
// and the files in this process's UI cache folders, are trusted: they alone
// get the local machine zone, the allowed URL actions and window.external,
// and they alone may be navigated to.

// True for "about:blank" and for a file in one of this process's UI cache
// folders "<cache root>\QNHTML<pid>-<n>\", given as a file: URL or as a
// plain path (query and fragment allowed).
// Never throws: what cannot be judged is no program page.
bool IsProgramPage(const wchar_t* url) noexcept;
// The same against a given cache root (no trailing separator) and process id.
bool IsProgramPageIn(const wchar_t* url, const tstring& cacheRoot, DWORD processId);

// The URL actions a program page may take without the zone's say: downloads,
// the ActiveX overrides of object and script safety, scripting, and HTML
// (forms, fonts, navigation, meta refresh).
bool IsAllowedUrlAction(DWORD action);

enum class NavigationVerdict {
    Allow,          // a program page, or script run in the page shown
    OpenInBrowser,  // a web address of the top-level frame: the user's browser shows it
    Refuse,
};
NavigationVerdict JudgeNavigation(const wchar_t* url, bool topLevelFrame);
