// The Explorer for everyone: no WCAG 2.1 A/AA violation that axe-core finds
// in either theme, wide or 375 px narrow, on the first view, with a grid and
// with an error; named controls, live regions, headers sorted from the
// keyboard, a Theme button that says which theme is on; a grid header that
// hides the rows scrolled under it, and new results from the top. Leaves
// screenshots of both themes at both widths.
'use strict';

const assert = require('node:assert/strict');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

// 200 rows of wide text, taller and wider than the results area.
const FIXTURE_SQL = `
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price REAL, note TEXT, extra TEXT);
WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 200)
INSERT INTO items SELECT x, 'item ' || x, x * 1.25, CASE WHEN x % 4 = 0 THEN NULL ELSE printf('%.60c', 'n') END,
                         printf('%.80c', 'e') FROM c;
CREATE VIEW dear AS SELECT name FROM items WHERE price > 100;
CREATE TABLE wide (${Array.from({length: 40}, (_, i) => `w${i} TEXT`).join(', ')});
WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 200)
INSERT INTO wide SELECT ${Array.from({length: 40}, (_, i) => `'value ' || x || '.${i}'`).join(', ')} FROM c;
`;
const WIDTHS = [1280, 375];
const THEMES = ['light', 'dark'];

describe('Explorer accessibility', {timeout: 240000}, () => {
  let fixture;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-a11y-', {'shop.db': FIXTURE_SQL});
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  /// The Explorer in `theme` at `width`, its tables listed.
  async function explorer(theme, width) {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await page.setViewportSize({width: width, height: 900});
    await page.evaluate((t) => localStorage.setItem('sqlite_theme', t), theme);
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
    await page.waitForSelector('#tables .titem');
    await page.waitForSelector('#infocard:not([style*="none"])');
    return page;
  }

  // Each step brings the page to the next state, in this order.
  const STATES = [
    {name: 'first view', step: async () => {}},
    {name: 'with a grid', step: async (page) => {
      await page.click('#tables .titem:has-text("items")');
      await page.waitForSelector('#reswrap tbody tr');
      await page.click('#reswrap th:nth-child(2) button');  // a sorted column shows its arrow
    }},
    // 8,000 cells: drawn a window at a time.
    {name: 'with a big grid and its Columns list', step: async (page) => {
      await h.runSql(page, 'SELECT * FROM wide', true);
      await page.waitForSelector('#reswrap tbody.pad');
      await page.click('#colsbtn');
      await page.waitForSelector('#cols:not([hidden])');
    }},
    {name: 'with an error', step: async (page) => {
      await h.runSql(page, 'SELECT nosuchcolumn FROM items');
      await page.waitForSelector('#reswrap .err');
    }},
  ];

  for (const theme of THEMES) {
    for (const width of WIDTHS) {
      test(`axe-core finds no violation: ${theme} theme, ${width} px`, async () => {
        const page = await explorer(theme, width);
        for (const state of STATES) {
          await state.step(page);
          assert.deepEqual(await h.axeViolations(page), [], state.name);
          if (state.name === 'with a grid') await h.screenshot(page, `explorer-${width}-${theme}`);
        }
        assert.deepEqual(page.errors, []);
      });
    }
  }

  test('controls have names; the status line and the errors are live regions', async () => {
    const page = await explorer('light', 1280);
    assert.equal(await page.getByRole('combobox', {name: 'Database'}).count(), 1);
    assert.equal(await page.getByRole('textbox', {name: 'SQL statement'}).count(), 1);
    assert.equal(await page.getAttribute('#qmeta', 'role'), 'status');
    assert.equal(await page.getAttribute('#qmeta', 'aria-live'), 'polite');
    assert.equal(await page.getAttribute('#alerts', 'role'), 'alert');
    assert.equal(await page.getAttribute('#alerts', 'aria-live'), 'assertive');
    await h.runSql(page, 'SELECT nosuchcolumn FROM items');
    const error = await page.textContent('#reswrap .err');
    assert.match(error, /nosuchcolumn/);
    assert.equal(await page.getByRole('alert').textContent(), error);
    // A new run clears the announcement, so that the same error is read again.
    await page.fill('#sql', 'SELECT count(*) FROM items');
    await page.click('#runbtn');
    assert.equal(await page.getByRole('alert').textContent(), '');
    await page.waitForFunction(() => /^1 row/.test(document.getElementById('qmeta').textContent));
    assert.equal(await page.getByRole('status').textContent(), await page.textContent('#qmeta'));
  });

  // axe-core leaves the outlines of controls alone; these are measured here
  // as the browser paints them: the border over the control's own fill,
  // against that fill and against what lies around the control.
  test('form controls and secondary buttons have outlines of at least 3:1, in both themes', async () => {
    const page = await explorer('light', 1280);
    for (const theme of THEMES) {
      await page.evaluate((t) => document.documentElement.setAttribute('data-theme', t), theme);
      const ratios = await page.evaluate(() => {
        const rgba = (text) => {
          const [r, g, b, a] = text.match(/[\d.]+/g).map(Number);
          return [r, g, b, a === undefined ? 1 : a];
        };
        const over = (top, below) => [0, 1, 2].map((i) => top[i] * top[3] + below[i] * (1 - top[3])).concat(1);
        const around = (element) => {
          const layers = [];
          for (let e = element; e; e = e.parentElement) layers.push(rgba(getComputedStyle(e).backgroundColor));
          return layers.reverse().reduce((below, top) => over(top, below), [255, 255, 255, 1]);
        };
        const luminance = (c) => {
          const [r, g, b] = c.slice(0, 3).map((v) => {
            v /= 255;
            return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4;
          });
          return 0.2126 * r + 0.7152 * g + 0.0722 * b;
        };
        const contrast = (x, y) => {
          const [hi, lo] = [luminance(x), luminance(y)].sort((p, q) => q - p);
          return (hi + 0.05) / (lo + 0.05);
        };
        return ['#dbsel', '#sql', '#reloadbtn', '#csvbtn', '#jsonbtn', '#themebtn'].map((id) => {
          const control = document.querySelector(id);
          const outside = around(control.parentElement);
          const inside = over(rgba(getComputedStyle(control).backgroundColor), outside);
          const border = over(rgba(getComputedStyle(control).borderTopColor), inside);
          return [id, Math.min(contrast(border, inside), contrast(border, outside))];
        });
      });
      for (const [id, ratio] of ratios) assert.ok(ratio >= 3, `${theme} ${id}: ${ratio.toFixed(2)}:1`);
    }
  });

  test('the Theme button says which theme is on, whoever set it', async () => {
    const page = await explorer('light', 1280);
    const label = () => page.textContent('#themebtn');
    const steps = [
      ['at start', async () => {}, 'Theme: light'],
      ['after a click', () => page.click('#themebtn'), 'Theme: dark'],
      ['after a second click', () => page.click('#themebtn'), 'Theme: light'],
      ['after the host page chose', () => page.evaluate(() => window.qvApplyTheme('dark')), 'Theme: dark'],
    ];
    for (const [name, step, expected] of steps) {
      await step();
      assert.equal(await label(), expected, name);
      assert.equal(await page.getAttribute('html', 'data-theme'), expected.slice(7), name);
    }
  });

  test('headers are sorted from the keyboard and expose their sort state', async () => {
    const page = await explorer('dark', 1280);
    await page.click('#tables .titem:has-text("items")');
    await page.waitForSelector('#reswrap tbody tr');
    await page.focus('#reswrap');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.textContent), 'id', 'Tab reaches the first header');
    await page.keyboard.press('Tab');
    const sortState = () => page.$$eval('#reswrap th', (cells) => cells.map((c) => c.getAttribute('aria-sort')));
    const keys = [
      ['Enter', [null, 'ascending', null, null, null]],
      ['Space', [null, 'descending', null, null, null]],
    ];
    for (const [key, expected] of keys) {
      await page.keyboard.press(key);
      // 200 rows are more than the table's first page: the database sorts them.
      await page.waitForFunction((want) => document.querySelectorAll('#reswrap th')[1].getAttribute('aria-sort') === want,
                                 expected[1]);
      assert.deepEqual(await sortState(), expected, key);
      assert.equal(await page.evaluate(() => document.activeElement.closest('th').cellIndex), 1,
                   'the focus stays on the sorted header after ' + key);
    }
    assert.equal((await h.gridRows(page))[0][1], 'item 99');
  });

  test('the sticky header hides the rows scrolled under it, in both themes', async () => {
    const page = await explorer('light', 1280);
    await page.click('#tables .titem:has-text("items")');
    await page.waitForSelector('#reswrap tbody tr');
    await page.mouse.move(0, 0);
    // The header row without the results area's rounded corners, whose
    // edge pixels are blended with whatever lies behind them.
    const box = await page.$eval('#reswrap thead', (head) => {
      const r = head.getBoundingClientRect();
      return {x: r.x + 12, y: r.y + 1, width: r.width - 24, height: r.height - 2};
    });
    for (const theme of THEMES) {
      await page.evaluate((t) => document.documentElement.setAttribute('data-theme', t), theme);
      await page.$eval('#reswrap', (wrap) => {
        wrap.scrollTop = 0;
      });
      const still = await page.screenshot({clip: box});
      await page.$eval('#reswrap', (wrap) => {
        wrap.scrollTop = 95;  // rows of text now lie right under the header
      });
      assert.ok(still.equals(await page.screenshot({clip: box})), theme + ': the header looks the same');
    }
  });

  test('a new result and a new sort start at the top; a sort keeps the column in view', async () => {
    const page = await explorer('light', 1280);
    const scroll = () => page.$eval('#reswrap', (wrap) => [wrap.scrollTop, wrap.scrollLeft]);
    const scrollAway = () => page.$eval('#reswrap', (wrap) => {
      wrap.scrollTop = 100000;
      wrap.scrollLeft = 100000;
      return [wrap.scrollTop > 0, wrap.scrollLeft > 0];
    });
    await h.runSql(page, 'SELECT *, *, * FROM items');
    assert.deepEqual(await scrollAway(), [true, true]);
    await h.runSql(page, 'SELECT *, *, * FROM items ORDER BY id DESC');
    assert.deepEqual(await scroll(), [0, 0]);
    await scrollAway();
    const left = (await scroll())[1];
    await page.$eval('#reswrap th:last-child button', (button) => button.click());
    assert.deepEqual(await scroll(), [0, left]);
  });
});
