'use strict';
// Replays in the real pages the texts that the main view test recorded from
// the registered engine, scan to fix, over planted faults with hostile names
// (build/tests/pages/recorded, written by test_app_main_view): every name
// shows as text, no row holds more than the generated elements, and only the
// clicks made here reach window.external.
const fs = require('fs');
const path = require('path');
const { pageSuite, assert } = require('./harness/harness');
const { showBreaks } = require('./support/programScripts');

const dir = process.env.ORVANE_RECORDED_DIR;
const read = (name) => JSON.parse(fs.readFileSync(path.join(dir, name), 'utf8'));
const expected = read('expected.json');

async function replay(t, name) {
  const scripts = read(name);
  for (const s of scripts) await t.exec(s.text, s.language);
  return scripts;
}

// The results list shows line breaks as [CR] and [LF], and every other
// character of a name as it is.
const shownItem = (item) => item.replace(/\r/g, '[CR]').replace(/\n/g, '[LF]');

const elementCount = (t) => t.eval(() => document.getElementsByTagName('*').length);

pageSuite(__filename, {
  'the scan progress shows each finding and goes on to the results': async (t) => {
    await t.open('ScanProgress.htm', 'unions=172');
    await t.events();
    const before = await elementCount(t);
    const scripts = await replay(t, 'ScanProgress.json');
    const found = scripts.filter((s) => s.text.indexOf('OnRecordFound(') === 0).length;
    assert.ok(found >= expected.faults.length);
    assert.strictEqual(await t.text('foundTotal'), String(found));
    assert.strictEqual(await elementCount(t), before, 'no element beyond the page');
    await t.waitForEvents(1);
    await t.expectEvents([['Scan_ViewResult', '', '']]);
  },

  'the results list each fault as text and fix all but the unchecked': async (t) => {
    await t.open('scanResults.htm');
    await t.expectEvents([['Scan_InitResult', '', '']]);
    await replay(t, 'scanResults.json');
    const rows = await t.eval(() => {
      var out = {};
      var tables = document.getElementById('view').getElementsByTagName('TABLE');
      for (var i = 0; i < tables.length; i++) {
        if (tables[i].className !== 'elem') continue;
        var link = tables[i].getElementsByTagName('A')[0];
        out[tables[i].id] = { nodes: link.childNodes.length, item: link.firstChild ? link.firstChild.nodeValue : '',
          elements: tables[i].getElementsByTagName('*').length };
      }
      return out;
    });
    // Each fault's row has as many elements as the plain-named fault of its kind.
    const twin = [0, 0, 0, 3, 3, 5, 5, 7, 7];
    const rowOf = (fault) => rows[`chk_${fault.fixId}_table`];
    expected.faults.forEach((fault, i) => {
      const row = rowOf(fault);
      assert.ok(row, `row ${fault.fixId}`);
      assert.strictEqual(row.nodes, 1, `row ${fault.fixId}: one text node`);
      assert.strictEqual(row.item, shownItem(fault.item), `row ${fault.fixId}`);
      assert.strictEqual(row.elements, rowOf(expected.faults[twin[i]]).elements, `row ${fault.fixId}: only the generated elements`);
    });
    assert.strictEqual(await t.text('totalCount'), String(Object.keys(rows).length));
    await t.expectEvents([]);
    await t.screenshot('recorded');

    const hostile = expected.faults[1].fixId;
    await t.click((n) => document.getElementById('chk_' + n + '_table').getElementsByTagName('A')[1], hostile);
    await t.click(`chk_${expected.faults[0].fixId}_parent`);
    await t.click('FixButton');
    await t.expectEvents([['Res_OpenLink', '', hostile], ['Fix', '', ` ${expected.faults[0].fixId}`]]);
  },

  'the fixing page shows the failed faults and opens them exactly': async (t) => {
    await t.open('Fixing.htm', expected.fixingQuery);
    const total = parseInt(expected.fixingQuery, 10);
    await replay(t, 'Fixing.json');
    const failed = expected.faults.filter((f) => f.failed);
    assert.strictEqual(await t.text('fixState'), `Done. ${total - failed.length} issues were fixed, ${failed.length} could not be fixed.`);
    const rows = await t.eval(() => {
      var out = [];
      var divs = document.getElementById('failList').childNodes;
      for (var i = 0; i < divs.length; i++) {
        out.push({ elements: divs[i].getElementsByTagName('*').length, title: divs[i].getElementsByTagName('A')[0].title });
      }
      return out;
    });
    assert.strictEqual(rows.length, failed.length);
    const titleOf = (f) => showBreaks(f.key + (f.value ? '\\' + f.value : ''));
    const order = rows.map((row) => failed.findIndex((f) => titleOf(f) === row.title));
    rows.forEach((row, i) => {
      assert.strictEqual(row.elements, 2, `row ${i}: only the caption and the link`);
      assert.ok(order[i] >= 0, `row ${i}: title ${JSON.stringify(row.title).slice(0, 200)}`);
    });
    for (let i = 0; i < rows.length; i++) {
      await t.click((n) => document.getElementById('failList').childNodes[n].getElementsByTagName('A')[0], i);
    }
    const squot = (s) => s.replace(/'/g, '-=squot=-');
    await t.expectEvents(order.map((k) => ['Res_OpenLink', squot(failed[k].key), squot(failed[k].value)]));
  },
});
