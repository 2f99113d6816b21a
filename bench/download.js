// Bench of the Explorer's downloads in Debian's chromium against the sqlite3
// shell, side by side in one run: "Download CSV" and "Download JSON" of every
// row of table t, timed from the click to the finished file, against
// `sqlite3 -csv DB 'SELECT * FROM t' > file`. Each round starts a fresh
// chromium, so that its memory figures are of that one download:
//   - the page's renderer process: its resident set before the click and
//     its peak (VmHWM, over its life, page load included), which the goal
//     of 300 MiB is judged on;
//   - all of chromium's processes: the sum of their proportional set sizes
//     (Pss, shared pages split between their users) before the click, and
//     its highest value sampled every SAMPLE_MS during the download (an
//     idle headless chromium with the Explorer open is some 250 MiB).
// The last round's files are checked against the shell's CSV cell by cell:
// integers and texts byte for byte; reals as the same double as the shell's
// 20-digit text and, cut to 15 digits, as the shell's CSV text.
//
//   node bench/download.js path/to/plugin_sqlite DB [rounds]
//   (DB holds table t; prints a few lines of figures, then one JSON line)
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

process.env.PLUGIN_SQLITE_BIN = path.resolve(process.argv[2] || 'build/plugin_sqlite');
const h = require('../tests/browser/helpers');

const DB = path.resolve(process.argv[3] || '');
const ROUNDS = Number(process.argv[4] || 3);
const SAMPLE_MS = 100;
const DOWNLOAD_MS = 600000;  // bound of one download's wait
const GOAL_RATIO = 5;
const GOAL_MIB = 300;

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

/// A field of /proc/<pid>/<file> in KiB ("VmHWM", "Pss"), 0 once the
/// process is gone.
function procKib(pid, file, field) {
  try {
    const match = new RegExp('^' + field + ':\\s+(\\d+) kB', 'm').exec(fs.readFileSync(`/proc/${pid}/${file}`, 'utf8'));
    return match ? Number(match[1]) : 0;
  } catch (error) {
    return 0;
  }
}

/// Seconds the shell takes to write every row of t as CSV into `file`.
function shellCsv(file) {
  const out = fs.openSync(file, 'w');
  try {
    const start = process.hrtime.bigint();
    childProcess.execFileSync('sqlite3', ['-csv', DB, 'SELECT * FROM t'], {stdio: ['ignore', out, 'inherit']});
    return Number(process.hrtime.bigint() - start) / 1e9;
  } finally {
    fs.closeSync(out);
  }
}

/// One download through the page in a fresh chromium: the seconds from the
/// click on `button` to the finished file, the memory figures, and the
/// file's path once saved as `saveAs`.
async function browserDownload(hostUrl, button, saveAs) {
  const {chromium} = require('playwright-core');
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', headless: true, args: h.CHROMIUM_ARGS});
  try {
    const cdp = await browser.newBrowserCDPSession();
    const context = await browser.newContext({acceptDownloads: true, viewport: {width: 1280, height: 900}});
    const page = await h.freshPage(context, hostUrl);
    page.setDefaultTimeout(60000);
    await h.openExplorer(page, hostUrl + '/plugin_sqlite');
    await page.selectOption('#dbsel', DB);
    await page.click('#tables .titem');
    await page.waitForSelector('#reswrap tbody tr');
    const {processInfo} = await cdp.send('SystemInfo.getProcessInfo');
    const pids = processInfo.map((p) => p.id);
    const renderers = processInfo.filter((p) => p.type === 'renderer').map((p) => p.id);
    const pss = () => pids.reduce((sum, pid) => sum + procKib(pid, 'smaps_rollup', 'Pss'), 0);
    const rendererRss = () => Math.max(...renderers.map((pid) => procKib(pid, 'status', 'VmRSS')));
    const beforePss = pss();
    const beforeRenderer = rendererRss();
    let peakPss = beforePss;
    let peakSplit = '';
    const sample = () => {
      const now = pss();
      if (now > peakPss) peakSplit = processInfo.map((p) => p.type + ' ' + (procKib(p.id, 'smaps_rollup', 'Pss') >> 10)).join(', ');
      peakPss = Math.max(peakPss, now);
    };
    const timer = setInterval(sample, SAMPLE_MS);
    const start = process.hrtime.bigint();
    const [download] = await Promise.all([page.waitForEvent('download', {timeout: DOWNLOAD_MS}), page.click(button)]);
    const file = await download.path();
    const seconds = Number(process.hrtime.bigint() - start) / 1e9;
    clearInterval(timer);
    sample();
    const rendererPeak = Math.max(...renderers.map((pid) => procKib(pid, 'status', 'VmHWM')));
    await page.waitForFunction(() => /^Downloaded /.test(document.getElementById('qmeta').textContent));
    const status = await page.textContent('#qmeta');
    if (page.errors.length) throw new Error('page errors: ' + page.errors.join('; '));
    fs.copyFileSync(file, saveAs);
    console.error(`${button}: ${seconds.toFixed(2)} s; processes at the peak (Pss MiB): ${peakSplit}`);
    return {seconds, rendererMib: rendererPeak / 1024, rendererBeforeMib: beforeRenderer / 1024,
            browserMib: peakPss / 1024, browserBeforeMib: beforePss / 1024, status};
  } finally {
    await browser.close();
  }
}

