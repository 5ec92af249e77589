'use strict';
const { pageSuite, assert } = require('./harness/harness');

const field = (t, id) => t.eval((i) => document.getElementById(i).value, id);
const checked = (t, id) => t.eval((i) => document.getElementById(i).checked, id);
const disabled = (t, id) => t.eval((i) => document.getElementById(i).disabled, id);

pageSuite(__filename, {
  'loading takes the snapshot and lists the jobs quietly; the query sets the job boxes': async (t) => {
    await t.open('regScheduler.htm', '-1-0-1-false-true');
    await t.expectEvents([
      ['pageLoaded', '', ''],
      ['RSchedulerInitialState', '', ''],
      ['RSchedulerRefreshCompact', 'false', ''],
      ['RSchedulerRefreshBackup', 'false', ''],
      ['RSchedulerRefreshScan', 'false', ''],
    ]);
    assert.deepStrictEqual(
      [await checked(t, 'compactEnabled'), await checked(t, 'backupEnabled'), await checked(t, 'scanEnabled')],
      [true, false, true]);
    assert.strictEqual(await disabled(t, 'compactEnabled'), false);
    assert.strictEqual(await t.visible('compactUnavailable'), false);
    assert.ok(await t.visible('mainTable'));
    assert.strictEqual(await disabled(t, 'apply'), true);
  },

  'without compaction requests the compaction job cannot be set': async (t) => {
    await t.open('regScheduler.htm', '-0-0-0-false-false');
    await t.events();
    assert.strictEqual(await disabled(t, 'compactEnabled'), true);
    assert.strictEqual(await disabled(t, 'compactOptions'), true);
    assert.strictEqual(await t.visible('compactUnavailable'), true);
  },

  'fields the program fills show hostile texts as text and run nothing': async (t) => {
    await t.open('regScheduler.htm', '-0-0-0-false-true');
    await t.events();
    await t.replay('regScheduler/fields');
    assert.strictEqual(await field(t, 'mailAddress'), '"; alert(1); //');
    assert.strictEqual(await field(t, 'mailServer'), '</script><b>x</b>');
    assert.deepStrictEqual(
      [await checked(t, 'mailSwitch'), await checked(t, 'scanThreshold'), await checked(t, 'autoFix'),
        await checked(t, 'autoReboot')],
      [true, false, true, false]);
    await t.expectEvents([]);
  },

  'trigger lists show the texts as text, and a job without triggers as not scheduled': async (t) => {
    await t.open('regScheduler.htm', '-1-0-0-false-true');
    await t.events();
    await t.replay('regScheduler/triggers');
    assert.strictEqual(await t.text('compactTriggers'), "<b>'x'</b>\nAt 01:40 every 4 weeks");
    assert.strictEqual(await t.text('backupTriggers'), 'Not scheduled');
    assert.strictEqual(await t.text('scanTriggers'), 'Schedule 1');
    await t.exec('RefreshCompact();', 'JScript');
    await t.expectEvents([['RSchedulerRefreshCompact', '', '']]);
    assert.strictEqual(await t.text('compactTriggers'), '');
  },

  'the controls send their events': async (t) => {
    await t.open('regScheduler.htm', '-1-0-0-false-true');
    await t.events();
    await t.click('compactEnabled');
    await t.click('backupEnabled');
    await t.eval(() => { document.getElementById('scanType').selectedIndex = 2; });
    await t.click('scanOptions');
    await t.click('autoFix');
    await t.click('autoReboot');
    await t.click('mailSwitch');
    await t.click('scanThreshold');
    await t.expectEvents([
      ['RSchedulerEnableCompact', '', false],
      ['RSchedulerEnableBackup', '', true],
      ['RSchedulerScanOptions', '', 2],
      ['AutoFix', '', true],
      ['AutoReboot', '', true],
      ['MailSwitch', '', true],
      ['ScanThreshold', '', true],
    ]);
    await t.click('mailAddress');
    await t.page.keyboard.type('me@example.com');
    await t.click('mailServer');
    await t.expectEvents([['SetMail', '', 'me@example.com']]);
    await t.click('testMail');
    await t.expectEvents([['SetMail', '', 'me@example.com'], ['SetMailServer', '', ''], ['TestMail', '', '']]);
    // The program enables "apply" while the page holds changes.
    await t.eval(() => { document.getElementById('apply').disabled = false; });
    await t.click('apply');
    await t.expectEvents([
      ['SetMail', '', 'me@example.com'], ['SetMailServer', '', ''], ['configurationChanged', '', 'apply']]);
    await t.exec('CheckMail();', 'JScript');
    await t.expectEvents([['SetMail', '', 'me@example.com'], ['SetMailServer', '', '']]);
  },
});
