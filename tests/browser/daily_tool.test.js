// The Explorer as a daily tool, in a real browser: the SQL editor, every
// table in reach, the row count and Go to row, filters as a person writes
// them, and the page's messages and states. A shop database of a few
// thousand rows, with names and values that are awkward on purpose, and a
// database of 1,000 tables.
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const ODD_TABLE = 'odd "name" \u{1f986}';
const SHOP_SQL = `
CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT NOT NULL, city TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)
INSERT INTO customers SELECT i, 'customer ' || i, CASE i % 3 WHEN 0 THEN 'Oslo' WHEN 1 THEN 'Lyon' ELSE NULL END FROM n;
CREATE TABLE orders (id INTEGER PRIMARY KEY, customer_id INTEGER REFERENCES customers (id),
  status TEXT NOT NULL, total REAL, placed TEXT, note TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)
INSERT INTO orders SELECT i, 1 + i % 300, CASE i % 3 WHEN 0 THEN 'shipped' WHEN 1 THEN 'open' ELSE 'cancelled' END,
  i % 1000 + 0.5, date('2024-01-01', '+' || (i % 366) || ' days'), CASE WHEN i % 5 = 0 THEN NULL ELSE 'note ' || i END FROM n;
UPDATE orders SET note = 'tab' || char(9) || 'here' WHERE id = 1;
UPDATE orders SET note = 'two' || char(10) || 'lines' WHERE id = 2;
UPDATE orders SET note = '  padded  ' WHERE id = 3;
UPDATE orders SET note = 'O''Brien "50%" \\ off' WHERE id = 4;
CREATE TABLE images (id INTEGER PRIMARY KEY, data BLOB);
INSERT INTO images VALUES (1, X'89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c4890000000d49444154789c63f8cfc0f01f00050001ff89993d1d0000000049454e44ae426082'),
  (2, X'89504e470d0a1a0a00000000deadbeef');
CREATE TABLE "odd ""name"" \u{1f986}" (id INTEGER PRIMARY KEY, "a b" TEXT);
INSERT INTO "odd ""name"" \u{1f986}" VALUES (1, 'x'), (2, 'y'), (3, 'x');
`;
let MANY_SQL = '';
for (let i = 0; i < 1000; i++) MANY_SQL += `CREATE TABLE t${String(i).padStart(4, '0')} (v); INSERT INTO t${String(i).padStart(4, '0')} VALUES (${i});\n`;

// A statement far beyond the time budget that finds no row.
const SLOW_EMPTY = 'SELECT a.id FROM orders a, orders b, orders c WHERE a.id + b.id + c.id < 0';

