// Every value as the database holds it: reals of the exact form read back
// as the same doubles by the page's own reader, the browser's and Python's;
// a download that matches the sqlite3 shell's CSV cell by cell; and the
// grid and the viewer showing what they cannot show whole.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

// 500 rows of 200 reals of every magnitude, and their texts from the
// sqlite3 shell with 21 significant digits, which name one double.
const REAL_COLUMNS = 200;
const REAL_ROWS = 500;
const realExpr = '(random() / (abs(random() % 1000000) + 1.0)) * pow(10, random() % 280)';
const REALS_SQL = `CREATE TABLE r (${Array.from({length: REAL_COLUMNS}, (_, i) => 'c' + i + ' REAL').join(', ')});
INSERT INTO r (c0, c1, c2, c3, c4) VALUES (0.1 + 0.2, 100.0, 1.0 / 3, 1e16, 4.9406564584124654e-324);
WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < ${REAL_ROWS})
INSERT INTO r SELECT ${Array.from({length: REAL_COLUMNS}, () => realExpr).join(', ')} FROM n;`;

// 10,000 rows of every kind of value a CSV must carry: quotes, commas,
// line breaks, NULLs, reals, 64-bit integers.
const FACTS_SQL = `CREATE TABLE facts (id INTEGER PRIMARY KEY, r REAL, t TEXT, big INTEGER, maybe);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000)
INSERT INTO facts SELECT i, i / 7.0 + 0.1, CASE i % 5 WHEN 0 THEN 'a, "b"' || char(10) || 'c' || i
  WHEN 1 THEN 'Gr' || char(252) || 'n ' || i WHEN 2 THEN '' ELSE 'plain ' || i END,
  9007199254740993 * (i % 3) - i, CASE WHEN i % 4 = 0 THEN NULL ELSE i * 1.5 END FROM n;
CREATE TABLE odd (id INTEGER PRIMARY KEY, v);
INSERT INTO odd VALUES (1, 'a' || char(0) || 'b' || char(1) || 'c'), (2, zeroblob(2097152)),
  (3, 'x' || replace(hex(zeroblob(786432)), '00', 'yy')), (4, 0.1 + 0.2);
CREATE VIEW slow AS SELECT a.id, (SELECT count(*) FROM facts b WHERE b.t <> a.t) AS n FROM facts a WHERE a.id <= 3000;
CREATE VIEW forever AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c;`;

