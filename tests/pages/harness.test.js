'use strict';
// The harness itself: every kind of fault fails a case, and sound pages pass.
const { pageSuite, assert, assertEs3 } = require('./harness/harness');
const path = require('path');
const { checkScript, lintFolder } = require('./harness/es3');

async function problemsOf(t, call) {
  await t.openFixture('faults.htm');
  await t.takeProblems();
  await t.page.evaluate((c) => {
    try {
      (0, eval)(c);
    } catch (e) {
      setTimeout(function () { throw e; }, 0);
    }
  }, call);
  // A failed load or a late error reaches the harness in its own time: a
  // busy machine may need longer than the first look allows.
  const problems = [];
  const end = Date.now() + 3000;
  await new Promise((r) => setTimeout(r, 150));
  problems.push(...(await t.takeProblems()));
  while (!problems.length && Date.now() < end) {
    await new Promise((r) => setTimeout(r, 50));
    problems.push(...(await t.takeProblems()));
  }
  return problems.join('\n');
}

pageSuite(__filename, {
  'IE 7 traps tell array from string methods': async (t) => {
    assert.match(await problemsOf(t, 'useForEach()'), /Array\.prototype\.forEach/);
    assert.match(await problemsOf(t, 'useArrayIndexOf()'), /Array\.prototype\.indexOf/);
    assert.strictEqual(await problemsOf(t, 'useStringIndexOf()'), '');
    assert.match(await problemsOf(t, 'useJson()'), /JSON\.stringify/);
    assert.match(await problemsOf(t, 'useTextContent()'), /textContent/);
  },

  'errors, dialogs, remote requests and unnamed events are caught': async (t) => {
    assert.match(await problemsOf(t, 'throwError()'), /broken page/);
    assert.match(await problemsOf(t, 'openDialog()'), /dialog alert: hello/);
    assert.match(await problemsOf(t, 'fetchRemote()'), /request for http:\/\/127\.0\.0\.1:9/);
    assert.match(await problemsOf(t, 'loadMissing()'), /missing\.gif/);
    assert.match(await problemsOf(t, 'sendUnnamed()'), /E_NOTIMPL/);
    await t.events();
  },

  'events are recorded with their arguments and must all be taken': async (t) => {
    await t.openFixture('faults.htm');
    await t.exec("send('One'); send('Two');");
    const got = await t.expectEvents([['One', 'el', 7], ['Two', 'el', 7]]);
    assert.strictEqual(got[0].paramType, 'number');
    await t.exec("send('Three');");
    const problems = await t.finish();
    assert.deepStrictEqual(problems, ['event not taken by the case: Three (el, 7)']);
    problems.length = 0;
  },

  'script texts must be ES3': async () => {
    assert.throws(() => assertEs3('var a = {b: 1,};', 'x'), /not valid on IE 7/);
    assert.throws(() => assertEs3("var s = 'a\u2028b';", 'x'), /not valid on IE 7/);
    assert.throws(() => assertEs3('x.class = 1;', 'x'), /not valid on IE 7/);
    assertEs3("OnRecordFound(1, 305, 'C:\\\\a');", 'x');
    assert.match(checkScript('document.querySelector("a");', 'x', 'program').join(), /querySelector/);
    assert.match(checkScript('var a = [1, 2, ];', 'x', 'program').join(), /trailing comma/);
  },
  'the package check finds hidden ids and bad handlers': async () => {
    const { problems } = lintFolder(path.join(__dirname, 'fixtures'));
    const text = problems.join('\n');
    assert.match(text, /shadow\.htm: id "view" is also a global/);
    assert.match(text, /shadow\.htm:8\(onclick\): not ES3/);
    assert.match(text, /faults\.htm:3\(script\):3:\d+: IE 7 has no \.forEach/);
  },
});
