'use strict';
const { pageSuite, assert } = require('./harness/harness');
const { failureRow, showBreaks } = require('./support/programScripts');
const { HOSTILE } = require('./support/hostile');

pageSuite(__filename, {
  'progress to the end; the side bar then says FROM_DONE': async (t) => {
    await t.open('Fixing.htm', '3');
    await t.click('outBar_Undo');
    await t.expectEvents([['OutBarItemClicked', '', 'Undo']]);
    for (const n of [0, 1, 2]) {
      await t.exec(`OnFixProgress(${n});`);
      assert.strictEqual(await t.text('fixState'), `Fixing issue ${n + 1} of 3...`);
    }
    await t.exec('OnFixFinish(0);');
    assert.strictEqual(await t.text('fixState'), 'Done. 3 issues were fixed.');
    assert.strictEqual(await t.eval(() => document.getElementById('fixBar').style.width), '220px');
    await t.click('outBar_RegistryScan');
    await t.click('backButton');
    await t.expectEvents([['OutBarItemClicked', 'FROM_DONE', 'RegistryScan'], ['OutBarItemClicked', 'FROM_DONE', 'RegistryScan']]);
  },

  'nothing to fix is done at once': async (t) => {
    await t.open('Fixing.htm', '0');
    assert.strictEqual(await t.text('fixState'), 'There is nothing to fix.');
    await t.click('outBar_RegistryScan');
    await t.expectEvents([['OutBarItemClicked', 'FROM_DONE', 'RegistryScan']]);
  },

  'failure rows show hostile names as text and open them exactly': async (t) => {
    await t.open('Fixing.htm', String(HOSTILE.length + 1));
    await t.exec('OnFixProgress(0);');
    await t.exec(failureRow('Access is denied.', 'HKCU\\Software\\OrvaneTest\\A b', "it's"), 'JavaScript');
    for (let i = 0; i < HOSTILE.length; i++) {
      await t.exec(`OnFixProgress(${i + 1});`);
      await t.exec(failureRow('Access is denied.', 'HKCU\\Software\\' + HOSTILE[i], HOSTILE[i]), 'JavaScript');
    }
    await t.exec('OnFixFinish(0);');
    assert.strictEqual(await t.text('fixState'), `Done. 0 issues were fixed, ${HOSTILE.length + 1} could not be fixed.`);
    const rows = await t.eval(() => {
      var out = [];
      var divs = document.getElementById('failList').childNodes;
      for (var i = 0; i < divs.length; i++) {
        var link = divs[i].getElementsByTagName('A')[0];
        out.push({ elements: divs[i].getElementsByTagName('*').length, title: link.title, text: divs[i].innerText });
      }
      return out;
    });
    assert.strictEqual(rows.length, HOSTILE.length + 1);
    assert.deepStrictEqual(rows[0], { elements: 2, title: "HKCU\\Software\\OrvaneTest\\A b\\it's", text: 'Error:\u00a0Access is denied.\u00a0\u00a0Go to issue' });
    rows.slice(1).forEach((row, i) => {
      assert.strictEqual(row.elements, 2, `row ${i}: only the bold caption and the link`);
      assert.strictEqual(row.title, showBreaks(`HKCU\\Software\\${HOSTILE[i]}\\${HOSTILE[i]}`), `title ${i}`);
    });
    for (let i = 0; i <= HOSTILE.length; i++) {
      await t.click((n) => document.getElementById('failList').childNodes[n].getElementsByTagName('A')[0], i);
    }
    const squot = (s) => s.replace(/'/g, '-=squot=-');
    await t.expectEvents([['Res_OpenLink', 'HKCU\\Software\\OrvaneTest\\A b', 'it-=squot=-s']]
      .concat(HOSTILE.map((h) => ['Res_OpenLink', squot('HKCU\\Software\\' + h), squot(h)])));
    await t.screenshot('failures');
  },

  'the failure row the program recorded is the one this suite builds': async (t) => {
    const golden = require('./goldens/Fixing/hostile_failure.json');
    const hostile = "it's \"q\" </script>&quot;&#39;\r\n\u2028\u2029%s%n";
    assert.strictEqual(golden[0].text, failureRow('Access <denied>', "HKLM\\SOFTWARE\\x'y", hostile));
    await t.open('Fixing.htm', '1');
    await t.replay('Fixing/hostile_failure');
    const link = await t.eval(() => document.getElementById('failList').getElementsByTagName('A')[0].title);
    assert.strictEqual(link, "HKLM\\SOFTWARE\\x'y\\" + showBreaks(hostile));
    await t.click(() => document.getElementById('failList').getElementsByTagName('A')[0]);
    await t.expectEvents([['Res_OpenLink', 'HKLM\\SOFTWARE\\x-=squot=-y', hostile.replace(/'/g, '-=squot=-')]]);
  },
});
