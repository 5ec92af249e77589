'use strict';
const { pageSuite, assert } = require('./harness/harness');
const { escapeScriptString } = require('./support/programScripts');
const { HOSTILE } = require('./support/hostile');

const rows = (t) => t.eval(() => {
  var ids = [];
  var trs = document.getElementById('unionTable').rows;
  for (var i = 1; i < trs.length; i++) ids.push(trs[i].id);
  return ids;
});

pageSuite(__filename, {
  'rows for the scanned categories; none is all but embedded NULs': async (t) => {
    await t.open('ScanProgress.htm', 'unions=5');
    assert.deepStrictEqual(await rows(t), ['union_1', 'union_4']);
    await t.open('ScanProgress.htm');
    assert.deepStrictEqual(await rows(t), ['union_1', 'union_2', 'union_4', 'union_8', 'union_16', 'union_32', 'union_64']);
  },

  'engine events update their category': async (t) => {
    await t.open('ScanProgress.htm', 'unions=9');
    await t.exec("OnRecordFound(1, 305, 'C:\\\\a');");
    await t.exec("OnRecordFound(1, 305, 'C:\\\\b');");
    await t.exec("OnRecordFound(8, 318, 'x');");
    await t.exec('OnRecordFound(2, 312, \'not scanned\');');
    await t.exec('OnScanProgress(1, 40);');
    await t.exec('OnScanFinish(8);');
    assert.strictEqual(await t.text('found_1'), '2');
    assert.strictEqual(await t.text('found_8'), '1');
    assert.strictEqual(await t.text('foundTotal'), '4');
    assert.strictEqual(await t.text('state_1'), 'Scanning... 40%');
    assert.strictEqual(await t.text('state_8'), 'Done');
    assert.strictEqual(await t.text('lastItem'), 'not scanned');
    await t.exec("OnRecordFound(1, 305, 'C:\\\\a');");
    assert.strictEqual(await t.text('lastItem'), 'C:\\a');
  },

  'hostile item names show as text': async (t) => {
    await t.open('ScanProgress.htm', 'unions=1');
    const before = await t.eval(() => document.getElementsByTagName('*').length);
    for (const name of HOSTILE) {
      await t.exec(`OnRecordFound(1, 305, '${escapeScriptString(name)}');`, 'JScript');
      // Line breaks reach the page as [CR] and [LF] in lists; here the text
      // node keeps them, which the browser shows as white space.
      const shown = await t.eval(() => document.getElementById('lastItem').firstChild.nodeValue);
      // Entities the program's escaping makes are shown as the brackets.
      assert.strictEqual(shown, name.replace(/&lt;/g, '<').replace(/&gt;/g, '>'));
    }
    assert.strictEqual(await t.eval(() => document.getElementsByTagName('*').length), before);
  },

  'WaitAndGo shows the results once; stop sends its event': async (t) => {
    await t.open('ScanProgress.htm', 'unions=1');
    await t.exec('WaitAndGo();');
    await t.exec('WaitAndGo();');
    await t.waitForEvents(1);
    await new Promise((r) => setTimeout(r, 700));
    await t.expectEvents([['Scan_ViewResult', '', '']]);
    await t.open('ScanProgress.htm', 'unions=1');
    await t.click('StopButton');
    await t.expectEvents([['Scan_ScanStop', '', '']]);
    for (const s of ['StopButton.disabled = true;', "StopButton.style.display = 'none';", "stopping.style.display = 'inline';"]) {
      await t.exec(s, 'JScript');
    }
    assert.strictEqual(await t.visible('StopButton'), false);
    assert.strictEqual(await t.visible('stopping'), true);
  },
});
