'use strict';
const { pageSuite, assert } = require('./harness/harness');

// The page object's scripts for three ignore records whose names and data
// carry quotes, markup, a backslash, U+2028 and CR/LF, and a backup folder
// with the same (goldens/configuration/hostile.json, from its C++ test).
const NAMES = ["OvIgnoreA'\"</a><img src=x onerror=alert(1)>", 'OvIgnoreB\\&quot;', "OvIgnoreC\u2028\r\n'x"];

// As the rows show a name: line breaks as [CR] and [LF], the rest as it is.
function shownText(name) {
  return name.replace(/\r/g, '[CR]').replace(/\n/g, '[LF]');
}

async function loaded(t, mode) {
  await t.open('configuration.htm', mode);
  await t.expectEvents([['pageLoaded', '', '']]);
  await t.replay('configuration/hostile');
}

pageSuite(__filename, {
  'ignore list: hostile texts stay text; checked rows are sent for removal': async (t) => {
    await loaded(t, 'ignore');
    assert.strictEqual(await t.visible('ignorePart'), true);
    assert.strictEqual(await t.visible('settingsPart'), false);
    const rows = await t.eval(() => {
      var out = [];
      for (var n = 1; n <= 3; n++) {
        var table = document.getElementById('chk_' + n + '_table');
        var link = table.getElementsByTagName('A')[0];
        out.push({ item: link.firstChild.nodeValue, nodes: link.childNodes.length,
          details: table.getElementsByTagName('DIV')[1].innerText, elements: table.getElementsByTagName('*').length });
      }
      return out;
    });
    NAMES.forEach((name, i) => {
      assert.ok(rows[i].item.indexOf(shownText(name)) >= 0, `item ${i}: ${rows[i].item}`);
      assert.strictEqual(rows[i].nodes, 1, `item ${i} is one text node`);
      assert.ok(rows[i].details.indexOf('C:\\ovundo-missing\\' + shownText(name) + '.cpl') >= 0, `data ${i}: ${rows[i].details}`);
      assert.strictEqual(rows[i].elements, rows[0].elements, `row ${i} has only the generated elements`);
    });
    // The three check pictures, no planted image.
    assert.strictEqual(await t.eval(() => document.getElementById('view').getElementsByTagName('IMG').length), 3);
    assert.strictEqual(await t.text('ignoreCount'), '3');
    assert.strictEqual(await t.text('selectedCount'), '0');
    await t.click('chk_1_parent');
    await t.click('chk_3_parent');
    assert.strictEqual(await t.text('selectedCount'), '2');
    await t.click('deleteButton');
    await t.expectEvents([['DeleteSelected', '', '1 3']]);
    await t.click('exportButton');
    await t.click('apply');
    await t.expectEvents([['ExportIgnoreList', '', '']]);  // apply stays disabled until the program enables it
  },

  'settings: stored folders and switches shown as the program sent them, no script runs': async (t) => {
    await loaded(t, 'settings');
    const fields = await t.eval(() => [document.getElementById('bkpPath').value, document.getElementById('undoPath').value,
      document.getElementById('netshares').checked, document.getElementById('removable').checked,
      document.getElementById('backupSwitch').checked, document.getElementById('delOldBackups').checked,
      document.getElementById('settingsPart').getElementsByTagName('*').length]);
    // A text field drops line breaks; angle brackets, which no Windows
    // folder name holds, arrive as the escaping's entities.
    assert.strictEqual(fields[0], 'C:\\x\'"&lt;/a&gt;&lt;img src=x onerror=alert(1)&gt;\u2028&quot;\\');
    assert.strictEqual(fields[1], "C:\\users\\O'Brien\\x1\\");
    assert.deepStrictEqual(fields.slice(2, 6), [true, false, true, false]);
    await t.open('configuration.htm', 'settings');
    await t.expectEvents([['pageLoaded', '', '']]);
    assert.strictEqual(await t.eval(() => document.getElementById('settingsPart').getElementsByTagName('*').length), fields[6]);
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
