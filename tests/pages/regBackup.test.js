'use strict';
const { pageSuite, assert } = require('./harness/harness');

const HOSTILE_SHOWN = '\' " \\ </script> <img src=x onerror="window.external.OnHTMLEvent(document,\'Hacked\',\'\',\'\')"> <img>\nsecond line';

async function loaded(t) {
  await t.open('regBackup.htm');
  await t.expectEvents([['Backup_OnLoad', '', '']]);
}

async function cellText(t, row, className) {
  return t.eval((r, c) => {
    var cells = document.getElementById('backupRow' + r).cells;
    for (var i = 0; i < cells.length; i++) if (cells[i].className === c) return cells[i].innerText;
    return null;
  }, row, className);
}

pageSuite(__filename, {
  'the list shows hostile paths and comments as text, never as markup': async (t) => {
    await loaded(t);
    await t.replay('regBackup/onload');
    assert.strictEqual(await cellText(t, 0, 'backupComment'), 'first\nsecond');
    assert.strictEqual(await cellText(t, 0, 'backupPath'), 'C:\\b\\x.bkp');
    assert.strictEqual(await cellText(t, 0, 'backupKind'), 'All hives');
    assert.strictEqual(await cellText(t, 1, 'backupComment'), HOSTILE_SHOWN);
    assert.strictEqual(await cellText(t, 1, 'backupPath'), 'C:\\it\'s "q" <b>\\missing.bkp (missing)');
    assert.strictEqual(await cellText(t, 1, 'backupTime'), '1/3/2007 10:00:00 PM');
    const markup = await t.eval(() => [
      document.getElementsByTagName('img').length,
      document.getElementsByTagName('b').length,
      document.getElementsByTagName('script').length,
    ]);
    assert.deepStrictEqual(markup, [0, 0, 2]);
    // The new backup is selected, its comment ready to edit; a missing file cannot be restored.
    assert.strictEqual(await t.eval(() => document.getElementById('backupPick1').checked), true);
    assert.strictEqual(await t.eval(() => document.getElementById('restoreButton').disabled), true);
    await t.expectEvents([]);
  },

  'restore, delete and comment send the selected index': async (t) => {
    await loaded(t);
    await t.replay('regBackup/onload');
    await t.click('backupPick0');
    await t.click('restoreButton');
    await t.click('restoreAll');
    await t.click('restoreButton');
    await t.eval(() => { document.getElementById('commentEdit').value = 'one\ntwo <i>'; });
    await t.click('commentButton');
    await t.click('backupPick1');
    await t.click('deleteButton');
    await t.expectEvents([
      ['RBackupRestore', '', 'R0:0'],
      ['RBackupRestore', '', 'R1:0'],
      ['RUpdateComments', '', '0\none<BR>two <i>'],
      ['RBackupDelete', '', 1],
    ]);
  },

  'a new backup: proposed name, kind, path and comment, then the list again': async (t) => {
    await loaded(t);
    await t.replay('regBackup/empty');
    assert.strictEqual(await t.visible('emptyNote'), true);
    await t.click('newButton');
    await t.expectEvents([['RBackupNew_Click', '', '']]);
    await t.replay('regBackup/proposed');
    assert.strictEqual(await t.eval(() => document.getElementById('bkpFile').value), 'registry_backup_2007-01-02 (2).bkp');
    await t.click('browseButton');
    await t.click('kindUser');
    await t.eval(() => { document.getElementById('bkpComment').value = 'line 1\nline 2'; });
    await t.click('createButton');
    await t.eval(() => { document.getElementById('bkpFile').value = 'C:/b/x'; document.getElementById('bkpComment').value = ''; });
    await t.click('kindAll');
    await t.click('createButton');
    await t.expectEvents([
      ['RBackupBrowse', '', ''],
      ['RBackupNew', '', '0registry_backup_2007-01-02 (2).bkp\nline 1\r\nline 2'],
      ['RBackupNew', '', '1C:/b/x'],
    ]);
    await t.exec('DisableToolbars();', 'JavaScript');
    assert.strictEqual(await t.eval(() => document.getElementById('createButton').disabled), true);
    await t.exec('NewFinish(); ', 'JavaScript');
    await t.expectEvents([['OutBarItemClicked', '', 'RegistryBackup']]);
    await t.click('addButton');
    await t.expectEvents([['RAddBackup', '', '']]);
  },
});
