#include <doctest/doctest.h>
#include "app/records/GroupTable.h"
#include "app/records/RecordTexts.h"

TEST_CASE("record texts follow the kind and reason tables") {
    CHECK(CategoryText(1) == L"Components Subsystem");
    CHECK(CategoryText(1, true) == L"COM subsystem");
    CHECK(CategoryText(2, true) == L"Internet Explorer");
    CHECK(CategoryText(64, true) == L"File associations");
    CHECK(CategoryText(128) == L"Embedded-null Characters");
    CHECK(CategoryText(3).empty());
    CHECK(ErrorIdText(320) == L"Application path information is incorrect");
    CHECK(ErrorIdText(313).empty());
    CHECK(ErrorIdText(299).empty());
    CHECK(ReasonText(104) == L"File not found");
    CHECK(ReasonText(100).empty());
    CHECK(ReasonText(116).empty());
    CHECK(HelpTopic(329) == L"errors_embedded_nulls");
    CHECK(HelpTopic(321) == L"errors_extension_handler");
    CHECK(HelpTopic(313).empty());
    CHECK(FixerTypeToUnion(309) == 4);
    CHECK(FixerTypeToUnion(320) == 32);
    CHECK(FixerTypeToUnion(333) == 64);
    CHECK(FixerTypeToUnion(300) == 0);
    CHECK(FixerTypeToUnion(321) == 0);
    CHECK(FixerTypeToUnion(313) == 1);
    CHECK(FixerTypeToUnion(400) == 1);
    CHECK(UnionToGroup(1) == 0);
    CHECK(UnionToGroup(128) == 7);
    CHECK(UnionToGroup(3) == 0);
}

TEST_CASE("an empty group table sets an empty list and a menu without links") {
    GroupTable table;
    CHECK(table.ViewScript(L"view") == L"view.innerHTML=\"\"");
    CHECK(table.MenuScript() == L"document.getElementById(\"menu\").innerHTML=\"\"");
    CHECK(table.Count(-1) == 0);
}

TEST_CASE("five groups give four links, a line break and the fifth") {
    GroupTable table;
    const wchar_t* names[] = {L"a", L"b", L"c", L"d", L"e"};
    for (int g = 0; g < 5; ++g) {
        table.OpenGroup(g + 2, names[g]);
        table.html[g + 2] += L"<row>";
        table.count[g + 2] = g + 1;
    }
    tstring menu = table.MenuScript();
    CHECK(menu.find(L"<SPAN nowrap id=\\\"link_d\\\"><a href=\\'#\\' onclick=\\'GoToGroup(\\\"d\\\")\\'>d&nbsp;(<span "
                    L"id=\\'counter_d\\'>4</span>)</a>&nbsp;&nbsp;&nbsp;</SPAN><BR><SPAN nowrap id=\\\"link_e\\\">") !=
          tstring::npos);
    CHECK(menu.find(L"<BR>") == menu.rfind(L"<BR>"));
    CHECK(table.Count(-1) == 15);
    CHECK(table.Count(8) == 15);
    CHECK(table.Count(3) == 2);
    tstring view = table.ViewScript(L"view");
    CHECK(view.find(L"view.innerHTML=\"<DIV class=groupCaption id=\\\"group_a\\\" name=\\\"skip\\\"") == 0);
    CHECK(view.find(L"onclick=\\'CheckGroup(\\\"e\\\",false,\\\"fixCount\\\")\\'>Deselect All</A></TD></TR></TBODY>"
                    L"</TABLE></DIV><row>\"") != tstring::npos);
    table.Reset();
    CHECK(table.Count(-1) == 0);
    CHECK(table.caption[2] == L"a");
    CHECK(table.ViewScript(L"v") == L"v.innerHTML=\"\"");
}
