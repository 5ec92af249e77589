#include <doctest/doctest.h>
#include "common/records/CheckResultCode.h"

TEST_CASE("ErrorID composition and splitting") {
    CHECK(MakeErrorID(ProblemClsid, ReasonClsidNotFound) == 0x012E0066u);
    CHECK(MakeErrorID(ProblemNullKeyName, ReasonNone) == 0x014A0064u);
    CHECK(MakeErrorID(ProblemQuotedExtensionHandler, ReasonFileNotFound) == 0x014D0068u);
    CHECK(ProblemOf(0x012E0066u) == 302);
    CHECK(ReasonOf(0x012E0066u) == 102);
    // A computed reason ORed into the shifted problem gives the same code as the constant form.
    uint32_t id = (uint32_t(ProblemBrowserExtension) << 16) | ReasonInvalidClsid;
    CHECK(id == 0x01380069u);
    // The split is unsigned: a high word with its top bit set stays positive.
    CHECK(ProblemOf(0xFFFF0001u) == 0xFFFF);
    CHECK(ProblemOf(0) == 0);
    CHECK(ReasonOf(0) == 0);
}

TEST_CASE("Problem texts and their string-table ids") {
    CHECK(ProblemText(302) == L"Invalid or malformed Class Identifier");
    CHECK(ProblemTextId(302) == 215);
    CHECK(ProblemText(300) == L"FIXER_TYPE_DEFAULT_KEY");
    CHECK(ProblemText(312) == L"Cannot find registered Internet Explorer extension");
    CHECK(ProblemTextId(312) == 239);
    CHECK(ProblemText(320) == L"Application path information is incorrect");
    CHECK(ProblemTextId(320) == 343);
    CHECK(ProblemText(329) == L"This Value name contains embedded-null character");
    CHECK(ProblemText(330) == L"This Key name contains embedded-null characters");
    CHECK(ProblemText(332) == L"Specified program reinstall string is invalid");
    CHECK(ProblemTextId(332) == 349);
    // 318 and 323 share their text but not their entry.
    CHECK(ProblemText(318) == ProblemText(323));
    CHECK(ProblemTextId(318) == 235);
    CHECK(ProblemTextId(323) == 236);

    SUBCASE("313 and 321 have no text") {
        CHECK(ProblemText(313).empty());
        CHECK(ProblemText(321).empty());
        CHECK(ProblemTextId(313) == 0);
        CHECK(ProblemTextId(321) == 0);
    }
    SUBCASE("codes outside the table give the empty text") {
        CHECK(ProblemText(0).empty());
        CHECK(ProblemText(299).empty());
        CHECK(ProblemText(334).empty());
        CHECK(ProblemTextId(334) == 0);
    }
    SUBCASE("every code in range except 313 and 321 has a text") {
        for (uint16_t p = FirstProblemCode; p <= LastProblemCode; ++p) {
            CAPTURE(p);
            CHECK(ProblemText(p).empty() == (p == 313 || p == 321));
        }
    }
}

TEST_CASE("Reason texts") {
    CHECK(ReasonText(100).empty());
    CHECK(ReasonTextId(100) == 0);
    CHECK(ReasonText(101) == L"REG_ERROR_WRONG_CLSID");
    CHECK(ReasonText(104) == L"File not found");
    CHECK(ReasonTextId(104) == 211);
    CHECK(ReasonText(108) == L"Specified .NET Assembly is invalid");
    CHECK(ReasonText(114) == L"Invalid Program Identifier");
    CHECK(ReasonTextId(114) == 244);
    CHECK(ReasonTextId(113) == 245);
    CHECK(ReasonText(115) == L"Invalid Type Library");
    CHECK(ReasonText(99).empty());
    CHECK(ReasonText(116).empty());
    CHECK(ReasonTextId(116) == 0);
    // The generic entry is shown for no code at all.
    for (uint16_t r = FirstReasonCode; r <= LastReasonCode; ++r) CHECK(ReasonTextId(r) != DefaultErrorTextId);
    for (uint16_t p = FirstProblemCode; p <= LastProblemCode; ++p) CHECK(ProblemTextId(p) != DefaultErrorTextId);
}

TEST_CASE("Planner choice by problem code") {
    CHECK(PlannerOf(300) == PlannerKind::None);
    CHECK(PlannerOf(301) == PlannerKind::None);
    CHECK(PlannerOf(313) == PlannerKind::None);
    CHECK(PlannerOf(299) == PlannerKind::None);
    CHECK(PlannerOf(334) == PlannerKind::None);
    CHECK(PlannerOf(302) == PlannerKind::ClsidKey);
    CHECK(PlannerOf(303) == PlannerKind::ProgId);
    CHECK(PlannerOf(304) == PlannerKind::TypeLib);
    CHECK(PlannerOf(308) == PlannerKind::SharedTool);
    CHECK(PlannerOf(321) == PlannerKind::KeyDelete);
    CHECK(PlannerOf(329) == PlannerKind::NtValueDelete);
    CHECK(PlannerOf(330) == PlannerKind::NtKeyDelete);
    // Same text, different planners.
    CHECK(ProblemText(326) == ProblemText(333));
    CHECK(PlannerOf(326) == PlannerKind::ExtensionHandler);
    CHECK(PlannerOf(333) == PlannerKind::QuotedValue);
    int withPlanner = 0;
    for (uint16_t p = FirstProblemCode; p <= LastProblemCode; ++p)
        if (PlannerOf(p) != PlannerKind::None) ++withPlanner;
    CHECK(withPlanner == 31);
}

TEST_CASE("FixIDs keep counting upwards") {
    int32_t a = NextFixID();
    int32_t b = NextFixID();
    CHECK(a >= 1);
    CHECK(b == a + 1);
}
