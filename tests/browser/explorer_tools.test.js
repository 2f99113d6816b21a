// The Explorer beyond one answer, in a real browser against a database of a
// few thousand rows: paging, sorting a cut result in the database, filters,
// structure, downloads, the cell viewer, the address hash, history, plans,
// foreign-key links and the database list.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const QUOTED_NOTE = 'O\'Brien\'s "50%" \\ off';
const FIXTURE_SQL = `
CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT NOT NULL, city TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)
INSERT INTO customers SELECT i, 'customer ' || i,
  CASE i % 4 WHEN 0 THEN NULL WHEN 1 THEN 'Oslo' WHEN 2 THEN 'Z\u00fcrich' ELSE 'Lyon' END FROM n;
CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customers (id),
  status TEXT NOT NULL DEFAULT 'open',
  total REAL,
  note TEXT
);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)
INSERT INTO orders SELECT i, 1 + (i * 7) % 300,
  CASE i % 3 WHEN 0 THEN 'shipped' WHEN 1 THEN 'open' ELSE 'cancelled' END, (i * 37) % 1000 + 0.5, NULL FROM n;
UPDATE orders SET note = '${QUOTED_NOTE.replace(/'/g, '\'\'')}' WHERE id = 17;
UPDATE orders SET note = '50_50 split' WHERE id = 18;
UPDATE orders SET note = 'Gr\u00fc\u00dfe aus Z\u00fcrich' WHERE id = 19;
UPDATE orders SET note = '5000 off, 50 50' WHERE id = 20;
CREATE INDEX orders_status_total ON orders (status, total);
CREATE TABLE tags (name TEXT PRIMARY KEY, weight INTEGER) WITHOUT ROWID;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250)
INSERT INTO tags SELECT printf('tag %03d', i), i FROM n;
CREATE TABLE ledger (id INTEGER PRIMARY KEY, entry TEXT);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 149)
INSERT INTO ledger SELECT 9007199254740993 + 2 * i, 'entry ' || i FROM n;
`;
const DOT = '  \u00b7  ';
// Cheap for the first 501 rows, then far beyond the time budget for a
// single row (a download takes as many rows as a second gives, so only a
// row that alone outlasts the budget stops it).
const SLOW_AFTER_FIRST_PAGE = 'SELECT id, CASE WHEN id > 501 THEN ' +
    '(SELECT count(*) FROM orders a, orders b, orders c WHERE a.id < o.id) ELSE 0 END AS slow ' +
    'FROM orders o ORDER BY id';

