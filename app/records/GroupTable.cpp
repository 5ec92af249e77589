#include "app/records/GroupTable.h"
#include <windows.h>
#include "app/html/ScriptText.h"
#include "app/records/RecordTexts.h"

void GroupTable::Reset() {
    for (int32_t g = 0; g < Groups; ++g) {
        html[g].clear();
        count[g] = 0;
    }
}

void GroupTable::OpenGroup(int32_t g, const tstring& text) {
    if (g < 0 || g >= Groups) return;
    caption[g] = text;
    tstring& out = html[g];
    out += L"<DIV class=groupCaption id=\\\"group_";
    out += text;
    out += L"\\\" name=\\\"skip\\\" tabindex=\\\"-1\\\"><A name=\\\"group_a_";
    out += text;
    out += L"\\\"></A>\\n<TABLE width=\\\"100%\\\">\\n<TBODY>\\n<TR>\\n<TD>&nbsp;";
    out += text;
    out += L"</TD>\\n<TD align=right><A name=cl id=\\\"group_a_chk_";
    out += text;
    out += L"\\\" href=\\'#\\' onclick=\\'CheckGroup(\\\"";
    out += text;
    out += L"\\\",true,\\\"fixCount\\\")\\'>Select All</A>&nbsp;&nbsp;&nbsp;<A name=cl href=\\'#\\' onclick=\\'CheckGroup(\\\"";
    out += text;
    out += L"\\\",false,\\\"fixCount\\\")\\'>Deselect All</A></TD></TR></TBODY></TABLE></DIV>";
}

int32_t GroupTable::Count(int32_t g) const {
    if (g >= 0 && g < Groups) return count[g];
    int32_t total = 0;
    for (int32_t c : count) total += c;
    return total;
}

tstring GroupTable::ViewScript(const tstring& id) const {
    size_t length = id.size() + 16;
    for (const tstring& h : html) length += h.size();
    tstring out;
    // Results lists run to megabytes; one reservation avoids regrowing it.
    out.reserve(length);
    out += id;
    out += L".innerHTML=\"";
    for (const tstring& h : html) out += h;
    out += L"\"";
    return out;
}

tstring GroupTable::MenuScript() const {
    tstring out = L"document.getElementById(\"menu\").innerHTML=\"";
    int32_t links = 0;
    for (int32_t g = 0; g < Groups; ++g) {
        if (count[g] <= 0) continue;
        const tstring& c = caption[g];
        out += L"<SPAN nowrap id=\\\"link_" + c + L"\\\"><a href=\\'#\\' onclick=\\'GoToGroup(\\\"" + c +
               L"\\\")\\'>" + c + L"&nbsp;(<span id=\\'counter_" + c + L"\\'>";
        tstring number;
        number.Format(L"%d", count[g]);
        out += number + L"</span>)</a>&nbsp;&nbsp;&nbsp;</SPAN>";
        if (++links == 4) out += L"<BR>";
    }
    out += L"\"";
    return out;
}

bool GroupTable::AddListRow(long n, int32_t errorId, const tstring& itemText, const tstring& valueText, bool checked,
                            const wchar_t* emptyValue) {
    int32_t kind = HIWORD(errorId);
    int32_t bit = FixerTypeToUnion(kind);
    int32_t g = UnionToGroup(bit);
    if (g < 0 || g >= Groups) return false;
    if (html[g].empty()) OpenGroup(g, EscapeScriptString(CategoryText(bit, false)));
    tstring detail = EscapeScriptString(ReasonText(LOWORD(errorId)));
    tstring value = valueText.empty() ? tstring(emptyValue) : RecordHtmlText(valueText);
    tstring id = FormatText(L"%ld", n);
    tstring& row = html[g];
    row += L"<TABLE class=elem id=chk_" + id + L"_table tabIndex=-1 width=\\\"100%\\\" border=0 m_chkID=\\\"chk_" + id;
    row += L"\\\">\\n<TBODY>\\n<TR>\\n<TD vAlign=top width=5>\\n<TABLE class=QNCHECKBOX onkeypress=OnKeyPressHandler() id=chk_" + id;
    row += L"_parent style=\\\"CURSOR: hand\\\" onclick=OnCBClick() tabIndex=-1 cellSpacing=0 cellPadding=2 border=0 "
           L"ONCLICKEVENT=\\\"undefined\\\">\\n<TBODY>\\n<TR validn=\\\"middle\\\">\\n<TD align=right><IMG hspace=0 src=\\\"" +
           tstring(checked ? L"check_filled.gif" : L"check_empty.gif") + L"\\\" border=0></TD>\\n<TD align=left><INPUT id=chk_" + id;
    row += L" style=\\\"DISPLAY: none\\\" onpropertychange=Counter() tabIndex=-1 type=checkbox" +
           tstring(checked ? L" CHECKED" : L"") + L"></TD></TR></TBODY></TABLE>"
           L"</TD>\\n<TD align=left valign=top>\\n<DIV style=\\\"OVERFLOW: hidden; WORD-BREAK: break-all; TEXT-OVERFLOW: "
           L"ellipsis; WORD-WRAP: break-word\\\">" + EscapeScriptString(ErrorIdText(kind)) + L": ";
    row += L"<a title='Learn more online' href=\\'#\\' onclick=\\'window.external.OnHTMLEvent(document, \\\"WebInfo\\\", "
           L"\\\"\\\"," + id + L")\\'>" + RecordHtmlText(itemText) + L"</a>";
    row += L"</DIV>\\n<DIV class=details id=text style=\\\"OVERFLOW-X: hidden; height: 10px; WORD-BREAK: break-all; "
           L"TEXT-OVERFLOW: ellipsis; WORD-WRAP: break-word\\\">";
    if (!detail.empty()) row += L"<BR>&nbsp;" + detail + L": " + value;
    row += L"</DIV></TD>\\n<TD class=\\\"details\\\" width=1></TD>\\n<TD class=\\\"details\\\" width=1></TD></TR></TBODY>"
           L"</TABLE>\\n";
    ++count[g];
    return true;
}
