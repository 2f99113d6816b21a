// The browser libraries: the build refuses npm packages that are not the
// pinned ones; the program serves each bundle under its hashed name, to be
// cached for good, behind the node password; the page loads each once,
// with the password in the header and never in the URL.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const PASSWORD = 'pass word%1';
const BUNDLER = path.join(h.REPO, 'cmake', 'bundle_assets.js');

function run(queryString, env) {
  const result = childProcess.spawnSync(h.BIN, [], {env: {QUERY_STRING: queryString, ...env}});
  assert.equal(result.status, 0);
  assert.equal(result.stderr.length, 0);
  const text = result.stdout.toString('latin1');
  const split = text.indexOf('\r\n\r\n');
  return {head: text.slice(0, split + 4), body: result.stdout.subarray(split + 4)};
}

/// The manifest the page carries: library name -> served file name.
function manifest() {
  const files = {};
  for (const m of run('').body.toString('latin1').matchAll(/"(\w+)-[A-Z0-9]{8}\.js"/g)) files[m[1]] = m[0].slice(1, -1);
  return files;
}

describe('the asset action', () => {
  test('serves each bundle under its hashed name with year-long caching', () => {
    const files = manifest();
    assert.ok(files.editor, 'the editor is bundled');
    for (const [name, file] of Object.entries(files)) {
      const answer = run('action=asset&name=' + file);
      assert.equal(answer.head, 'Content-Type: text/javascript; charset=utf-8\r\n' +
                                'Cache-Control: public, max-age=31536000, immutable\r\n' +
                                'X-Content-Type-Options: nosniff\r\n\r\n');
      assert.ok(answer.body.length > 1000);
      assert.match(answer.body.toString('latin1'), /\bexport\s*\{/, 'an ES module');
    }
  });

  test('any other name is a complete error document', () => {
    const file = manifest().editor;
    for (const name of ['', 'editor.js', file.toLowerCase(), file + 'x', '../' + file, 'editor']) {
      const answer = run('action=asset&name=' + encodeURIComponent(name));
      assert.match(answer.head, /^Content-Type: application\/json/);
      assert.deepEqual(JSON.parse(answer.body), {ok: false, error: 'unknown_asset', detail: 'no browser library has this name'});
    }
  });

  test('is behind the node password', () => {
    const query = 'action=asset&name=' + manifest().editor;
    assert.match(run(query, {ZINDO_PASSWORD: PASSWORD}).head, /^Status: 401/);
    assert.match(run(query, {ZINDO_PASSWORD: PASSWORD, HTTP_X_ZINDO_PASSWORD: PASSWORD}).head, /^Content-Type: text\/javascript/);
  });
});

describe('the pin check before bundling', () => {
  const lock = JSON.parse(fs.readFileSync(path.join(h.REPO, 'package-lock.json'), 'utf8'));
  const installed = JSON.parse(fs.readFileSync(path.join(h.REPO, 'node_modules', '.package-lock.json'), 'utf8'));
  const manifestJson = JSON.parse(fs.readFileSync(path.join(h.REPO, 'package.json'), 'utf8'));
  const someKey = 'node_modules/@codemirror/lang-sql';

  // Each case spoils one file of a copy of the real pins and names what the
  // refusal must say.
  const cases = [
    ['a range in package.json', (m) => {
      m.manifest.devDependencies['@codemirror/lang-sql'] = '^6.10.0';
    }, /@codemirror\/lang-sql is not pinned to one version/],
    ['a package installed at another integrity', (m) => {
      m.installed.packages[someKey].integrity = 'sha512-AAAA';
    }, /node_modules\/@codemirror\/lang-sql is installed as .* sha512-AAAA, pinned/],
    ['a package installed at another version', (m) => {
      m.installed.packages[someKey].version = '6.9.0';
    }, /node_modules\/@codemirror\/lang-sql is installed as 6\.9\.0/],
    ['a locked package that is not installed', (m) => {
      delete m.installed.packages['node_modules/@lezer/highlight'];
    }, /node_modules\/@lezer\/highlight is not installed/],
    ['nothing installed', (m) => {
      m.installed = null;
    }, /node_modules holds no installed packages/],
  ];
  for (const [name, spoil, reason] of cases) {
    test(name + ' stops the build', () => {
      const dir = h.tempDir('sqlite-pins-');
      try {
        const m = {manifest: structuredClone(manifestJson), installed: structuredClone(installed)};
        spoil(m);
        fs.writeFileSync(path.join(dir, 'package.json'), JSON.stringify(m.manifest));
        fs.writeFileSync(path.join(dir, 'package-lock.json'), JSON.stringify(lock));
        if (m.installed) {
          fs.mkdirSync(path.join(dir, 'node_modules'));
          fs.writeFileSync(path.join(dir, 'node_modules', '.package-lock.json'), JSON.stringify(m.installed));
        }
        const result = childProcess.spawnSync(process.execPath, [BUNDLER, dir, path.join(dir, 'out')], {encoding: 'utf8'});
        assert.equal(result.status, 1);
        assert.match(result.stderr, reason);
        assert.match(result.stderr, /run `npm ci --no-audit --no-fund`/);
        assert.equal(fs.existsSync(path.join(dir, 'out')), false, 'nothing is written');
      } finally {
        fs.rmSync(dir, {recursive: true, force: true});
      }
    });
  }
});

describe('loading a library in the page', {timeout: 60000}, () => {
  let fixture;
  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-assets-', {'a.db': 'CREATE TABLE t (x);'}, {ZINDO_PASSWORD: PASSWORD});
  });
  after(() => fixture.stop());

  test('the editor is fetched once, with the password in the header only', async () => {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    const sent = [];
    page.on('request', (request) => {
      if (request.url().includes('action=asset')) sent.push({url: request.url(), header: request.headers()['x-zindo-password']});
    });
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite?pwd=' + encodeURIComponent(PASSWORD));
    await page.waitForSelector('.cm-content#sql[aria-label="SQL statement"]');
    assert.equal(await page.$$eval('textarea', (areas) => areas.length), 0, 'the editor took the text area\'s place');
    assert.equal(sent.length, 1);
    assert.equal(new URL(sent[0].url).searchParams.get('pwd'), null);
    assert.equal(sent[0].header, PASSWORD);
    await h.runSql(page, 'SELECT 6 * 7 AS answer');
    assert.deepEqual(await h.gridRows(page), [['42']]);
    assert.deepEqual(page.errors, []);
  });

  test('without the library the plain text box stays and runs statements', async () => {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await page.route((url) => url.searchParams.get('action') === 'asset', (route) => route.abort());
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite?pwd=' + encodeURIComponent(PASSWORD));
    await h.runSql(page, 'SELECT 6 * 7 AS answer');
    assert.deepEqual(await h.gridRows(page), [['42']]);
    assert.equal(await page.getAttribute('textarea#sql', 'aria-label'), 'SQL statement');
    assert.deepEqual(page.errors, []);
  });
});
