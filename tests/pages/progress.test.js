'use strict';
const { pageSuite, assert } = require('./harness/harness');

pageSuite(__filename, {
  'progress, escaped texts shown as text, and OK only after the file is done': async (t) => {
    await t.open('progress.htm');
    await t.expectEvents([]);
    assert.strictEqual(await t.eval(() => document.getElementById('okButton').disabled), true);
    const texts = await t.replay('progress/two_hives');
    assert.strictEqual(texts.length, 3);
    assert.strictEqual(await t.text('stepText'), 'Backup file 2007-01-02 \'a\' <b>.bkp created.');
    assert.strictEqual(await t.text('percentText'), '100 %');
    assert.strictEqual(await t.eval(() => document.getElementsByTagName('b').length), 0);
    await t.exec("SetPercent(7,'HKLM_Software');", 'JavaScript');
    assert.strictEqual(await t.text('percentText'), '7 %');
    assert.strictEqual(await t.text('stepText'), 'HKLM_Software');
    await t.click('okButton');
    await t.expectEvents([['OkClick', '', '']]);
    assert.strictEqual(await t.eval(() => document.getElementById('okButton').disabled), true);
  },
});
