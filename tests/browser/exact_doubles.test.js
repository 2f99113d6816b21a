// One million doubles through the exact form and back: random 64-bit
// patterns that are finite doubles, and the edge reals (signed zeros,
// subnormals, the largest double, integers near 2^53 and 2^64), written by
// the program with exact=1 and read by the page's own JSON reader and
// chromium's JSON.parse in the browser, and by Python's json, each value
// compared with its bit pattern. exact_doubles.py makes the table.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, test} = require('node:test');
const h = require('./helpers');

const SCRIPT = path.join(__dirname, 'exact_doubles.py');
const ROWS = 5000;           // as exact_doubles.py writes them
const DOUBLES = ROWS * 200;  // 200 a row
const PAGE_ROWS = 500;       // the most rows one answer gives

let dir;
let browser;

before(async () => {
  dir = h.tempDir('sqlite-doubles-');
  childProcess.execFileSync('python3', [SCRIPT, 'make', path.join(dir, 'doubles.db')]);
  browser = await h.launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (dir) fs.rmSync(dir, {recursive: true, force: true});
});

/// The program's exact answer for rows first..first+PAGE_ROWS-1, without
/// its header block.
function exactAnswer(first) {
  const sql = `SELECT * FROM r WHERE id BETWEEN ${first} AND ${first + PAGE_ROWS - 1} ORDER BY id`;
  const result = childProcess.spawnSync(h.BIN, [], {
    env: {SQLITE_ALLOWED_ROOT: dir, QUERY_STRING: 'action=query&exact=1&db=' +
          encodeURIComponent(path.join(dir, 'doubles.db')) + '&sql=' + encodeURIComponent(sql)},
    maxBuffer: 1 << 28,
  });
  assert.equal(result.stderr.toString(), '');
  const out = result.stdout.toString('utf8');
  return out.slice(out.indexOf('\r\n\r\n') + 4);
}

// In the page: each reader's count of doubles compared and the first that
// differ from the bit patterns of their row.
function compareInPage(answer) {
  const view = new DataView(new ArrayBuffer(8));
  const bitsOf = (value) => {
    view.setFloat64(0, value);
    return view.getBigUint64(0).toString(16).padStart(16, '0');
  };
  const results = {};
  // eslint-disable-next-line no-undef
  for (const [reader, parse] of [['page', parseJsonExact], ['JSON.parse', JSON.parse]]) {
    let compared = 0;
    const wrong = [];
    for (const row of parse(answer).rows) {
      for (let k = 2; k < row.length; k++) {
        const expected = row[1].substr(16 * (k - 2), 16);
        if (typeof row[k] !== 'number' || bitsOf(row[k]) !== expected) wrong.push([row[0], k - 2, String(row[k]), expected]);
        compared++;
      }
    }
    results[reader] = {compared, wrong: wrong.slice(0, 5)};
  }
  return results;
}

test('a million exact doubles read back bit for bit in the browser and in Python', {timeout: 240000}, async () => {
  const page = await browser.context.newPage();
  await page.goto('about:blank');
  await page.addScriptTag({content: fs.readFileSync(path.join(h.REPO, 'src/page/json_exact.js'), 'utf8')});
  const totals = {'page': {compared: 0, wrong: []}, 'JSON.parse': {compared: 0, wrong: []}};
  const files = [];
  for (let first = 1; first <= ROWS; first += PAGE_ROWS) {
    const answer = exactAnswer(first);
    const results = await page.evaluate(compareInPage, answer);
    for (const reader of Object.keys(totals)) {
      totals[reader].compared += results[reader].compared;
      totals[reader].wrong.push(...results[reader].wrong);
    }
    files.push(path.join(dir, `answer${first}.json`));
    fs.writeFileSync(files[files.length - 1], answer);
  }
  for (const reader of Object.keys(totals)) {
    assert.deepEqual(totals[reader], {compared: DOUBLES, wrong: []}, reader);
  }
  assert.equal(childProcess.execFileSync('python3', [SCRIPT, 'check', ...files]).toString(), `${DOUBLES} []\n`);
  await page.close();
});
