// The Explorer in a real browser, through the development host, with one
// database under the allowed root: listing, tables, queries, sorting,
// copying, errors, the time budget, themes, embed and hub modes, layout.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const FIXTURE_SQL = `
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, photo BLOB);
INSERT INTO items VALUES
  (1, 'pear', 2.5, NULL, NULL),
  (2, 'apple, red', 100.0, 3, x'0102'),
  (3, 'fig "black"', NULL, 7, NULL),
  (4, 'banana', 0.25, 3, NULL),
  (5, 'kiwi', 2.5, NULL, NULL);
CREATE VIEW cheap AS SELECT name FROM items WHERE price < 3;
CREATE TABLE "odd ""name""" (v TEXT);
INSERT INTO "odd ""name""" VALUES ('only row');
`;
const DOT = '  \u00b7  ';

describe('Explorer with one database', {timeout: 120000}, () => {
  let dir;
  let dbPath;
  let host;
  let browser;

  before(async () => {
    dir = h.tempDir('sqlite-explorer-');
    dbPath = path.join(dir, 'root', 'lab.db');
    h.makeDb(dbPath, FIXTURE_SQL);
    fs.mkdirSync(path.join(dir, 'home'));
    host = await h.startDevHost({SQLITE_ALLOWED_ROOT: path.join(dir, 'root'), HOME: path.join(dir, 'home')});
    browser = await h.launchBrowser();
    await browser.context.grantPermissions(['clipboard-read', 'clipboard-write'], {origin: host.url});
  });

  after(async () => {
    if (browser) await browser.close();
    if (host) await host.stop();
    if (host) h.assertCleanRuns(host);
    fs.rmSync(dir, {recursive: true, force: true});
  });

  async function explorer(query) {
    const page = await h.freshPage(browser.context, host.url);
    await h.openExplorer(page, host.url + '/plugin_sqlite' + (query || ''));
    return page;
  }

  async function tableButtons(page) {
    await page.waitForSelector('#tables .titem');
    return page.$$eval('#tables .titem', (buttons) => buttons.map((b) => b.textContent));
  }

  test('the only database is chosen and its tables are listed with row counts', async () => {
    const page = await explorer();
    assert.deepEqual(await tableButtons(page), ['cheap  3 view', 'items  5', 'odd "name"  1']);
    assert.equal(await page.inputValue('#dbsel'), dbPath);
    assert.equal(await page.textContent('#dbcount'), '1 database');
    assert.equal(await page.textContent('#rootline'), 'roots: allowed, home');
    assert.equal(await page.textContent('#dbhint'), dbPath + DOT + '3 tables' + DOT + 'read-only');
    assert.match(await page.textContent('#dbsel option:checked'), new RegExp(DOT + '\\d+\\.\\d KB$'));
    assert.equal(await page.getAttribute('#tables .titem:nth-child(2)', 'title'),
                 'id INTEGER\nname TEXT\nprice REAL\nqty INTEGER\nphoto BLOB');
    await page.waitForSelector('#infocard:not([style*="none"])');
    const chips = await page.$$eval('#info .chip', (list) => list.map((c) => c.textContent));
    assert.deepEqual(chips.map((c) => c.split('  ')[0]),
                     ['plugin', 'version', 'sqlite', 'platform', 'max rows', 'budget ms']);
    assert.equal(chips[4], 'max rows  500');
    assert.deepEqual(page.errors, []);
  });

  test('a table click runs SELECT * on its quoted name and draws the grid', async () => {
    const page = await explorer();
    await page.click('#tables .titem:has-text("odd")');
    await page.waitForSelector('#reswrap table');
    assert.equal(await h.sqlText(page), 'SELECT * FROM "odd ""name""" LIMIT 100;');
    assert.deepEqual(await h.gridRows(page), [['only row']]);
    assert.equal(await page.getAttribute('#tables .titem:has-text("odd")', 'class'), 'titem on');

    await page.click('#tables .titem:has-text("items")');
    await page.waitForFunction(() => document.querySelectorAll('#reswrap tbody tr').length === 5);
    assert.equal(await h.sqlText(page), 'SELECT * FROM "items" LIMIT 100;');
    assert.equal(await page.$$eval('#tables .on', (on) => on.length), 1);
    assert.match(await page.textContent('#qmeta'), new RegExp('^5 rows' + DOT + '\\d+ ms$'));
    assert.deepEqual(await page.$$eval('#cols .chip', (c) => c.map((x) => x.textContent)),
                     ['id  INTEGER', 'name  TEXT', 'price  REAL', 'qty  INTEGER', 'photo  BLOB']);
    const rows = await h.gridRows(page);
    assert.deepEqual(rows[1], ['2', 'apple, red', '100', '3', '[blob 2]']);
    assert.deepEqual(rows[0], ['1', 'pear', '2.5', 'NULL', 'NULL']);
    assert.deepEqual(await page.$$eval('#reswrap tbody tr:first-child td', (c) => c.map((x) => x.className)),
                     ['num', '', 'num', 'null', 'null']);
  });

  test('sorting: ascending, descending, nulls last both ways, ties keep their order', async () => {
    const page = await explorer();
    await h.runSql(page, 'SELECT id, qty, price, name FROM items ORDER BY id');
    const ids = async () => (await h.gridRows(page)).map((row) => row[0]);
    const header = (name) => page.click(`#reswrap th:has-text("${name}")`);

    await header('qty');
    assert.deepEqual(await ids(), ['2', '4', '3', '1', '5']);
    assert.equal(await page.textContent('#reswrap th:nth-child(2)'), 'qty \u25b2');
    await header('qty');
    assert.deepEqual(await ids(), ['3', '2', '4', '1', '5']);
    assert.equal(await page.textContent('#reswrap th:nth-child(2)'), 'qty \u25bc');
    // Numbers compare by value (2.5 before 100); the tie 1/5 keeps the order
    // of the previous sort; the null stays last.
    await header('price');
    assert.deepEqual(await ids(), ['4', '1', '5', '2', '3']);
    assert.equal(await page.textContent('#reswrap th:nth-child(2)'), 'qty');
    await header('name');
    assert.deepEqual((await h.gridRows(page)).map((row) => row[3]),
                     ['apple, red', 'banana', 'fig "black"', 'kiwi', 'pear']);
    assert.match(await page.textContent('#qmeta'), /^5 rows/);
  });

  test('Copy CSV and Copy JSON put the exact texts on the clipboard', async () => {
    const page = await explorer();
    await page.click('#csvbtn');
    assert.equal(await page.textContent('#qmeta'), 'nothing to copy');
    await h.runSql(page, 'SELECT id, name AS "name, full", price, qty, photo FROM items ORDER BY id');
    await page.click('#reswrap th:has-text("qty")');  // the copies follow the screen's order
    await page.click('#csvbtn');
    await page.waitForFunction(() => document.getElementById('qmeta').textContent === 'CSV copied');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()),
                 'id,"name, full",price,qty,photo\n' +
                 '2,"apple, red",100,3,blob:2\n' +
                 '4,banana,0.25,3,\n' +
                 '3,"fig ""black""",,7,\n' +
                 '1,pear,2.5,,\n' +
                 '5,kiwi,2.5,,');
    await page.click('#jsonbtn');
    await page.waitForFunction(() => document.getElementById('qmeta').textContent === 'JSON copied');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()),
                 '[[2,"apple, red",100,3,{"blob_bytes":2,"hex":"0102"}],[4,"banana",0.25,3,null],' +
                 '[3,"fig \\"black\\"",null,7,null],[1,"pear",2.5,null,null],[5,"kiwi",2.5,null,null]]');
  });

  test('refusals and failures show their texts in the results area', async () => {
    const page = await explorer();
    const error = () => page.textContent('#reswrap .err');

    await page.fill('#sql', '   ');
    await page.click('#runbtn');
    assert.equal(await error(), 'Type a statement.');

    await h.runSql(page, 'SELECT id FROM items');
    await h.runSql(page, 'DELETE FROM items');
    assert.equal(await error(), '\'DELETE\' is not a read statement: SELECT, WITH, VALUES, PRAGMA and EXPLAIN run here');
    assert.equal(await page.textContent('#qmeta'), '');
    assert.equal(await page.$$eval('#cols .chip', (c) => c.length), 0);

    // A statement that fails part-way: only the error shows, yet the rows
    // before the failure can still be copied.
    await h.runSql(page, 'SELECT 1 AS v UNION ALL SELECT zeroblob(2000000)');
    assert.equal(await error(), 'string or blob too big');
    await page.click('#jsonbtn');
    await page.waitForFunction(() => document.getElementById('qmeta').textContent === 'JSON copied');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), '[[1]]');

    // Ctrl+Enter runs too, and a runaway statement is stopped by the budget.
    await page.fill('#sql', 'WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c WHERE x < 0');
    await page.press('#sql', 'Control+Enter');
    assert.equal(await page.textContent('#qmeta'), 'Running...');
    assert.equal(await page.isDisabled('#runbtn'), true);
    await page.waitForFunction(() => !document.getElementById('runbtn').disabled);
    assert.match(await page.textContent('#qmeta'),
                 new RegExp('^0 rows \\(truncated\\)' + DOT + '\\d+ ms' + DOT + 'stopped at the time budget$'));
    // Not an empty result: the page says so, and what helps.
    assert.match(await page.textContent('#reswrap .warn'), /^Stopped at the time budget before any row was found/);
  });

  test('the Theme button flips the theme and keeps it in "sqlite_theme" only', async () => {
    const page = await explorer();
    const state = () => page.evaluate(() => [document.documentElement.getAttribute('data-theme'),
      localStorage.getItem('sqlite_theme'), localStorage.getItem('zindo_theme')]);
    const [first, stored, bootstrap] = await state();
    assert.equal(stored, first);
    await page.click('#themebtn');
    const flipped = first === 'light' ? 'dark' : 'light';
    assert.deepEqual(await state(), [flipped, flipped, bootstrap]);
    await h.openExplorer(page, host.url + '/plugin_sqlite');
    assert.deepEqual(await state(), [flipped, flipped, bootstrap]);
    // A stored value that is neither light nor dark is applied as it is; the
    // next toggle gives light.
    await page.evaluate(() => localStorage.setItem('sqlite_theme', 'sepia'));
    await h.openExplorer(page, host.url + '/plugin_sqlite');
    assert.equal((await state())[0], 'sepia');
    await page.click('#themebtn');
    assert.equal((await state())[0], 'light');
  });

  test('the theme bootstrap reads theme= and the anchored embed= test', async () => {
    const page = await h.freshPage(browser.context, host.url);
    const cases = [
      // query, stored zindo_theme before, zindo_theme after, embedded class, back link
      {query: '?theme=light', before: 'dark', after: 'light', embedded: false, back: true},
      {query: '?x=1&theme=darkest', before: 'light', after: 'dark', embedded: false, back: true},
      {query: '', before: 'dark', after: 'dark', embedded: false, back: true},
      {query: '?embed=1', before: null, after: null, embedded: true, back: false},
      {query: '?embed=true&theme=light', before: null, after: 'light', embedded: true, back: false},
      {query: '?embed=10', before: null, after: null, embedded: false, back: false},
      {query: '?xembed=1', before: null, after: null, embedded: false, back: false},
    ];
    for (const c of cases) {
      await page.evaluate((stored) => {
        localStorage.clear();
        if (stored) localStorage.setItem('zindo_theme', stored);
      }, c.before);
      await h.openExplorer(page, host.url + '/plugin_sqlite' + c.query);
      const seen = await page.evaluate(() => ({
        stored: localStorage.getItem('zindo_theme'),
        embedded: document.documentElement.classList.contains('embedded'),
        back: document.querySelector("a[href='/']") !== null,
        themeButton: document.getElementById('themebtn').offsetParent !== null,
      }));
      const label = 'query ' + JSON.stringify(c.query);
      if (c.after) assert.equal(seen.stored, c.after, label);
      else assert.match(seen.stored, /^(light|dark)$/, label);
      assert.equal(seen.embedded, c.embedded, label);
      assert.equal(seen.themeButton, !c.embedded, label);
      assert.equal(seen.back, c.back, label);
    }
  });

  test('a framing host page sets the theme of the embedded Explorer', async () => {
    const page = await h.freshPage(browser.context, host.url);
    // The host starts dark, the opposite of what the Explorer stores for
    // itself, so only the host's message can make the framed page dark.
    await page.evaluate(() => localStorage.setItem('sqlite_theme', 'light'));
    await page.goto(host.url + '/frame');
    const frame = page.frameLocator('#explorer');
    await frame.locator('#tables .titem').first().waitFor();
    const inner = page.frames().find((f) => f.url().includes('embed=1'));
    const innerTheme = () => inner.evaluate(() => [document.documentElement.getAttribute('data-theme'),
      localStorage.getItem('zindo_theme')]);
    await inner.waitForFunction(() => document.documentElement.getAttribute('data-theme') === 'dark');
    assert.deepEqual(await innerTheme(), ['dark', 'dark']);
    assert.equal(await page.evaluate(() => window.themeRequests), 1);
    assert.equal(await frame.locator('#themebtn').isVisible(), false);
    assert.equal(await frame.locator("a[href='/']").count(), 0);
    await page.click('#hosttheme');
    await inner.waitForFunction(() => document.documentElement.getAttribute('data-theme') === 'light');
    assert.deepEqual(await innerTheme(), ['light', 'light']);
    await h.screenshot(page, 'framed-light');
  });

  test('hub mode sends every request to /plugins with the plugin id', async () => {
    const page = await h.freshPage(browser.context, host.url);
    const requests = [];
    page.on('request', (request) => requests.push(request.url()));
    await h.openExplorer(page, host.url + '/plugins?plugin=sqlite&node=n1&id=s%201');
    await page.click('#tables .titem:has-text("items")');
    await page.waitForSelector('#reswrap table');
    const calls = requests.filter((url) => url.includes('action=')).map((url) => url.slice(host.url.length));
    // A table also asks for its foreign keys: a second query.
    const actions = new Set(calls.map((url) => new URL(url, host.url).searchParams.get('action')));
    // The editor library comes the same way.
    assert.deepEqual([...actions].sort(), ['asset', 'dbs', 'info', 'query', 'schema']);
    for (const url of calls) assert.match(url, /^\/plugins\?plugin=sqlite&action=\w+&.*node=n1&id=s%201$/);
  });

  test('wide and narrow layouts, light and dark', async () => {
    const page = await explorer();
    await page.click('#tables .titem:has-text("items")');
    await page.waitForSelector('#reswrap table');
    const boxes = () => page.evaluate(() => {
      const box = (el) => el.getBoundingClientRect();
      return {tables: box(document.querySelector('.side')), sql: box(document.getElementById('sql'))};
    });
    for (const theme of ['light', 'dark']) {
      await page.evaluate((t) => document.documentElement.setAttribute('data-theme', t), theme);
      await page.setViewportSize({width: 1280, height: 900});
      let b = await boxes();
      assert.ok(b.tables.right < b.sql.left, 'side by side when wide');
      await h.screenshot(page, 'explorer-wide-' + theme);
      await page.setViewportSize({width: 800, height: 900});
      b = await boxes();
      assert.ok(b.tables.bottom <= b.sql.top, 'the tables panel stands above the SQL card at 800 px');
      await h.screenshot(page, 'explorer-narrow-' + theme);
    }
  });
});
