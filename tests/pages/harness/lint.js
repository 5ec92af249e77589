'use strict';
// Checks every script of the UI package: node lint.js (package from
// ORVANE_UI_PACKAGE, or a folder as the argument).
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { lintFolder } = require('./es3');

let folder = process.argv[2];
if (!folder) {
  const out = path.join(process.env.ORVANE_PAGES_OUT || os.tmpdir(), 'lint');
  folder = path.join(out, 'ui');
  fs.rmSync(folder, { recursive: true, force: true });
  fs.mkdirSync(folder, { recursive: true });
  execFileSync('/usr/bin/python3', [path.join(__dirname, 'qna.py'), 'extract', process.env.ORVANE_UI_PACKAGE, folder], { stdio: 'inherit' });
}
const { problems, pages, scripts } = lintFolder(folder);
problems.forEach((p) => console.log(p));
console.log(`ES3 check: ${pages} pages, ${scripts} script files`);
console.log(`${problems.length ? 0 : 1} passed, ${problems.length ? 1 : 0} failed`);
process.exitCode = problems.length || !pages ? 1 : 0;
