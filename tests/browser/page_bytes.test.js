// The Explorer page as the program writes it, read byte for byte straight
// from the binary (no browser): fixed ASCII text, the same bytes for every
// request apart from the back link, the light palette written twice alike.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {describe, test} = require('node:test');
const {BIN, REPO} = require('./helpers');

const PAGE_DIR = path.join(REPO, 'src', 'page');

const HTML_HEADER = 'Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n' +
                    'X-Content-Type-Options: nosniff\r\n\r\n';
const BACK_LINK = "<a href='/' style='color:var(--accent);text-decoration:none;font-weight:600'>&larr; Back to Zindo</a>";

function page(queryString) {
  const run = childProcess.spawnSync(BIN, [], {env: {QUERY_STRING: queryString}, encoding: 'latin1'});
  assert.equal(run.status, 0);
  assert.equal(run.stderr, '');
  return run.stdout;
}

/// The custom properties of the first rule of `css` whose selector is
/// `selector`, as a map.
function declarations(css, selector) {
  const start = css.indexOf(selector + ' {');
  assert.ok(start >= 0, 'no rule for ' + selector);
  const body = css.slice(css.indexOf('{', start) + 1, css.indexOf('}', start));
  return new Map(body.split(';').map((d) => d.trim()).filter(Boolean).map((d) => {
    const colon = d.indexOf(':');
    return [d.slice(0, colon).trim(), d.slice(colon + 1).trim()];
  }));
}

describe('page bytes', {timeout: 60000}, () => {
  const full = page('');

  test('the page is ASCII, framed by the header block and the document end', () => {
    assert.match(full, /^[\x00-\x7f]*$/);
    assert.ok(full.startsWith(HTML_HEADER + "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'>"));
    assert.ok(full.endsWith('\n</script></body></html>\n'));
    assert.ok(full.includes(BACK_LINK));
    assert.equal(full.split('<script>').length - 1, 3, 'three inline scripts');
    assert.doesNotMatch(full, /<(link|img|iframe)\b|\bsrc=|@import|url\(/, 'the page loads nothing else');
  });

  test('only the back link depends on the request', () => {
    const withoutLink = full.replace(/\n<div style='margin-bottom:12px'><a href='\/'[^\n]*<\/a><\/div>/, '');
    assert.notEqual(withoutLink, full);
    const cases = [
      ['embed=1', withoutLink], ['embed=true&x=1', withoutLink], ['xembed=1', withoutLink], ['embed=10', withoutLink],
      ['embed=0', full], ['embed=yes', full], ['action=&db=%3Cscript%3E&sql=<b>', full],
    ];
    for (const [query, expected] of cases) assert.equal(page(query), expected, 'query ' + query);
  });

  test('the light palette is written twice, alike, and differs from the dark one', () => {
    const dark = declarations(full, ':root');
    const light = declarations(full, ":root[data-theme='light']");
    const preferred = declarations(full, ":root:not([data-theme='dark'])");
    assert.deepEqual([...preferred], [...light]);
    assert.ok(full.indexOf('@media (prefers-color-scheme: light)') < full.indexOf(":root:not([data-theme='dark'])"));
    assert.equal(dark.get('color-scheme'), 'dark');
    assert.equal(light.get('color-scheme'), 'light');
    for (const [name] of light) assert.ok(dark.has(name), name + ' has a dark default');
  });

  test('every element the explorer script looks up is in the markup', () => {
    const ids = new Set([...full.matchAll(/ id='([^']+)'/g)].map((m) => m[1]));
    // The script is minified in the page, so its lookups are read from its files.
    const scripts = fs.readdirSync(PAGE_DIR).filter((name) => name.endsWith('.js'))
        .map((name) => fs.readFileSync(path.join(PAGE_DIR, name), 'utf8')).join('\n');
    const wanted = [...scripts.matchAll(/byId\('([^']+)'\)/g)].map((m) => m[1]);
    assert.ok(wanted.length >= 16);
    for (const id of wanted) assert.ok(ids.has(id), 'missing id ' + id);
  });
});
