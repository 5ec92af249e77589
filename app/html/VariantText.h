#pragma once
#include <windows.h>
#include <oleauto.h>
#include "common/tstring/tstring.h"

// A page event's parameter as text: a BSTR as it is, anything else through
// VariantChangeType; empty for none or when it does not convert.
tstring ParamText(const VARIANT* param);
// The text of a BSTR an interface handed over, which it then frees.
tstring TakeBstr(BSTR text);
