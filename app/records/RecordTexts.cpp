#include "app/records/RecordTexts.h"
#include "common/log/Log.h"
#include "common/records/CheckResultCode.h"
#include "common/system/ProblemGroup.h"

namespace {

struct CategoryRow {
    int32_t bit;
    const wchar_t* text;
    const wchar_t* alternate;
};

const CategoryRow kCategories[] = {
    {1, L"Components Subsystem", L"COM subsystem"},
    {2, L"Internet Explorer", nullptr},
    {4, L"Shared Components", nullptr},
    {8, L"Control Panel", nullptr},
    {16, L"Microsoft Office", nullptr},
    {32, L"System and User MRU Lists", L"MRU locations list"},
    {64, L"Associations", L"File associations"},
    {128, L"Embedded-null Characters", nullptr},
};

// Indexed by kind - 300; 0 marks a kind that maps to no category.
const int32_t kKindUnions[] = {
    0, 0, 1, 1, 1, 1, 4, 4, 4, 4, 16, 16, 2, -1, 2, 2, 2,
    2, 8, 32, 32, 0, 1, 8, 64, 8, 64, 2, 64, 128, 128, 64, 8, 64,
};
static_assert(sizeof(kKindUnions) / sizeof(kKindUnions[0]) == LastProblemCode - FirstProblemCode + 1,
              "one category per problem kind");

}  // namespace

tstring CategoryText(int32_t unionBit, bool alternate) {
    for (const CategoryRow& row : kCategories)
        if (row.bit == unionBit)
            return tstring((alternate && row.alternate) ? row.alternate : row.text);
    return tstring();
}

tstring ErrorIdText(int32_t kind) {
    if (kind < 0 || kind > 0xFFFF) return tstring();
    return ProblemText(uint16_t(kind));
}

tstring ReasonText(int32_t reason) {
    if (reason < 0 || reason > 0xFFFF) return tstring();
    return ::ReasonText(uint16_t(reason));
}

tstring HelpTopic(int32_t kind) {
    const TCHAR* topic = FindById(kind);
    return topic ? tstring(topic) : tstring();
}

int32_t FixerTypeToUnion(int32_t kind) {
    int32_t bit = -1;
    if (kind >= FirstProblemCode && kind <= LastProblemCode) bit = kKindUnions[kind - FirstProblemCode];
    if (bit == 0) {
        Log::Instance().Print(LogError, L"[error] Obsolete fixer type (ID: %d).", kind);
        return 0;
    }
    if (bit < 0) {
        Log::Instance().Print(LogError, L"[error] Unknown fixer type(ID: %d).", kind);
        return 1;
    }
    return bit;
}

int32_t UnionToGroup(int32_t unionBit) {
    for (int32_t g = 0; g < 8; ++g)
        if (unionBit == (1 << g)) return g;
    Log::Instance().Print(LogError, L"[error] Unknown union ID: %d.", unionBit);
    return 0;
}
