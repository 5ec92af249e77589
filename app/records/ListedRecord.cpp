#include "app/records/ListedRecord.h"
#include "app/html/VariantText.h"

ListedRecord ReadListedRecord(IqnRegRecord* record) {
    ListedRecord fields;
    BSTR item = nullptr, reason = nullptr;
    record->get_Item(&item);
    record->get_Reason(&reason);
    record->get_ErrorID(&fields.errorId);
    fields.item = TakeBstr(item);
    fields.reason = TakeBstr(reason);
    return fields;
}
