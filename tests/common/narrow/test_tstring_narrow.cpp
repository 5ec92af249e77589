// The string cases, compiled here once more for the ANSI build.
#include "../tstring/test_tstring.cpp"
