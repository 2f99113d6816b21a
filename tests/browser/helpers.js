// Shared pieces of the browser tests: fixture databases made with the
// sqlite3 shell in temporary folders, the development host on a free port of
// 127.0.0.1, and Debian's chromium driven by playwright-core.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const REPO = path.resolve(__dirname, '..', '..');
const BIN = path.resolve(process.env.PLUGIN_SQLITE_BIN || path.join(REPO, 'build', 'plugin_sqlite'));
const SCREENSHOTS = path.join(path.dirname(BIN), 'screenshots');
const HOST_START_MS = 10000;
const STEP_MS = 10000;  // bound of every single wait on the page

const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run'];

/// A fresh, empty temporary folder; the caller removes it.
function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

/// Creates the database `file` (and its folder) from the SQL text `sql`.
function makeDb(file, sql) {
  fs.mkdirSync(path.dirname(file), {recursive: true});
  childProcess.execFileSync('sqlite3', [file], {input: sql});
}

/// Starts `command` with `args` and exactly `env`, and waits until it
/// prints "listening on http://127.0.0.1:<port>/". Resolves to {url, log(),
/// stop()}; rejects when it ends or stays silent first.
function serve(command, args, env) {
  const child = childProcess.spawn(command, args, {env: env, stdio: ['ignore', 'pipe', 'pipe']});
  let output = '';
  child.stdout.on('data', (chunk) => {
    output += chunk;
  });
  child.stderr.on('data', (chunk) => {
    output += chunk;
  });
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error(command + ' did not start:\n' + output));
    }, HOST_START_MS);
    child.on('exit', () => reject(new Error(command + ' exited:\n' + output)));
    child.stdout.on('data', () => {
      const match = /listening on (http:\/\/127\.0\.0\.1:\d+)\//.exec(output);
      if (!match) return;
      clearTimeout(timer);
      resolve({
        url: match[1],
        log: () => output,
        stop: () => new Promise((done) => {
          if (child.exitCode !== null || child.signalCode !== null) return done();
          child.once('exit', done);
          child.kill('SIGTERM');
        }),
      });
    });
  });
}

/// Starts devhost/server.js with exactly `env` as the configuration it
/// passes on, on a free port. Resolves to {url, log(), stop()}.
function startDevHost(env, extraArgs) {
  return serve(process.execPath, [path.join(REPO, 'devhost', 'server.js'), '--port', '0', ...(extraArgs || [])],
               {PATH: process.env.PATH, PLUGIN_SQLITE_BIN: BIN, ...env});
}

/// Fails when the plug-in broke its promises during the host's runs: a
/// nonzero exit status, a signal (a sanitizer finding ends the run) or any
/// byte on stderr.
function assertCleanRuns(host) {
  assert.doesNotMatch(host.log(), /plugin anomaly|-> 502/);
}

/// One chromium for a whole test file, with a fresh profile folder.
async function launchBrowser() {
  const {chromium} = require('playwright-core');
  const profile = tempDir('sqlite-browser-');
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: CHROMIUM_ARGS,
    viewport: {width: 1280, height: 900},
    timeout: 30000,
  });
  context.setDefaultTimeout(STEP_MS);
  return {
    context: context,
    close: async () => {
      await context.close();
      fs.rmSync(profile, {recursive: true, force: true});
    },
  };
}

/// A new tab that starts from empty browser storage on `origin`, with page
/// errors collected in `page.errors`.
async function freshPage(context, origin) {
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.goto(origin + '/');
  await page.evaluate(() => localStorage.clear());
  return page;
}

/// Opens the Explorer at `url` and waits until the database list answered.
async function openExplorer(page, url) {
  await page.goto(url);
  await page.waitForFunction(() => document.getElementById('dbcount').textContent !== '\u2014' ||
                             document.querySelector('#reswrap .err') !== null);
}

/// Runs `sql` through the SQL box and waits for the answer; with
/// `selectAll` the whole text is selected first, so that it runs as typed.
async function runSql(page, sql, selectAll) {
  await page.fill('#sql', sql);
  if (selectAll) await page.press('#sql', 'Control+a');
  await page.click('#runbtn');
  await page.waitForFunction(() => {
    const meta = document.getElementById('qmeta').textContent;
    return meta !== 'Running...' && !document.getElementById('runbtn').disabled;
  });
}

/// The text of the statement box, the editor's or the plain text area's.
function sqlText(page) {
  return page.$eval('#sql', (box) => box.tagName === 'TEXTAREA' ? box.value : box.innerText.replace(/\n$/, ''));
}

/// The grid's cells, row by row, as the page shows them.
function gridRows(page) {
  return page.$$eval('#reswrap tbody tr', (rows) => rows.map((row) =>
      Array.from(row.cells, (cell) => cell.textContent)));
}

/// A temporary folder whose "root" holds the databases `dbs` (a map of
/// path under the root to the SQL that makes it) and whose "home" is empty,
/// the development host serving them with `env` added, and one chromium.
/// Resolves to {dir, root, host, browser, stop()}; stop() ends all of it
/// and then fails when the plug-in broke its promises during the runs.
async function startExplorerFixture(prefix, dbs, env) {
  const dir = tempDir(prefix);
  const root = path.join(dir, 'root');
  for (const [name, sql] of Object.entries(dbs)) makeDb(path.join(root, name), sql);
  fs.mkdirSync(path.join(dir, 'home'));
  const fixture = {dir: dir, root: root, host: null, browser: null};
  fixture.stop = async () => {
    if (fixture.browser) await fixture.browser.close();
    if (fixture.host) await fixture.host.stop();
    fs.rmSync(dir, {recursive: true, force: true});
    if (fixture.host) assertCleanRuns(fixture.host);
  };
  try {
    fixture.host = await startDevHost({SQLITE_ALLOWED_ROOT: root, HOME: path.join(dir, 'home'), ...env});
    fixture.browser = await launchBrowser();
  } catch (error) {
    await fixture.stop();
    throw error;
  }
  return fixture;
}

/// The WCAG 2.1 A and AA violations axe-core finds on the page as it
/// stands, one line each ("rule: target, target"); empty when it finds none.
async function axeViolations(page) {
  await page.addScriptTag({path: require.resolve('axe-core/axe.min.js')});
  const violations = await page.evaluate(async () => {
    const result = await window.axe.run(document, {
      runOnly: {type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa']},
    });
    return result.violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).join(', '));
  });
  return violations;
}

async function screenshot(page, name) {
  fs.mkdirSync(SCREENSHOTS, {recursive: true});
  await page.screenshot({path: path.join(SCREENSHOTS, name + '.png'), fullPage: true});
}

module.exports = {
  BIN, CHROMIUM_ARGS, REPO, assertCleanRuns, axeViolations, freshPage, gridRows, launchBrowser, makeDb, openExplorer, runSql,
  screenshot, serve, sqlText, startDevHost, startExplorerFixture, tempDir,
};
