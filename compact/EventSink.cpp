#include "compact/EventSink.h"

namespace compact {

namespace {

const wchar_t kSourceName[] = L"OrvaneCompact";

EventSink* g_sink = nullptr;

}  // namespace

WORD EventType(CompactEvent event) {
    switch (event) {
    case EventCancelledByRestore:
        return EVENTLOG_WARNING_TYPE;
    case EventFailed:
        return EVENTLOG_ERROR_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

void EventLogSink::Write(CompactEvent event) {
    HANDLE source = RegisterEventSourceW(nullptr, kSourceName);
    if (!source)
        return;
    ReportEventW(source, EventType(event), 0, event, nullptr, 0, 0, nullptr, nullptr);
    DeregisterEventSource(source);
}

EventSink& CurrentEventSink() {
    static EventLogSink eventLog;
    return g_sink ? *g_sink : eventLog;
}

EventSink* SetEventSink(EventSink* sink) {
    EventSink* previous = g_sink;
    g_sink = sink;
    return previous;
}

void WriteEvent(CompactEvent event) {
    try {
        CurrentEventSink().Write(event);
    } catch (...) {
        // An entry that cannot be written must not take the logon process down.
    }
}

}  // namespace compact
