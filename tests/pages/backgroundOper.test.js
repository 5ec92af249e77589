'use strict';
const { pageSuite, assert } = require('./harness/harness');

pageSuite(__filename, {
  'the query names the operation': async (t) => {
    const names = { 1: 'Backing up the registry', 2: 'Compacting the registry', 3: 'Scanning and fixing the registry', 7: 'Running a scheduled operation' };
    for (const [query, name] of Object.entries(names)) {
      await t.open('backgroundOper.htm', query);
      assert.strictEqual(await t.text('operationName'), name);
    }
    await t.click('outBar_RegistryScan');
    await t.expectEvents([['OutBarItemClicked', '', 'RegistryScan']]);
  },
});
