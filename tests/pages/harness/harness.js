'use strict';
// Chromium tests of the UI package's pages. A test file calls
//
//   pageSuite(__filename, { 'case name': async (t) => { ... }, ... });
//
// and each case gets a fresh tab of one headless Chromium. The pages come
// out of the built package (qnguires.qna) through the Python reader, are
// opened from file:, and find the host control's stand-in as window.external.
// A case fails on a page or console error, a dialog, a request for anything
// but a file, an API that IE 7 lacks, script that is not ES3, or an event the
// case did not take with t.events()/t.expectEvents(). A screenshot of every
// case is kept in the build tree.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const puppeteer = require('puppeteer-core');
const { checkScript } = require('./es3');

const HERE = __dirname;
const PACKAGE = process.env.ORVANE_UI_PACKAGE;
const OUT_ROOT = process.env.ORVANE_PAGES_OUT || path.join(os.tmpdir(), 'orvane-pages');
const GOLDENS = path.join(HERE, '..', 'goldens');
const RUNTIME = fs.readFileSync(path.join(HERE, 'runtime.js'), 'utf8');

function chromiumPath() {
  if (process.env.CHROMIUM) return process.env.CHROMIUM;
  // Debian's /usr/bin/chromium is a shell wrapper; the binary takes our flags as they are.
  for (const p of ['/usr/lib/chromium/chromium', '/usr/bin/chromium']) if (fs.existsSync(p)) return p;
  throw new Error('chromium is not installed (scripts/install-deps installs it)');
}

// Extracts the package into a fresh folder of the suite; returns its path.
function extractPackage(outDir) {
  if (!PACKAGE || !fs.existsSync(PACKAGE)) throw new Error(`UI package not found: ${PACKAGE} (build target uipackage)`);
  const ui = path.join(outDir, 'ui');
  fs.rmSync(ui, { recursive: true, force: true });
  fs.mkdirSync(ui, { recursive: true });
  execFileSync('/usr/bin/python3', [path.join(HERE, 'qna.py'), 'extract', PACKAGE, ui], { stdio: 'inherit' });
  return ui;
}

// The address ShowPage builds: the query follows a '#' (or '&' when the page
// name has one already), not doubled when the query starts with it.
function pageUrl(uiDir, page, query) {
  let url = 'file://' + path.join(uiDir, page);
  if (query) {
    const sep = url.includes('#') ? '&' : '#';
    url += query[0] === sep ? query : sep + query;
  }
  return url;
}

// Script text the program hands to the page must be ES3 too (IE parses it).
function assertEs3(text, where) {
  const problems = checkScript(text, where, 'program');
  assert.deepStrictEqual(problems, [], `script text is not valid on IE 7:\n${problems.join('\n')}\n${text.slice(0, 400)}`);
}

class PageCase {
  constructor(browser, ui, shots, name) {
    this.browser = browser;
    this.ui = ui;
    this.shots = shots;
    this.name = name;
    this.problems = [];
    this.page = null;
  }

  async start() {
    const page = await this.browser.newPage();
    this.page = page;
    await page.setViewport({ width: 800, height: 600 });
    await page.evaluateOnNewDocument(RUNTIME);
    await page.setRequestInterception(true);
    page.on('request', (request) => {
      const url = request.url();
      if (url.startsWith('file:') || url === 'about:blank') return request.continue();
      this.problems.push(`request for ${url}`);
      return request.abort();
    });
    page.on('pageerror', (e) => this.problems.push(`page error: ${e.message}`));
    page.on('console', (m) => {
      if (m.type() === 'error' || m.type() === 'warning' || m.type() === 'warn') this.problems.push(`console ${m.type()}: ${m.text()}`);
    });
    page.on('requestfailed', (r) => this.problems.push(`failed to load ${r.url()}: ${r.failure() && r.failure().errorText}`));
    page.on('dialog', (d) => {
      this.problems.push(`dialog ${d.type()}: ${d.message()}`);
      d.dismiss().catch(() => {});
    });
  }

