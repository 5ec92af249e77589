'use strict';
// Page script must run on the IE 7 engine: ES3 syntax as IE's old parser
// reads it (reserved words not even as property names), and none of the
// later APIs. Syntax is checked by acorn; APIs by name here and at run time
// by the harness's traps (runtime.js), which also tell array from string
// indexOf.
const fs = require('fs');
const path = require('path');
const acorn = require('acorn');

// Names that IE 7 lacks, looked for as property names and as globals.
const DENIED_MEMBERS = new Set([
  'addEventListener', 'removeEventListener', 'dispatchEvent', 'preventDefault', 'stopPropagation',
  'querySelector', 'querySelectorAll', 'getElementsByClassName', 'getComputedStyle',
  'forEach', 'map', 'filter', 'reduce', 'reduceRight', 'some', 'every', 'isArray',
  'keys', 'create', 'defineProperty', 'defineProperties', 'getPrototypeOf', 'freeze',
  'getOwnPropertyNames', 'trim', 'trimLeft', 'trimRight', 'bind', 'now', 'toISOString',
  'textContent', 'classList', 'dataset', 'firstElementChild', 'lastElementChild',
  'nextElementSibling', 'previousElementSibling', 'childElementCount', 'head',
  'localStorage', 'sessionStorage', 'startsWith', 'endsWith', 'includes', 'repeat'
]);
const DENIED_GLOBALS = new Set(['JSON', 'console', 'localStorage', 'sessionStorage', 'Promise', 'Map', 'Set', 'Symbol']);

const PARSE_OPTIONS = { ecmaVersion: 3, allowReserved: 'never', locations: true };

function walk(node, visit) {
  if (!node || typeof node.type !== 'string') return;
  visit(node);
  for (const key of Object.keys(node)) {
    if (key === 'loc') continue;
    const value = node[key];
    if (Array.isArray(value)) value.forEach((v) => walk(v, visit));
    else if (value && typeof value.type === 'string') walk(value, visit);
  }
}

// Problems of one piece of script (an empty list when it is sound).
// kind: 'program', or 'handler' for an event attribute's body.
function checkScript(source, where, kind) {
  const problems = [];
  let ast;
  try {
    ast = acorn.parse(source, Object.assign({ allowReturnOutsideFunction: kind === 'handler' }, PARSE_OPTIONS));
  } catch (e) {
    return [`${where}: not ES3: ${e.message}`];
  }
  const at = (node) => `${where}:${node.loc.start.line}:${node.loc.start.column + 1}`;
  walk(ast, (node) => {
    if (node.type === 'MemberExpression' && !node.computed && DENIED_MEMBERS.has(node.property.name)) {
      problems.push(`${at(node)}: IE 7 has no .${node.property.name}`);
    } else if (node.type === 'Identifier' && DENIED_GLOBALS.has(node.name)) {
      problems.push(`${at(node)}: IE 7 has no ${node.name}`);
    } else if (node.type === 'ArrayExpression' && /,\s*\]$/.test(source.slice(node.start, node.end))) {
      // IE counts the hole after a trailing comma as an element.
      problems.push(`${at(node)}: trailing comma in an array literal`);
    }
  });
  return problems;
}

// Names declared at the top level of a script (vars and functions).
function topLevelNames(source) {
  const names = [];
  let ast;
  try {
    ast = acorn.parse(source, PARSE_OPTIONS);
  } catch (e) {
    return names;
  }
  for (const node of ast.body) {
    if (node.type === 'FunctionDeclaration') names.push(node.id.name);
    if (node.type === 'VariableDeclaration') node.declarations.forEach((d) => names.push(d.id.name));
  }
  return names;
}

function decodeEntities(text) {
  return text.replace(/&(#x[0-9a-f]+|#[0-9]+|quot|amp|lt|gt|apos|nbsp);/gi, (all, code) => {
    const lower = code.toLowerCase();
    if (lower[0] === '#') return String.fromCharCode(lower[1] === 'x' ? parseInt(lower.slice(2), 16) : parseInt(lower.slice(1), 10));
    return { quot: '"', amp: '&', lt: '<', gt: '>', apos: "'", nbsp: '\u00a0' }[lower];
  });
}

