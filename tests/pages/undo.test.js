'use strict';
const { pageSuite, assert } = require('./harness/harness');

async function withSession(t) {
  await t.open('undo.htm');
  await t.expectEvents([['pageLoaded', '', '']]);
  await t.exec("AddUndoItem(0,'1/2/2007','10:00:00 PM',3); AddUndoItem(1,'x\\'\\\"&lt;img src=x onerror=alert(1)&gt;','\\u2028',3); ");
  await t.exec('SelectUndoItem(1);');
  await t.expectEvents([['ShowUndoData', '', 1]]);
  await t.replay('undo/session');
}

pageSuite(__filename, {
  'sessions and fixes with hostile texts are shown literally': async (t) => {
    await withSession(t);
    const shown = await t.eval(() => [
      document.getElementById('session_1').innerText,
      document.getElementById('itemsList').getElementsByTagName('IMG').length,
      document.getElementById('chk_1_table').innerText,
      document.getElementById('chk_4_table').innerText,
    ]);
    assert.match(shown[0], /^x'"&lt;img src=x onerror=alert\(1\)&gt;, /);
    assert.strictEqual(shown[1], 4);  // the four check pictures, no planted image
    assert.match(shown[2], /OvUndoA'"<\/a><img src=x onerror=alert\(1\)>/);
    assert.ok(shown[3].indexOf("OvUndoD\u2028[CR][LF]'x") >= 0, shown[3]);
    assert.strictEqual(await t.text('totalCount'), '4');
    assert.strictEqual(await t.text('undoCount'), '4');
    await t.screenshot('session');
  },

  'unchecked rows are left out of the undo; all checked sends an empty list': async (t) => {
    await withSession(t);
    await t.click('chk_1_parent');
    await t.click('chk_3_parent');
    assert.strictEqual(await t.text('undoCount'), '2');
    await t.click('undoButton');
    await t.expectEvents([['UndoFixes', '', ' 1 3']]);
    await t.exec('handsOn();');
    await t.click('chk_1_parent');
    await t.click('chk_3_parent');
    await t.click('undoButton');
    await t.expectEvents([['UndoFixes', '', '']]);
  },

  'delete and the reports go to the program; no session disables them': async (t) => {
    await withSession(t);
    await t.click('deleteButton');
    await t.click('printButton');
    await t.expectEvents([['DeleteSession', '', ''], ['PrintReport', '', await t.eval(() => runningOn())]]);
    await t.exec("undoList.innerHTML=''; Init();");
    await t.exec('SelectUndoItem(-1);');
    assert.strictEqual(await t.visible('noSessions'), true);
    assert.strictEqual(await t.eval(() => document.getElementById('deleteButton').disabled), true);
  },
});
