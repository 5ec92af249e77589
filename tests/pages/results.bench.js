'use strict';
// Prints how long Chromium takes to show 10,000 findings on the results page
// from the program's scripts (list, menu, counters). Not a test:
//   ORVANE_UI_PACKAGE=build/qnguires.qna NODE_PATH=build/tests/pages/node_modules \
//     [BENCH_COUNT=n] [BENCH_SCRIPTS=texts.json] node tests/pages/results.bench.js
// BENCH_SCRIPTS replays the texts the program recorded (scripts/benchmark-results)
// instead of the ones this suite builds.
const fs = require('fs');
const { pageSuite, assert } = require('./harness/harness');
const { resultsScripts } = require('./support/programScripts');

const recorded = process.env.BENCH_SCRIPTS ? JSON.parse(fs.readFileSync(process.env.BENCH_SCRIPTS, 'utf8')) : null;
const counters = recorded && recorded.map((s) => /^InitCounters\((\d+),/.exec(s.text)).filter(Boolean)[0];
const count = counters ? parseInt(counters[1], 10) : parseInt(process.env.BENCH_COUNT || '10000', 10);
const unions = [1, 2, 4, 8, 16, 32, 64, 128];

pageSuite(__filename.replace(/\.bench\.js$/, '.test.js'), {
  [`${count} findings`]: async (t) => {
    const records = [];
    for (let i = 1; !recorded && i <= count; i++) {
      records.push({ fixId: i, union: unions[i % 8], item: `HKCR\\CLSID\\{${i}}\\InprocServer32`, problem: 'Invalid Class Identifier',
        detail: 'File not found', value: `C:\\Program Files\\Gone\\lib${i}.dll`, topic: 'errors_class_id' });
    }
    const scripts = recorded || resultsScripts(records);
    await t.open('scanResults.htm');
    await t.events();
    const started = process.hrtime.bigint();
    let script = 0;
    let layout = 0;
    for (const s of scripts) {
      // Time in the page: the script with the HTML it parses, then the layout
      // it leaves (sending 25 MiB through the driver is not counted there).
      const [run, lay] = await t.page.evaluate((code) => {
        var s = performance.now();
        (0, eval)(code);
        var m = performance.now();
        var h = document.body.offsetHeight;
        return [m - s, performance.now() - m + h * 0];
      }, s.text);
      script += run;
      layout += lay;
    }
    const ms = Number(process.hrtime.bigint() - started) / 1e6;
    const scriptBytes = scripts.reduce((a, s) => a + s.text.length, 0);
    assert.strictEqual(await t.text('totalCount'), String(count));
    console.log(`results page: ${count} findings, ${(scriptBytes / 1e6).toFixed(1)} million characters of script: ` +
      `${script.toFixed(0)} ms script and HTML, ${layout.toFixed(0)} ms layout in the page, ${(script + layout).toFixed(0)} ms in all; ` +
      `${ms.toFixed(0)} ms through the driver`);
  },
});