/// Reads CSV text one record at a time (RFC 4180: quoted fields, doubled
/// quotes), calling `each` with the fields of each record.
function eachCsvRecord(content, each) {
  let record = [];
  let at = 0;
  const n = content.length;
  while (at < n) {
    let field;
    if (content[at] === '"') {
      let end = at + 1;
      field = '';
      for (;;) {
        const quote = content.indexOf('"', end);
        field += content.slice(end, quote);
        if (content[quote + 1] === '"') {
          field += '"';
          end = quote + 2;
        } else {
          at = quote + 1;
          break;
        }
      }
    } else {
      let end = at;
      while (end < n && content[end] !== ',' && content[end] !== '\n' && content[end] !== '\r') end++;
      field = content.slice(at, end);
      at = end;
    }
    record.push(field);
    if (content[at] === ',') {
      at++;
      continue;
    }
    if (content[at] === '\r') at++;
    at++;
    each(record);
    record = [];
  }
}

function csvRecords(file) {
  const records = [];
  eachCsvRecord(fs.readFileSync(file, 'utf8'), (record) => records.push(record));
  return records;
}

/// Checks the downloaded CSV and JSON files against the shell's CSV of t
/// and its reals written with 20 significant digits. Returns the rows
/// compared.
function checkFiles(shellFile, csvFile, jsonFile, work) {
  const shell = csvRecords(shellFile);
  const exactFile = path.join(work, 'reals.csv');
  const out = fs.openSync(exactFile, 'w');
  childProcess.execFileSync('sqlite3', ['-csv', DB, "SELECT iif(r IS NULL, '', printf('%!.20e', r)) FROM t"],
                            {stdio: ['ignore', out, 'inherit']});
  fs.closeSync(out);
  const reals = csvRecords(exactFile).map((record) => record[0]);
  const ours = csvRecords(csvFile);
  assert.deepEqual(ours[0], ['id', 'r', 'name', 'note', 'n'], 'the CSV header');
  assert.equal(ours.length - 1, shell.length, 'rows of the CSV download');
  const REAL = 1;
  const realMatches = (value, r) => Number(value) === Number(reals[r]) &&
      Number(Number(value).toPrecision(15)) === Number(shell[r][REAL]);
  for (let r = 0; r < shell.length; r++) {
    const row = ours[r + 1];
    assert.equal(row.length, shell[r].length, `CSV row ${r + 1}`);
    for (let c = 0; c < row.length; c++) {
      if (c === REAL && shell[r][c] !== '') {
        assert.ok(realMatches(row[c], r), `CSV row ${r + 1} real ${row[c]} against ${reals[r]}`);
      } else {
        assert.equal(row[c], shell[r][c], `CSV row ${r + 1} column ${c}`);
      }
    }
  }
  const json = JSON.parse(fs.readFileSync(jsonFile, 'utf8'));
  assert.equal(json.length, shell.length, 'rows of the JSON download');
  json.forEach((object, r) => {
    const [id, real, name, note, n] = shell[r];
    assert.equal(object.id, Number(id), `JSON row ${r + 1} id`);
    assert.ok(realMatches(object.r, r), `JSON row ${r + 1} real ${object.r} against ${reals[r]}`);
    assert.deepEqual([object.name, object.note, object.n], [name, note, Number(n)], `JSON row ${r + 1}`);
  });
  return shell.length;
}

