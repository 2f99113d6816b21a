// How the Explorer takes its answers: only the latest request of each kind
// reaches the page, whatever order the answers come in; an answer that is
// not the program's JSON (the host's own failure, an empty, truncated or
// oddly shaped text) is told plainly in the right place; nothing from an
// answer ever becomes markup; the page stays usable afterwards.
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const LAB_SQL = `
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO items VALUES (1, 'pear'), (2, 'fig'), (3, 'kiwi');
`;
const OTHER_SQL = 'CREATE TABLE notes (body TEXT); CREATE TABLE tags (name TEXT);';
// Runs until the program's time budget stops it.
const SLOW_SQL = 'WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c WHERE x < 0';

function isAction(action) {
  return (url) => url.searchParams.get('action') === action;
}

describe('Explorer answers', {timeout: 150000}, () => {
  let fixture;
  let labPath;
  let otherPath;
  let host;
  let browser;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-answers-', {'lab.db': LAB_SQL, 'other.db': OTHER_SQL});
    labPath = path.join(fixture.root, 'lab.db');
    otherPath = path.join(fixture.root, 'other.db');
    host = fixture.host;
    browser = fixture.browser;
    await browser.context.grantPermissions(['clipboard-read', 'clipboard-write'], {origin: host.url});
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  /// The Explorer on `url` with `db` chosen and its tables listed.
  async function explorerOn(url, db) {
    const page = await h.freshPage(browser.context, url);
    await h.openExplorer(page, url + '/plugin_sqlite');
    await page.selectOption('#dbsel', db);
    await page.waitForSelector('#tables .titem');
    return page;
  }

  function tableNames(page) {
    return page.$$eval('#tables .titem', (buttons) => buttons.map((b) => b.firstChild.textContent));
  }

  /// Waits until the host has ended `count` query runs, answered or not.
  async function queryRunsEnded(count) {
    const deadline = Date.now() + 10000;
    while ((host.log().match(/POST query( ->|: the client went away)/g) || []).length < count) {
      assert.ok(Date.now() < deadline, 'the host did not end ' + count + ' query runs:\n' + host.log());
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  }

  describe('one answer at a time', () => {
    test('a slow statement, then a table click: the table\'s rows stay', async () => {
      const page = await explorerOn(host.url, labPath);
      const sent = [];
      const aborted = [];
      // Statements only: a table's foreign-key lookup and its count are
      // requests of their own.
      page.on('request', (r) => r.url().includes('action=query') &&
              !/foreign_key_list|^sql=SELECT count\(\*\)/.test(decodeURIComponent(r.postData() || '')) &&
              sent.push(r.url()));
      page.on('requestfailed', (r) => r.url().includes('action=query') && aborted.push(r.failure().errorText));
      const runsBefore = (host.log().match(/POST query/g) || []).length;

      await page.fill('#sql', SLOW_SQL);
      for (let i = 0; i < 3; i++) await page.press('#sql', 'Control+Enter');
      assert.equal(await page.textContent('#qmeta'), 'Running...');
      assert.equal(await page.isDisabled('#runbtn'), true);
      assert.equal(sent.length, 1, 'three Ctrl+Enter on one statement send one request');

      await page.click('#tables .titem:has-text("items")');
      await page.waitForFunction(() => document.querySelectorAll('#reswrap tbody tr').length === 3);
      // The slow run has ended one way or the other; whatever it answered
      // must not have reached the page.
      await queryRunsEnded(runsBefore + 2);
      await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 300)));
      assert.deepEqual(await h.gridRows(page), [['1', 'pear'], ['2', 'fig'], ['3', 'kiwi']]);
      assert.equal(await h.sqlText(page), 'SELECT * FROM "items" LIMIT 100;');
      assert.match(await page.textContent('#qmeta'), /^3 rows/);
      assert.equal(await page.textContent('#tables .on'), 'items  3');
      assert.equal(await page.isDisabled('#runbtn'), false);
      assert.equal(sent.length, 2);
      assert.deepEqual(aborted, ['net::ERR_ABORTED'], 'the replaced request is aborted');
      assert.match(host.log(), /POST query: the client went away, plugin stopped/);
      assert.deepEqual(page.errors, []);
    });

    test('a late schema answer of the database chosen before does not replace the newer one', async () => {
      const page = await explorerOn(host.url, labPath);
      let release;
      const held = new Promise((resolve) => {
        release = resolve;
      });
      await page.route((url) => isAction('schema')(url) && url.searchParams.get('db') === labPath, async (route) => {
        await held;
        await route.continue().catch(() => {});  // the page may have aborted it
      });
      await page.selectOption('#dbsel', '');
      await page.selectOption('#dbsel', labPath);
      await page.selectOption('#dbsel', otherPath);
      await page.waitForFunction(() => document.querySelectorAll('#tables .titem').length === 2);
      release();
      await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 500)));
      assert.deepEqual(await tableNames(page), ['notes', 'tags']);
      assert.match(await page.textContent('#dbhint'), /other\.db/);
    });

    test('a late query answer never replaces a newer one, even when it is not aborted in time', async () => {
      const page = await explorerOn(host.url, labPath);
      // The first statement's answer is held back by the network and given
      // only after the second statement was answered.
      let release;
      const held = new Promise((resolve) => {
        release = resolve;
      });
      await page.route(isAction('query'), async (route) => {
        if (!route.request().postData().includes('first')) return route.continue();
        await held;
        await route.fulfill({contentType: 'application/json',
                             body: '{"ok":true,"columns":[{"name":"first"}],"rows":[[1]],"row_count":1,"ms":1}'})
            .catch(() => {});
      });
      await page.fill('#sql', "SELECT 'first'");
      await page.press('#sql', 'Control+Enter');
      await page.fill('#sql', "SELECT 'second' AS v");
      await page.press('#sql', 'Control+Enter');
      await page.waitForFunction(() => document.querySelector('#reswrap td') !== null);
      release();
      await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 500)));
      assert.deepEqual(await h.gridRows(page), [['second']]);
      assert.deepEqual(await page.$$eval('#cols .chip', (c) => c.map((x) => x.textContent)), ['v  ']);
    });
  });

  describe('answers that are not what the program writes', () => {
    // Each answer is given in place of the program's by the network layer.
    const QUERY_CASES = [
      {name: 'the host\'s own 502', status: 502, type: 'text/plain', body: 'plugin timed out\n',
       shown: 'Request failed: HTTP 502 plugin timed out'},
      {name: 'an HTML error page', status: 502, type: 'text/html',
       body: '<html><head><title>x</title><style>p{}</style></head><body><h1>Bad Gateway</h1><p>more</p></body></html>',
       shown: 'Request failed: HTTP 502 Bad Gateway'},
      {name: 'several lines of text', status: 500, type: 'text/plain', body: '\n  first   line \nsecond line',
       shown: 'Request failed: HTTP 500 first line'},
      {name: 'an empty answer', status: 200, type: 'application/json', body: '',
       shown: 'Request failed: HTTP 200 with an empty answer'},
      {name: 'a document cut short', status: 200, type: 'application/json',
       body: '{"ok":true,"columns":[{"name":"a"}],"rows":[[1],[2',
       shown: 'Request failed: HTTP 200 with an incomplete or malformed JSON answer'},
      {name: 'a list instead of a record', status: 200, type: 'application/json', body: '[]',
       shown: 'Request failed: the answer is not a query result'},
      {name: 'null', status: 200, type: 'application/json', body: 'null',
       shown: 'Request failed: the answer is not a query result'},
      {name: 'rows that are not a list', status: 200, type: 'application/json',
       body: '{"ok":true,"columns":[],"rows":{},"row_count":0,"ms":1}',
       shown: 'Request failed: the answer is not a query result'},
      {name: 'a row that is not a list', status: 200, type: 'application/json',
       body: '{"ok":true,"columns":[{"name":"a"}],"rows":[[1],2],"row_count":2,"ms":1}',
       shown: 'Request failed: the answer is not a query result'},
      {name: 'no row count', status: 200, type: 'application/json',
       body: '{"ok":true,"columns":[{"name":"a"}],"rows":[[1]]}',
       shown: 'Request failed: the answer is not a query result'},
      {name: 'markup in a refusal', status: 200, type: 'application/json',
       body: '{"ok":false,"error":"<img src=x onerror=\\"window.hit=1\\">","detail":"<b>bold</b>"}',
       shown: '<img src=x onerror="window.hit=1">: <b>bold</b>', refusal: true},
    ];

    for (const c of QUERY_CASES) {
      test('query: ' + c.name, async () => {
        const page = await explorerOn(host.url, labPath);
        await h.runSql(page, 'SELECT id FROM items');
        const query = isAction('query');
        await page.route(query, (route) => route.fulfill({status: c.status, contentType: c.type, body: c.body}));
        await h.runSql(page, 'SELECT 1');
        assert.equal(await page.textContent('#reswrap .err'), c.shown);
        assert.equal(await page.textContent('#alerts'), c.shown, 'the error is announced');
        assert.equal(await page.textContent('#qmeta'), '');
        assert.equal(await page.$$eval('img, b, h1:not(.title)', (found) => found.length), 0, 'no markup from the answer');
        assert.equal(await page.evaluate(() => window.hit), undefined);
        // A refusal is the last answer, with nothing to copy; nothing of a
        // broken answer is kept, so the copies still hold the one before.
        await page.click('#jsonbtn');
        if (c.refusal) {
          assert.equal(await page.textContent('#qmeta'), 'nothing to copy');
        } else {
          await page.waitForFunction(() => document.getElementById('qmeta').textContent === 'JSON copied');
          assert.equal(await page.evaluate(() => navigator.clipboard.readText()), '[[1],[2],[3]]');
        }
        // The page stays usable.
        await page.unroute(query);
        await h.runSql(page, 'SELECT name FROM items WHERE id = 2');
        assert.deepEqual(await h.gridRows(page), [['fig']]);
        assert.deepEqual(page.errors, []);
      });
    }

    test('markup in names and cells is shown as text', async () => {
      const page = await explorerOn(host.url, labPath);
      await page.route(isAction('query'), (route) => route.fulfill({contentType: 'application/json', body: JSON.stringify({
        ok: true, columns: [{name: '<i>c</i>', decl: '<b>t</b>'}, {name: 'odd'}],
        rows: [['<img src=x onerror="window.hit=1">', {not: 'a blob'}]], row_count: 1, ms: 1,
      })}));
      await h.runSql(page, 'SELECT 1');
      assert.deepEqual(await h.gridRows(page), [['<img src=x onerror="window.hit=1">', '{"not":"a blob"}']]);
      assert.equal(await page.textContent('#reswrap th'), '<i>c</i>');
      assert.deepEqual(await page.$$eval('#cols .chip', (c) => c.map((x) => x.textContent)), ['<i>c</i>  <b>t</b>', 'odd  ']);
      assert.equal(await page.$$eval('img, b, i', (found) => found.length), 0);
      assert.equal(await page.evaluate(() => window.hit), undefined);
    });

    // The database list and the schema tell their failures with their own
    // prefix, each in its own place.
    const LIST_CASES = [
      {action: 'dbs', place: '#reswrap .err', status: 502, body: 'plugin timed out\n',
       shown: 'Error: HTTP 502 plugin timed out'},
      {action: 'dbs', place: '#reswrap .err', status: 200, body: '{"ok":true,"dbs":"lab.db"}',
       shown: 'Error: the answer is not a database list'},
      {action: 'dbs', place: '#reswrap .err', status: 200, body: '{"ok":true,"dbs":[',
       shown: 'Error: HTTP 200 with an incomplete or malformed JSON answer'},
      {action: 'schema', place: '#tables .err', status: 502, body: 'plugin timed out\n',
       shown: 'Error: HTTP 502 plugin timed out'},
      {action: 'schema', place: '#tables .err', status: 200, body: '{"ok":true,"tables":[1,2]}',
       shown: 'Error: the answer is not a table list'},
      {action: 'schema', place: '#tables .err', status: 200, body: '',
       shown: 'Error: HTTP 200 with an empty answer'},
    ];

    for (const c of LIST_CASES) {
      test(c.action + ': ' + c.shown, async () => {
        const page = await h.freshPage(browser.context, host.url);
        const action = isAction(c.action);
        await page.route(action, (route) => route.fulfill({status: c.status, contentType: 'text/plain', body: c.body}));
        await page.goto(host.url + '/plugin_sqlite');
        if (c.action === 'schema') {
          await page.waitForSelector('#dbsel option:nth-child(3)', {state: 'attached'});
          await page.selectOption('#dbsel', labPath);
        }
        await page.waitForSelector(c.place);
        assert.equal(await page.textContent(c.place), c.shown);
        assert.equal(await page.textContent('#alerts'), c.shown);
        // Usable again once the host answers properly.
        await page.unroute(action);
        await page.click('#reloadbtn');
        await page.selectOption('#dbsel', labPath);
        await page.waitForSelector('#tables .titem');
        assert.deepEqual(await tableNames(page), ['items']);
        assert.deepEqual(page.errors, []);
      });
    }

    test('a statement that outlives the host\'s own timeout shows the host\'s 502', async () => {
      const strict = await h.startDevHost({SQLITE_ALLOWED_ROOT: fixture.root, HOME: path.join(fixture.dir, 'home')},
                                          ['--timeout', '500']);
      try {
        const page = await explorerOn(strict.url, labPath);
        await h.runSql(page, SLOW_SQL);
        assert.equal(await page.textContent('#reswrap .err'), 'Request failed: HTTP 502 plugin timed out');
        await h.runSql(page, 'SELECT name FROM items WHERE id = 3');
        assert.deepEqual(await h.gridRows(page), [['kiwi']]);
      } finally {
        await strict.stop();
      }
    });
  });
});
