#pragma once
#include <windows.h>

namespace compact {

// The four entries the library writes to the Application event log; the id is
// the message id in the library's message table.
enum CompactEvent : DWORD {
    EventStarted = 0,
    EventCompleted = 1,
    EventCancelledByRestore = 2,
    EventFailed = 3,
};

// The event-log type of each entry.
WORD EventType(CompactEvent event);

// Where the library's events go. The product writes to the event log; a test
// puts a recording sink in place, since Wine's event log keeps nothing.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void Write(CompactEvent event) = 0;
};

// Registers the source "OrvaneCompact", reports the event and deregisters it;
// when the source cannot be registered the entry is dropped. Never throws.
class EventLogSink : public EventSink {
public:
    void Write(CompactEvent event) override;
};

// The sink in use: the event log unless one was set. SetEventSink returns the
// previous one; null puts the event log back.
EventSink& CurrentEventSink();
EventSink* SetEventSink(EventSink* sink);

// Writes one entry through the current sink. Never throws.
void WriteEvent(CompactEvent event);

}  // namespace compact
