// Chart, Map and Diagram in a real browser: a time series and a result
// longer than one page, a GeoPackage written by GDAL's ogr2ogr, SpatiaLite,
// WKT and GeoJSON values beside damaged ones, and a schema of 30 tables
// with foreign keys (a self-reference and a cycle among them).
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const SERIES_SQL = `
CREATE TABLE orders (id INTEGER PRIMARY KEY, placed_at TEXT, status TEXT, total REAL, mixed);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1200)
INSERT INTO orders SELECT i, datetime('2024-01-01', '+' || (i * 7) || ' hours'),
  CASE i % 4 WHEN 0 THEN 'open' WHEN 1 THEN 'paid' WHEN 2 THEN 'shipped' ELSE 'returned' END,
  (i * 37) % 500 + 0.5, CASE WHEN i % 10 = 0 THEN 'n/a' ELSE i END FROM n;
CREATE TABLE big (id INTEGER PRIMARY KEY, v REAL);
INSERT INTO big VALUES (9007199254740993, 1), (9007199254740994, 2), (9007199254740995, 3);
`;

// A SpatiaLite blob of a point, little-endian, SRID 4326: start, order,
// SRID, MBR, MBR end, class 1, x, y, end.
function spatiaLitePoint(x, y) {
  const b = Buffer.alloc(60);
  b.writeUInt8(0, 0);
  b.writeUInt8(1, 1);
  b.writeInt32LE(4326, 2);
  [x, y, x, y].forEach((v, i) => b.writeDoubleLE(v, 6 + 8 * i));
  b.writeUInt8(0x7c, 38);
  b.writeInt32LE(1, 39);
  b.writeDoubleLE(x, 43);
  b.writeDoubleLE(y, 51);
  b.writeUInt8(0xfe, 59);
  return b.toString('hex');
}

const SHAPES_SQL = `
CREATE TABLE shapes (id INTEGER PRIMARY KEY, label TEXT, geom);
INSERT INTO shapes VALUES
  (1, 'spatialite point', X'${spatiaLitePoint(10, 20)}'),
  (2, 'wkt line', 'LINESTRING (0 0, 30 40)'),
  (3, 'geojson area', '{"type":"Polygon","coordinates":[[[0,0],[30,0],[30,40],[0,0]]]}'),
  (4, 'cut GeoPackage', X'47500003E6100000000000000000'),
  (5, 'plain text', 'not a shape'),
  (6, 'nothing', NULL);
`;

const PLACES_GEOJSON = {
  type: 'FeatureCollection',
  features: [
    ['harbour', {type: 'Point', coordinates: [2, 3]}],
    ['tower', {type: 'Point', coordinates: [8, 9]}],
    ['ferry', {type: 'LineString', coordinates: [[0, 0], [5, 5], [10, 2]]}],
    ['coast', {type: 'MultiLineString', coordinates: [[[0, 10], [10, 10]], [[0, 11], [10, 11]]]}],
    ['park', {type: 'Polygon', coordinates: [[[1, 1], [4, 1], [4, 4], [1, 4], [1, 1]]]}],
    ['islands', {type: 'MultiPolygon', coordinates: [[[[6, 6], [7, 6], [7, 7], [6, 6]]], [[[8, 1], [9, 1], [9, 2], [8, 1]]]]}],
  ].map(([name, geometry]) => ({type: 'Feature', properties: {name}, geometry})),
};

// 30 tables: t0 refers to itself, t1 -> t2 -> t3 -> t1 is a cycle, every
// other table refers to the one before it, and t5 has a key of two columns.
function schemaSql() {
  const lines = [];
  let keys = 0;
  for (let i = 0; i < 30; i++) {
    const refs = [];
    if (i === 0) refs.push('parent INTEGER REFERENCES t0 (id)');
    else if (i >= 1 && i <= 3) refs.push(`next INTEGER REFERENCES t${i === 3 ? 1 : i + 1} (id)`);
    else refs.push(`prev INTEGER REFERENCES t${i - 1} (id)`);
    keys++;
    if (i === 5) {
      refs.push('a INTEGER, b INTEGER, FOREIGN KEY (a, b) REFERENCES t4 (id, prev)');
      keys++;
    }
    lines.push(`CREATE TABLE t${i} (id INTEGER PRIMARY KEY, name TEXT, ${refs.join(', ')});`);
    lines.push(`INSERT INTO t${i} (id, name) VALUES (1, 'row of t${i}');`);
  }
  return {sql: lines.join('\n'), keys};
}
const SCHEMA = schemaSql();

