#include "app/pages/PrintTarget.h"

void PrintTarget::StartDocument(const wchar_t* name) {
    DOCINFOW info = {};
    info.cbSize = sizeof(info);
    info.lpszDocName = name;
    StartDocW(dc_, &info);
}
