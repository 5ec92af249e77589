#include "common/records/CheckResultCode.h"
#include <atomic>

namespace {

struct ProblemRow {
    UINT textId;
    const wchar_t* text;
    PlannerKind planner;
};

// Indexed by problem code - 300.
const ProblemRow kProblems[] = {
    {213, L"FIXER_TYPE_DEFAULT_KEY", PlannerKind::None},
    {214, L"FIXER_TYPE_DEFAULT_VALUE", PlannerKind::None},
    {215, L"Invalid or malformed Class Identifier", PlannerKind::ClsidKey},
    {216, L"Invalid Program Identifier", PlannerKind::ProgId},
    {217, L"Invalid Type Library", PlannerKind::TypeLib},
    {218, L"Invalid Interface", PlannerKind::KeyDelete},
    {219, L"Cannot find registered help file", PlannerKind::ValueDelete},
    {220, L"Cannot find registered font", PlannerKind::ValueDelete},
    {221, L"Cannot find registered shared tool", PlannerKind::SharedTool},
    {222, L"Cannot find registered shared DLL", PlannerKind::ValueDelete},
    {223, L"Cannot find registered Microsoft Outlook extension", PlannerKind::ValueDelete},
    {224, L"Cannot find registered Microsoft Office add-in", PlannerKind::KeyDelete},
    {239, L"Cannot find registered Internet Explorer extension", PlannerKind::KeyDelete},
    {0, L"", PlannerKind::None},
    {248, L"Invalid Internet Explorer toolbar identifier", PlannerKind::ValueDelete},
    {269, L"Invalid Internet Explorer bar identifier", PlannerKind::KeyDelete},
    {240, L"Registered Windows Explorer extension is invalid", PlannerKind::ValueDelete},
    {241, L"Specified Windows Explorer context menu handler is invalid", PlannerKind::KeyDelete},
    {235, L"Cannot find registered Control Panel applet", PlannerKind::ValueDelete},
    {234, L"Specified MRU location no longer exists", PlannerKind::ValueDelete},
    {343, L"Application path information is incorrect", PlannerKind::ValueDelete},
    {0, L"", PlannerKind::KeyDelete},
    {210, L"Cannot find registered service", PlannerKind::KeyDelete},
    {236, L"Cannot find registered Control Panel applet", PlannerKind::ValueDelete},
    {242, L"MIME content type registered incorrectly", PlannerKind::KeyDelete},
    {237, L"Specified program uninstall string is invalid", PlannerKind::KeyDelete},
    {258, L"Invalid handler for extension", PlannerKind::ExtensionHandler},
    {238, L"Specified Internet Explorer context menu handler is invalid", PlannerKind::KeyDelete},
    {246, L"Invalid file association", PlannerKind::ValueDelete},
    {333, L"This Value name contains embedded-null character", PlannerKind::NtValueDelete},
    {332, L"This Key name contains embedded-null characters", PlannerKind::NtKeyDelete},
    {334, L"Invalid default icon for file type", PlannerKind::KeyDelete},
    {349, L"Specified program reinstall string is invalid", PlannerKind::KeyDelete},
    {258, L"Invalid handler for extension", PlannerKind::QuotedValue},
};
static_assert(sizeof(kProblems) / sizeof(kProblems[0]) == LastProblemCode - FirstProblemCode + 1,
              "one row per problem code");

struct ReasonRow {
    UINT textId;
    const wchar_t* text;
};

// Indexed by reason code - 100.
const ReasonRow kReasons[] = {
    {0, L""},
    {226, L"REG_ERROR_WRONG_CLSID"},
    {227, L"Cannot find specified Class Identifier"},
    {209, L"Type Library does not exist"},
    {211, L"File not found"},
    {212, L"Invalid Class Identifier"},
    {228, L"Specified Application Identifier is invalid"},
    {229, L"Cannot find specified Application Identifier"},
    {230, L"Specified .NET Assembly is invalid"},
    {231, L"Specified Local Server is invalid"},
    {232, L"Specified Inproc Server is invalid"},
    {233, L"Cannot find registered script file"},
    {243, L"MIME file extension registered incorrectly"},
    {245, L"Specified Program Identifier does not exist"},
    {244, L"Invalid Program Identifier"},
    {247, L"Invalid Type Library"},
};
static_assert(sizeof(kReasons) / sizeof(kReasons[0]) == LastReasonCode - FirstReasonCode + 1,
              "one row per reason code");

const ProblemRow* FindProblem(uint16_t problem) {
    if (problem < FirstProblemCode || problem > LastProblemCode) return nullptr;
    return &kProblems[problem - FirstProblemCode];
}

const ReasonRow* FindReason(uint16_t reason) {
    if (reason < FirstReasonCode || reason > LastReasonCode) return nullptr;
    return &kReasons[reason - FirstReasonCode];
}

std::atomic<int32_t> g_lastFixId{0};

}  // namespace

PlannerKind PlannerOf(uint16_t problem) {
    const ProblemRow* row = FindProblem(problem);
    return row ? row->planner : PlannerKind::None;
}

UINT ProblemTextId(uint16_t problem) {
    const ProblemRow* row = FindProblem(problem);
    return row ? row->textId : 0;
}

tstring ProblemText(uint16_t problem) {
    const ProblemRow* row = FindProblem(problem);
    return row ? tstring(row->text) : tstring();
}

UINT ReasonTextId(uint16_t reason) {
    const ReasonRow* row = FindReason(reason);
    return row ? row->textId : 0;
}

tstring ReasonText(uint16_t reason) {
    const ReasonRow* row = FindReason(reason);
    return row ? tstring(row->text) : tstring();
}

int32_t NextFixID() { return ++g_lastFixId; }
