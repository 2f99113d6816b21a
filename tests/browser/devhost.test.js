// The development host's side of the host contract, checked with a stand-in
// plug-in (a shell script) that reports what it was given: the environment,
// the body file, the Status line it chose, and a run that never ends.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

// Answers --meta; otherwise prints a CGI answer whose body lists its whole
// environment and the content of the body file. "sleep" in the query string
// makes it hang, "teapot" makes it choose a Status line, "raw" makes it
// forget the header block.
const FAKE_PLUGIN = `#!/bin/sh
if [ "$1" = "--meta" ]; then echo '{"name":"fake","desc":"stand-in"}'; exit 0; fi
case "$QUERY_STRING" in *sleep*) exec /bin/sleep 30;; esac
case "$QUERY_STRING" in *raw*) echo 'no header block'; exit 0;; esac
case "$QUERY_STRING" in *teapot*) printf 'Status: 418 I am a teapot\\r\\n';; esac
printf 'Content-Type: text/plain\\r\\nX-Fake: yes\\r\\n\\r\\n'
/usr/bin/env
if [ -n "$HTTP_BODY_FILE" ]; then printf 'BODY='; /bin/cat "$HTTP_BODY_FILE"; echo; fi
`;

function envOf(text) {
  const env = {};
  for (const line of text.split('\n')) {
    const eq = line.indexOf('=');
    if (eq > 0) env[line.slice(0, eq)] = line.slice(eq + 1);
  }
  return env;
}

describe('development host', {timeout: 60000}, () => {
  let dir;
  let host;

  before(async () => {
    dir = h.tempDir('sqlite-devhost-');
    const bin = path.join(dir, 'fake_plugin');
    fs.writeFileSync(bin, FAKE_PLUGIN, {mode: 0o755});
    host = await h.startDevHost({
      PLUGIN_SQLITE_BIN: bin, SQLITE_ALLOWED_ROOT: '/data', HOME: '/home/demo', SQLITE_SCAN_BUDGET: '77',
      NOT_FOR_THE_PLUGIN: 'leak',
    }, ['--timeout', '1500']);
  });

  after(async () => {
    if (host) await host.stop();
    fs.rmSync(dir, {recursive: true, force: true});
  });

  test('prints the discovery line of the plug-in at start', () => {
    assert.match(host.log(), /plugin meta: \{"name":"fake","desc":"stand-in"\}\n/);
  });

  test('the node route hands over the query string, headers and configuration, nothing else', async () => {
    const res = await fetch(host.url + '/plugin_sqlite?action=dbs&db=a%2Fb&pwd=x+y', {
      headers: {'X-Zindo-Password': 'p1', 'Authorization': 'Bearer p2', 'Accept': 'text/html', 'X-Other': 'no'},
    });
    assert.equal(res.status, 200);
    assert.equal(res.headers.get('x-fake'), 'yes');
    const env = envOf(await res.text());
    assert.equal(env.QUERY_STRING, 'action=dbs&db=a%2Fb&pwd=x+y');
    assert.equal(env.HTTP_X_ZINDO_PASSWORD, 'p1');
    assert.equal(env.HTTP_AUTHORIZATION, 'Bearer p2');
    assert.equal(env.HTTP_ACCEPT, 'text/html');
    assert.equal(env.SQLITE_ALLOWED_ROOT, '/data');
    assert.equal(env.HOME, '/home/demo');
    assert.equal(env.SQLITE_SCAN_BUDGET, '77');
    for (const name of ['NOT_FOR_THE_PLUGIN', 'PATH', 'PLUGIN_SQLITE_BIN', 'HTTP_X_OTHER', 'HTTP_BODY_FILE', 'ZINDO_PASSWORD']) {
      assert.equal(env[name], undefined, name + ' must not reach the plug-in');
    }
  });

  test('the hub route drops plugin= and hands on the rest', async () => {
    const res = await fetch(host.url + '/plugins?plugin=fake&action=info&node=n1&pwd=z');
    assert.equal(envOf(await res.text()).QUERY_STRING, 'action=info&node=n1&pwd=z');
    assert.equal((await fetch(host.url + '/plugins?plugin=other&action=info')).status, 404);
  });

  test('a POST body reaches the plug-in in a private file that is gone afterwards', async () => {
    const res = await fetch(host.url + '/plugin_sqlite?action=query', {
      method: 'POST', headers: {'Content-Type': 'application/x-www-form-urlencoded'}, body: 'sql=SELECT%201',
    });
    const text = await res.text();
    const env = envOf(text);
    assert.match(text, /^BODY=sql=SELECT%201$/m);
    const file = env.HTTP_BODY_FILE;
    assert.ok(file && path.isAbsolute(file));
    assert.equal(fs.existsSync(file), false, 'the body file is removed after the run');
    assert.equal(fs.statSync(path.dirname(file)).mode & 0o077, 0, 'the body folder is private');
  });

  test('a Status line sets the HTTP status; no header block is a 502', async () => {
    const res = await fetch(host.url + '/plugin_sqlite?teapot');
    assert.equal(res.status, 418);
    assert.equal(res.headers.get('content-type'), 'text/plain');
    assert.equal((await fetch(host.url + '/plugin_sqlite?raw')).status, 502);
  });

  test('a run past the timeout is ended and answered with 502', async () => {
    const started = Date.now();
    const res = await fetch(host.url + '/plugin_sqlite?sleep');
    assert.equal(res.status, 502);
    assert.ok(Date.now() - started < 10000);
    assert.match(host.log(), /plugin stopped after 1500 ms/);
  });

  test('a client that goes away ends its run before the timeout', async () => {
    const controller = new AbortController();
    const request = fetch(host.url + '/plugin_sqlite?sleep&gone', {signal: controller.signal}).catch((e) => e.name);
    setTimeout(() => controller.abort(), 200);
    assert.equal(await request, 'AbortError');
    const deadline = Date.now() + 5000;
    while (!/GET page: the client went away, plugin stopped/.test(host.log())) {
      assert.ok(Date.now() < deadline, host.log());
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  });

  test('the start page links to the Explorer and to the framing page', async () => {
    const page = await (await fetch(host.url + '/')).text();
    assert.match(page, /href='\/plugin_sqlite'/);
    assert.match(page, /href='\/frame'/);
    const frame = await (await fetch(host.url + '/frame')).text();
    assert.match(frame, /<iframe id='explorer' src='\/plugin_sqlite\?embed=1'/);
  });

  test('it listens on 127.0.0.1 only', async (t) => {
    const outside = Object.values(os.networkInterfaces()).flat()
                        .find((a) => a.family === 'IPv4' && !a.internal);
    if (!outside) return t.skip('this machine has no other IPv4 address');
    const port = Number(new URL(host.url).port);
    const reached = await new Promise((resolve) => {
      const socket = net.connect(port, outside.address);
      socket.on('connect', () => {
        socket.destroy();
        resolve(true);
      });
      socket.on('error', () => resolve(false));
    });
    assert.equal(reached, false);
  });
});
