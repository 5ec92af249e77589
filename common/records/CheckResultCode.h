#pragma once
#include <windows.h>
#include <cstdint>
#include "common/tstring/tstring.h"

// One 32-bit ErrorID per finding: 0 = sound, otherwise the problem code (what is
// wrong) in the high word and the reason code (why) in the low word. Ignore and
// undo files store the value, so the numbers below are fixed for good.

enum ProblemCode : uint16_t {
    ProblemDefaultKey = 300,
    ProblemDefaultValue = 301,
    ProblemClsid = 302,
    ProblemProgId = 303,
    ProblemTypeLib = 304,
    ProblemInterface = 305,
    ProblemHelpFile = 306,
    ProblemFont = 307,
    ProblemSharedTool = 308,
    ProblemSharedDll = 309,
    ProblemOutlookExtension = 310,
    ProblemOfficeAddin = 311,
    ProblemBrowserExtension = 312,
    ProblemUnused313 = 313,
    ProblemBrowserToolbar = 314,
    ProblemBrowserBar = 315,
    ProblemExplorerExtension = 316,
    ProblemShellContextMenu = 317,
    ProblemControlPanelApplet = 318,
    ProblemMruLocation = 319,
    ProblemAppPath = 320,
    ProblemExtensionHandlerKey = 321,
    ProblemService = 322,
    ProblemControlPanelModule = 323,
    ProblemMimeType = 324,
    ProblemUninstallString = 325,
    ProblemExtensionHandler = 326,
    ProblemBrowserContextMenu = 327,
    ProblemFileAssociation = 328,
    ProblemNullValueName = 329,
    ProblemNullKeyName = 330,
    ProblemDefaultIcon = 331,
    ProblemReinstallString = 332,
    ProblemQuotedExtensionHandler = 333,
};

enum ReasonCode : uint16_t {
    ReasonNone = 100,
    ReasonWrongClsid = 101,
    ReasonClsidNotFound = 102,
    ReasonTypeLibMissing = 103,
    ReasonFileNotFound = 104,
    ReasonInvalidClsid = 105,
    ReasonInvalidAppId = 106,
    ReasonAppIdNotFound = 107,
    ReasonInvalidAssembly = 108,
    ReasonInvalidLocalServer = 109,
    ReasonInvalidInprocServer = 110,
    ReasonScriptNotFound = 111,
    ReasonMimeExtension = 112,
    ReasonProgIdNotFound = 113,
    ReasonInvalidProgId = 114,
    ReasonInvalidTypeLib = 115,
};

constexpr uint16_t FirstProblemCode = 300;
constexpr uint16_t LastProblemCode = 333;
constexpr uint16_t FirstReasonCode = 100;
constexpr uint16_t LastReasonCode = 115;

// String-table entry of the generic error text that no code selects.
constexpr UINT DefaultErrorTextId = 225;

constexpr uint32_t MakeErrorID(uint16_t problem, uint16_t reason) {
    return (uint32_t(problem) << 16) | reason;
}
constexpr uint16_t ProblemOf(uint32_t errorId) { return uint16_t(errorId >> 16); }
constexpr uint16_t ReasonOf(uint32_t errorId) { return uint16_t(errorId & 0xFFFF); }

// The fix planner a problem code selects; None means the finding gets no fix.
enum class PlannerKind {
    None,
    ClsidKey,
    ProgId,
    TypeLib,
    KeyDelete,
    ValueDelete,
    SharedTool,
    ExtensionHandler,
    NtValueDelete,
    NtKeyDelete,
    QuotedValue,
};

PlannerKind PlannerOf(uint16_t problem);

// Texts the user sees for the two halves of a code, with their string-table ids
// in the main program (0 = no entry). A code outside its table gives the empty text.
UINT ProblemTextId(uint16_t problem);
tstring ProblemText(uint16_t problem);
UINT ReasonTextId(uint16_t reason);
tstring ReasonText(uint16_t reason);

// FixIDs number the planned fixes of the whole process from 1 upwards and are
// never reset, so a FixID stays unique across scans. 0 means "no fix".
int32_t NextFixID();
