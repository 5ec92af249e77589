#include "app/GroupTable.h"

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
