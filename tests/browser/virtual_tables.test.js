// The Explorer over a database whose content lives in virtual tables: a
// full-text index, an R-Tree and JSON documents, made by the sqlite3 shell.
// Their tables are counted in the list, a click reads them, and searches
// through them answer in the grid.
'use strict';

const assert = require('node:assert/strict');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const FIXTURE_SQL = `
CREATE VIRTUAL TABLE notes USING fts5(title, body);
INSERT INTO notes VALUES ('Monday', 'the pump is leaking'), ('Tuesday', 'pump fixed');
CREATE VIRTUAL TABLE zones USING rtree(id, min_x, max_x, min_y, max_y);
INSERT INTO zones VALUES (1, 0, 10, 0, 10), (2, 20, 30, 20, 30);
CREATE TABLE docs (id INTEGER PRIMARY KEY, doc TEXT);
INSERT INTO docs VALUES (1, '{"tags":["red","blue"]}');
`;

describe('Explorer over virtual tables', {timeout: 120000}, () => {
  let fixture;
  let host;
  let browser;

  before(async () => {
    fixture = await h.startExplorerFixture('sqlite-vtab-', {'field.db': FIXTURE_SQL});
    host = fixture.host;
    browser = fixture.browser;
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  test('virtual tables are counted, read on a click and searched', async () => {
    const page = await h.freshPage(browser.context, host.url);
    await h.openExplorer(page, host.url + '/plugin_sqlite');
    await page.waitForSelector('#tables .titem');
    const buttons = await page.$$eval('#tables .titem', (list) => list.map((b) => b.textContent));
    for (const name of ['docs  1', 'notes  2', 'zones  2', 'zones_node  1']) {
      assert.ok(buttons.includes(name), name + ' in ' + JSON.stringify(buttons));
    }
    assert.ok(!buttons.some((b) => b.includes('?')), JSON.stringify(buttons));

    await page.click('#tables .titem >> nth=' + buttons.indexOf('zones  2'));
    await page.waitForFunction(() => document.querySelectorAll('#reswrap tbody tr').length === 2);
    assert.deepEqual(await h.gridRows(page), [['1', '0', '10', '0', '10'], ['2', '20', '30', '20', '30']]);

    await h.runSql(page, "SELECT title FROM notes WHERE notes MATCH 'leaking'");
    assert.deepEqual(await h.gridRows(page), [['Monday']]);
    await h.runSql(page, 'SELECT id FROM zones WHERE min_x >= 15');
    assert.deepEqual(await h.gridRows(page), [['2']]);
    await h.runSql(page, "-- tags of each document\nSELECT j.value FROM docs, json_each(docs.doc, '$.tags') j");
    assert.deepEqual(await h.gridRows(page), [['red'], ['blue']]);
    assert.deepEqual(page.errors, []);
  });
});