async function main() {
  if (!fs.existsSync(DB)) throw new Error('no database at ' + DB);
  const work = h.tempDir('sqlite-bench-download-');
  fs.mkdirSync(path.join(work, 'home'));
  const host = await h.startDevHost({SQLITE_ALLOWED_ROOT: path.dirname(DB), HOME: path.join(work, 'home')});
  try {
    const runs = {shell: [], csv: [], json: []};
    const files = {shell: path.join(work, 'shell.csv'), csv: path.join(work, 'page.csv'), json: path.join(work, 'page.json')};
    for (let round = 0; round < ROUNDS; round++) {
      // The order alternates, so that a change of load falls on both sides.
      const shellFirst = round % 2 === 0;
      if (shellFirst) runs.shell.push(shellCsv(files.shell));
      runs.csv.push(await browserDownload(host.url, '#dlcsvbtn', files.csv));
      runs.json.push(await browserDownload(host.url, '#dljsonbtn', files.json));
      if (!shellFirst) runs.shell.push(shellCsv(files.shell));
    }
    const rows = checkFiles(files.shell, files.csv, files.json, work);
    const shellSeconds = median(runs.shell);
    const result = {rows, rounds: ROUNDS, shell_s: shellSeconds, status: runs.csv[0].status};
    const chromium = childProcess.execFileSync('/usr/bin/chromium', ['--version'], {encoding: 'utf8'}).trim();
    console.log(`${chromium}; ${rows.toLocaleString('en')} rows; medians of ${ROUNDS} rounds, alternating with the shell`);
    for (const kind of ['csv', 'json']) {
      const seconds = median(runs[kind].map((r) => r.seconds));
      const highest = (key) => Math.max(...runs[kind].map((r) => r[key]));
      const renderer = highest('rendererMib');
      const browser = highest('browserMib');
      const ratio = seconds / shellSeconds;
      const met = {ratio: ratio <= GOAL_RATIO, renderer: renderer < GOAL_MIB};
      result[kind] = {seconds, ratio, renderer_mib: renderer, browser_mib: browser, met};
      console.log(`Download ${kind.toUpperCase()} in chromium, click to finished file: ${seconds.toFixed(2)} s against ` +
                  `\`sqlite3 -csv\`'s ${shellSeconds.toFixed(2)} s: ${ratio.toFixed(2)}x (goal <= ${GOAL_RATIO}x: ` +
                  `${met.ratio ? 'met' : 'NOT MET'}). Memory, highest of the rounds: the page's renderer process ` +
                  `${highest('rendererBeforeMib').toFixed(0)} MiB RSS before the click, peak (VmHWM) ${renderer.toFixed(0)} MiB ` +
                  `(goal < ${GOAL_MIB} MiB: ${met.renderer ? 'met' : 'NOT MET'}); all of chromium's processes together ` +
                  `${highest('browserBeforeMib').toFixed(0)} MiB Pss before the click, peak ${browser.toFixed(0)} MiB`);
    }
    console.log(`Both files equal the shell's CSV cell by cell (${rows.toLocaleString('en')} rows; reals as the ` +
                'same doubles, and the shell\'s 15 digits once cut)');
    console.log(JSON.stringify(result));
  } finally {
    await host.stop();
    fs.rmSync(work, {recursive: true, force: true});
  }
  h.assertCleanRuns(host);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
