'use strict';
const { pageSuite, assert } = require('./harness/harness');

async function loaded(t) {
  await t.open('scanStart.htm');
  await t.expectEvents([['ShowNews', '', '']]);
}

// As the program's reply scripts stand (see the update check's C++ test).
const LINKED = 'license_middle.innerHTML = "Version 4.1 is out: [<a href=\\"javascript:;\\" onClick=\\"GoUpdateOnline(\\\'http://127.0.0.1:8080/get?a=1&amp;b=2\\\');\\">http://127.0.0.1:8080/get?a=1&amp;b=2</a>] now"';
const HOSTILE = 'license_middle.innerHTML = "Get it [x\\\');alert(1);//] \\"b\\" &lt;img src=x onerror=alert(1)&gt;"';
const WAITING = 'license_middle.innerHTML = "Please wait...<img src=\\"prog.gif\\" width=25px height=25px></img>"';
const CHECK_LINK = 'checkStr.innerHTML = "<a href=\\"javascript:;\\" onClick=\\"CheckForUpdates();\\">Check for updates</a>"';

pageSuite(__filename, {
  'a check asks the program once; its reply link opens through the program': async (t) => {
    await loaded(t);
    await t.click(() => document.getElementById('checkStr').getElementsByTagName('A')[0]);
    await t.expectEvents([['CheckUpdates', '', '']]);
    assert.strictEqual(await t.eval(() => checking), true);
    // The program's waiting text and its picture, which the package holds.
    await t.exec(WAITING);
    await t.waitFor(() => document.getElementById('license_middle').getElementsByTagName('IMG')[0].complete);
    assert.strictEqual(await t.eval(() => document.getElementById('license_middle').getElementsByTagName('IMG')[0].naturalWidth), 25);
    await t.exec(CHECK_LINK);
    await t.exec(LINKED);
    await t.exec('checking = false');
    assert.strictEqual(await t.text('license_middle'), 'Version 4.1 is out: [http://127.0.0.1:8080/get?a=1&b=2] now');
    await t.click(() => document.getElementById('license_middle').getElementsByTagName('A')[0]);
    await t.expectEvents([['GoWWW', '', 'http://127.0.0.1:8080/get?a=1&b=2']]);
  },

  'a hostile reply is shown as text and cancel reaches the program': async (t) => {
    await loaded(t);
    await t.click(() => document.getElementById('checkStr').getElementsByTagName('A')[0]);
    await t.click(() => document.getElementById('checkStr').getElementsByTagName('A')[0]);
    await t.expectEvents([['CheckUpdates', '', ''], ['CancelUpdates', '', '']]);
    await t.exec(HOSTILE);
    assert.strictEqual(await t.eval(() => document.getElementById('license_middle').getElementsByTagName('*').length), 0);
    assert.strictEqual(await t.text('license_middle'), 'Get it [x\');alert(1);//] "b" <img src=x onerror=alert(1)>');
    await t.click('supportLink');
    await t.expectEvents([['SubmitTicketOnline', '', '']]);
  },
});