/// Counts the bars of a bar chart: the most separate runs of the bar
/// colour along any one row of the chart's canvas.
function countBars(page) {
  return page.evaluate(() => {
    const canvas = document.querySelector('#chartbox canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const probe = document.createElement('span');
    probe.style.color = getComputedStyle(document.documentElement).getPropertyValue('--accent');
    document.body.appendChild(probe);
    const [r, g, b] = getComputedStyle(probe).color.match(/\d+/g).map(Number);
    probe.remove();
    let most = 0;
    for (let y = 0; y < canvas.height; y++) {
      let runs = 0;
      let inside = false;
      for (let x = 0; x < canvas.width; x++) {
        const i = 4 * (y * canvas.width + x);
        const bar = Math.abs(data[i] - r) < 8 && Math.abs(data[i + 1] - g) < 8 && Math.abs(data[i + 2] - b) < 8 &&
            data[i + 3] > 200;
        if (bar && !inside) runs++;
        inside = bar;
      }
      most = Math.max(most, runs);
    }
    return most;
  });
}

describe('Chart, Map and Diagram', {timeout: 300000}, () => {
  let fixture;
  let host;
  let browser;

  before(async () => {
    const demoSql = (name) => fs.readFileSync(path.join(h.REPO, 'devhost', name), 'utf8');
    fixture = await h.startExplorerFixture('sqlite-visuals-', {
      'series.db': SERIES_SQL, 'shapes.db': SHAPES_SQL, 'schema.db': SCHEMA.sql,
      'demo/shop.db': demoSql('demo.sql'), 'demo/places.sqlite': demoSql('places.sql'),
    });
    ({host, browser} = fixture);
    const geojson = path.join(fixture.dir, 'places.geojson');
    fs.writeFileSync(geojson, JSON.stringify(PLACES_GEOJSON));
    childProcess.execFileSync('ogr2ogr', ['-f', 'GPKG', path.join(fixture.root, 'places.db'), geojson, '-nln', 'places'],
        {stdio: 'ignore'});
  });

  after(async () => {
    if (fixture) await fixture.stop();
  });

  async function explorer(db, theme) {
    const page = await h.freshPage(browser.context, host.url);
    if (theme) await page.evaluate((t) => localStorage.setItem('sqlite_theme', t), theme);
    page.queries = 0;
    page.on('request', (request) => {
      if (request.url().includes('action=query')) page.queries++;
    });
    await h.openExplorer(page, host.url + '/plugin_sqlite');
    await page.selectOption('#dbsel', path.join(fixture.root, db));
    await page.waitForSelector('#tables .titem');
    return page;
  }

  async function openChart(page) {
    await page.click('#chartbtn');
    await page.waitForSelector('#chartbox canvas');
    return page.textContent('#chartsummary');
  }

  async function choose(page, label, value) {
    await page.selectOption(`#panelbody label:has-text("${label}") select`, {label: value});
  }

  test('a bar per category, points of the whole result, dates and what is left out', async () => {
    const page = await explorer('series.db');
    await h.runSql(page, 'SELECT status, count(*) AS n FROM orders GROUP BY status ORDER BY status');
    assert.match(await openChart(page), /^4 bars; status: open, paid, returned, \.\.\.; n from 300 to 300$/);
    assert.equal(await countBars(page), 4);

    // 1,200 rows: three pages of 500 fetched for the chart.
    await h.runSql(page, 'SELECT id, total, placed_at, mixed FROM orders');
    const before = page.queries;
    assert.match(await openChart(page), /^1,200 points; id from 1 to 1200; total from 0\.5 to 499\.5$/);
    assert.ok(page.queries - before >= 3, 'pages fetched: ' + (page.queries - before));

    await h.runSql(page, 'SELECT id, total, placed_at, mixed FROM orders LIMIT 1100');
    assert.match(await openChart(page), /^1,100 points;/, 'a query with its own LIMIT is charted whole');
    await choose(page, 'X axis', 'placed_at');
    await choose(page, 'Chart type', 'Line');
    assert.match(await page.textContent('#chartsummary'), /^1,100 points; placed_at from 2024-01-01 07:00:00 to /);
    await choose(page, 'Y axis', 'mixed');
    assert.match(await page.textContent('#chartsummary'), /^990 points; .*110 rows left out \(not numbers or dates\)$/);
    await choose(page, 'Chart type', 'Histogram');
    assert.match(await page.textContent('#chartsummary'), /^\d+ bars; placed_at from /);
    assert.equal(await page.getAttribute('#chartbox', 'aria-label'), 'Histogram of placed_at');

    const [download] = await Promise.all([page.waitForEvent('download'), page.click('text=Save image')]);
    const png = fs.readFileSync(await download.path());
    assert.equal(png.subarray(1, 4).toString('latin1'), 'PNG');
    assert.match(download.suggestedFilename(), /^chart-\d{4}-\d{2}-\d{2}\.png$/);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('integers beyond 2^53 are charted apart, with exact labels', async () => {
    const page = await explorer('series.db');
    await h.runSql(page, 'SELECT id, v FROM big');
    assert.equal(await openChart(page), '3 points; id from 9007199254740993 to 9007199254740995; v from 1 to 3');
    await page.close();
  });

  test('Cancel charts the rows fetched so far', async () => {
    const page = await explorer('series.db');
    await h.runSql(page, 'SELECT id, total FROM orders');
    let held = null;
    await page.route('**/plugin_sqlite?action=query*', async (route) => {
      if (/OFFSET 500\b/.test(new URLSearchParams(route.request().postData() || '').get('sql'))) {
        held = route;
        return;  // the second page never answers
      }
      await route.continue();
    });
    await page.click('#chartbtn');
    await page.waitForFunction(() => /500 rows fetched/.test(document.querySelector('.fetchbar').textContent));
    await page.click('.fetchbar button');
    await page.waitForSelector('#chartbox canvas');
    assert.match(await page.textContent('#panelbody'), /Cancelled: drawn from the first 500 rows/);
    assert.match(await page.textContent('#chartsummary'), /^500 points;/);
    assert.ok(held, 'the second page was requested');
    await page.unroute('**/plugin_sqlite?action=query*');
    await page.close();
  });

  test('a GeoPackage table opens with a Map of its features; a click shows the row', async () => {
    const page = await explorer('places.db');
    await page.click('#tables .titem:text-is("places")');
    await page.waitForSelector('#mapbtn:not([hidden])');
    await page.click('#mapbtn');
    await page.waitForSelector('.mapcanvas');
    assert.equal(await page.textContent('.mapcount'), '6 features');

    // A query with its own LIMIT is shown unpaged, its blobs as previews;
    // the map still reads every blob whole.
    await h.runSql(page, 'SELECT * FROM places ORDER BY fid LIMIT 5');
    await page.click('#mapbtn');
    await page.waitForSelector('.mapcanvas');
    assert.equal(await page.textContent('.mapcount'), '5 features');

    await h.runSql(page, 'SELECT * FROM places WHERE name = \'park\'');
    await page.click('#mapbtn');
    await page.waitForSelector('.mapcanvas');
    const box = await page.$('.mapcanvas');
    const {width, height} = await box.boundingBox();
    await box.click({position: {x: width / 2, y: height / 2}});
    await page.waitForSelector('.maprow table');
    assert.match(await page.textContent('.maprow'), /park/);
    await page.click('text=Zoom in');
    await page.click('text=Fit');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('SpatiaLite, WKT and GeoJSON values are mapped; damaged values are counted, not thrown', async () => {
    const page = await explorer('shapes.db');
    await h.runSql(page, 'SELECT * FROM shapes');
    await page.click('#mapbtn');
    await page.waitForSelector('.mapcanvas');
    assert.equal(await page.textContent('.mapcount'), '3 features  \u00b7  2 values were not a geometry');
    await h.runSql(page, 'SELECT id, label FROM shapes');
    assert.equal(await page.isHidden('#mapbtn'), true, 'no geometry column, no Map');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('a library that fails to load leaves the page working and says so', async () => {
    const page = await explorer('shapes.db');
    await page.route('**/*action=asset*', (route) => route.abort());
    await h.runSql(page, 'SELECT * FROM shapes');
    await page.click('#mapbtn');
    await page.waitForSelector('#panelbody .err');
    assert.match(await page.textContent('#panelbody .err'), /^The map library could not be loaded: /);
    await h.runSql(page, 'SELECT count(*) FROM shapes');
    assert.deepEqual(await h.gridRows(page), [['6']]);
    await page.close();
  });

  test('the diagram draws an arrow per foreign key and a box opens its table', async () => {
    const page = await explorer('schema.db');
    await page.click('#diagrambtn');
    await page.waitForSelector('svg.diagram');
    assert.equal(await page.locator('svg.diagram .dbox').count(), 30);
    assert.equal(await page.locator('svg.diagram path.fk').count(), SCHEMA.keys);
    assert.match(await page.textContent('#panelbody'), new RegExp(`30 tables  \u00b7  ${SCHEMA.keys} references`));
    const listed = await page.$$eval('.dlist > ul > li', (items) => items.map((li) => li.firstChild.textContent));
    assert.equal(listed.length, 30);
    assert.match(await page.textContent('.dlist'), /references a, b \u2192 t4 \(id, prev\)/);

    await page.locator('svg.diagram').getByRole('button', {name: 't7', exact: true}).focus();
    await page.keyboard.press('Enter');
    await page.waitForSelector('#tables .titem.on:text-is("t7")');
    await page.waitForFunction(() => /row of t7/.test(document.getElementById('reswrap').textContent));
    assert.deepEqual((await h.gridRows(page))[0].slice(0, 2), ['1', 'row of t7']);
    assert.equal(await page.isHidden('#panel'), true);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('Chart and Map close when another result replaces theirs, not on its next page; Diagram, History with their database',
       async () => {
         const page = await explorer('series.db');
         const panelShown = () => page.isVisible('#panel');
         await page.click('#tables .titem:text-is("orders")');
         await page.waitForSelector('#reswrap tbody tr');
         await page.click('#chartbtn');
         await page.waitForSelector('#chartbox canvas');
         await page.click('#nextbtn');
         await page.waitForFunction(() => /^rows 101-200\b/.test(document.getElementById('range').textContent));
         assert.equal(await panelShown(), true, 'the chart draws every row: another page keeps it');
         await h.runSql(page, 'SELECT id, total FROM orders WHERE id < 50');
         assert.equal(await panelShown(), false, 'the chart closed with its result');

         await page.click('#diagrambtn');
         await page.waitForSelector('svg.diagram');
         await h.runSql(page, 'SELECT 1');
         assert.equal(await panelShown(), true, 'the diagram draws the database, not the result');
         await page.selectOption('#dbsel', path.join(fixture.root, 'places.db'));
         await page.waitForSelector('#tables .titem:text-is("places")');
         assert.equal(await panelShown(), false, 'the diagram closed with its database');
         await page.click('#historybtn');
         await page.selectOption('#dbsel', path.join(fixture.root, 'series.db'));
         await page.waitForSelector('#tables .titem:text-is("orders")');
         assert.equal(await panelShown(), false, 'the history of the other database closed');
         await page.selectOption('#dbsel', path.join(fixture.root, 'places.db'));
         await page.waitForSelector('#tables .titem:text-is("places")');

         await page.click('#tables .titem:text-is("places")');
         await page.waitForSelector('#mapbtn:not([hidden])');
         await page.click('#mapbtn');
         await page.waitForSelector('.mapcanvas');
         await h.runSql(page, 'SELECT * FROM places WHERE name = \'park\'');
         assert.equal(await panelShown(), false, 'the map closed with its result');
         assert.deepEqual(page.errors, []);
         await page.close();
       });

  test('the demo: orders per day, the GeoPackage\'s cities, the shop\'s tables from the diagram', async () => {
    const page = await explorer('demo/shop.db');
    await page.click('#tables .titem:text-is("orders_per_day")');
    await page.waitForSelector('#reswrap tbody tr');
    assert.match(await openChart(page), /^361 points; day from 2024-01-01 to 2024-12-26; orders from \d+ to \d+$/);
    await page.click('#diagrambtn');
    await page.waitForSelector('svg.diagram');
    assert.equal(await page.locator('svg.diagram path.fk').count(), 3);
    await page.locator('svg.diagram').getByRole('button', {name: 'customers', exact: true}).click();
    await page.waitForFunction(() => /customer1@example\.com/.test(document.getElementById('reswrap').textContent));

    await page.selectOption('#dbsel', path.join(fixture.root, 'demo/places.sqlite'));
    await page.waitForSelector('#tables .titem');
    await page.click('#tables .titem:text-is("cities")');
    await page.waitForSelector('#mapbtn:not([hidden])');
    await page.click('#mapbtn');
    await page.waitForSelector('.mapcanvas');
    assert.equal(await page.textContent('.mapcount'), '6 features');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  for (const theme of ['dark', 'light']) {
    test(`no axe violations with each panel open, ${theme} theme`, async () => {
      const page = await explorer('places.db', theme);
      await page.click('#tables .titem:text-is("places")');
      await page.waitForSelector('#mapbtn:not([hidden])');
      const panels = [
        ['chart', async () => {
          await h.runSql(page, 'SELECT name, fid FROM places');
          await openChart(page);
        }],
        ['map', async () => {
          await h.runSql(page, 'SELECT * FROM places');
          await page.click('#mapbtn');
          await page.waitForSelector('.mapcanvas');
        }],
        ['diagram', async () => {
          await page.click('#diagrambtn');
          await page.waitForSelector('svg.diagram');
          await page.click('.dlist summary');
        }],
      ];
      for (const [name, open] of panels) {
        await open();
        assert.deepEqual(await h.axeViolations(page), [], name);
        await h.screenshot(page, `visuals-${name}-${theme}`);
      }
      assert.deepEqual(page.errors, []);
      await page.close();
    });
  }
});
