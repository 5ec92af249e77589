#include "app/html/VariantText.h"

tstring ParamText(const VARIANT* param) {
    if (!param)
        return tstring();
    if (param->vt == VT_BSTR)
        return tstring::FromWide(param->bstrVal);
    VARIANT text;
    VariantInit(&text);
    tstring result;
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(param), 0, VT_BSTR)))
        result = tstring::FromWide(text.bstrVal);
    VariantClear(&text);
    return result;
}

tstring TakeBstr(BSTR text) {
    tstring result = tstring::FromWide(text);
    SysFreeString(text);
    return result;
}