  // Shows a page of the package as the program does, with an optional query.
  async open(pageName, query) {
    const url = pageUrl(this.ui, pageName, query);
    // A new query alone would only move within the page shown (as in IE,
    // where ShowPage goes through about:blank for the page already shown).
    if (this.page.url() !== 'about:blank') await this.page.goto('about:blank');
    await this.page.goto(url, { waitUntil: 'load' });
    this.pageName = pageName;
  }

  // Opens a page of tests/pages/fixtures (for the harness's own test).
  async openFixture(fileName, query) {
    await this.page.goto(pageUrl(path.join(HERE, '..', 'fixtures'), fileName, query), { waitUntil: 'load' });
    this.pageName = fileName;
  }

  // The problems found so far, which then no longer fail the case (for the
  // harness's own test).
  async takeProblems() {
    const left = await this.eval(() => window.__orvane.violations.splice(0, window.__orvane.violations.length));
    return this.problems.splice(0, this.problems.length).concat(left.map((v) => `IE 7 has no ${v}`));
  }

  // Runs a function in the page; IE 7 API traps do not count it.
  async eval(fn, ...args) {
    return this.page.evaluate((source, list) => {
      window.__orvane.depth++;
      try {
        return (0, eval)('(' + source + ')').apply(null, list);
      } finally {
        window.__orvane.depth--;
      }
    }, fn.toString(), args);
  }

  // Runs script text in the page's global scope, as the host control's
  // ExecScript does; the text must parse as ES3.
  async exec(text, language) {
    assert.ok(language === undefined || language === 'JavaScript' || language === 'JScript', `language ${language}`);
    assertEs3(text, `script for ${this.pageName}`);
    await this.page.evaluate((code) => {
      (0, eval)(code);
    }, text);
  }

  // Replays a golden file the C++ page tests record: goldens/<name>.json, an
  // array of {"language", "text"} in the order the program ran them.
  async replay(name) {
    const file = path.join(GOLDENS, name.endsWith('.json') ? name : name + '.json');
    const texts = JSON.parse(fs.readFileSync(file, 'utf8'));
    assert.ok(Array.isArray(texts), `${file}: not an array`);
    for (const entry of texts) await this.exec(entry.text, entry.language);
    return texts;
  }

  // The events the page sent since the last call, as
  // {name, element, param, paramType, document}; taking them marks them seen.
  async events() {
    return this.eval(() => window.__orvane.events.splice(0, window.__orvane.events.length));
  }

  // The events since the last call are exactly these [name, element, param]
  // triples; every event must carry the document as its first argument.
  async expectEvents(expected, message) {
    const got = await this.events();
    for (const e of got) assert.ok(e.document && e.argc === 4, `event ${e.name}: called without document and four arguments`);
    assert.deepStrictEqual(got.map((e) => [e.name, e.element, e.param]), expected, message);
    return got;
  }

  // Waits until the page sent at least count events (bounded).
  async waitForEvents(count, timeoutMs = 5000) {
    await this.waitFor((n) => window.__orvane.events.length >= n, timeoutMs, count);
  }

  // A real mouse click on the element with this id, or on the element that
  // the function (run in the page) returns.
  async click(target, ...args) {
    // Pictures that load late move what they push down: the element is
    // measured once they are all in.
    await this.waitFor(() => {
      var images = document.images;
      for (var i = 0; i < images.length; i++) if (!images[i].complete) return false;
      return true;
    }, 10000);
    const byFunction = typeof target === 'function';
    const box = await this.eval((t, isFunction, list) => {
      var element = isFunction ? (0, eval)('(' + t + ')').apply(null, list) : document.getElementById(t);
      if (!element) return null;
      element.scrollIntoView();
      // A link wrapped over two lines has its middle between them.
      var rects = element.getClientRects();
      var r = rects.length ? rects[0] : element.getBoundingClientRect();
      return { x: r.left + r.width / 2, y: r.top + r.height / 2, w: r.width, h: r.height };
    }, byFunction ? target.toString() : target, byFunction, args);
    assert.ok(box, `nothing to click: ${target}`);
    assert.ok(box.w > 0 && box.h > 0, `not visible, cannot be clicked: ${target}`);
    await this.page.mouse.click(box.x, box.y);
  }

