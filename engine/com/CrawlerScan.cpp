#include "engine/com/CrawlerScan.h"
#include "engine/com/CCrawler.h"
#include "common/errors/ErrorBase.h"
#include "engine/com/CqnRegRecord.h"

CrawlerScan::CrawlerScan(CCrawler& owner, HANDLE foundMutex, std::vector<ComPtr<IqnRegRecord>>& found,
                         FixMap& fixes, const IgnoreList& ignores, bool dropUnwritable)
    : owner_(owner), found_(found), controller_(*this, foundMutex, fixes, &ignores) {
    controller_.SetDropUnwritable(dropUnwritable);
}

void CrawlerScan::AppendRecord(const FoundRecord& record) {
    CqnRegRecord* object = nullptr;
    HRESULT hr = CqnRegRecord::CreateInstance(&object);
    if (FAILED(hr))
        throw HRError(hr);
    ComPtr<IqnRegRecord> held(object);
    object->SetFields(record.Item.c_str(), record.Reason.c_str(), long(record.RegUnion), long(record.ErrorID),
                      long(record.FixID), record.KeyPath.c_str(), record.ValueName.c_str());
    found_.push_back(held);
}

// The group threads have not joined an apartment; the connection point takes
// them into the multithreaded one for each call, and COM carries the call to
// every sink's own apartment.
void CrawlerScan::RaiseFound(const tstring& text, uint32_t groupBit, int32_t errorId, int32_t fixId) {
    owner_.RaiseFound(text.c_str(), long(groupBit), long(errorId), long(fixId));
}

void CrawlerScan::RaiseProgress(uint32_t groupBit, int32_t percent) {
    owner_.RaiseProgress(long(groupBit), long(percent));
}

void CrawlerScan::RaiseFinish(uint32_t groupBit) {
    owner_.RaiseFinish(long(groupBit));
}
