// Wide and long results: a big grid keeps only what is in view in the
// document, yet every row and column stays reachable by scrolling, by the
// keyboard and by a click, and sorts as a whole; a 2,000-column table opens;
// the Columns list hides and shows columns and keeps that over pages.
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const WIDE_COLUMNS = 130;
const WIDE_ROWS = 500;

// Cell (row r from 1, column c from 0) of `wide` holds "r:c", so that any
// value shown names its own place.
function wideSql() {
  const names = [];
  const values = [];
  for (let c = 0; c < WIDE_COLUMNS; c++) {
    names.push(`c${c} TEXT`);
    values.push(`i || ':${c}'`);
  }
  return `CREATE TABLE wide (${names.join(', ')});
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ${WIDE_ROWS})
INSERT INTO wide SELECT ${values.join(', ')} FROM n;`;
}

function widestSql() {
  const names = [];
  for (let c = 0; c < 2000; c++) names.push(`k${c} INTEGER`);
  return `CREATE TABLE widest (${names.join(', ')});
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150)
INSERT INTO widest (k0, k1999) SELECT i, i * 10 FROM n;`;
}

const SHOP_SQL = `
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price REAL, note TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250)
INSERT INTO items SELECT i, 'item ' || i, i * 1.5, 'note ' || i FROM n;
CREATE TABLE tags (tag TEXT);
INSERT INTO tags VALUES ('a');`;

describe('big grids and the Columns list', {timeout: 300000}, () => {
  let fixture;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-wide-', {
      'wide.db': wideSql(), 'widest.db': widestSql(), 'shop.db': SHOP_SQL,
    });
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  async function explorerOn(db) {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await page.setViewportSize({width: 1280, height: 900});
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
    await page.selectOption('#dbsel', path.join(fixture.root, db));
    await page.waitForSelector('#tables .titem');
    return page;
  }

  const cellCount = (page) => page.$$eval('#reswrap tbody:not(.pad) td:not(.pad)', (cells) => cells.length);
  const cellTexts = (page) => page.$$eval('#reswrap tbody:not(.pad) td:not(.pad)', (cells) => cells.map((c) => c.textContent));

  /// Scrolls the results area to `top`/`left` and waits for the frame that
  /// draws what came into view.
  async function scrollTo(page, top, left) {
    await page.evaluate(([t, l]) => new Promise((resolve) => {
      const area = document.getElementById('reswrap');
      area.scrollTop = t;
      area.scrollLeft = l;
      requestAnimationFrame(() => requestAnimationFrame(resolve));
    }), [top, left]);
  }

  test('500 rows of 130 columns: only the view is drawn, every cell is reached, a sort takes all rows', async () => {
    const page = await explorerOn('wide.db');
    await h.runSql(page, 'SELECT * FROM wide', true);
    assert.match(await page.textContent('#qmeta'), /^500 rows/);
    const drawn = await cellCount(page);
    assert.ok(drawn > 0 && drawn < 10000, `${drawn} cells in the document`);
    assert.equal(await page.getAttribute('#reswrap table', 'aria-rowcount'), String(WIDE_ROWS + 1));
    assert.ok((await cellTexts(page)).includes('1:0'));

    // The far corner, by scrolling.
    await scrollTo(page, 1e7, 1e7);
    const corner = await cellTexts(page);
    assert.ok(corner.includes(`${WIDE_ROWS}:${WIDE_COLUMNS - 1}`), 'the last row and column are drawn');
    assert.ok(!corner.includes('1:0'), 'the first cell is no longer drawn');
    await h.screenshot(page, 'wide-grid-corner');
    // A click there opens that cell's value.
    await page.click(`#reswrap td:text-is("${WIDE_ROWS}:${WIDE_COLUMNS - 1}")`);
    assert.equal(await page.textContent('#paneltitle'), `Value of c${WIDE_COLUMNS - 1}`);
    await page.click('#panelclose');

    // From the first cell, by the keyboard: down past the drawn window and
    // right past the drawn columns.
    await scrollTo(page, 0, 0);
    await page.focus('#reswrap tbody:not(.pad) td');
    for (let i = 0; i < 90; i++) await page.keyboard.press('ArrowDown');
    for (let i = 0; i < 60; i++) await page.keyboard.press('ArrowRight');
    assert.equal(await page.evaluate(() => document.activeElement.textContent), '91:60');
    assert.equal(await page.$$eval('#reswrap td[tabindex="0"]', (cells) => cells.length), 1);
    await page.keyboard.press('Enter');
    assert.equal(await page.textContent('#paneltitle'), 'Value of c60');
    await page.click('#panelclose');

    // A sort on screen orders all 500 rows, not only the drawn ones: text
    // order puts "99:5" last.
    await scrollTo(page, 0, 0);
    await page.click('#reswrap th[data-col="5"] button');
    await page.click('#reswrap th[data-col="5"] button');
    assert.equal(await page.getAttribute('#reswrap th[data-col="5"]', 'aria-sort'), 'descending');
    assert.ok((await cellTexts(page)).includes('99:5'));
    assert.deepEqual(page.errors, []);
  });

  test('a table of 2,000 columns opens, draws a part, and reaches its last column', async () => {
    const page = await explorerOn('widest.db');
    await page.click('#tables .titem:text-is("widest")');
    await page.waitForSelector('#reswrap tbody td');
    assert.ok(await cellCount(page) < 10000);
    assert.equal(await page.$$eval('#cols .chip', (chips) => chips.length), 2000);
    await scrollTo(page, 0, 1e7);
    assert.equal(await page.getAttribute('#reswrap th[data-col="1999"]', 'title'), 'k1999 INTEGER');
    assert.ok((await cellTexts(page)).includes('10'));
    assert.deepEqual(page.errors, []);
  });

  test('Columns hides and shows columns, over pages of one table, and forgets them for another', async () => {
    const page = await explorerOn('shop.db');
    await page.click('#tables .titem:text-is("items")');
    await page.waitForSelector('#reswrap tbody td');
    const headers = () => page.$$eval('#reswrap th button.sort', (b) => b.map((x) => x.textContent));
    assert.equal(await page.getAttribute('#reswrap th[data-col="2"]', 'title'), 'price REAL');
    assert.equal(await page.isVisible('#cols'), false);
    await page.click('#colsbtn');
    assert.equal(await page.getAttribute('#colsbtn', 'aria-expanded'), 'true');
    await page.getByRole('checkbox', {name: 'price  REAL'}).uncheck();
    await page.getByRole('checkbox', {name: 'note  TEXT'}).uncheck();
    assert.deepEqual(await headers(), ['id', 'name']);
    assert.equal(await page.textContent('#colsbtn'), 'Columns (2 hidden)');
    await h.screenshot(page, 'columns-list');
    assert.deepEqual((await h.gridRows(page))[0], ['1', 'item 1']);

    await page.click('#nextbtn');
    await page.waitForFunction(() => /^rows 101-/.test(document.getElementById('range').textContent));
    assert.deepEqual(await headers(), ['id', 'name']);
    await page.getByRole('checkbox', {name: 'note  TEXT'}).check();
    assert.deepEqual(await headers(), ['id', 'name', 'note']);

    await page.click('#tables .titem:text-is("tags")');
    await page.waitForFunction(() => document.querySelectorAll('#reswrap th button.sort').length === 1);
    assert.equal(await page.textContent('#colsbtn'), 'Columns');
    assert.deepEqual(await page.$$eval('#cols input', (boxes) => boxes.map((b) => b.checked)), [true]);
    assert.deepEqual(page.errors, []);
  });
});
