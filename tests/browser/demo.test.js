// `make demo` as a new user meets it (devhost/demo.sh, in a folder of its
// own): the Explorer's own URL comes first and serves the Explorer; a busy
// port is one plain line that names DEVHOST_PORT; a second demo leaves the
// folder of a running one alone; and the walk through the shop a person
// takes on their first day.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const START_MS = 15000;
const DEMO_SCRIPT = path.join(h.REPO, 'devhost', 'demo.sh');

describe('make demo', {timeout: 120000}, () => {
  let dir;
  let demoDir;

  before(() => {
    dir = h.tempDir('sqlite-demo-');
    demoDir = path.join(dir, 'demo');
  });

  after(() => {
    fs.rmSync(dir, {recursive: true, force: true});
  });

  function demoEnv(port, env) {
    return {PATH: process.env.PATH, PLUGIN_SQLITE_BIN: h.BIN, DEMO_DIR: demoDir, DEVHOST_PORT: String(port), ...env};
  }

  /// Runs devhost/demo.sh on a free port with `env` added. Resolves, once
  /// it serves, to {lines, url, stop()}.
  async function runDemo(env) {
    const demo = await h.serve('bash', [DEMO_SCRIPT], demoEnv(0, env));
    return {...demo, lines: demo.log().split('\n').filter(Boolean)};
  }

  /// Runs devhost/demo.sh on `port`, which is expected to be taken: its
  /// {status, lines} once it has ended.
  function runDemoOnBusyPort(port) {
    const run = childProcess.spawnSync('bash', [DEMO_SCRIPT], {env: demoEnv(port, {}), encoding: 'utf8', timeout: START_MS});
    return {status: run.status, lines: (run.stdout + run.stderr).split('\n').filter(Boolean)};
  }

  // A file of our own in the demo folder tells whether the folder was
  // made afresh since it was put there.
  const MARK = () => path.join(demoDir, 'left-by-the-test');
  function markFolder() {
    fs.writeFileSync(MARK(), '');
  }
  function folderKept() {
    return fs.existsSync(MARK());
  }

  async function listedDbs(url) {
    const answer = await (await fetch(url + '/plugin_sqlite?action=dbs')).json();
    return answer.dbs.map((db) => path.relative(demoDir, db.path)).sort();
  }

  test('the first line is the Explorer\'s own URL, and it serves the Explorer', async () => {
    const cases = [
      {env: {}, first: /^Explorer: (http:\/\/127\.0\.0\.1:\d+\/plugin_sqlite)$/},
      {env: {ZINDO_PASSWORD: 's3cret'},
       first: /^Explorer: (http:\/\/127\.0\.0\.1:\d+\/plugin_sqlite)\?pwd=<password> \(the node password gate is on\)$/},
    ];
    for (const c of cases) {
      const demo = await runDemo(c.env);
      try {
        const explorerUrl = c.first.exec(demo.lines[0]);
        assert.ok(explorerUrl, 'first line: ' + demo.lines[0]);
        assert.equal(demo.lines[1], `listening on ${demo.url}/ (the host's start page; Ctrl-C stops it)`);
        assert.doesNotMatch(demo.lines.join('\n'), /s3cret/, 'the password is never printed');
        const url = explorerUrl[1] + (c.env.ZINDO_PASSWORD ? '?pwd=' + c.env.ZINDO_PASSWORD : '');
        const page = await fetch(url);
        assert.equal(page.status, 200);
        assert.match(await page.text(), /<title>sqlite<\/title>/);
        if (!c.env.ZINDO_PASSWORD) assert.deepEqual(await listedDbs(demo.url), ['maps/places.sqlite', 'more/notes.sqlite', 'shop.db']);
      } finally {
        await demo.stop();
      }
    }
  });

  test('a person completes a statement, runs it, goes to a row, facets it and follows a customer to their orders',
       async () => {
         const demo = await runDemo({});
         const browser = await h.launchBrowser();
         try {
           const page = await h.freshPage(browser.context, demo.url);
           const range = () => page.textContent('#range');
           const settled = () => page.waitForFunction(() => !document.getElementById('runbtn').disabled &&
                                                      document.getElementById('qmeta').textContent !== 'Running...');
           await h.openExplorer(page, demo.url + '/plugin_sqlite');
           await page.selectOption('#dbsel', path.join(demoDir, 'shop.db'));
           await page.waitForSelector('#tables .titem');
           await page.waitForSelector('.cm-content#sql');

           // Two statements; the second, completed from "ord", runs with Ctrl+Enter.
           await page.click('#sql');
           await page.keyboard.press('Control+a');
           await page.keyboard.type('SELECT count(*) FROM customers;\nSELECT * FROM ord');
           // "ord" also begins order_items and order_totals: the list offers
           // all three, and the person picks orders from it.
           const offered = page.locator('.cm-tooltip-autocomplete li')
                               .filter({has: page.locator('.cm-completionLabel', {hasText: /^orders$/})});
           await offered.click();
           assert.equal(await h.sqlText(page), 'SELECT count(*) FROM customers;\nSELECT * FROM orders');
           await page.keyboard.press('Control+Enter');
           await settled();
           await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
           assert.equal(await range(), 'rows 1-500 of 3,000');
           assert.equal(await page.textContent('#reswrap th'), 'id');

           await page.fill('input[aria-label="Go to row"]', '2950');
           await page.press('input[aria-label="Go to row"]', 'Enter');
           await settled();
           assert.equal(await range(), 'rows 2501-3000 of 3,000');
           assert.equal(await page.evaluate(() => document.activeElement.textContent), '2950');

           await page.click('#facetsbtn');
           await page.selectOption('select[aria-label="Facet column"]', 'status');
           await page.waitForFunction(() => !/Counting/.test(document.getElementById('panelbody').textContent));
           const facets = await page.$$eval('#panelbody .facet', (list) => list.map((b) => b.textContent));
           assert.equal(facets[0], 'delivered (2,100)');
           assert.deepEqual(facets.slice(1).sort(), ['cancelled (300)', 'pending (300)', 'shipped (300)']);

           // Customer 62's row, and from it the orders that refer to it.
           await page.click('#tables .titem:text-is("customers")');
           await settled();
           await page.click('#reswrap tbody tr:nth-child(62) td:nth-child(2)');
           await page.click('#panel button:text-is("Show row")');
           assert.equal(await page.textContent('#paneltitle'), 'Row of customers');
           assert.deepEqual((await page.$$eval('#panelbody tbody tr', (rows) => rows.map((r) => r.textContent))).slice(0, 3),
                            ['id62', 'nameChiara Huber', 'emailcustomer62@example.com']);
           await page.click('#panelbody button:text-is("Referenced by")');
           await page.click('#panelbody button:text-is("orders (5)")');
           await settled();
           await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
           assert.equal(await range(), 'rows 1-5 of 5');
           assert.equal(await page.getAttribute('#tables .titem.on', 'aria-current'), 'true');
           assert.match(await page.textContent('#tables .titem.on'), /^orders\b/);
           const customers = await page.$$eval('#reswrap tbody tr', (rows) => rows.map((r) => r.cells[1].textContent));
           assert.deepEqual(customers, Array(5).fill('62'));
           assert.deepEqual(page.errors, []);
         } finally {
           await browser.close();
           await demo.stop();
         }
       });

  test('a busy port is one line naming DEVHOST_PORT; a running demo keeps its folder', async () => {
    const first = await runDemo({});
    try {
      markFolder();
      const port = Number(new URL(first.url).port);

      const busy = runDemoOnBusyPort(port);
      assert.notEqual(busy.status, 0);
      assert.equal(busy.lines.length, 1, busy.lines.join('\n'));
      assert.match(busy.lines[0], new RegExp(`port ${port} is busy.*DEVHOST_PORT=\\d+ make demo`));
      assert.ok(folderKept());

      const second = await runDemo({});
      try {
        assert.ok(folderKept(), 'the second demo shares the folder as it is');
        assert.deepEqual(await listedDbs(first.url), ['maps/places.sqlite', 'more/notes.sqlite', 'shop.db']);
        assert.deepEqual(await listedDbs(second.url), ['maps/places.sqlite', 'more/notes.sqlite', 'shop.db']);
      } finally {
        await second.stop();
      }
    } finally {
      await first.stop();
    }
    // With no demo running, the next one makes the folder afresh.
    const fresh = await runDemo({});
    await fresh.stop();
    assert.equal(folderKept(), false);
    assert.ok(fs.existsSync(path.join(demoDir, 'shop.db')));
  });
});
