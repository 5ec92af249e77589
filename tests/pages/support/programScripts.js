'use strict';
// The script texts the program sends to the results and fixing pages, built
// the way its page objects build them, for page cases that need lists the
// C++ tests have not recorded (hostile names, ten thousand rows). Goldens
// recorded by the C++ tests are replayed as they are.

// The program's escaping of text placed into a script string literal.
function escapeScriptString(text) {
  return String(text)
    .replace(/\\/g, '\\\\')
    .replace(/"/g, '\\"')
    .replace(/</g, '&lt;')
    .replace(/>/g, '&gt;')
    .replace(/'/g, "\\'")
    .replace(/\r/g, '\\r')
    .replace(/\n/g, '\\n')
    .replace(/\u2028/g, '\\u2028')
    .replace(/\u2029/g, '\\u2029');
}

// Record texts show line breaks as [CR] and [LF].
function showBreaks(text) {
  return String(text).replace(/\r/g, '[CR]').replace(/\n/g, '[LF]');
}

// A record's text as the program puts it into a row: "&" kept literal.
function recordHtml(text) {
  return escapeScriptString(showBreaks(text).replace(/&/g, '&amp;'));
}

function htmlEncode(text) {
  return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
    .replace(/"/g, '&quot;').replace(/'/g, '&#39;');
}

const CAPTIONS = {
  1: 'Components Subsystem', 2: 'Internet Explorer', 4: 'Shared Components', 8: 'Control Panel',
  16: 'Microsoft Office', 32: 'System and User MRU Lists', 64: 'Associations', 128: 'Embedded-null Characters',
};
const GROUP = { 1: 0, 2: 1, 4: 2, 8: 3, 16: 4, 32: 5, 64: 6, 128: 7 };

function captionBlock(c) {
  return `<DIV class=groupCaption id=\\"group_${c}\\" name=\\"skip\\" tabindex=\\"-1\\"><A name=\\"group_a_${c}` +
    `\\"></A>\\n<TABLE width=\\"100%\\">\\n<TBODY>\\n<TR>\\n<TD>&nbsp;${c}` +
    `</TD>\\n<TD align=right><A name=cl id=\\"group_a_chk_${c}` +
    `\\" href=\\'#\\' onclick=\\'CheckGroup(\\"${c}` +
    `\\",true,\\"fixCount\\")\\'>Select All</A>&nbsp;&nbsp;&nbsp;<A name=cl href=\\'#\\' onclick=\\'CheckGroup(\\"${c}` +
    '\\",false,\\"fixCount\\")\\\'>Deselect All</A></TD></TR></TBODY></TABLE></DIV>';
}

// One results row; r: {fixId, union, problem, detail, item, value, topic}.
function resultRow(r) {
  const N = r.fixId;
  const caption = escapeScriptString(CAPTIONS[r.union] || '');
  const problem = escapeScriptString(r.problem);
  const detail = escapeScriptString(r.detail || '');
  const item = recordHtml(r.item);
  const value = recordHtml(r.value || '');
  return `<TABLE class=elem id=chk_${N}_table tabIndex=-1 width=\\"100%\\" border=0 m_chkID=\\"chk_${N}` +
    `\\">\\n<TBODY>\\n<TR>\\n<TD vAlign=top width=5>\\n<TABLE class=QNCHECKBOX onkeypress=OnKeyPressHandler() id=chk_${N}_parent style=\\"CURSOR: hand\\" onclick=OnCBClick() tabIndex=-1 cellSpacing=0 cellPadding=2 border=0 ONCLICKEVENT=\\"OnCheck(${N}` +
    `);\\">\\n<TBODY>\\n<TR validn=\\"middle\\">\\n<TD align=right><IMG hspace=0 src=\\"check_filled.gif\\" border=0></TD>\\n<TD align=left><INPUT id=chk_${N} alt=\\"${caption}\\"` +
    ` style=\\"DISPLAY: none\\" onpropertychange=OnCBPropChange() tabIndex=-1 type=checkbox CHECKED></TD></TR></TBODY></TABLE></TD>\\n<TD align=left valign=top>\\n<DIV style=\\"OVERFLOW: hidden; WORD-BREAK: break-all; TEXT-OVERFLOW: ellipsis; WORD-WRAP: break-word\\">${problem}: ` +
    `<a title='Learn more online' href=\\'#\\' onclick=\\'window.external.OnHTMLEvent(document, \\"WebInfo\\", \\"\\",${N})\\'>${item}</a>` +
    '</DIV>\\n<DIV class=details id=text style=\\"OVERFLOW: hidden; WORD-BREAK: break-all; TEXT-OVERFLOW: ellipsis; WORD-WRAP: break-word\\">' +
    (detail ? `<BR>&nbsp;${detail}: ${value || '[empty value]'}` : '') +
    `</DIV></TD>\\n<TD width=18><DIV class=\\"details\\"><A style=\\"COLOR: red\\" tabIndex=0 href=\\'#\\' onclick=\\'window.external.OnHTMLEvent(document, \\"Res_OpenLink\\", \\"\\",${N}` +
    `);\\'><IMG title=\\"Open issue item in Registry Editor\\" alt=\\"Open issue item in Registry Editor\\" src=\\"regopen.gif\\" border=0></A><BR><BR><SPAN id=hh_${N} onclick=\\'helpButtonClick(\\"${r.topic}` +
    `\\",this)\\'><A onfocus=\\"this.blur()\\" id=help_dummy style=\\"CURSOR: help\\" tabIndex=259 href=\\"scanResults.htm#\\"><IMG hspace=0 src=\\"question_icon.gif\\" border=0></A></SPAN></DIV></TD>\\n<TD width=60><DIV  class=\\"details\\">\\n<TABLE class=ambtn onactivate=OnMouseOverHandler() onkeypress=OnKeyPressHandler() onmousedown=OnMouseDownHandler() id=ignore_btn_${N}` +
    ` onmouseover=OnMouseOverHandler() title=\\"Add to Ignore List\\" style=\\"CURSOR: hand; COLOR: black\\" ondeactivate=OnMouseOutHandler() onclick=OnMouseUpHandler() onmouseout=OnMouseOutHandler() cellSpacing=0 cellPadding=0 border=0 ONCLICKEVENT=\\"AddToIgnore(${N}` +
    ')\\">\\n<TBODY tabIndex=0>\\n<TR>\\n<TD style=\\"BACKGROUND-IMAGE: url(_buttons/button_normal_first.gif); BACKGROUND-REPEAT: no-repeat\\" width=8 height=21></TD>\\n<TD style=\\"BACKGROUND-IMAGE: url(_buttons/button_normal_1px.gif); BACKGROUND-REPEAT: repeat-x\\" align=middle validn=\\"middle\\"><SPAN UNSELECTABLE=\\"on\\">Ignore</SPAN></TD>\\n<TD style=\\"BACKGROUND-IMAGE: url(_buttons/button_normal_last.gif); BACKGROUND-REPEAT: no-repeat\\" width=8 height=21></TD></TR></TBODY></TABLE></DIV></TD></TR></TBODY></TABLE>\\n';
}

// The scripts of "Scan_InitResult" for these records, in the order the
// program runs them.
function resultsScripts(records) {
  const html = ['', '', '', '', '', '', '', ''];
  const captions = ['', '', '', '', '', '', '', ''];
  const counts = [0, 0, 0, 0, 0, 0, 0, 0];
  for (const r of records) {
    const g = GROUP[r.union] === undefined ? 0 : GROUP[r.union];
    if (!html[g]) {
      captions[g] = escapeScriptString(CAPTIONS[r.union] || '');
      html[g] += captionBlock(captions[g]);
    }
    html[g] += resultRow(r);
    counts[g]++;
  }
  let menu = 'document.getElementById("menu").innerHTML="';
  let links = 0;
  for (let g = 0; g < 8; g++) {
    if (!counts[g]) continue;
    const c = captions[g];
    menu += `<SPAN nowrap id=\\"link_${c}\\"><a href=\\'#\\' onclick=\\'GoToGroup(\\"${c}\\")\\'>${c}&nbsp;(<span id=\\'counter_${c}\\'>${counts[g]}</span>)</a>&nbsp;&nbsp;&nbsp;</SPAN>`;
    if (++links === 4) menu += '<BR>';
  }
  menu += '"';
  const total = counts.reduce((a, b) => a + b, 0);
  const js = (text) => ({ language: 'JavaScript', text });
  return [
    js('Init(); document.body.style.cursor=\'wait\'; view.innerHTML = "<B id=\'GenList\'>Generating list...&nbsp;&nbsp;&nbsp;</B><br>";'),
    js('view.innerHTML += "<H3 id=\'DispList\'>Displaying list...</H3><br>";'),
    js('view.innerHTML="' + html.join('') + '"'),
    js(menu),
    js(`InitCounters(${total}, 0);`),
    js('EnableToolbars();'),
    js("document.getElementById('view').setActive();"),
    js("document.getElementById('FixButton').setActive();"),
    { language: 'JScript', text: "document.body.style.cursor = 'auto';" },
  ];
}

// The fixing page's failure row for a record that could not be fixed: the
// key and value reach the link's onclick as script strings inside an HTML
// attribute, and its title as attribute text.
function jsString(t) {
  return String(t).replace(/\\/g, '\\\\').replace(/"/g, '\\"').replace(/'/g, "\\'")
    .replace(/\r/g, '\\r').replace(/\n/g, '\\n').replace(/\u2028/g, '\\u2028').replace(/\u2029/g, '\\u2029')
    .replace(/</g, '\\x3C').replace(/>/g, '\\x3E');
}

function failureRow(message, key, value) {
  const squot = (t) => String(t).replace(/'/g, '-=squot=-');
  const title = "'" + htmlEncode(showBreaks(key + (value ? '\\' + value : ''))) + "'";
  const onclick = "'" + htmlEncode(`extEvent("Res_OpenLink", "${jsString(squot(key))}", "${jsString(squot(value))}");`) + "'";
  const link = `<A HREF=# title=${title} onclick=${onclick}>Go to issue</A>`;
  const row = `<b>Error:</b>&nbsp;${htmlEncode(message)}&nbsp;&nbsp;${link}`;
  return `OnFixFail('${jsString(row)}');`;
}

module.exports = { escapeScriptString, showBreaks, htmlEncode, resultsScripts, resultRow, failureRow, CAPTIONS };