/// The fields of CSV text (RFC 4180: quoted fields, doubled quotes, LF or
/// CR LF between records).
function parseCsv(content) {
  const records = [];
  let record = [];
  let field = '';
  let quoted = false;
  for (let i = 0; i < content.length; i++) {
    const c = content[i];
    if (quoted) {
      if (c === '"' && content[i + 1] === '"') {
        field += '"';
        i++;
      } else if (c === '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c === '"') {
      quoted = true;
    } else if (c === ',') {
      record.push(field);
      field = '';
    } else if (c === '\n' || c === '\r') {
      if (c === '\r' && content[i + 1] === '\n') i++;
      record.push(field);
      records.push(record);
      record = [];
      field = '';
    } else {
      field += c;
    }
  }
  if (field !== '' || record.length) records.push(record.concat([field]));
  return records;
}

function runPlugin(root, query) {
  const result = childProcess.spawnSync(h.BIN, [], {
    env: {SQLITE_ALLOWED_ROOT: root, QUERY_STRING: query},
    maxBuffer: 1 << 30,
  });
  assert.equal(result.stderr.toString(), '');
  const out = result.stdout.toString('utf8');
  return out.slice(out.indexOf('\r\n\r\n') + 4);
}

function shell(db, args, sql) {
  return childProcess.execFileSync('sqlite3', [...args, db, sql], {maxBuffer: 1 << 30}).toString('utf8');
}

async function chooseFacts(page) {
  const facts = await page.$eval('#dbsel', (select) => Array.from(select.options).find((o) => /facts\.db$/.test(o.value)).value);
  await page.selectOption('#dbsel', facts);
}

describe('whole values', {timeout: 240000}, () => {
  let fixture;
  let page;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-whole-', {'reals.db': REALS_SQL, 'facts.db': FACTS_SQL});
    page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  test('exact reals read back as the very same doubles in three JSON readers', () => {
    const db = path.join(fixture.root, 'reals.db');
    const select = 'SELECT * FROM r ORDER BY rowid';
    const answer = runPlugin(fixture.root, 'action=query&exact=1&db=' + encodeURIComponent(db) +
                             '&sql=' + encodeURIComponent(select));
    const columns = Array.from({length: REAL_COLUMNS}, (_, i) => `iif(c${i} IS NULL, '', printf('%!.20e', c${i}))`).join(',');
    const expected = parseCsv(shell(db, ['-csv'], `SELECT ${columns} FROM r ORDER BY rowid`));
    assert.equal(expected.length, REAL_ROWS);

    // The page's own reader, as the page runs it, and the browser engine's.
    const sandbox = {};
    vm.runInNewContext(fs.readFileSync(path.join(h.REPO, 'src/page/json_exact.js'), 'utf8'), sandbox);
    for (const [reader, parse] of [['page', sandbox.parseJsonExact], ['JSON.parse', JSON.parse]]) {
      const rows = parse(answer).rows;
      let compared = 0;
      rows.forEach((row, r) => row.forEach((value, c) => {
        if (expected[r][c] === '') return;
        assert.ok(Object.is(value, Number(expected[r][c])), `${reader}: row ${r} column ${c}: ${value} against ${expected[r][c]}`);
        compared++;
      }));
      assert.ok(compared > REAL_ROWS * REAL_COLUMNS * 0.99, reader + ' compared ' + compared);
    }
    assert.ok(answer.includes('"rows":[[0.30000000000000004,100.0,0.3333333333333333,1e+16,5e-324,null,'));

    // Python's reader, against the same texts.
    const script = 'import json, csv, sys, math\n' +
        'answer = json.loads(open(sys.argv[1], encoding="utf-8").read())\n' +
        'expected = list(csv.reader(open(sys.argv[2], encoding="utf-8")))\n' +
        'bad = [(r, c) for r, row in enumerate(answer["rows"]) for c, v in enumerate(row)\n' +
        '       if expected[r][c] != "" and (not isinstance(v, float) or math.copysign(1, v) != math.copysign(1, float(expected[r][c])) or v != float(expected[r][c]))]\n' +
        'print(len(bad), bad[:5])\n';
    const answerFile = path.join(fixture.dir, 'answer.json');
    const expectedFile = path.join(fixture.dir, 'expected.csv');
    fs.writeFileSync(answerFile, answer);
    fs.writeFileSync(expectedFile, expected.map((row) => row.join(',')).join('\n'));
    assert.equal(childProcess.execFileSync('python3', ['-c', script, answerFile, expectedFile]).toString(), '0 []\n');
  });

  test('Download CSV of a 10,000-row table is the sqlite3 shell\'s CSV, cell by cell', async () => {
    await chooseFacts(page);
    await page.click('#tables .titem:has-text("facts")');
    await page.waitForFunction(() => /^100 rows/.test(document.getElementById('qmeta').textContent));
    const [file] = await Promise.all([page.waitForEvent('download'), page.click('#dlcsvbtn')]);
    const ours = parseCsv(fs.readFileSync(await file.path(), 'utf8'));
    const db = path.join(fixture.root, 'facts.db');
    const theirs = parseCsv(shell(db, ['-csv', '-header'], 'SELECT * FROM facts'));
    // The shell writes reals with 15 digits; the download has every digit.
    const exact = parseCsv(shell(db, ['-csv', '-header'], "SELECT printf('%!.20e', r), printf('%!.20e', maybe) FROM facts"));
    assert.equal(ours.length, 10001);
    assert.equal(theirs.length, 10001);
    const REALS = {1: 0, 4: 1};  // column in the file -> column of the exact texts
    for (let r = 0; r < theirs.length; r++) {
      assert.equal(ours[r].length, theirs[r].length, `row ${r}`);
      for (let c = 0; c < theirs[r].length; c++) {
        if (r > 0 && c in REALS && theirs[r][c] !== '') {
          assert.equal(Number(ours[r][c]), Number(exact[r][REALS[c]]), `row ${r} column ${c}`);
          assert.equal(Number(Number(ours[r][c]).toPrecision(15)), Number(theirs[r][c]), `row ${r} column ${c}`);
        } else {
          assert.equal(ours[r][c], theirs[r][c], `row ${r} column ${c}`);
        }
      }
    }
    assert.match(await page.textContent('#qmeta'), /^Downloaded 10000 rows as facts-/);
  });

  test('a download whose answers their time slice cuts short goes on where each stopped', async () => {
    await chooseFacts(page);
    await page.click('#tables .titem:has-text("slow")');
    await page.waitForSelector('#reswrap tbody tr');
    const requests = () => (fixture.host.log().match(/POST query -> 200/g) || []).length;
    const before = requests();
    const [file] = await Promise.all([page.waitForEvent('download', {timeout: 120000}), page.click('#dlcsvbtn')]);
    const ours = parseCsv(fs.readFileSync(await file.path(), 'utf8'));
    const theirs = parseCsv(shell(path.join(fixture.root, 'facts.db'), ['-csv', '-header'], 'SELECT * FROM slow'));
    assert.equal(theirs.length, 3001);
    assert.deepEqual(ours, theirs);
    // Two ranges are asked for at once; more requests are the rests of cut answers.
    assert.ok(requests() - before > 2, `${requests() - before} requests`);
  });

  test('the grid shows invisible characters and the size of values too long to come whole', async () => {
    await h.runSql(page, 'SELECT id, v FROM odd ORDER BY id');
    const cells = (await h.gridRows(page)).map((row) => row[1]);
    // The grid's answers are plain: they keep NUL and leave the other
    // control bytes out; the viewer's exact value has them all.
    assert.equal(cells[0], 'a\u2400bc');
    assert.equal(cells[1], '[2.0 MB blob]');
    assert.match(cells[2], /^\[1\.5 MB text\] xyyyy/);
    assert.equal(cells[3], '0.3');
    // The viewer asks for the value again, exactly.
    await page.click('#reswrap tbody tr:nth-child(1) td:nth-child(2)');
    await page.waitForFunction(() => /exact$/.test(document.querySelector('#panelbody .hint').textContent));
    assert.equal(await page.textContent('#panelbody pre'), 'a\u2400b\u2401c');
    await page.click('#reswrap tbody tr:nth-child(4) td:nth-child(2)');
    await page.waitForFunction(() => /exact$/.test(document.querySelector('#panelbody .hint').textContent));
    assert.equal(await page.textContent('#panelbody pre'), '0.30000000000000004');
    await page.click('#reswrap tbody tr:nth-child(3) td:nth-child(2)');
    await page.waitForFunction(() => /exact$/.test(document.querySelector('#panelbody .hint').textContent));
    assert.equal((await page.textContent('#panelbody pre')).length, 1 + 2 * 786432);
  });

  test('a count the schema left unknown shows "?" and can be asked for on its own', async () => {
    await chooseFacts(page);
    const button = '#tables button.count';
    await page.waitForSelector(button);
    assert.match(await page.textContent('#tables .titem:has-text("forever") .n'), /\?/);
    await page.click(button);
    await page.waitForFunction(
        (selector) => /^Could not count: /.test(document.querySelector(selector).title), button, {timeout: 30000});
    assert.equal(await page.textContent(button), 'Count rows');
  });
});