const TAG = /<([a-zA-Z][^\s>\/]*)((?:\s+[^\s=>]+(?:\s*=\s*(?:"[^"]*"|'[^']*'|[^\s>]+))?)*)\s*\/?>/g;
const ATTRIBUTE = /([^\s=>]+)(?:\s*=\s*("[^"]*"|'[^']*'|[^\s>]+))?/g;

function attributesOf(text) {
  const result = [];
  let m;
  ATTRIBUTE.lastIndex = 0;
  while ((m = ATTRIBUTE.exec(text))) {
    let value = m[2] === undefined ? '' : m[2];
    if (value[0] === '"' || value[0] === "'") value = value.slice(1, -1);
    result.push([m[1].toLowerCase(), decodeEntities(value)]);
  }
  return result;
}

// The script of an HTML file: script blocks, event attributes, javascript:
// links, the files it includes, and its element ids.
function pageScripts(file) {
  const html = fs.readFileSync(file, 'latin1');
  const blocks = [];
  const handlers = [];
  const includes = [];
  const ids = [];
  const lineOf = (index) => html.slice(0, index).split('\n').length;
  const withoutScripts = html.replace(/<script\b([^>]*)>([\s\S]*?)<\/script\s*>/gi, (all, attrs, body, index) => {
    const src = attributesOf(attrs).find(([name]) => name === 'src');
    if (src) includes.push(src[1]);
    else blocks.push({ source: body, where: `${file}:${lineOf(index)}(script)` });
    return attrs.replace(/[^\n]/g, '') + '<script></script>' + body.replace(/[^\n]/g, '');
  });
  let tag;
  TAG.lastIndex = 0;
  while ((tag = TAG.exec(withoutScripts))) {
    for (const [name, value] of attributesOf(tag[2])) {
      const where = `${file}:${withoutScripts.slice(0, tag.index).split('\n').length}(${name})`;
      if (/^on/.test(name) && name !== 'onclickevent') handlers.push({ source: value, where });
      if ((name === 'href' || name === 'src') && /^\s*javascript:/i.test(value)) {
        handlers.push({ source: value.replace(/^\s*javascript:/i, ''), where });
      }
      if (name === 'id') ids.push(value);
    }
  }
  return { blocks, handlers, includes, ids };
}

// Every problem of the script in a folder of pages.
function lintFolder(folder) {
  const problems = [];
  const files = [];
  (function collect(dir) {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const full = path.join(dir, entry.name);
      if (entry.isDirectory()) collect(full);
      else files.push(full);
    }
  })(folder);
  const scriptNames = {};
  for (const file of files.filter((f) => /\.js$/i.test(f))) {
    const source = fs.readFileSync(file, 'latin1');
    problems.push(...checkScript(source, file, 'program'));
    scriptNames[path.resolve(file)] = topLevelNames(source);
  }
  let pages = 0;
  for (const file of files.filter((f) => /\.html?$/i.test(f))) {
    pages++;
    const { blocks, handlers, includes, ids } = pageScripts(file);
    const globals = {};
    for (const block of blocks) {
      problems.push(...checkScript(block.source, block.where, 'program'));
      topLevelNames(block.source).forEach((n) => (globals[n] = block.where));
    }
    for (const handler of handlers) problems.push(...checkScript(handler.source, handler.where, 'handler'));
    for (const include of includes) {
      const full = path.resolve(path.dirname(file), include);
      if (!scriptNames[full]) problems.push(`${file}: includes ${include}, which the package lacks`);
      else scriptNames[full].forEach((n) => (globals[n] = globals[n] || include));
    }
    // IE makes every id a global; a variable of the same name hides the
    // element from the program's script (or throws on assignment).
    for (const id of ids) {
      if (globals[id]) problems.push(`${file}: id "${id}" is also a global declared in ${globals[id]}`);
    }
  }
  return { problems, pages, scripts: Object.keys(scriptNames).length };
}

module.exports = { checkScript, lintFolder, pageScripts, topLevelNames };
