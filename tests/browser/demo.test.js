// `make demo` as a new user meets it (devhost/demo.sh, in a folder of its
// own): the Explorer's own URL comes first and serves the Explorer; a busy
// port is one plain line that names DEVHOST_PORT; a second demo leaves the
// folder of a running one alone.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const START_MS = 15000;
const DEMO_SCRIPT = path.join(h.REPO, 'devhost', 'demo.sh');

describe('make demo', {timeout: 120000}, () => {
  let dir;
  let demoDir;

  before(() => {
    dir = h.tempDir('sqlite-demo-');
    demoDir = path.join(dir, 'demo');
  });

  after(() => {
    fs.rmSync(dir, {recursive: true, force: true});
  });

  function demoEnv(port, env) {
    return {PATH: process.env.PATH, PLUGIN_SQLITE_BIN: h.BIN, DEMO_DIR: demoDir, DEVHOST_PORT: String(port), ...env};
  }

  /// Runs devhost/demo.sh on a free port with `env` added. Resolves, once
  /// it serves, to {lines, url, stop()}.
  async function runDemo(env) {
    const demo = await h.serve('bash', [DEMO_SCRIPT], demoEnv(0, env));
    return {...demo, lines: demo.log().split('\n').filter(Boolean)};
  }

  /// Runs devhost/demo.sh on `port`, which is expected to be taken: its
  /// {status, lines} once it has ended.
  function runDemoOnBusyPort(port) {
    const run = childProcess.spawnSync('bash', [DEMO_SCRIPT], {env: demoEnv(port, {}), encoding: 'utf8', timeout: START_MS});
    return {status: run.status, lines: (run.stdout + run.stderr).split('\n').filter(Boolean)};
  }

  // A file of our own in the demo folder tells whether the folder was
  // made afresh since it was put there.
  const MARK = () => path.join(demoDir, 'left-by-the-test');
  function markFolder() {
    fs.writeFileSync(MARK(), '');
  }
  function folderKept() {
    return fs.existsSync(MARK());
  }

  async function listedDbs(url) {
    const answer = await (await fetch(url + '/plugin_sqlite?action=dbs')).json();
    return answer.dbs.map((db) => path.relative(demoDir, db.path)).sort();
  }

  test('the first line is the Explorer\'s own URL, and it serves the Explorer', async () => {
    const cases = [
      {env: {}, first: /^Explorer: (http:\/\/127\.0\.0\.1:\d+\/plugin_sqlite)$/},
      {env: {ZINDO_PASSWORD: 's3cret'},
       first: /^Explorer: (http:\/\/127\.0\.0\.1:\d+\/plugin_sqlite)\?pwd=<password> \(the node password gate is on\)$/},
    ];
    for (const c of cases) {
      const demo = await runDemo(c.env);
      try {
        const explorerUrl = c.first.exec(demo.lines[0]);
        assert.ok(explorerUrl, 'first line: ' + demo.lines[0]);
        assert.equal(demo.lines[1], `listening on ${demo.url}/ (the host's start page; Ctrl-C stops it)`);
        assert.doesNotMatch(demo.lines.join('\n'), /s3cret/, 'the password is never printed');
        const url = explorerUrl[1] + (c.env.ZINDO_PASSWORD ? '?pwd=' + c.env.ZINDO_PASSWORD : '');
        const page = await fetch(url);
        assert.equal(page.status, 200);
        assert.match(await page.text(), /<title>sqlite<\/title>/);
        if (!c.env.ZINDO_PASSWORD) assert.deepEqual(await listedDbs(demo.url), ['maps/places.sqlite', 'more/notes.sqlite', 'shop.db']);
      } finally {
        await demo.stop();
      }
    }
  });

  test('a busy port is one line naming DEVHOST_PORT; a running demo keeps its folder', async () => {
    const first = await runDemo({});
    try {
      markFolder();
      const port = Number(new URL(first.url).port);

      const busy = runDemoOnBusyPort(port);
      assert.notEqual(busy.status, 0);
      assert.equal(busy.lines.length, 1, busy.lines.join('\n'));
      assert.match(busy.lines[0], new RegExp(`port ${port} is busy.*DEVHOST_PORT=\\d+ make demo`));
      assert.ok(folderKept());

      const second = await runDemo({});
      try {
        assert.ok(folderKept(), 'the second demo shares the folder as it is');
        assert.deepEqual(await listedDbs(first.url), ['maps/places.sqlite', 'more/notes.sqlite', 'shop.db']);
        assert.deepEqual(await listedDbs(second.url), ['maps/places.sqlite', 'more/notes.sqlite', 'shop.db']);
      } finally {
        await second.stop();
      }
    } finally {
      await first.stop();
    }
    // With no demo running, the next one makes the folder afresh.
    const fresh = await runDemo({});
    await fresh.stop();
    assert.equal(folderKept(), false);
    assert.ok(fs.existsSync(path.join(demoDir, 'shop.db')));
  });
});