describe('Explorer tools on a few thousand rows', {timeout: 240000}, () => {
  let fixture;
  let dbPath;
  let host;
  let browser;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-tools-', {'shop.db': FIXTURE_SQL});
    ({host, browser} = fixture);
    dbPath = path.join(fixture.root, 'shop.db');
    await browser.context.grantPermissions(
        ['clipboard-read', 'clipboard-write'], {origin: host.url});
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  /// A fresh Explorer whose statements sent to the query action are kept
  /// in `page.statements`.
  async function explorer() {
    const page = await h.freshPage(browser.context, host.url);
    page.statements = [];
    page.on('request', (request) => {
      if (request.url().includes('action=query')) {
        page.statements.push(new URLSearchParams(request.postData() || '').get('sql'));
      }
    });
    await h.openExplorer(page, host.url + '/plugin_sqlite');
    await page.waitForSelector('#tables .titem');
    return page;
  }

  async function settled(page) {
    await page.waitForFunction(
        () => document.getElementById('qmeta').textContent !== 'Running...' &&
            !document.getElementById('runbtn').disabled);
  }

  async function openTable(page, name) {
    await page.click(`#tables .titem:text-matches("^${name}  ")`);
    await settled(page);
  }

  async function column(page, index) { return (await h.gridRows(page)).map((row) => row[index]); }

  async function clickAndSettle(page, selector) {
    await page.click(selector);
    await settled(page);
  }

  // The rows on screen; the count that follows them has tests of its own.
  const range = async (page) => (await page.textContent('#range')).replace(/ of .*$/, '');

  test(
      'paging: a table by rowid, a statement by LIMIT/OFFSET, to the last row and back',
      async () => {
        const page = await explorer();
        await openTable(page, 'orders');
        assert.equal(await h.sqlText(page), 'SELECT * FROM "orders" LIMIT 100;');
        assert.equal(await range(page), 'rows 1-100');
        assert.equal(await page.isDisabled('#prevbtn'), true);
        await clickAndSettle(page, '#nextbtn');
        assert.equal(await range(page), 'rows 101-200');
        const ids = await column(page, 0);
        assert.deepEqual([ids[0], ids[99], ids.length], ['101', '200', 100]);
        // Later pages start after the last rowid seen instead of skipping rows.
        assert.match(page.statements.at(-1), /WHERE rowid > 100 ORDER BY rowid LIMIT 101$/);
        await clickAndSettle(page, '#prevbtn');
        assert.equal(await range(page), 'rows 1-100');
        assert.equal((await column(page, 0))[0], '1');

        await h.runSql(page, 'SELECT id, status FROM orders ORDER BY id;');
        assert.match(
            await page.textContent('#qmeta'), new RegExp('^500 rows \\(truncated\\)' + DOT));
        assert.equal(await range(page), 'rows 1-500');
        await clickAndSettle(page, '#nextbtn');
        assert.equal(await range(page), 'rows 501-1000');
        let shown = await column(page, 0);
        assert.deepEqual([shown[0], shown[499]], ['501', '1000']);
        for (let i = 0; i < 4; i++) await clickAndSettle(page, '#nextbtn');
        assert.equal(await range(page), 'rows 2501-3000');
        shown = await column(page, 0);
        assert.deepEqual([shown[0], shown.at(-1), shown.length], ['2501', '3000', 500]);
        assert.equal(await page.isDisabled('#nextbtn'), true);
        assert.match(await page.textContent('#qmeta'), /^500 rows\s/);
        assert.deepEqual(page.errors, []);
      });

  test(
      'paging keeps integers beyond 2^53 exact and pages a table without rowid by OFFSET',
      async () => {
        const page = await explorer();
        await openTable(page, 'ledger');
        await clickAndSettle(page, '#nextbtn');
        assert.equal(await range(page), 'rows 101-150');
        assert.deepEqual(
            (await column(page, 0)).slice(0, 2), ['9007199254741193', '9007199254741195']);
        assert.match(page.statements.at(-1), /rowid > 9007199254741191 /);

        await openTable(page, 'tags');
        assert.equal(await range(page), 'rows 1-100');
        await clickAndSettle(page, '#nextbtn');
        await clickAndSettle(page, '#nextbtn');
        assert.equal(await range(page), 'rows 201-250');
        assert.deepEqual((await column(page, 0)).slice(0, 1), ['tag 201']);
        assert.match(page.statements.at(-1), /LIMIT 101 OFFSET 200$/);
      });

  test('a statement that cannot be wrapped runs as typed, without paging', async () => {
    const page = await explorer();
    const cases = [
      {sql: 'PRAGMA table_info(orders)', status: /^5 rows/},
      {sql: 'EXPLAIN QUERY PLAN SELECT * FROM orders', status: /^1 row/},
      // Selected whole, two statements run as typed, and the program refuses them.
      {sql: 'SELECT \'a;b\' AS v; SELECT 2', status: /^$/, selectAll: true},
    ];
    for (const c of cases) {
      await h.runSql(page, c.sql, c.selectAll);
      assert.equal(page.statements.at(-1), c.sql, c.sql);
      assert.match(await page.textContent('#qmeta'), c.status, c.sql);
      assert.equal(await page.isHidden('#pager'), true, c.sql);
    }
    assert.equal(
        await page.textContent('#reswrap .err'),
        'multiple_statements: submit one statement at a time');
  });

  test('sorting a cut result asks the database; a complete one sorts on screen', async () => {
    const page = await explorer();
    await h.runSql(page, 'SELECT id, total FROM orders');
    await clickAndSettle(page, '#reswrap th button:has-text("id")');
    assert.equal((await column(page, 0))[0], '1');
    await clickAndSettle(page, '#reswrap th button:has-text("id")');
    assert.deepEqual((await column(page, 0)).slice(0, 2), ['3000', '2999']);
    assert.match(
        await page.textContent('#qmeta'),
        new RegExp(DOT + 'sorted by id descending in the database$'));
    assert.match(page.statements.at(-1), /\) ORDER BY 1 DESC NULLS LAST LIMIT 501 OFFSET 0$/);
    await clickAndSettle(page, '#nextbtn');
    assert.equal((await column(page, 0))[0], '2500');
    // The address keeps the sort: a reload shows the sorted first page.
    await page.reload();
    await page.waitForSelector('#reswrap tbody tr');
    await settled(page);
    assert.deepEqual((await column(page, 0)).slice(0, 2), ['3000', '2999']);
    assert.equal(await page.getAttribute('#reswrap th:first-child', 'aria-sort'), 'descending');

    await openTable(page, 'orders');
    await clickAndSettle(page, '#reswrap th button:has-text("total")');
    await clickAndSettle(page, '#reswrap th button:has-text("total")');
    assert.equal((await column(page, 3))[0], '999.5');
    // A filter keeps the sort that the database made.
    await page.fill('#reswrap input[aria-label="Filter status"]', '=open');
    await page.press('#reswrap input[aria-label="Filter status"]', 'Enter');
    await settled(page);
    assert.deepEqual((await h.gridRows(page))[0].slice(2, 4), ['open', '999.5']);
    assert.match(await page.textContent('#qmeta'), /sorted by total descending in the database$/);

    await h.runSql(page, 'SELECT id FROM orders WHERE id <= 5');
    const sent = page.statements.length;
    await page.click('#reswrap th button:has-text("id")');
    await page.click('#reswrap th button:has-text("id")');
    assert.deepEqual(await column(page, 0), ['5', '4', '3', '2', '1']);
    assert.equal(page.statements.length, sent);
    assert.doesNotMatch(await page.textContent('#qmeta'), /in the database/);
  });

  test(
      'a filter keeps the matching rows and takes quotes, wildcards and non-ASCII literally',
      async () => {
        const page = await explorer();
        const cases = [
          {
            column: 'note',
            typed: QUOTED_NOTE,
            ids: ['17'],
            sql:
                'SELECT * FROM "orders" WHERE "note" LIKE \'%O\'\'Brien\'\'s "50\\%" \\\\ off%\' ESCAPE \'\\\' LIMIT 100;'
          },
          {column: 'note', typed: '50%', ids: ['17']},
          {column: 'note', typed: '50_50', ids: ['18']},
          {column: 'note', typed: 'Gr\u00fc\u00dfe', ids: ['19']},
          {column: 'id', typed: '>2996', ids: ['2997', '2998', '2999', '3000']},
          {
            column: 'id',
            typed: '42',
            ids: ['42'],
            sql: 'SELECT * FROM "orders" WHERE "id" = 42 LIMIT 100;'
          },
          {column: 'status', typed: '=open', count: 100},
          {column: 'note', typed: 'nothing like this', ids: []},
        ];
        for (const c of cases) {
          await openTable(page, 'orders');
          await page.fill(`#reswrap input[aria-label="Filter ${c.column}"]`, c.typed);
          await page.press(`#reswrap input[aria-label="Filter ${c.column}"]`, 'Enter');
          await settled(page);
          const label = c.column + ' ' + c.typed;
          const ids = await column(page, 0);
          if (c.ids)
            assert.deepEqual(ids, c.ids, label);
          else
            assert.equal(ids.length, c.count, label);
          if (c.sql) assert.equal(await h.sqlText(page), c.sql, label);
          assert.equal(page.statements.at(-1).includes(' WHERE '), true, label);
          assert.equal(
              await page.inputValue(`#reswrap input[aria-label="Filter ${c.column}"]`), c.typed,
              label);
        }
        assert.equal(await page.textContent('#reswrap .empty'), '0 rows.');
        assert.deepEqual(page.errors, []);
      });

  test(
      'Structure shows columns, a composite index, a foreign key and the CREATE statements',
      async () => {
        const page = await explorer();
        await openTable(page, 'orders');
        await page.click('#structbtn');
        await page.waitForSelector('#panelbody pre');
        const tables = await page.$$eval(
            '#panelbody table',
            (list) => list.map(
                (table) => Array.from(
                    table.rows, (row) => Array.from(row.cells, (cell) => cell.textContent))));
        assert.equal(await page.textContent('#paneltitle'), 'Structure of orders');
        assert.deepEqual(tables[0].slice(0, 4), [
          ['column', 'type', 'primary key', 'not null', 'default'],
          ['id', 'INTEGER', '1', '', ''],
          ['customer_id', 'INTEGER', '', 'NOT NULL', ''],
          ['status', 'TEXT', '', 'NOT NULL', '\'open\''],
        ]);
        assert.deepEqual(
            tables[1],
            [['index', 'unique', 'columns'], ['orders_status_total', '', 'status, total']]);
        assert.deepEqual(
            tables[2],
            [['columns', 'references', 'referenced columns'], ['customer_id', 'customers', 'id']]);
        const create = await page.textContent('#panelbody pre');
        assert.match(create, /^CREATE TABLE orders \(\n {2}id INTEGER PRIMARY KEY,/);
        assert.match(create, /\n\nCREATE INDEX orders_status_total ON orders \(status, total\);$/);
        await page.click('#panelclose');
        assert.equal(await page.isHidden('#panel'), true);
      });

  async function downloaded(page, button) {
    const [file] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
    const content = fs.readFileSync(await file.path(), 'utf8');
    return {name: file.suggestedFilename(), content: content};
  }

  test('Download CSV and Download JSON save every page of the result', async () => {
    const page = await explorer();
    await openTable(page, 'orders');
    const csv = await downloaded(page, '#dlcsvbtn');
    assert.match(csv.name, /^orders-\d{4}-\d\d-\d\d\.csv$/);
    const lines = csv.content.split('\n');
    assert.equal(lines.length, 3002);  // every line ends with its line break
    assert.equal(lines[3001], '');
    assert.equal(lines[0], 'id,customer_id,status,total,note');
    assert.equal(lines[17], '17,120,cancelled,629.5,"O\'Brien\'s ""50%"" \\ off"');
    assert.equal(lines[3000], '3000,1,shipped,0.5,');
    assert.match(await page.textContent('#qmeta'), /^Downloaded 3000 rows as orders-/);

    const json = await downloaded(page, '#dljsonbtn');
    const objects = JSON.parse(json.content);
    assert.equal(objects.length, 3000);
    assert.deepEqual(
        objects[16],
        {id: 17, customer_id: 120, status: 'cancelled', total: 629.5, note: QUOTED_NOTE});

    // Big integers stay exact in the file; a statement's file is named "query".
    await h.runSql(page, 'SELECT id, entry FROM ledger ORDER BY id DESC');
    const exact = await downloaded(page, '#dljsonbtn');
    assert.match(exact.name, /^query-\d{4}-\d\d-\d\d\.json$/);
    assert.match(exact.content, /^\[\n\{"id":9007199254741291,"entry":"entry 149"\},\n/);
    assert.equal(exact.content.split('\n').length, 153);
  });

  test('a download stops at a page that reaches the time budget, and Cancel stops it', async () => {
    const page = await explorer();
    let saved = 0;
    page.on('download', () => saved++);
    await h.runSql(page, SLOW_AFTER_FIRST_PAGE);
    assert.equal(await range(page), 'rows 1-500');
    await page.click('#dlcsvbtn');
    assert.equal(await page.isVisible('#dlcancel'), true);
    await h.screenshot(page, 'tools-download');
    await page.waitForFunction(
        () => /^Download stopped/.test(document.getElementById('qmeta').textContent));
    assert.match(
        await page.textContent('#qmeta'),
        /^Download stopped: the rows from \d+ on reached the time budget; no file saved$/);
    assert.equal(await page.isHidden('#dlbar'), true);

    await page.click('#dljsonbtn');
    await page.click('#dlcancel');
    assert.equal(await page.textContent('#qmeta'), 'Download cancelled');
    await page.waitForTimeout(2500);  // the cancelled page answers meanwhile
    assert.equal(await page.textContent('#qmeta'), 'Download cancelled');
    assert.equal(saved, 0);
  });

  test('the cell viewer shows whole values: line breaks, indented JSON, blob bytes', async () => {
    const page = await explorer();
    await h.runSql(
        page,
        'SELECT \'line one\' || char(10) || \'line two\' AS t, ' +
            '\'{"a":[1,{}],"big":9007199254740993}\' AS j, x\'00ff10\' AS b, 12345678901234567 AS n');
    const cases = [
      {cell: 1, title: 'Value of t', kind: 'text, 17 characters', shown: 'line one\nline two'},
      {
        cell: 2,
        title: 'Value of j',
        kind: 'JSON text',
        shown: '{\n  "a": [\n    1,\n    {}\n  ],\n  "big": 9007199254740993\n}'
      },
      {cell: 3, title: 'Value of b', kind: 'blob, 3 bytes', shown: '00 ff 10'},
      {cell: 4, title: 'Value of n', kind: 'number', shown: '12345678901234567'},
    ];
    for (const c of cases) {
      await page.click(`#reswrap tbody td:nth-child(${c.cell})`);
      assert.equal(await page.textContent('#paneltitle'), c.title);
      // The value is asked for again in the exact form, and then says so.
      await page.waitForFunction(() => /exact$/.test(document.querySelector('#panelbody .hint').textContent));
      assert.equal(await page.textContent('#panelbody .hint'), c.kind + DOT + 'exact');
      assert.equal(await page.textContent('#panelbody pre'), c.shown);
    }
    // From the keyboard: the first cell is a tab stop, arrows move, Enter opens.
    await page.click('#panelclose');
    await page.focus('#reswrap tbody td:first-child');
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('Enter');
    assert.equal(await page.textContent('#paneltitle'), 'Value of j');
    await page.click('#panelbody button:has-text("Copy value")');
    await page.waitForFunction(
        () => document.getElementById('qmeta').textContent === 'Value copied');
    assert.equal(
        await page.evaluate(() => navigator.clipboard.readText()),
        '{"a":[1,{}],"big":9007199254740993}');
  });

  test(
      'the hash restores database, table, filter and statement after a reload and on Back',
      async () => {
        const page = await explorer();
        await openTable(page, 'orders');
        await page.fill('#reswrap input[aria-label="Filter status"]', 'open');
        await page.press('#reswrap input[aria-label="Filter status"]', 'Enter');
        await settled(page);
        const filtered = await h.sqlText(page);
        const hash = new URLSearchParams((await page.evaluate(() => location.hash)).slice(1));
        assert.deepEqual(
            [hash.get('db'), hash.get('table'), hash.get('sql')], [dbPath, 'orders', filtered]);

        await page.reload();
        await page.waitForSelector('#reswrap tbody tr');
        await settled(page);
        assert.equal(await page.inputValue('#dbsel'), dbPath);
        assert.match(await page.textContent('#tables .on'), /^orders /);
        assert.equal(await h.sqlText(page), filtered);
        assert.equal(await page.inputValue('#reswrap input[aria-label="Filter status"]'), 'open');
        assert.deepEqual([...new Set(await column(page, 2))], ['open']);

        // A sort made by the database comes back too.
        await clickAndSettle(page, '#reswrap th button:has-text("total")');
        await clickAndSettle(page, '#reswrap th button:has-text("total")');
        await page.reload();
        await page.waitForSelector('#reswrap tbody tr');
        await settled(page);
        assert.deepEqual((await h.gridRows(page))[0].slice(2, 4), ['open', '999.5']);
        assert.match(
            await page.textContent('#qmeta'), /sorted by total descending in the database$/);

        await h.runSql(page, 'SELECT id FROM orders WHERE id > 2990');
        await page.reload();
        await page.waitForFunction(
            () => document.querySelectorAll('#reswrap tbody tr').length === 10);
        assert.equal(await h.sqlText(page), 'SELECT id FROM orders WHERE id > 2990');
        await page.goBack();
        await page.waitForFunction((sql) => document.getElementById('sql').innerText === sql, filtered);
        await settled(page);
        assert.deepEqual([...new Set(await column(page, 2))], ['open']);
        assert.deepEqual(page.errors, []);
      });

  test(
      'a hash naming a database that is gone shows the program\'s error and an empty page',
      async () => {
        const page = await h.freshPage(browser.context, host.url);
        const gone = path.join(fixture.root, 'gone.db');
        await page.goto(
            host.url + '/plugin_sqlite#' +
            new URLSearchParams({db: gone, table: 't', sql: 'SELECT 1'}));
        await page.waitForSelector('#tables .err');
        assert.equal(
            await page.textContent('#tables .err'), 'not_found: database file does not exist');
        assert.equal(
            await page.textContent('#reswrap .err'), 'not_found: database file does not exist');
        await page.waitForFunction(
            () => document.getElementById('dbcount').textContent === '1 database');
        assert.equal(await page.inputValue('#dbsel'), '');
        assert.equal(await page.$$eval('#tables .titem', (b) => b.length), 0);
        assert.deepEqual(page.errors, []);
      });

  test('History lists the statements run on the database, newest first, once each', async () => {
    const page = await explorer();
    for (const sql of ['SELECT 1', 'SELECT 2', 'SELECT 1']) await h.runSql(page, sql);
    await openTable(page, 'customers');
    await page.click('#historybtn');
    assert.deepEqual(
        await page.$$eval('#panelbody .hitem', (items) => items.map((i) => i.textContent)),
        ['SELECT * FROM "customers" LIMIT 100;', 'SELECT 1', 'SELECT 2']);
    await page.click('#panelbody .hitem:has-text("SELECT 2")');
    assert.equal(await h.sqlText(page), 'SELECT 2');
  });

  test('Explain shows the plan of the statement as an indented tree', async () => {
    const page = await explorer();
    await page.fill(
        '#sql',
        'SELECT id FROM orders WHERE customer_id IN (SELECT id FROM customers WHERE city = \'Oslo\') ' +
            'ORDER BY total;');
    await page.click('#explainbtn');
    await page.waitForSelector('#panelbody ul.plan');
    const tree = await page.$eval('#panelbody > ul.plan', function walk(list) {
      return Array.from(list.children, (item) => {
        const nested = item.querySelector(':scope > ul');
        return nested ? [item.firstChild.textContent, walk(nested)] : item.textContent;
      });
    });
    // The subquery's steps nest under it; SQLite versions differ in the
    // steps they add (a bloom filter, say), not in this shape.
    assert.equal(tree[0], 'SCAN orders');
    assert.deepEqual(tree[1].slice(0, 1), ['LIST SUBQUERY 1']);
    assert.equal(tree[1][1][0], 'SCAN customers');
    assert.equal(tree.at(-1), 'USE TEMP B-TREE FOR ORDER BY');
    assert.match(
        page.statements.at(-1), /^EXPLAIN QUERY PLAN SELECT id FROM orders .* ORDER BY total$/);
  });

  test('a foreign-key value opens the referenced table filtered to its row', async () => {
    const page = await explorer();
    await openTable(page, 'orders');
    const link = '#reswrap tbody tr:nth-child(3) td:nth-child(2) button.fklink';
    await page.waitForSelector(link);
    assert.equal(await page.textContent(link), '22');
    await clickAndSettle(page, link);
    assert.equal(
        await h.sqlText(page), 'SELECT * FROM "customers" WHERE "id" = 22 LIMIT 100;');
    assert.deepEqual(await h.gridRows(page), [['22', 'customer 22', 'Z\u00fcrich']]);
    assert.match(await page.textContent('#tables .on'), /^customers /);
  });

  // Each step opens one more of the new parts; axe-core runs after each.
  const OPEN_PARTS = [
    {
      name: 'a table with pager, filter row and key links',
      step: async (page) => {
        await openTable(page, 'orders');
        await page.waitForSelector('#reswrap button.fklink');
        await clickAndSettle(page, '#nextbtn');
        await page.waitForSelector('#reswrap button.fklink');
      }
    },
    {
      name: 'Structure',
      step: async (page) => {
        await page.click('#structbtn');
        await page.waitForSelector('#panelbody pre');
      }
    },
    {
      name: 'the cell viewer',
      step: async (page) => {
        await page.click('#reswrap tbody tr:nth-child(2) td:nth-child(3)');
      }
    },
    {
      name: 'History',
      step: async (page) => {
        await page.click('#historybtn');
      }
    },
    {
      name: 'Explain',
      step: async (page) => {
        await page.click('#explainbtn');
        await page.waitForSelector('#panelbody ul.plan');
      }
    },
  ];

  for (const theme of ['light', 'dark']) {
    for (const width of [1280, 375]) {
      test(
          `axe-core finds no violation with the new parts open: ${theme} theme, ${width} px`,
          async () => {
            const page = await explorer();
            await page.setViewportSize({width: width, height: 900});
            await page.evaluate(
                (t) => document.documentElement.setAttribute('data-theme', t), theme);
            for (const part of OPEN_PARTS) {
              await part.step(page);
              assert.deepEqual(await h.axeViolations(page), [], part.name);
              if (part.name === 'Structure')
                await h.screenshot(page, `tools-structure-${width}-${theme}`);
            }
            await h.screenshot(page, `tools-explain-${width}-${theme}`);
            assert.deepEqual(page.errors, []);
          });
    }
  }
});

describe('Explorer database list with many databases', {timeout: 60000}, () => {
  let fixture;
  const names = [
    'b/zeta.db', 'a.db', 'c/n07.sqlite', 'b/alpha.db', 'd1.db', 'd2.db', 'd3.db', 'd4.db', 'd5.db',
    'd6.db', 'd7.db'
  ];

  before(async () => {
    const dbs = Object.fromEntries(names.map((name) => [name, 'CREATE TABLE t (x);']));
    fixture = await h.startExplorerFixture('sqlite-dblist-', dbs);
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  test('options are sorted by path with time and size; a filter box narrows them', async () => {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
    const options = () => page.$$eval('#dbsel option', (list) => list.map((o) => o.value));
    const root = fixture.root + path.sep;
    assert.deepEqual(await options(), [''].concat(names.slice().sort().map((n) => root + n)));
    const label = await page.textContent('#dbsel option:nth-child(2)');
    assert.match(
        label,
        new RegExp(
            '^' + root + 'a\\.db' + DOT + '\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d UTC' + DOT +
            '\\d+\\.\\d KB$'));
    assert.equal(await page.isVisible('#dbfilter'), true);
    assert.deepEqual(await h.axeViolations(page), []);
    await page.fill('#dbfilter', 'N07');
    assert.deepEqual(await options(), ['', root + 'c/n07.sqlite']);
    await page.selectOption('#dbsel', root + 'c/n07.sqlite');
    await page.waitForSelector('#tables .titem');
    await page.fill('#dbfilter', '');
    assert.equal((await options()).length, 12);
    assert.equal(await page.inputValue('#dbsel'), root + 'c/n07.sqlite');
  });

  test('the filter keeps the open database listed and selected, and says when nothing matches', async () => {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    const schemas = [];
    page.on('request', (request) => {
      if (request.url().includes('action=schema')) schemas.push(request.url());
    });
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
    const root = fixture.root + path.sep;
    const options = () => page.$$eval('#dbsel option', (list) => list.map((o) => o.value));
    await page.selectOption('#dbsel', root + 'b/zeta.db');
    await page.waitForSelector('#tables .titem');
    const cases = [
      ['alpha', ['', root + 'b/alpha.db', root + 'b/zeta.db'], ''],
      ['nothing like it', ['', root + 'b/zeta.db'], 'no match'],
      ['ZETA', ['', root + 'b/zeta.db'], ''],
    ];
    for (const [typed, listed, said] of cases) {
      await page.fill('#dbfilter', typed);
      assert.deepEqual(await options(), listed, typed);
      assert.equal(await page.inputValue('#dbsel'), root + 'b/zeta.db', typed);
      assert.equal(await page.textContent('#dbmatch'), said, typed);
    }
    await page.fill('#dbfilter', 'nothing like it');
    await Promise.all([page.waitForResponse((r) => r.url().includes('action=dbs')), page.click('#reloadbtn')]);
    await page.waitForSelector('#tables .titem');
    assert.deepEqual(await options(), ['', root + 'b/zeta.db'], 'after Rescan');
    assert.equal(await page.inputValue('#dbsel'), root + 'b/zeta.db', 'after Rescan');
    assert.equal(schemas.filter((url) => !url.includes('zeta')).length, 0, schemas.join(' '));
    assert.deepEqual(await h.axeViolations(page), []);
  });
});
