// The plug-in behind a standard web server: Debian's lighttpd with mod_cgi
// on a free port of 127.0.0.1, serving the executable of this build as a
// CGI program, with the node password set. Requests go through HTTP as the
// Explorer page sends them; the server and its folder are removed after.
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const {test, before, after} = require('node:test');

const {tempDir, makeDb} = require('../browser/helpers.js');

const REPO = path.resolve(__dirname, '..', '..');
const BIN = path.resolve(process.env.PLUGIN_SQLITE_BIN || path.join(REPO, 'build', 'plugin_sqlite'));
const LIGHTTPD = process.env.LIGHTTPD_BIN || '/usr/sbin/lighttpd';
const PASSWORD = 'pa ss&word';
const START_MS = 10000;

let folder;
let server;
let base;
let dbPath;

/// A port on 127.0.0.1 that nothing listened on a moment ago.
function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.on('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const {port} = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

/// The lighttpd configuration from the README, filled in for this test.
function config(port, root) {
  return [
    `server.document-root = "${folder}/www"`,
    `server.bind = "127.0.0.1"`,
    `server.port = ${port}`,
    `server.errorlog = "${folder}/error.log"`,
    `server.modules += ("mod_alias", "mod_cgi", "mod_setenv")`,
    `alias.url = ("/plugin_sqlite" => "${BIN}")`,
    `cgi.assign = ("/plugin_sqlite" => "")`,
    `setenv.add-environment = ("SQLITE_ALLOWED_ROOT" => "${root}", "ZINDO_PASSWORD" => "${PASSWORD}")`,
    '',
  ].join('\n');
}

function waitForPort(port, child) {
  const deadline = Date.now() + START_MS;
  return new Promise((resolve, reject) => {
    const attempt = () => {
      if (child.exitCode !== null) return reject(new Error('lighttpd exited: ' + readLog()));
      const socket = net.connect(port, '127.0.0.1', () => {
        socket.destroy();
        resolve();
      });
      socket.on('error', () => {
        if (Date.now() > deadline) return reject(new Error('lighttpd did not start: ' + readLog()));
        setTimeout(attempt, 50);
      });
    };
    attempt();
  });
}

function readLog() {
  try {
    return fs.readFileSync(path.join(folder, 'error.log'), 'utf8');
  } catch {
    return '(no error log)';
  }
}

before(async () => {
  folder = tempDir('plugin_sqlite_lighttpd.');
  fs.mkdirSync(path.join(folder, 'www'));
  const root = path.join(folder, 'data');
  dbPath = path.join(fs.realpathSync(folder), 'data', 'shop.db');
  makeDb(dbPath, "CREATE TABLE items(id INTEGER PRIMARY KEY, name TEXT); INSERT INTO items VALUES(1, 'tea');");
  const port = await freePort();
  fs.writeFileSync(path.join(folder, 'lighttpd.conf'), config(port, root));
  server = childProcess.spawn(LIGHTTPD, ['-D', '-f', path.join(folder, 'lighttpd.conf')],
      {stdio: ['ignore', 'pipe', 'pipe']});
  await waitForPort(port, server);
  base = `http://127.0.0.1:${port}/plugin_sqlite`;
});

after(async () => {
  if (server && server.exitCode === null) {
    const exited = new Promise((resolve) => server.on('exit', resolve));
    server.kill('SIGTERM');
    await exited;
  }
  if (folder) fs.rmSync(folder, {recursive: true, force: true});
});

/// A request with the node password in its header, as the page sends it.
function withPassword(query, init = {}) {
  return fetch(`${base}?${query}`, {...init, headers: {'X-Zindo-Password': PASSWORD, ...init.headers}});
}

async function json(response) {
  assert.equal(response.status, 200);
  assert.equal(response.headers.get('content-type'), 'application/json; charset=utf-8');
  return response.json();
}

test('the page comes through the server byte for byte', async () => {
  const response = await withPassword('');
  assert.equal(response.status, 200);
  assert.equal(response.headers.get('content-type'), 'text/html; charset=utf-8');
  assert.equal(response.headers.get('cache-control'), 'no-store');
  const direct = childProcess.execFileSync(BIN, {env: {QUERY_STRING: ''}}).toString('utf8');
  assert.equal(await response.text(), direct.slice(direct.indexOf('\r\n\r\n') + 4));
});

test('dbs and info answer through the server', async () => {
  const dbs = await json(await withPassword('action=dbs'));
  assert.equal(dbs.ok, true);
  assert.deepEqual(dbs.dbs.map((d) => d.path), [dbPath]);
  const info = await json(await withPassword('action=info'));
  assert.equal(info.ok, true);
  assert.equal(info.action, 'info');
});

test('a query POSTed as the Explorer sends it runs', async () => {
  const sql = "SELECT name, 6 * 7 AS answer FROM items WHERE name = 'tea'";
  const response = await withPassword(`action=query&db=${encodeURIComponent(dbPath)}`, {
    method: 'POST',
    headers: {'Content-Type': 'application/x-www-form-urlencoded'},
    body: 'sql=' + encodeURIComponent(sql),
  });
  const doc = await json(response);
  assert.equal(doc.ok, true, JSON.stringify(doc));
  assert.deepEqual(doc.rows, [['tea', 42]]);
});

test('a POSTed statement longer than the body buffer is refused, not cut', async () => {
  const sql = 'SELECT 1' + ' '.repeat(17500) + '+1';
  const response = await withPassword(`action=query&db=${encodeURIComponent(dbPath)}`, {
    method: 'POST',
    headers: {'Content-Type': 'application/x-www-form-urlencoded'},
    body: 'sql=' + encodeURIComponent(sql),
  });
  assert.deepEqual(await json(response),
      {ok: false, error: 'sql_error', detail: 'request body longer than 17407 bytes'});
});

test('a client cannot name the body file with a Body-File header', async () => {
  const file = path.join(folder, 'client-body.txt');
  fs.writeFileSync(file, "sql=SELECT 'read through the header'");
  // The server turns the header into HTTP_BODY_FILE; the program must read
  // only the body the server hands over, here none. Its own standard output
  // as a body would hang it.
  for (const named of [file, '/proc/self/fd/1', '/nonexistent']) {
    const started = Date.now();
    const response = await withPassword(`action=query&db=${encodeURIComponent(dbPath)}`,
        {headers: {'Body-File': named}});
    assert.deepEqual(await json(response),
        {ok: false, error: 'missing_sql', detail: 'pass ?sql=SELECT ... or POST sql=...'}, named);
    assert.ok(Date.now() - started < 5000, named);
  }
});

test('without the password the answer is the 401 refusal', async () => {
  for (const headers of [{}, {'X-Zindo-Password': 'wrong'}]) {
    const response = await fetch(`${base}?action=dbs`, {headers});
    assert.equal(response.status, 401);
    assert.equal(response.headers.get('content-type'), 'application/json; charset=utf-8');
    assert.equal(await response.text(), '{"ok":false,"error":"invalid node password"}\n');
  }
});

test('a browser opening the page without the password gets the password page', async () => {
  const response = await fetch(`${base}?pwd=wrong`, {headers: {Accept: 'text/html,*/*;q=0.8'}});
  assert.equal(response.status, 401);
  assert.equal(response.headers.get('content-type'), 'text/html; charset=utf-8');
  assert.equal(response.headers.get('cache-control'), 'no-store');
  assert.match(await response.text(), /<label for='pwfield'>Node password<\/label>/);
  // An action keeps the JSON refusal, whatever the client accepts.
  const action = await fetch(`${base}?action=dbs`, {headers: {Accept: 'text/html'}});
  assert.equal(action.status, 401);
  assert.equal(await action.text(), '{"ok":false,"error":"invalid node password"}\n');
});
