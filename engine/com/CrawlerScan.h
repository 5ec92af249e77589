#pragma once
#include <windows.h>
#include <vector>
#include "engine/engine.h"
#include "common/com/ComPtr.h"
#include "engine/scan/ScanController.h"

class CCrawler;

// The engine object's side of a running scan: kept findings become record
// objects of its found list, and progress, findings and group ends become
// its events.
class CrawlerScan : public ScanEvents {
public:
    // found: the object's found list, guarded by foundMutex.
    CrawlerScan(CCrawler& owner, HANDLE foundMutex, std::vector<ComPtr<IqnRegRecord>>& found, FixMap& fixes,
                const IgnoreList& ignores, bool dropUnwritable);
    CrawlerScan(const CrawlerScan&) = delete;
    CrawlerScan& operator=(const CrawlerScan&) = delete;

    ScanController& Controller() { return controller_; }

    void AppendRecord(const FoundRecord& record) override;
    void RaiseFound(const tstring& text, uint32_t groupBit, int32_t errorId, int32_t fixId) override;
    void RaiseProgress(uint32_t groupBit, int32_t percent) override;
    void RaiseFinish(uint32_t groupBit) override;

private:
    CCrawler& owner_;
    std::vector<ComPtr<IqnRegRecord>>& found_;
    // Last: its end stops the scan before anything above goes.
    ScanController controller_;
};
