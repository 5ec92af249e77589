#pragma once
#include <windows.h>
#include <oaidl.h>

// Runs script text in a page through its window object's "execScript"
// (looked up by name, called as a method with the code and the language).
// Empty code runs nothing and gives VT_EMPTY; a null or empty language is
// "JScript". result, when given, is taken as uninitialised and receives a
// copy of the script's value. A failure is written to the log as
// "Error in script: <code>", becomes the thread's error information, and its
// HRESULT is returned.
HRESULT RunScript(IDispatch* window, const wchar_t* code, const wchar_t* language, VARIANT* result) noexcept;