describe('Explorer as a daily tool', {timeout: 300000}, () => {
  let fixture;
  let shopPath;
  let manyPath;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-daily-', {'shop.db': SHOP_SQL, 'many.db': MANY_SQL});
    shopPath = path.join(fixture.root, 'shop.db');
    manyPath = path.join(fixture.root, 'many.db');
    await fixture.browser.context.grantPermissions(['clipboard-read', 'clipboard-write'], {origin: fixture.host.url});
  });
  after(() => fixture.stop());

  /// The Explorer on `db` with its tables listed.
  async function explorer(db, query) {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite' + (query || ''));
    await page.selectOption('#dbsel', db || shopPath);
    await page.waitForSelector('#tables .titem');
    return page;
  }

  async function openTable(page, name) {
    await page.click(`#tables .titem:text-is(${JSON.stringify(name)})`);
    await settled(page);
  }

  /// Waits until no statement runs.
  function settled(page) {
    return page.waitForFunction(() => !document.getElementById('runbtn').disabled &&
                                document.getElementById('qmeta').textContent !== 'Running...');
  }

  const explorerOn = explorer;
  const column = (page, i) => page.$$eval('#reswrap tbody tr', (rows, index) =>
      rows.map((row) => row.cells[index].textContent), i);

  describe('the editor', () => {
    async function explorer(db, query) {
      const page = await explorerOn(db, query);
      await page.waitForSelector('.cm-content#sql');
      return page;
    }

    test('highlights SQL in both themes', async () => {
      for (const theme of ['light', 'dark']) {
        const page = await explorer(shopPath, '?theme=' + theme);
        await page.fill('#sql', 'SELECT name FROM customers WHERE id = 7 -- one');
        const colours = await page.evaluate(() => {
          const colourOf = (pattern) => {
            const span = [...document.querySelectorAll('.cm-line span')].find((s) => pattern.test(s.textContent));
            return span ? getComputedStyle(span).color : null;
          };
          return {keyword: colourOf(/^SELECT$/), number: colourOf(/^7$/), comment: colourOf(/^-- one$/),
            text: getComputedStyle(document.querySelector('.cm-content')).color};
        });
        assert.ok(colours.keyword && colours.number && colours.comment, theme + ': every kind is marked');
        assert.equal(new Set(Object.values(colours)).size, 4, theme + ': four colours ' + JSON.stringify(colours));
        assert.deepEqual(await h.axeViolations(page), [], theme);
        await h.screenshot(page, 'editor-' + theme);
      }
    });

    test('completes tables while typing, columns after a table name, and on Ctrl+Space', async () => {
      const page = await explorer();
      await page.click('#sql');
      await page.keyboard.press('Control+a');
      await page.keyboard.type('SELECT * FROM ord');
      await page.waitForSelector('.cm-tooltip-autocomplete li:has-text("orders")');
      // The editor takes Enter as a choice only once the list has been up a moment.
      await page.waitForTimeout(200);
      await page.keyboard.press('Enter');
      assert.equal(await h.sqlText(page), 'SELECT * FROM orders');
      await page.keyboard.type(' WHERE orders.sta');
      await page.waitForSelector('.cm-tooltip-autocomplete li:has-text("status")');
      await page.waitForTimeout(200);
      await page.keyboard.press('Enter');
      assert.equal(await h.sqlText(page), 'SELECT * FROM orders WHERE orders.status');
      await page.keyboard.press('Escape');
      await page.keyboard.type(' = \'open\' ORDER BY ');
      await page.keyboard.press('Control+Space');
      await page.waitForSelector('.cm-tooltip-autocomplete li:has-text("customers")');
      assert.deepEqual(page.errors, []);
    });

    test('Ctrl+Enter runs the statement under the cursor, or the selection', async () => {
      const page = await explorer();
      await page.fill('#sql', 'SELECT 1 AS first;\nSELECT \'a;b\' AS second;\n');
      // The cursor rests after the last statement: it runs.
      await page.press('#sql', 'Control+Enter');
      await settled(page);
      assert.deepEqual(await h.gridRows(page), [['a;b']]);
      await page.keyboard.press('Control+Home');
      await page.press('#sql', 'Control+Enter');
      await settled(page);
      assert.deepEqual(await h.gridRows(page), [['1']]);
      // A selection runs as it is, with Run too.
      // "SELECT 1" selected: its column is named "1".
      await page.keyboard.press('Control+Home');
      for (let i = 0; i < 'SELECT 1'.length; i++) await page.keyboard.press('Shift+ArrowRight');
      await page.click('#runbtn');
      await settled(page);
      assert.deepEqual(await h.gridRows(page), [['1']]);
      assert.equal(await page.textContent('#reswrap th'), '1');
    });
  });

  describe('every table in reach', () => {
    test('past the 200 listed, Filter tables finds a table in sqlite_master and opens it', async () => {
      const page = await explorer(manyPath);
      await page.waitForFunction(() => document.getElementById('tablecount').textContent !== '');
      assert.equal(await page.textContent('#tablecount'), '200 of 1,000 tables');
      await page.fill('input[aria-label="Filter tables"]', 'T095');
      await page.waitForSelector('#tables .titem:text-is("t0950")');
      assert.equal(await page.$$eval('#tables .titem:visible', (b) => b.length), 10);
      await page.click('#tables .titem:text-is("t0957")');
      await page.waitForSelector('#reswrap tbody tr');
      await settled(page);
      assert.deepEqual(await h.gridRows(page), [['957']]);
      assert.equal(await page.getAttribute('#tables .titem:text-is("t0957")', 'aria-current'), 'true');
      await page.fill('input[aria-label="Filter tables"]', 'nothing like it');
      await page.waitForSelector('#tables .empty:text-is("No table matches.")');
    });

    test('a listed table narrows by name, and one named with quotes and emoji opens and filters', async () => {
      const page = await explorer();
      assert.equal(await page.textContent('#tablecount'), '');
      await page.fill('input[aria-label="Filter tables"]', 'ODD');
      assert.deepEqual(await page.$$eval('#tables .titem:visible', (b) => b.map((x) => x.firstChild.textContent)),
                       [ODD_TABLE]);
      await openTable(page, ODD_TABLE);
      assert.equal(await page.getAttribute(`#tables .titem:text-is(${JSON.stringify(ODD_TABLE)})`, 'aria-current'), 'true');
      await page.fill('#reswrap input[aria-label="Filter a b"]', 'in x, z');
      await page.press('#reswrap input[aria-label="Filter a b"]', 'Enter');
      await settled(page);
      assert.deepEqual(await h.gridRows(page), [['1', 'x'], ['3', 'x']]);
    });
  });

  describe('the count and Go to row', () => {
    test('a table reads "rows 1-100 of 3,000" and Go to row opens the page of that row', async () => {
      const page = await explorer();
      await openTable(page, 'orders');
      await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
      assert.equal(await page.textContent('#range'), 'rows 1-100 of 3,000');
      await page.fill('input[aria-label="Go to row"]', '2950');
      await page.press('input[aria-label="Go to row"]', 'Enter');
      await settled(page);
      assert.equal(await page.textContent('#range'), 'rows 2901-3000 of 3,000');
      assert.equal(await page.evaluate(() => document.activeElement.textContent), '2950');
      await page.click('#prevbtn');
      await settled(page);
      assert.deepEqual((await column(page, 0)).slice(0, 1), ['2801']);
      // The count follows the filter.
      await page.fill('#reswrap input[aria-label="Filter status"]', '=open');
      await page.press('#reswrap input[aria-label="Filter status"]', 'Enter');
      await settled(page);
      await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
      assert.equal(await page.textContent('#range'), 'rows 1-100 of 1,000');
    });

    test('statements with their own LIMIT or a trailing comment page too', async () => {
      const page = await explorer();
      const cases = [
        ['SELECT id FROM orders LIMIT 600', 'rows 1-500 of 600'],
        ['SELECT id FROM orders -- every order', 'rows 1-500 of 3,000'],
        ['SELECT id FROM orders WHERE id > 2000; -- the last thousand', 'rows 1-500 of 1,000'],
      ];
      for (const [sql, range] of cases) {
        await h.runSql(page, sql);
        await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
        assert.equal(await page.textContent('#range'), range, sql);
        assert.equal(await page.isEnabled('#nextbtn'), true, sql);
      }
      await page.fill('input[aria-label="Go to row"]', '599');
      await page.press('input[aria-label="Go to row"]', 'Enter');
      await settled(page);
      assert.equal(await page.textContent('#range'), 'rows 501-1000 of 1,000');
    });
  });

  describe('filters as a person writes them', () => {
    test('null tests, comparisons, lists, dates and literal text', async () => {
      const page = await explorer();
      // Each case: the typed filter, and the count of orders it keeps.
      const cases = [
        ['note', 'is null', '600'],
        ['note', 'not null', '2,400'],
        ['status', '!=open', '2,000'],
        ['status', 'in open, shipped', '2,000'],
        ['id', 'in 1, 2, 3000', '3'],
        ['id', '<=10', '10'],
        ['total', '>998', '6'],
        ['placed', '>=2024-12-30', '16'],
        ['placed', '<2024-01-03', '17'],
        ['note', 'O\'Brien "50%" \\ off', '1'],
        ['note', '50%', '1'],
        ['note', 'note 29', '89'],
      ];
      for (const [name, typed, count] of cases) {
        await openTable(page, 'orders');
        const box = `#reswrap input[aria-label="Filter ${name}"]`;
        assert.match(await page.getAttribute(box, 'title'), /is null.*not null|in a, b, c/);
        await page.fill(box, typed);
        await page.press(box, 'Enter');
        await settled(page);
        await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
        assert.match(await page.textContent('#range'), new RegExp(' of ' + count + '$'), name + ' ' + typed);
      }
      assert.deepEqual(page.errors, []);
    });

    test('a filter on a column the page does not know is refused, not ignored', async () => {
      const page = await h.freshPage(fixture.browser.context, fixture.host.url);
      const hash = new URLSearchParams({db: shopPath, table: 'orders', filter: JSON.stringify({nosuch: 'x'})});
      await h.openExplorer(page, fixture.host.url + '/plugin_sqlite#' + hash);
      await page.waitForSelector('#reswrap .err');
      assert.equal(await page.textContent('#reswrap .err'),
                   'The filter on "nosuch" is refused: the page could not read that column of "orders".');
    });
  });

  describe('facets', () => {
    const facetValues = (page) => page.$$eval('#panelbody .facet', (b) => b.map((x) => x.textContent));

    async function facet(page, name) {
      await page.selectOption('select[aria-label="Facet column"]', name);
      await page.waitForFunction(() => !/Counting/.test(document.getElementById('panelbody').textContent));
    }

    test('the most common values of a column, counted in the database; a value filters by it', async () => {
      const page = await explorer();
      await openTable(page, 'orders');
      await page.click('#facetsbtn');
      await facet(page, 'status');
      assert.deepEqual(await facetValues(page), ['cancelled (1,000)', 'open (1,000)', 'shipped (1,000)']);
      await page.click('#panelbody .facet:text-is("open (1,000)")');
      await settled(page);
      await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
      assert.equal(await page.textContent('#range'), 'rows 1-100 of 1,000');
      await page.waitForFunction(() => document.querySelectorAll('#panelbody .facet').length === 1);
      assert.deepEqual(await facetValues(page), ['open (1,000)'], 'the panel counts the filtered rows');
      await facet(page, 'note');
      assert.equal((await facetValues(page))[0], 'NULL (200)');
      await page.click('#panelbody .facet:text-is("NULL (200)")');
      await settled(page);
      await page.waitForFunction(() => / of 200$/.test(document.getElementById('range').textContent));
      assert.equal(await page.inputValue('#reswrap input[aria-label="Filter note"]'), 'is null');
    });

    test('values with spaces, quotes and emoji names match exactly; a statement is faceted too', async () => {
      const page = await explorer();
      await h.runSql(page, 'SELECT note, id FROM orders WHERE id <= 4 UNION ALL SELECT \'  padded  \', 0');
      await page.click('#facetsbtn');
      await facet(page, 'note');
      assert.equal((await facetValues(page))[0], '\u2423\u2423padded\u2423\u2423 (2)');
      await page.click('#panelbody .facet >> nth=0');
      await settled(page);
      assert.deepEqual(await column(page, 1), ['3', '0']);
      await openTable(page, ODD_TABLE);
      await page.click('#facetsbtn');
      await facet(page, 'a b');
      assert.deepEqual(await facetValues(page), ['x (2)', 'y (1)']);
      await page.click('#panelbody .facet:text-is("y (1)")');
      await settled(page);
      assert.deepEqual(await h.gridRows(page), [['2', 'y']]);
      assert.deepEqual(page.errors, []);
    });
  });

  describe('a row and its references', () => {
    test('Show row lists the row; Referenced by counts and opens the rows that point at it', async () => {
      const page = await explorer();
      await openTable(page, 'customers');
      await page.click('#reswrap tbody tr:nth-child(62) td:nth-child(2)');
      await page.click('#panel button:text-is("Show row")');
      assert.equal(await page.textContent('#paneltitle'), 'Row of customers');
      assert.deepEqual(await page.$$eval('#panelbody tbody tr', (rows) => rows.map((r) => r.textContent)),
                       ['id62', 'namecustomer 62', 'cityNULL']);
      await page.click('#reswrap tbody tr:nth-child(62) td:nth-child(2)');
      await page.click('#panel button:text-is("Referenced by")');
      await page.click('#panelbody button:text-is("orders (10)")');
      await settled(page);
      await page.waitForFunction(() => / of 10$/.test(document.getElementById('range').textContent));
      assert.deepEqual((await column(page, 1)).slice(0, 2), ['62', '62']);
      assert.equal(await page.getAttribute('#tables .titem.on', 'aria-current'), 'true');
      // Its foreign-key values are links named for where they lead, reached
      // through their cells: the grid stays one tab stop.
      const link = '#reswrap .fklink[aria-label="customer 62 in customers"]';
      await page.waitForSelector(link);
      assert.equal(await page.getAttribute(link, 'tabindex'), '-1');
      await page.focus('#reswrap tbody td');
      await page.keyboard.press('ArrowRight');
      await page.keyboard.press('Enter');
      await settled(page);
      assert.deepEqual(await h.gridRows(page), [['62', 'customer 62', 'NULL']]);
    });
  });

  describe('values', () => {
    test('an image blob shows as an image, a corrupt one as hex', async () => {
      const page = await explorer();
      await openTable(page, 'images');
      await page.click('#reswrap tbody tr:nth-child(1) td:nth-child(2)');
      await page.waitForFunction(() => {
        const image = document.querySelector('#panelbody img');
        return image && image.complete && image.naturalWidth === 1;
      });
      assert.equal(await page.getAttribute('#panelbody img', 'alt'), 'image, png, 70 bytes');
      assert.equal(await page.isHidden('#panelbody pre'), true);
      await page.click('#reswrap tbody tr:nth-child(2) td:nth-child(2)');
      await page.waitForFunction(() => !document.querySelector('#panelbody img'));
      assert.equal(await page.isVisible('#panelbody pre'), true);
      assert.match(await page.textContent('#panelbody pre'), /^89 50 4e 47/);
    });
  });

  describe('messages and states', () => {
    test('a first word that does not read is named; a budget stop says what helps', async () => {
      const page = await explorer();
      await h.runSql(page, 'SELEC * FROM orders');
      assert.equal(await page.textContent('#reswrap .err'),
                   '\'SELEC\' is not a read statement: SELECT, WITH, VALUES, PRAGMA and EXPLAIN run here');
      await h.runSql(page, SLOW_EMPTY);
      assert.match(await page.textContent('#reswrap .warn'),
                   /^Stopped at the time budget before any row was found: this is not an empty result\. A filter, or an index/);
      assert.equal(await page.$$eval('#reswrap .empty', (e) => e.length), 0, 'no "0 rows."');
    });

    test('Stop ends a running statement', async () => {
      const page = await explorer();
      await page.fill('#sql', SLOW_EMPTY);
      await page.click('#runbtn');
      await page.click('#stopbtn');
      assert.equal(await page.textContent('#qmeta'), 'Stopped.');
      assert.equal(await page.isEnabled('#runbtn'), true);
      assert.equal(await page.isHidden('#stopbtn'), true);
    });

    test('panels take the focus, keep the names\' case, close on Escape and with their result', async () => {
      const page = await explorer();
      await openTable(page, 'orders');
      await page.focus('#structbtn');
      await page.click('#structbtn');
      await page.waitForSelector('#panel:not([hidden])');
      assert.equal(await page.evaluate(() => document.activeElement.id), 'paneltitle');
      assert.equal(await page.evaluate(() => getComputedStyle(document.getElementById('paneltitle')).textTransform), 'none');
      await page.keyboard.press('Escape');
      assert.equal(await page.isHidden('#panel'), true);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'structbtn');
      await page.click('#reswrap tbody td:nth-child(2)');
      await page.waitForSelector('#panel:not([hidden])');
      await openTable(page, 'customers');
      assert.equal(await page.isHidden('#panel'), true, 'the value panel closed with its result');
    });

    test('cells show tabs, line breaks and end spaces; copies keep the order on screen', async () => {
      const page = await explorer();
      await h.runSql(page, 'SELECT id, note FROM orders WHERE id <= 4');
      assert.deepEqual((await column(page, 1)).slice(0, 3), ['tab\u21e5here', 'two\u21b5lines', '\u2423\u2423padded\u2423\u2423']);
      await page.click('#reswrap th button:has-text("id")');
      await page.click('#reswrap th button:has-text("id")');
      await page.click('#csvbtn');
      await page.waitForFunction(() => document.getElementById('qmeta').textContent === 'CSV copied');
      const csv = await page.evaluate(() => navigator.clipboard.readText());
      assert.deepEqual(csv.split('\n').slice(0, 2), ['id,note', '4,"O\'Brien ""50%"" \\ off"']);
    });

    test('one h1, a main landmark, ?theme= honoured; arrow keys on the list load only where they rest', async () => {
      const page = await h.freshPage(fixture.browser.context, fixture.host.url);
      const schemas = [];
      page.on('request', (request) => {
        if (request.url().includes('action=schema')) schemas.push(request.url());
      });
      await h.openExplorer(page, fixture.host.url + '/plugin_sqlite?theme=light');
      assert.equal(await page.getAttribute('html', 'data-theme'), 'light');
      assert.equal(await page.$$eval('h1', (list) => list.length), 1);
      assert.equal(await page.$$eval('main', (list) => list.length), 1);
      await page.focus('#dbsel');
      await page.keyboard.press('ArrowDown');
      await page.keyboard.press('ArrowDown');
      await page.waitForSelector('#tables .titem');
      await page.waitForTimeout(600);
      assert.equal(schemas.length, 1, 'one schema request: ' + schemas.join(' '));
      assert.equal(new URL(schemas[0]).searchParams.get('db'), shopPath);
    });
  });

  test('axe-core finds no violation with the new parts open, both themes, wide and narrow', async () => {
    for (const theme of ['light', 'dark']) {
      for (const width of [1280, 375]) {
        const page = await explorer(shopPath, '?theme=' + theme);
        await page.setViewportSize({width: width, height: 900});
        await page.fill('input[aria-label="Filter tables"]', 'o');
        await openTable(page, 'orders');
        await page.fill('input[aria-label="Go to row"]', '250');
        await page.press('input[aria-label="Go to row"]', 'Enter');
        await settled(page);
        await page.waitForFunction(() => / of /.test(document.getElementById('range').textContent));
        assert.deepEqual(await h.axeViolations(page), [], `${theme} ${width}`);
        await h.screenshot(page, `daily-${theme}-${width}`);
        await page.close();
      }
    }
  });
});
