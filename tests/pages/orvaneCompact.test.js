'use strict';
const { pageSuite, assert } = require('./harness/harness');

const HOSTILE = 'HKLM_it\'s \\ "q" </script><img src=x onerror="window.external.OnHTMLEvent(document,\'Hacked\',\'\',\'\')">';

const cell = (t, row, column) =>
  t.eval((r, c) => document.getElementById('reportTable').rows[r].cells[c].innerText, row, column);
const checked = (t, id) => t.eval((i) => document.getElementById(i).checked, id);
const disabled = (t, id) => t.eval((i) => document.getElementById(i).disabled, id);
const markup = (t) => t.eval(() => [document.getElementsByTagName('img').length,
  document.getElementsByTagName('script').length]);

pageSuite(__filename, {
  'the query sets the boxes; apply sends only the box that changed': async (t) => {
    await t.open('orvaneCompact.htm', '-1-0-1-1');
    await t.expectEvents([['PageLoaded', '', '']]);
    assert.strictEqual(await checked(t, 'compactAll'), true);
    assert.strictEqual(await checked(t, 'compactCurrent'), false);
    assert.strictEqual(await disabled(t, 'applyButton'), true);
    await t.click('compactCurrent');
    assert.strictEqual(await disabled(t, 'applyButton'), false);
    await t.click('applyButton');
    await t.click('analyzeButton');
    await t.click('restartButton');
    await t.expectEvents([
      ['RCompactChange', '', ''],
      ['RCompactCurrent', '', true],
      ['Analyze', '', ''],
      ['Restart', '', ''],
    ]);
    assert.strictEqual(await disabled(t, 'applyButton'), true);
    // A box clicked back to where it stood asks for nothing.
    await t.click('compactAll');
    await t.click('compactAll');
    await t.click('applyButton');
    await t.expectEvents([['RCompactChange', '', ''], ['RCompactChange', '', '']]);
  },

  'without privileges the box of all hives cannot be changed': async (t) => {
    await t.open('orvaneCompact.htm', '-0-1-0-1');
    await t.expectEvents([['PageLoaded', '', '']]);
    assert.strictEqual(await disabled(t, 'compactAll'), true);
    assert.strictEqual(await checked(t, 'compactCurrent'), true);
  },

  'analysis rows show hive names as text and nothing in them runs': async (t) => {
    await t.open('orvaneCompact.htm', '-1-0-0-1');
    await t.expectEvents([['PageLoaded', '', '']]);
    await t.replay('orvaneCompact/analysis');
    assert.strictEqual(await cell(t, 1, 0), HOSTILE);
    assert.strictEqual(await cell(t, 1, 1), '1 234 567 bytes');
    assert.strictEqual(await cell(t, 1, 2), '1 000 000 bytes');
    assert.strictEqual(await cell(t, 1, 3), '19.00%');
    assert.strictEqual(await cell(t, 2, 0), 'ProfilesTotal');
    assert.strictEqual(await cell(t, 2, 1), '5 000 000 000 bytes');
    assert.deepStrictEqual(await markup(t), [0, 2]);
    assert.strictEqual(await disabled(t, 'analyzeButton'), false);
    await t.exec("setBtnState(); window.external.OnHTMLEvent(document, 'SaveReport', '', " +
      "document.getElementById('reportHost').innerHTML)", 'JavaScript');
    const events = await t.events();
    assert.strictEqual(events.length, 1);
    assert.strictEqual(events[0].name, 'SaveReport');
    assert.ok(events[0].document && events[0].argc === 4);
    assert.ok(String(events[0].param).indexOf('reportTable') >= 0);
  },

  'the saved report comes back as text, with nothing firing': async (t) => {
    await t.open('orvaneCompact.htm', '-1-0-0-1');
    await t.expectEvents([['PageLoaded', '', '']]);
    await t.replay('orvaneCompact/report');
    assert.strictEqual(await cell(t, 0, 0),
      'C:\\x\\\'q\' "d"\nline </script><img src=x onerror="window.external.OnHTMLEvent(document,\'Hacked\',\'\',\'\')">'.replace('\n', ' '));
    assert.strictEqual(await t.text('diagnosis'), 'done');
    assert.deepStrictEqual(await markup(t), [0, 2]);
    await t.expectEvents([]);
  },
});
