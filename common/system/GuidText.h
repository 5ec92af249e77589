#pragma once
#include "common/tstring/tstring.h"

// A new GUID as 36 lower-case characters without braces. Throws BoolError when
// the RPC runtime cannot make or format one.
tstring NewGuidText();
