'use strict';
const fs = require('fs');
const path = require('path');
const { pageSuite, assert } = require('./harness/harness');

// The undo page's list script (four rows, hostile record texts), put into
// this page's list element: the rows are built the same way.
function listScripts() {
  const golden = JSON.parse(fs.readFileSync(path.join(__dirname, 'goldens', 'undo', 'session.json'), 'utf8'));
  return golden.filter((s) => s.text.indexOf('itemsList.innerHTML="<DIV') === 0)
    .map((s) => s.text.replace('itemsList.innerHTML=', 'view.innerHTML='));
}

pageSuite(__filename, {
  'ignore list: checked rows are sent for removal, hostile texts stay text': async (t) => {
    await t.open('configuration.htm', 'ignore');
    await t.expectEvents([['pageLoaded', '', '']]);
    assert.strictEqual(await t.visible('ignorePart'), true);
    assert.strictEqual(await t.visible('settingsPart'), false);
    await t.exec('DelAllIgnore();');
    await t.exec('DisableToolbars();');
    await t.exec('EnableControls(false);');
    for (const s of listScripts()) await t.exec(s);
    await t.exec('EnableControls();');
    await t.exec('Init();');
    await t.exec('EnableToolbarsEx();');
    assert.strictEqual(await t.eval(() => document.getElementById('view').getElementsByTagName('IMG').length), 4);
    assert.strictEqual(await t.text('ignoreCount'), '4');
    assert.strictEqual(await t.text('selectedCount'), '4');
    await t.click('chk_2_parent');
    assert.strictEqual(await t.text('selectedCount'), '3');
    await t.click('deleteButton');
    await t.expectEvents([['DeleteSelected', '', '1 3 4']]);
    await t.click('exportButton');
    await t.click('apply');
    await t.expectEvents([['ExportIgnoreList', '', '']]);  // apply stays disabled until the program enables it
  },

  'settings: drive boxes, folders and switches go to the program as events': async (t) => {
    await t.open('configuration.htm', 'settings');
    await t.expectEvents([['pageLoaded', '', '']]);
    await t.exec("document.getElementById('undoPath').value='C:\\\\users\\\\O\\'Brien\\\\x1\\\\';");
    assert.strictEqual(await t.eval(() => document.getElementById('undoPath').value), 'C:\\users\\O\'Brien\\x1\\');
    await t.exec("document.getElementById('netshares').checked = true; document.getElementById('removable').checked = true; ");
    await t.click('netshares');
    await t.click('removable');
    await t.click('bkpBrowse');
    await t.click('undoBrowse');
    await t.click('backupSwitch');
    await t.expectEvents([['SkipParams', '', 4], ['SkipParams', '', 0], ['BrowseForFolder', '', 'bkpPath'],
      ['BrowseForFolder', '', 'undoPath'], ['AutoBackSwitch', '', true]]);
    await t.eval(() => { document.getElementById('apply').disabled = false; });
    await t.click('apply');
    await t.expectEvents([['configurationChanged', '', 'apply']]);
  },
});
