#include "PageTestSupport.h"
#include "TestSink.h"
#include "common/com/ComPtr.h"

bool ScanToFinish(ICrawler* engine, long mask, DWORD limitMs, bool pump) {
    TestSink* sink = new TestSink();
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    engine->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid());
    if (!container || FAILED(container->FindConnectionPoint(DIID__ICrawlerEvents, point.Receive())) ||
        FAILED(point->Advise(sink, &cookie)))
        return false;
    engine->Scan(mask);
    bool finished = false;
    for (DWORD start = GetTickCount(); !finished && GetTickCount() - start < limitMs;) {
        if (pump) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        } else {
            Sleep(50);
        }
        for (const auto& call : sink->Calls()) finished = finished || call.id == 2;
    }
    point->Unadvise(cookie);
    sink->Release();
    return finished;
}
