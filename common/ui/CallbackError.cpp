#include "common/ui/CallbackError.h"
#include "common/errors/ErrorBase.h"
#include "common/tstring/tstring.h"
#ifdef ORVANE_UI_LOG
#include "common/log/Log.h"
#endif
#include <exception>

namespace {

void DefaultReporter(const TCHAR* where, const TCHAR* message) {
    tstring line = FormatText(TEXT("%s: %s\n"), where, message);
    OutputDebugString(line.c_str());
#ifdef ORVANE_UI_LOG
    Log::Instance().Print(LogError, TEXT("[error] Exception in %s: %s"), where, message);
#endif
}

CallbackErrorReporter reporter = DefaultReporter;

}  // namespace

void SetCallbackErrorReporter(CallbackErrorReporter newReporter) {
    reporter = newReporter ? newReporter : DefaultReporter;
}

void ReportCurrentException(const TCHAR* where) noexcept {
    try {
        try {
            throw;
        } catch (const ErrorBase& e) {
            reporter(where, e.Message().c_str());
        } catch (const std::exception& e) {
            reporter(where, tstring::FromNarrow(e.what()).c_str());
        } catch (...) {
            reporter(where, TEXT("unknown exception"));
        }
    } catch (...) {
        // A reporter that fails has nowhere left to report to.
    }
}
