'use strict';
// Every golden the C++ page tests record (goldens/<page>/<case>.json, where
// <page>.htm is the page) replays in its page: each text parses as ES3 and
// runs without an error. Cases that check what a golden shows live in the
// page's own test file.
const fs = require('fs');
const path = require('path');
const { pageSuite } = require('./harness/harness');

const root = path.join(__dirname, 'goldens');
const cases = {};
for (const page of fs.existsSync(root) ? fs.readdirSync(root).sort() : []) {
  const dir = path.join(root, page);
  if (!fs.statSync(dir).isDirectory()) continue;
  for (const file of fs.readdirSync(dir).filter((f) => f.endsWith('.json')).sort()) {
    cases[`${page}/${file}`] = async (t) => {
      await t.open(`${page}.htm`);
      await t.replay(`${page}/${file}`);
      await t.events();
    };
  }
}
// Without goldens yet, the page files named by the folders still exist.
cases['every golden folder names a page of the package'] = async (t) => {
  for (const page of fs.existsSync(root) ? fs.readdirSync(root) : []) {
    if (!fs.existsSync(path.join(t.ui, `${page}.htm`))) throw new Error(`goldens/${page}: no page ${page}.htm in the package`);
  }
};
pageSuite(__filename, cases);
