#include "common/com/ComBoundary.h"
#include "common/com/ComPtr.h"
#include <oleauto.h>

void SetComErrorInfo(const tstring& description, REFGUID source) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Receive())))
        return;
    create->SetGUID(source);
#ifdef UNICODE
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
#else
    int n = MultiByteToWideChar(CP_ACP, 0, description.c_str(), -1, nullptr, 0);
    std::basic_string<wchar_t> wide(size_t(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, description.c_str(), -1, &wide[0], n);
    create->SetDescription(&wide[0]);
#endif
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.QueryInto(IID_IErrorInfo, info)))
        SetErrorInfo(0, info);
}
