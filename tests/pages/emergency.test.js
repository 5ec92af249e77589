'use strict';
const { pageSuite, assert } = require('./harness/harness');

const value = (t, id) => t.eval((i) => document.getElementById(i).value, id);
const disabled = (t, id) => t.eval((i) => document.getElementById(i).disabled, id);

async function loaded(t) {
  await t.open('emergency.htm');
  await t.expectEvents([['Emergency_OnLoad', '', '']]);
  await t.replay('emergency/onload');
}

pageSuite(__filename, {
  'the folders the program fills in and the build request with its three paths': async (t) => {
    await loaded(t);
    assert.strictEqual(await value(t, 'PEBuilderPath'), 'C:\\orvane-boot\\Bob\'s PE Builder\\');
    assert.strictEqual(await value(t, 'WinPath'), 'C:\\orvane-boot\\win src\\');
    assert.strictEqual(await t.visible('burnPart'), false);
    await t.click('browseBuilder');
    await t.click('browseWindows');
    await t.click('browseIso');
    await t.exec("SetISOFile('C:\\\\iso out\\\\it\\'s.iso');", 'JavaScript');
    assert.strictEqual(await value(t, 'ISOFile'), 'C:\\iso out\\it\'s.iso');
    await t.click('buildButton');
    await t.expectEvents([
      ['BrowseForFolder', '', 'PEBuilderPath'],
      ['BrowseForFolder', '', 'WinPath'],
      ['BrowseForFile', '', ''],
      ['OnEmergencyDisk', '', 'C:\\orvane-boot\\Bob\'s PE Builder\\\nC:\\iso out\\it\'s.iso\nC:\\orvane-boot\\win src\\'],
    ]);
  },

  'a finished build offers burning; devices are listed as text and burned by their index': async (t) => {
    await loaded(t);
    await t.exec('DisableToolbars();', 'JavaScript');
    assert.strictEqual(await disabled(t, 'buildButton'), true);
    await t.replay('emergency/built');
    assert.strictEqual(await disabled(t, 'buildButton'), false);
    assert.strictEqual(await t.visible('burnPart'), true);
    assert.strictEqual(await disabled(t, 'burnButton'), true);
    await t.eval(() => { document.getElementById('CDRecordPath').value = 'C:\\cd tools'; });
    await t.click('burnCheck');
    await t.expectEvents([['BurnSelected', '', 'C:\\cd tools']]);
    await t.replay('emergency/devices');
    const options = await t.eval(() => {
      var list = document.getElementById('selectDevice');
      var texts = [];
      for (var i = 0; i < list.options.length; i++) texts.push(list.options[i].text);
      return [texts, list.disabled, document.getElementById('burnOpts').disabled];
    });
    assert.deepStrictEqual(options, [[
      'HL-DT-ST DVDRAM GSA-H42L SL01 Removable CD-ROM',
      'O&lt;b&gt;Neil "Optics" DVD-ROM \\ SH-D162C TS02 Removable DVD-ROM',
    ], false, false]);
    assert.strictEqual(await t.eval(() => document.getElementsByTagName('b').length), 0);
    await t.eval(() => { document.getElementById('selectDevice').selectedIndex = 1; });
    await t.click('deleteCheck');
    await t.click('burnButton');
    await t.expectEvents([['BurnCD', '', 'C:\\cd tools\n\n1\ntrue\ntrue']]);
    await t.replay('emergency/burn');
    assert.strictEqual(await t.text('consoleOutput'), 'Please, wait...\n' +
      'Starting to write CD/DVD at speed 48 in real TAO mode for single session.\n' +
      'Track 01:    0 of    1 MB written.        \nTrack 01:    1 of    1 MB written (fifo 100%) [buf  99%]\t48.0x.\n' +
      'Fixating...\nFixating time:\n5.021s\nEjecting &lt;tray&gt;\ncdrecord: \'done\'\n');
    assert.strictEqual(await t.visible('AllFinish'), true);
    assert.strictEqual(await disabled(t, 'burnButton'), false);
  },

  'a failed device scan switches burning off; burning without a scan sends no index': async (t) => {
    await loaded(t);
    await t.replay('emergency/built');
    await t.click('burnCheck');
    await t.expectEvents([['BurnSelected', '', '']]);
    await t.exec('OnNotBurnCDCheck();', 'JavaScript');
    assert.strictEqual(await t.eval(() => document.getElementById('burnCheck').checked), false);
    assert.strictEqual(await disabled(t, 'selectDevice'), true);
    assert.strictEqual(await disabled(t, 'burnButton'), true);
    await t.click('burnCheck');
    await t.eval(() => { document.getElementById('ejectCheck').checked = false; });
    await t.click('burnButton');
    await t.expectEvents([['BurnSelected', '', ''], ['BurnCD', '', '\n\n\nfalse\nfalse']]);
  },
});