  async press(key) {
    await this.page.keyboard.press(key);
  }

  // What the element shows as text (null when there is no such element).
  async text(id) {
    return this.eval((i) => {
      var e = document.getElementById(i);
      return e ? e.innerText : null;
    }, id);
  }

  async visible(id) {
    return this.eval((i) => {
      var e = document.getElementById(i);
      return !!e && e.getBoundingClientRect().width > 0 && window.getComputedStyle(e).visibility !== 'hidden';
    }, id);
  }

  // Polls fn in the page until it returns true (bounded). Puppeteer's own
  // waiting helpers run script in the page that the IE 7 traps would count.
  async waitFor(fn, timeoutMs = 5000, ...args) {
    const end = Date.now() + timeoutMs;
    for (;;) {
      if (await this.eval(fn, ...args)) return;
      if (Date.now() > end) throw new Error(`timed out waiting for ${fn}`);
      await new Promise((r) => setTimeout(r, 20));
    }
  }

  async screenshot(label) {
    const safe = `${this.name}${label ? '-' + label : ''}`.replace(/[^A-Za-z0-9_.-]+/g, '_');
    await this.page.screenshot({ path: path.join(this.shots, safe + '.png'), fullPage: true });
  }

  // Problems the page showed that the case did not expect.
  async finish() {
    if (this.page && !this.page.isClosed()) {
      const left = await this.eval(() => ({
        events: window.__orvane ? window.__orvane.events : [],
        violations: window.__orvane ? window.__orvane.violations : []
      })).catch(() => ({ events: [], violations: [] }));
      for (const e of left.events) this.problems.push(`event not taken by the case: ${e.name} (${e.element}, ${e.param})`);
      for (const v of left.violations) this.problems.push(`IE 7 has no ${v}`);
      await this.screenshot().catch(() => {});
      await this.page.close();
    }
    return this.problems;
  }
}

// Runs the cases of one test file and exits with the result.
function pageSuite(file, cases) {
  const suite = path.basename(file).replace(/\.test\.js$/, '');
  const only = process.argv[2];
  (async () => {
    const outDir = path.join(OUT_ROOT, suite);
    const shots = path.join(outDir, 'screenshots');
    fs.mkdirSync(shots, { recursive: true });
    const ui = extractPackage(outDir);
    const profile = fs.mkdtempSync(path.join(outDir, 'profile-'));
    const browser = await puppeteer.launch({
      executablePath: chromiumPath(),
      headless: true,
      userDataDir: profile,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        '--disable-dev-shm-usage', '--font-render-hinting=none'],
    });
    let passed = 0;
    let failed = 0;
    try {
      for (const [name, body] of Object.entries(cases)) {
        if (only && !name.includes(only)) continue;
        const t = new PageCase(browser, ui, shots, name);
        let problems;
        try {
          await t.start();
          await body(t);
          problems = await t.finish();
        } catch (e) {
          problems = (await t.finish().catch(() => [])).concat([e && e.stack ? e.stack : String(e)]);
        }
        if (problems.length) {
          failed++;
          console.log(`not ok - ${suite}: ${name}\n  ${problems.join('\n  ')}`);
        } else {
          passed++;
          console.log(`ok - ${suite}: ${name}`);
        }
      }
    } finally {
      await browser.close();
      fs.rmSync(profile, { recursive: true, force: true });
    }
    console.log(`${passed} passed, ${failed} failed`);
    process.exitCode = failed || !passed ? 1 : 0;
  })().catch((e) => {
    console.log(`not ok - ${suite}: ${e && e.stack ? e.stack : e}`);
    process.exitCode = 1;
  });
}

module.exports = { pageSuite, assert, assertEs3, pageUrl };
