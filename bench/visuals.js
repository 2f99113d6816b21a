// Timing bench of the Explorer's drawings in Debian's chromium: a grid of
// 500 rows and 130 columns drawn and sorted, a chart of 50,000 points, a
// map of 10,000 features from a GeoPackage written by GDAL's ogr2ogr, and a
// diagram of 100 tables. For each, the median over
// ROUNDS of the drawing alone (from the rows in hand to the painted
// frame, as the page measures it) and of the whole open (from the click:
// fetching every page, loading the library, drawing), with the CPU time of
// the page's main thread over that whole open, which a busy machine does
// not inflate the way it does wall time.
//
//   node bench/visuals.js [path/to/plugin_sqlite [grid|chart|map|diagram ...]]
//   (default build/plugin_sqlite, all four)
'use strict';

if (process.argv[2]) process.env.PLUGIN_SQLITE_BIN = process.argv[2];
const ONLY = process.argv.slice(3);
const childProcess = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const h = require('../tests/browser/helpers');

const ROUNDS = 5;
const GOALS = {'grid draw': 300, 'grid sort': 300, 'chart draw': 500, 'map draw': 1000, 'diagram draw': 1000};

// 500 rows of 130 columns of text, integers and reals.
function wideSql() {
  const names = [];
  const values = [];
  for (let c = 0; c < 130; c++) {
    const kind = c % 3;
    names.push(`c${c} ${['TEXT', 'INTEGER', 'REAL'][kind]}`);
    values.push([`'text ' || (i * ${c + 7}) % 1000`, `(i * ${c + 3}) % 997`, `(i * ${c + 1}) % 1009 / 7.0`][kind]);
  }
  return `CREATE TABLE wide (${names.join(', ')});
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500)
INSERT INTO wide SELECT ${values.join(', ')} FROM n;`;
}

const POINTS_SQL = `
CREATE TABLE points (id INTEGER PRIMARY KEY, v REAL);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50000)
INSERT INTO points SELECT i, (i * 7919) % 10007 / 100.0 FROM n;`;

// 100 tables as a schema grows them: ten core tables in a chain, 80 that
// refer to one or two of them (every third also to its neighbour), and ten
// that refer to nothing.
function tablesSql() {
  const lines = [];
  for (let i = 0; i < 100; i++) {
    const keys = [];
    if (i >= 1 && i < 10) keys.push(`up INTEGER REFERENCES t${i - 1} (id)`);
    if (i >= 10 && i < 90) {
      keys.push(`core INTEGER REFERENCES t${i % 10} (id)`);
      if (i % 3 === 0) keys.push(`next INTEGER REFERENCES t${i - 1} (id)`);
      if (i % 7 === 0) keys.push(`other INTEGER REFERENCES t${(i + 3) % 10} (id)`);
    }
    lines.push(`CREATE TABLE t${i} (id INTEGER PRIMARY KEY, name TEXT NOT NULL, created TEXT, amount REAL` +
               keys.map((k) => ', ' + k).join('') + ');');
  }
  return lines.join('\n');
}

// 10,000 features: a third points, a third lines, a third polygons.
function featuresGeojson() {
  const features = [];
  for (let i = 0; i < 10000; i++) {
    const x = (i % 100) * 10;
    const y = Math.floor(i / 100) * 10;
    const geometry = i % 3 === 0 ? {type: 'Point', coordinates: [x, y]} :
        i % 3 === 1 ? {type: 'LineString', coordinates: [[x, y], [x + 4, y + 3], [x + 8, y]]} :
                      {type: 'Polygon', coordinates: [[[x, y], [x + 6, y], [x + 6, y + 6], [x, y + 6], [x, y]]]};
    features.push({type: 'Feature', properties: {n: i}, geometry});
  }
  return JSON.stringify({type: 'FeatureCollection', features});
}

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// CPU seconds of the page's main thread so far: unlike wall time, other
// work on a busy machine does not add to it.
async function threadTime(cdp) {
  const {metrics} = await cdp.send('Performance.getMetrics');
  return metrics.find((m) => m.name === 'ThreadTime').value;
}

