'use strict';
const { pageSuite, assert } = require('./harness/harness');

const checkedUnions = (t) => t.eval(() => {
  var bits = [1, 2, 4, 8, 16, 32, 64, 128];
  var on = [];
  for (var i = 0; i < bits.length; i++) if (document.getElementById('union_' + bits[i]).checked) on.push(bits[i]);
  return on;
});

pageSuite(__filename, {
  'the query preselects categories; none or 0 is all but embedded NULs': async (t) => {
    await t.open('scanSelectUnions.htm', 'unions=5');
    assert.deepStrictEqual(await checkedUnions(t), [1, 4]);
    await t.open('scanSelectUnions.htm', 'unions=0');
    assert.deepStrictEqual(await checkedUnions(t), [1, 2, 4, 8, 16, 32, 64]);
    await t.open('scanSelectUnions.htm');
    assert.deepStrictEqual(await checkedUnions(t), [1, 2, 4, 8, 16, 32, 64]);
  },

  'choices send the mask; start carries auto-fix and the mask': async (t) => {
    await t.open('scanSelectUnions.htm', '#unions=5');
    await t.click('union_2');
    await t.click('union_128');
    await t.click('autofixbox');
    await t.click('startButton');
    await t.click('autofixbox');
    await t.click('startButton');
    await t.click('info_4');
    await t.expectEvents([
      ['RefreshSelectedUnions', '', 7],
      ['RefreshSelectedUnions', '', 135],
      ['AutoFixChecked', '', 1],
      ['Scan_ScanCustomStart', 'autofix', 135],
      ['AutoFixChecked', '', 0],
      ['Scan_ScanCustomStart', '', 135],
      ['UnionWebInfo', '', 'shared-components'],
    ]);
  },

  'an empty choice cannot start a scan': async (t) => {
    await t.open('scanSelectUnions.htm', 'unions=1');
    await t.click('union_1');
    await t.expectEvents([['RefreshSelectedUnions', '', 0]]);
    assert.strictEqual(await t.eval(() => document.getElementById('startButton').disabled), true);
    await t.click('startButton');
    await t.exec('startScan();');
    await t.expectEvents([]);
  },

  'cancel hands back the auto-fix box the program set': async (t) => {
    await t.open('scanSelectUnions.htm', 'unions=3');
    await t.exec('autofixbox.checked = true;', 'JavaScript');
    await t.exec("auto_fix = 'true';", 'JavaScript');
    await t.click('cancelButton');
    await t.click('outBar_Scheduler');
    await t.expectEvents([['Scan_SelectUnionCancel', '', 'true'], ['OutBarItemClicked', '', 'Scheduler']]);
  },
});
