'use strict';
const { pageSuite, assert } = require('./harness/harness');

pageSuite(__filename, {
  'loading asks for the news, which the program answers with ShowNews()': async (t) => {
    await t.open('scanStart.htm');
    await t.expectEvents([['ShowNews', '', '']]);
    assert.strictEqual(await t.visible('newsBox'), false);
    await t.replay('scanStart/news');
    assert.strictEqual(await t.visible('newsBox'), true);
    assert.ok(await t.visible('mainTable'));
  },

  'scan buttons and the auto-fix box send their events': async (t) => {
    await t.open('scanStart.htm');
    await t.events();
    await t.click('expressButton');
    await t.click('customButton');
    await t.click('autofixbox');
    await t.click('expressButton');
    await t.click('autofixbox');
    await t.expectEvents([
      ['Scan_Express', '', ''],
      ['Scan_Custom', '', ''],
      ['AutoFixChecked', '', 1],
      ['Scan_Express', '', 'autofix'],
      ['AutoFixChecked', '', 0],
    ]);
  },

  'the program sets the auto-fix box': async (t) => {
    await t.open('scanStart.htm');
    await t.events();
    await t.exec('autofixbox.checked = true;', 'JavaScript');
    await t.click('expressButton');
    await t.expectEvents([['Scan_Express', '', 'autofix']]);
  },

  'side bar items send OutBarItemClicked': async (t) => {
    await t.open('scanStart.htm');
    await t.events();
    await t.click('outBar_Undo');
    await t.click('outBar_RegisterAbout');
    await t.expectEvents([['OutBarItemClicked', '', 'Undo'], ['OutBarItemClicked', '', 'RegisterAbout']]);
  },
});