async function timeOpen(page, cdp, open, measure) {
  await page.evaluate(() => performance.clearMeasures());
  const cpuStart = await threadTime(cdp);
  const start = Date.now();
  await open();
  await page.waitForFunction((name) => performance.getEntriesByName(name).length > 0, measure, {timeout: 120000});
  const whole = Date.now() - start;
  const cpu = (await threadTime(cdp) - cpuStart) * 1000;
  const draw = await page.evaluate((name) => performance.getEntriesByName(name)[0].duration, measure);
  return {draw, whole, cpu};
}

async function main() {
  const fixture = await h.startExplorerFixture('sqlite-bench-visuals-', {
    'wide.db': wideSql(), 'points.db': POINTS_SQL, 'tables.db': tablesSql(),
  });
  try {
    const geojson = path.join(fixture.dir, 'features.geojson');
    fs.writeFileSync(geojson, featuresGeojson());
    childProcess.execFileSync('ogr2ogr', ['-f', 'GPKG', path.join(fixture.root, 'features.db'), geojson, '-nln', 'features'],
                              {stdio: 'ignore'});
    const page = await h.freshPage(fixture.browser.context, fixture.host.url);
    page.setDefaultTimeout(120000);
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Performance.enable');
    await h.openExplorer(page, fixture.host.url + '/plugin_sqlite');
    async function choose(db, table) {
      await page.selectOption('#dbsel', path.join(fixture.root, db));
      await page.waitForSelector('#tables .titem');
      if (table) {
        await page.click(`#tables .titem:text-is("${table}")`);
        await page.waitForSelector('#reswrap tbody tr');
      }
    }
    const cases = [
      ['grid draw', '500 x 130 grid', async () => {
        await choose('wide.db', null);
        await page.fill('#sql', 'SELECT * FROM wide');
      }, async () => {
        await page.click('#runbtn');
      }],
      ['grid sort', '500 x 130 grid re-sorted', async () => {}, async () => {
        await page.click('#reswrap th[data-col="4"] button');
      }],
      ['chart draw', '50,000-point chart', () => choose('points.db', 'points'), async () => {
        await page.click('#chartbtn');
      }],
      ['map draw', '10,000-feature map', async () => {
        await choose('features.db', 'features');
        await page.waitForSelector('#mapbtn:not([hidden])');
      }, async () => {
        await page.click('#mapbtn');
      }],
      ['diagram draw', '100-table diagram', () => choose('tables.db', null), async () => {
        await page.click('#diagrambtn');
      }],
    ];
    const chromium = childProcess.execFileSync('/usr/bin/chromium', ['--version'],
                                               {encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore']}).trim();
    console.log(`${chromium}, ${os.cpus().length} CPUs, ` +
                `load average ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}; median of ${ROUNDS}`);
    for (const [measure, work, prepare, open] of cases) {
      if (ONLY.length && !ONLY.includes(measure.split(' ')[0])) continue;
      await prepare();
      const runs = [];
      for (let round = 0; round < ROUNDS; round++) {
        if (await page.isVisible('#panelclose')) await page.click('#panelclose');
        runs.push(await timeOpen(page, cdp, open, measure));
      }
      const draw = median(runs.map((r) => r.draw));
      const whole = median(runs.map((r) => r.whole));
      const cpu = median(runs.map((r) => r.cpu));
      console.log(`${work}: drawing ${draw.toFixed(0)} ms (goal < ${GOALS[measure]} ms: ` +
                  `${draw < GOALS[measure] ? 'met' : 'not met'}); from the click, with its requests ` +
                  `and libraries: ${whole} ms, of which ${cpu.toFixed(0)} ms CPU on the page's thread`);
    }
    if (page.errors.length) throw new Error('page errors: ' + page.errors.join('; '));
  } finally {
    await fixture.stop();
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
