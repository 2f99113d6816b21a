// Integers beyond the browser's exact range (2^53) in the Explorer: shown,
// sorted and copied with every digit the database holds, also where two of
// them differ only beyond that range or one of them meets a real.
'use strict';

const assert = require('node:assert/strict');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

// id, the stored value as SQL, its text on screen and in both copies. The
// pairs 3/4 and 5/6 are one apart, which a double cannot tell apart; 6 is a
// real.
const VALUES = [
  [1, '9223372036854775807', '9223372036854775807'],
  [2, '-9223372036854775808', '-9223372036854775808'],
  [3, '9007199254740993', '9007199254740993'],
  [4, '9007199254740992', '9007199254740992'],
  [5, '15000000000000001', '15000000000000001'],
  [6, '1.5e16', '15000000000000000'],
  [7, '42', '42'],
  [8, 'NULL', null],
  [9, '-9007199254740993', '-9007199254740993'],
];
const FIXTURE_SQL = 'CREATE TABLE big (id INTEGER PRIMARY KEY, v);\n' +
                    VALUES.map(([id, sql]) => `INSERT INTO big VALUES (${id}, ${sql});`).join('\n');
const QUERY = 'SELECT id, v FROM big ORDER BY id';

describe('exact big integers', {timeout: 90000}, () => {
  let fixture;
  let page;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-bigint-', {'big.db': FIXTURE_SQL});
    const url = fixture.host.url;
    await fixture.browser.context.grantPermissions(['clipboard-read', 'clipboard-write'], {origin: url});
    page = await h.freshPage(fixture.browser.context, url);
    await h.openExplorer(page, url + '/plugin_sqlite');
    await page.waitForSelector('#tables .titem');
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  test('every value is shown with all its digits, numbers right-aligned', async () => {
    await h.runSql(page, QUERY);
    assert.deepEqual(await h.gridRows(page), VALUES.map(([id, , shown]) => [String(id), shown === null ? 'NULL' : shown]));
    const classes = await page.$$eval('#reswrap tbody td:nth-child(2)', (cells) => cells.map((c) => c.className));
    assert.deepEqual(classes, VALUES.map(([, , shown]) => (shown === null ? 'null' : 'num')));
    assert.deepEqual(page.errors, []);
  });

  test('sorting compares exact values, a big integer against a real too, nulls last', async () => {
    await h.runSql(page, QUERY);
    const order = async () => (await h.gridRows(page)).map((row) => Number(row[0]));
    // Each click on the header of v, in turn.
    const cases = [
      {sort: 'ascending', ids: [2, 9, 7, 4, 3, 6, 5, 1, 8]},
      {sort: 'descending', ids: [1, 5, 6, 3, 4, 7, 9, 2, 8]},
    ];
    for (const c of cases) {
      await page.click('#reswrap th:nth-child(2) button');
      assert.equal(await page.getAttribute('#reswrap th:nth-child(2)', 'aria-sort'), c.sort);
      assert.deepEqual(await order(), c.ids, c.sort);
    }
  });

  test('Copy CSV and Copy JSON write every digit', async () => {
    await h.runSql(page, QUERY);
    const cases = [
      ['#csvbtn', 'CSV copied',
       'id,v\n' + VALUES.map(([id, , shown]) => id + ',' + (shown === null ? '' : shown)).join('\n')],
      ['#jsonbtn', 'JSON copied',
       '[' + VALUES.map(([id, , shown]) => '[' + id + ',' + (shown === null ? 'null' : shown) + ']').join(',') + ']'],
    ];
    for (const [button, done, expected] of cases) {
      await page.click(button);
      await page.waitForFunction((text) => document.getElementById('qmeta').textContent === text, done);
      assert.equal(await page.evaluate(() => navigator.clipboard.readText()), expected, button);
    }
  });

  test('the page reads every JSON form as JSON.parse does, except integers beyond 2^53', async () => {
    // Cell tokens as the answer's text carries them, and the cell's text on
    // screen: JSON.parse's value in the grid's form, or the digits as they
    // stand for an integer beyond 2^53.
    // A cell shows a tab and a line break as visible marks.
    const onScreen = (value) => (value === null ? 'NULL' : typeof value === 'object' ? JSON.stringify(value) :
      String(value).replace(/\t/g, '\u21e5').replace(/\n/g, '\u21b5'));
    const TOKENS = [
      '"plain"', '"quote \\" backslash \\\\ slash \\/"', '"\\u00e9\\u4e2d"', '"\\ud83d\\ude00"', '"tab\\tnew\\nline"',
      '-0.5', '1E3', '1e-7', '2.50', '-0', 'true', 'false', 'null', '[1, [2, "x"]]', '{"a": {"b": []}}',
    ];
    const BIG = ['123456789012345678901234567890', '-9223372036854775809', '9007199254740993'];
    const cells = TOKENS.concat(BIG);
    const body = '{ "ok" : true ,\n "columns" : [' + cells.map((_, i) => '{"name":"c' + i + '"}').join(' ,\n ') +
                 '],\r\n\t"rows": [ [ ' + cells.join(' , ') + ' ] ], "row_count": 1, "ms": 0 }\n';
    await page.route((url) => url.searchParams.get('action') === 'query',
                     (route) => route.fulfill({contentType: 'application/json', body: body}));
    try {
      await h.runSql(page, 'SELECT 1');
      assert.deepEqual(await h.gridRows(page), [TOKENS.map((token) => onScreen(JSON.parse(token))).concat(BIG)]);
    } finally {
      await page.unrouteAll();
    }
  });

  test('ordinary numbers keep their usual form', async () => {
    await h.runSql(page, 'SELECT 0, -0.0, 2.5, 1e20, 9007199254740991, -9007199254740991, 0.1 + 0.2');
    assert.deepEqual(await h.gridRows(page),
                     [['0', '0', '2.5', '100000000000000000000', '9007199254740991', '-9007199254740991',
                       '0.3']]);
  });
});
