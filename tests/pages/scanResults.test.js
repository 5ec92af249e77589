'use strict';
const { pageSuite, assert } = require('./harness/harness');
const { resultsScripts } = require('./support/programScripts');
const { HOSTILE } = require('./support/hostile');

const record = (fixId, union, item, extra) => Object.assign({
  fixId, union, item, problem: 'Invalid Class Identifier', detail: 'File not found', value: 'v', topic: 'errors_class_id',
}, extra);

// Five findings in three categories.
const FIVE = [
  record(12, 1, 'HKCR\\CLSID\\{a}'),
  record(34, 1, 'HKCR\\CLSID\\{b}', { value: '' }),
  record(56, 8, 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\gone', { problem: 'Specified program uninstall string is invalid', topic: 'errors_programs' }),
  record(78, 64, '.xyz', { detail: '', topic: 'errors_associations' }),
  record(90, 64, '.abc', { topic: 'errors_associations' }),
];

async function showList(t, records) {
  await t.open('scanResults.htm');
  await t.expectEvents([['Scan_InitResult', '', '']]);
  for (const s of resultsScripts(records)) await t.exec(s.text, s.language);
}

const menuLinks = (t) => t.eval(() => {
  var spans = document.getElementById('menu').getElementsByTagName('SPAN');
  var out = [];
  for (var i = 0; i < spans.length; i++) if (spans[i].id.indexOf('link_') === 0) out.push(spans[i].innerText.replace(/\u00a0/g, ' ').replace(/\s+$/, ''));
  return out;
});

pageSuite(__filename, {
  'the program fills the list, menu and counters': async (t) => {
    await showList(t, FIVE);
    assert.strictEqual(await t.text('totalCount'), '5');
    assert.strictEqual(await t.text('fixCount'), '5');
    assert.deepStrictEqual(await menuLinks(t), ['Components Subsystem (2)', 'Control Panel (1)', 'Associations (2)']);
    assert.strictEqual(await t.eval(() => document.getElementById('FixButton').disabled), false);
    assert.strictEqual(await t.eval(() => document.activeElement.id), 'FixButton');
    assert.match(await t.eval(() => document.getElementById('chk_34_table').innerText), /File not found: \[empty value\]/);
    assert.doesNotMatch(await t.eval(() => document.getElementById('chk_78_table').innerText), /empty value/);
    await t.screenshot('list');
  },

  'unchecked rows become the Fix exclusions': async (t) => {
    await showList(t, FIVE);
    await t.click('chk_12_parent');
    assert.strictEqual(await t.text('fixCount'), '4');
    await t.click(() => document.getElementById('group_Associations').getElementsByTagName('A')[2]);
    assert.strictEqual(await t.text('fixCount'), '2');
    await t.click(() => document.getElementById('group_Associations').getElementsByTagName('A')[1]);
    await t.click('chk_90_parent');
    await t.click('chk_12_parent');
    await t.click('chk_34_parent');
    assert.strictEqual(await t.eval(() => document.getElementById('chk_34_parent').getElementsByTagName('IMG')[0].src.replace(/^.*\//, '')), 'check_empty.gif');
    await t.click('FixButton');
    await t.expectEvents([['Fix', '', ' 34 90']]);
  },

  'row links, help and ignore send their events': async (t) => {
    await showList(t, FIVE);
    await t.click(() => document.getElementById('chk_56_table').getElementsByTagName('A')[0]);
    await t.click(() => document.getElementById('chk_56_table').getElementsByTagName('A')[1]);
    await t.click(() => document.getElementById('hh_56').getElementsByTagName('IMG')[0]);
    await t.click(() => document.getElementById('ignore_btn_56').getElementsByTagName('SPAN')[0]);
    await t.expectEvents([
      ['WebInfo', '', 56], ['Res_OpenLink', '', 56], ['ErrorWebInfo', '', 'errors_programs'],
      ['Scan_SkipItem', '', 56], ['SaveIgnore', '', ''],
    ]);
    assert.strictEqual(await t.eval(() => document.getElementById('chk_56_table')), null);
    // The group is empty now: its caption and menu link are gone.
    assert.strictEqual(await t.eval(() => document.getElementById('group_Control Panel')), null);
    assert.deepStrictEqual(await menuLinks(t), ['Components Subsystem (2)', 'Associations (2)']);
    assert.strictEqual(await t.text('totalCount'), '4');
  },

  'toolbar buttons and ignoring every checked row': async (t) => {
    await showList(t, FIVE);
    for (const id of ['ignoreButton', 'saveButton', 'copyButton', 'againButton']) await t.click(id);
    await t.expectEvents([['IgnoreSelected', '', ''], ['SaveReport', '', ''], ['CONTROL_C', '', ''], ['Scan_Again', '', '']]);
    await t.click('chk_34_parent');
    await t.exec('AddAllSelectedToIgnore()');
    await t.expectEvents([
      ['Scan_SkipItem', '', 12], ['Scan_SkipItem', '', 56], ['Scan_SkipItem', '', 78], ['Scan_SkipItem', '', 90], ['SaveIgnore', '', ''],
    ]);
    assert.strictEqual(await t.text('totalCount'), '1');
    assert.strictEqual(await t.text('fixCount'), '0');
    assert.strictEqual(await t.eval(() => document.getElementById('FixButton').disabled), true);
    await t.exec('DisableToolbars();');
    await t.click('chk_34_parent');
    await t.click(() => document.getElementById('ignore_btn_34').getElementsByTagName('SPAN')[0]);
    assert.strictEqual(await t.text('fixCount'), '1');
    await t.expectEvents([]);
  },

  'an empty result shows no list and cannot fix': async (t) => {
    await showList(t, []);
    assert.strictEqual(await t.eval(() => document.getElementById('view').innerHTML), '');
    assert.deepStrictEqual(await menuLinks(t), []);
    assert.strictEqual(await t.visible('noIssues'), true);
    assert.strictEqual(await t.eval(() => document.getElementById('FixButton').disabled), true);
  },

  'hostile registry names show as text and run nothing': async (t) => {
    const records = HOSTILE.map((name, i) => record(100 + i, 1 << (i % 8), name, { value: name }));
    await showList(t, records);
    const shown = await t.eval(() => {
      var out = [];
      var tables = document.getElementById('view').getElementsByTagName('TABLE');
      for (var i = 0; i < tables.length; i++) {
        if (tables[i].className !== 'elem') continue;
        var links = tables[i].getElementsByTagName('A');
        var details = tables[i].getElementsByTagName('DIV')[1];
        out[parseInt(tables[i].id.substring(4), 10) - 100] = { item: links[0].firstChild ? links[0].firstChild.nodeValue : '', itemNodes: links[0].childNodes.length,
          value: details.innerText, elements: tables[i].getElementsByTagName('*').length };
      }
      return out;
    });
    assert.strictEqual(shown.length, HOSTILE.length);
    const expectedElements = shown[0].elements;
    HOSTILE.forEach((name, i) => {
      const text = name.replace(/\r/g, '[CR]').replace(/\n/g, '[LF]');
      assert.strictEqual(shown[i].itemNodes, 1, `item ${i} is one text node`);
      assert.strictEqual(shown[i].item, text, `item ${i}`);
      assert.ok(shown[i].value.indexOf(text) >= 0, `value ${i}`);
      assert.strictEqual(shown[i].elements, expectedElements, `row ${i} has only the generated elements`);
    });
    await t.screenshot('hostile');
    await t.expectEvents([]);
  },

  'the rows the program recorded are the ones this suite builds': async (t) => {
    const golden = require('./goldens/scanResults/two_rows.json');
    const built = resultsScripts([
      { fixId: 7, union: 4, problem: 'Cannot find registered shared DLL', detail: 'File not found', item: "C:\\a'b", value: '', topic: 'errors_shared_dlls' },
      { fixId: 8, union: 4, problem: 'Cannot find registered shared DLL', detail: '', item: 'x', value: 'y', topic: 'errors_shared_dlls' },
    ]);
    assert.strictEqual(golden[1].text, built[2].text);
    assert.strictEqual(golden[2].text, built[3].text);
    await t.open('scanResults.htm');
    await t.replay('scanResults/two_rows');
    await t.events();
  },
});
