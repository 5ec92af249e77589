#include "common/system/TimeText.h"
#include <ctime>

tstring TimeText(const SYSTEMTIME& local) {
    struct tm t = {};
    t.tm_year = local.wYear - 1900;
    t.tm_mon = local.wMonth - 1;
    t.tm_mday = local.wDay;
    t.tm_hour = local.wHour;
    t.tm_min = local.wMinute;
    t.tm_sec = local.wSecond;
    t.tm_wday = local.wDayOfWeek;
    t.tm_isdst = -1;
    TCHAR text[129] = {};
    size_t n = _tcsftime(text, 128, _T("%c"), &t);
    return tstring(text, n);
}
