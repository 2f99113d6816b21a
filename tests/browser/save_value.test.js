// "Save value" in the value panel: the file holds the value's bytes exactly
// as the database holds them (a blob's bytes, text's UTF-8 bytes, a number's
// exact text, text that is not UTF-8 as its bytes), read back with Python's
// sqlite3 to compare; values past the grid's 1,000,000 bytes are saved
// whole, and one past 16 MiB is refused with a message that says why.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const EVERY_BYTE = Buffer.from(Array.from({length: 256}, (_, i) => i));
const ODD_TEXT = Buffer.from('a\u0000b caf\u00e9 \u2713 \u0001\r\n\t end', 'utf8');
const LATIN1_TEXT = Buffer.from('Gr\u00fc\u00df Gott', 'latin1');  // text whose bytes are not UTF-8
const SQL = `CREATE TABLE v (id INTEGER PRIMARY KEY, val);
INSERT INTO v VALUES (1, X'${EVERY_BYTE.toString('hex')}'), (2, CAST(X'${ODD_TEXT.toString('hex')}' AS TEXT)),
  (3, randomblob(2000000)), (4, 0.1 + 0.2), (5, 100.0), (6, 1e20), (7, 9223372036854775807),
  (8, CAST(X'89504e470d0a1a0a' || randomblob(40) AS BLOB)), (9, CAST(X'${LATIN1_TEXT.toString('hex')}' AS TEXT));
CREATE TABLE huge (id INTEGER PRIMARY KEY, val);
INSERT INTO huge VALUES (1, randomblob(17000000));`;

// The bytes the database holds for v.val at `id`, as Python reads them: a
// blob or text as its bytes, a real as repr() (the shortest text that reads
// back as the same double), an integer in decimal.
function storedBytes(db, id) {
  const script = `import sqlite3, sys
con = sqlite3.connect('file:' + sys.argv[1] + '?mode=ro', uri=True)
con.text_factory = bytes
kind, value, raw = con.execute('SELECT typeof(val), val, CAST(val AS BLOB) FROM v WHERE id = ?', (int(sys.argv[2]),)).fetchone()
sys.stdout.buffer.write(repr(value).encode() if kind == b'real' else raw)`;
  return childProcess.execFileSync('python3', ['-c', script, db, String(id)], {maxBuffer: 1 << 26});
}

describe('Save value', {timeout: 240000}, () => {
  let fixture;
  let db;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-savevalue-', {'values.db': SQL});
    db = path.join(fixture.root, 'values.db');
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  async function openTable(page, name) {
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
    await page.waitForSelector('#tables .titem');
    await page.click(`#tables .titem:has-text("${name}")`);
    await page.waitForSelector('#reswrap tbody tr');
  }

  // Opens the value of the cell at (row, column) and saves it.
  async function saveCell(page, row, column) {
    await page.click(`#reswrap tbody tr:nth-child(${row}) td:nth-child(${column})`);
    const [file] = await Promise.all([page.waitForEvent('download'), page.click('#panel button:text-is("Save value")')]);
    return {name: file.suggestedFilename(), bytes: fs.readFileSync(await file.path())};
  }

  const cases = [
    {id: 1, what: 'a blob of all 256 byte values', name: 'val.bin'},
    {id: 2, what: 'text with NUL, control bytes and non-ASCII letters', name: 'val.txt'},
    {id: 3, what: 'a 2 MB blob, past the grid\'s 1,000,000 bytes', name: 'val.bin'},
    {id: 4, what: 'the real 0.1 + 0.2', name: 'val.txt'},
    {id: 5, what: 'the real 100.0', name: 'val.txt'},
    {id: 6, what: 'the real 1e20', name: 'val.txt'},
    {id: 7, what: 'the largest 64-bit integer', name: 'val.txt'},
    {id: 8, what: 'a PNG blob', name: 'val.png'},
    {id: 9, what: 'text whose bytes are not UTF-8', name: 'val.txt'},
  ];

  test('a table\'s values are saved with the database\'s bytes', async () => {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await openTable(page, 'v');
    for (const c of cases) {
      const saved = await saveCell(page, c.id, 2);
      const expected = storedBytes(db, c.id);
      assert.ok(saved.bytes.equals(expected),
                `${c.what}: ${saved.bytes.length} bytes saved, ${expected.length} stored; ` +
                `${saved.bytes.subarray(0, 24).toString('hex')} / ${expected.subarray(0, 24).toString('hex')}`);
      assert.equal(saved.name, c.name, c.what);
      assert.match(await page.textContent('#panelbody [role=status]'), new RegExp('^Saved ' + c.name));
    }
    await h.screenshot(page, 'save-value');
    // The fixture holds what the cases say.
    assert.ok(storedBytes(db, 1).equals(EVERY_BYTE));
    assert.ok(storedBytes(db, 2).equals(ODD_TEXT));
    assert.equal(storedBytes(db, 3).length, 2000000);
    assert.equal(storedBytes(db, 4).toString(), '0.30000000000000004');
    assert.ok(storedBytes(db, 9).equals(LATIN1_TEXT));
    assert.deepEqual(page.errors, []);
  });

  test('a statement\'s value is saved exactly too', async () => {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
    await page.waitForSelector('#tables .titem');
    await h.runSql(page, 'SELECT id, val FROM v WHERE id IN (2, 4, 9) ORDER BY id DESC', true);
    assert.ok((await saveCell(page, 1, 2)).bytes.equals(LATIN1_TEXT));
    assert.ok((await saveCell(page, 2, 2)).bytes.equals(storedBytes(db, 4)));
    assert.ok((await saveCell(page, 3, 2)).bytes.equals(ODD_TEXT));
  });

  test('a value past 16 MiB is not saved, and the panel says why', async () => {
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    await openTable(page, 'huge');
    let downloads = 0;
    page.on('download', () => downloads++);
    await page.click('#reswrap tbody tr:nth-child(1) td:nth-child(2)');
    await page.click('#panel button:text-is("Save value")');
    await page.waitForFunction(() => /^Save value: /.test(document.querySelector('#panelbody [role=status]').textContent));
    assert.equal(await page.textContent('#panelbody [role=status]'),
                 'Save value: the value is 17,000,000 bytes, more than the 16 MiB that can be saved whole');
    assert.equal(downloads, 0);
  });
});
