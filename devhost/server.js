#!/usr/bin/env node
// Development host for plugin_sqlite: a small stand-in for the node (and the
// hub's proxy route) that runs the plug-in once per HTTP request, CGI-style,
// and relays its answer. Node.js only, no packages.
//
//   node devhost/server.js [--port N] [--bin PATH] [--timeout MS]
//
// The port also comes from DEVHOST_PORT (default 8080; 0 picks a free one),
// the binary from PLUGIN_SQLITE_BIN (default build/plugin_sqlite), the run
// timeout from DEVHOST_TIMEOUT_MS (default 10000). It listens on 127.0.0.1
// only; once it is ready it prints the Explorer's URL first, then
// "listening on http://127.0.0.1:<port>/" (its start page).
'use strict';

const childProcess = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const REPO = path.resolve(__dirname, '..');
const HOST = '127.0.0.1';
const MAX_BODY_BYTES = 1 << 20;       // the plug-in reads 17 KB of it at most
const MAX_OUTPUT_BYTES = 64 << 20;    // far above any answer the plug-in writes
const META_TIMEOUT_MS = 5000;

// The only variables a run gets from the host's own environment: the
// plug-in's configuration. Everything else is set per request.
const PASSED_THROUGH = ['ZINDO_PASSWORD', 'SQLITE_ALLOWED_ROOT', 'HOME', 'USERPROFILE', 'SQLITE_SCAN_BUDGET'];

function parseOptions(argv, env) {
  const options = {
    port: env.DEVHOST_PORT !== undefined ? Number(env.DEVHOST_PORT) : 8080,
    bin: env.PLUGIN_SQLITE_BIN || path.join(REPO, 'build', 'plugin_sqlite'),
    timeoutMs: env.DEVHOST_TIMEOUT_MS !== undefined ? Number(env.DEVHOST_TIMEOUT_MS) : 10000,
  };
  for (let i = 2; i < argv.length; i++) {
    const value = argv[i + 1];
    if (argv[i] === '--port') options.port = Number(value);
    else if (argv[i] === '--bin') options.bin = value;
    else if (argv[i] === '--timeout') options.timeoutMs = Number(value);
    else throw new Error('unknown option ' + argv[i]);
    i++;
  }
  if (!Number.isInteger(options.port) || options.port < 0 || options.port > 65535) {
    throw new Error('bad port');
  }
  if (!(options.timeoutMs > 0)) throw new Error('bad timeout');
  options.bin = path.resolve(options.bin);
  return options;
}

// ---- the plug-in's side of the contract ----

/// The discovery line, `{"name":...,"desc":...}`, from `<bin> --meta`.
function readMeta(bin) {
  const out = childProcess.execFileSync(bin, ['--meta'], {
    env: configEnv(), timeout: META_TIMEOUT_MS, stdio: ['ignore', 'pipe', 'pipe'],
  });
  const line = out.toString('utf8').trim();
  return {line: line, meta: JSON.parse(line)};
}

function configEnv() {
  const env = {};
  for (const name of PASSED_THROUGH) {
    if (process.env[name] !== undefined) env[name] = process.env[name];
  }
  return env;
}

function requestEnv(queryString, bodyFile, headers) {
  const env = configEnv();
  env.QUERY_STRING = queryString;
  if (bodyFile) env.HTTP_BODY_FILE = bodyFile;
  if (headers['x-zindo-password'] !== undefined) env.HTTP_X_ZINDO_PASSWORD = headers['x-zindo-password'];
  if (headers.authorization !== undefined) env.HTTP_AUTHORIZATION = headers.authorization;
  // Tells a browser opening the page from a script: a refused browser gets
  // the password page, anything else the JSON refusal.
  if (headers.accept !== undefined) env.HTTP_ACCEPT = headers.accept;
  return env;
}

/// Splits a CGI answer into status, headers and body. Returns null when
/// there is no header block.
function parseCgi(output) {
  let end = output.indexOf('\r\n\r\n');
  let gap = 4;
  if (end < 0) {
    end = output.indexOf('\n\n');
    gap = 2;
  }
  if (end < 0) return null;
  const result = {status: 200, reason: 'OK', headers: [], body: output.subarray(end + gap)};
  for (const line of output.subarray(0, end).toString('latin1').split(/\r?\n/)) {
    const colon = line.indexOf(':');
    if (colon <= 0) return null;
    const name = line.slice(0, colon).trim();
    const value = line.slice(colon + 1).trim();
    if (name.toLowerCase() === 'status') {
      const match = /^(\d{3})\s*(.*)$/.exec(value);
      if (!match) return null;
      result.status = Number(match[1]);
      result.reason = match[2] || http.STATUS_CODES[result.status] || '';
    } else {
      result.headers.push([name, value]);
    }
  }
  return result;
}

// ---- the host ----

function sendText(res, status, text, type) {
  res.writeHead(status, {'Content-Type': (type || 'text/plain') + '; charset=utf-8', 'Cache-Control': 'no-store'});
  res.end(text);
}

function readBody(req) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    req.on('data', (chunk) => {
      size += chunk.length;
      if (size > MAX_BODY_BYTES) {
        reject(new Error('body too large'));
        req.destroy();
        return;
      }
      chunks.push(chunk);
    });
    req.on('end', () => resolve(Buffer.concat(chunks)));
    req.on('error', reject);
  });
}

/// The query string with every `plugin=` segment taken out: what the hub
/// hands on to the plug-in.
function withoutPluginSegment(queryString) {
  return queryString.split('&').filter((segment) => segment.split('=')[0] !== 'plugin').join('&');
}

// With the node password on, the Explorer page itself is refused unless
// the URL carries it; this form puts it there.
const PASSWORD_FORM = `<form action='/plugin_sqlite'>Node password:
<input name='pwd' type='password' autocomplete='off'> <button type='submit'>Open the Explorer</button></form>`;

function startPage(meta, pluginId, gated) {
  return `<!DOCTYPE html>
<html lang='en'><head><meta charset='utf-8'><title>Zindo dev host</title>
<style>body{font-family:sans-serif;margin:40px;line-height:1.7}code{background:#eee;padding:1px 5px}</style>
</head><body>
<h1>Zindo development host</h1>
<p>Plug-in: <code>${escapeHtml(meta)}</code></p>
<ul>
<li><a href='/plugin_sqlite'>Explorer</a> (the node's own route)</li>
<li><a href='/plugins?plugin=${encodeURIComponent(pluginId)}&amp;node=local'>Explorer through the hub</a></li>
<li><a href='/frame'>Explorer framed by a host page</a> (embed mode, host theme)</li>
</ul>
${gated ? PASSWORD_FORM : ''}
</body></html>
`;
}

// The host page that frames the Explorer: it answers the page's
// "qv-theme-request" with its own theme, sends it again once the page has
// loaded (the Explorer's own start-up applies its stored theme last) and on
// every switch. `themeRequests` counts the requests it was sent.
const FRAME_PAGE = `<!DOCTYPE html>
<html lang='en' data-theme='dark'><head><meta charset='utf-8'><title>Zindo dev host: framed Explorer</title>
<style>
html{background:#111;color:#eee}html[data-theme='light']{background:#eee;color:#111}
body{margin:0;font-family:sans-serif}header{display:flex;gap:12px;align-items:center;padding:8px 16px}
iframe{display:block;width:100%;height:calc(100vh - 52px);border:0}
</style></head><body>
<header><a href='/'>Zindo</a><span>framed Explorer</span>
<button id='hosttheme' type='button'>Host theme: <span id='hostthemename'>dark</span></button></header>
<iframe id='explorer' src='/plugin_sqlite?embed=1' title='sqlite'></iframe>
<script>
(function () {
  var theme = new URLSearchParams(location.search).get('theme') === 'light' ? 'light' : 'dark';
  var frame = document.getElementById('explorer');
  function send() {
    frame.contentWindow.postMessage({type: 'qv-theme', theme: theme}, '*');
  }
  function show() {
    document.documentElement.setAttribute('data-theme', theme);
    document.getElementById('hostthemename').textContent = theme;
  }
  window.themeRequests = 0;
  window.addEventListener('message', function (event) {
    if (event.source === frame.contentWindow && event.data && event.data.type === 'qv-theme-request') {
      window.themeRequests++;
      send();
    }
  });
  frame.addEventListener('load', send);
  document.getElementById('hosttheme').addEventListener('click', function () {
    theme = theme === 'light' ? 'dark' : 'light';
    show();
    send();
  });
  show();
})();
</script>
</body></html>
`;

function escapeHtml(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/'/g, '&#39;');
}

class DevHost {
  constructor(options, meta) {
    this.options = options;
    this.meta = meta;
    this.pluginId = meta.meta.name;
    this.children = new Set();
    this.bodyDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zindo-devhost-'));  // mode 0700
    this.server = http.createServer((req, res) => {
      this.handle(req, res).catch((error) => {
        this.note('request failed: ' + error.message);
        if (!res.headersSent) sendText(res, 500, 'dev host error\n');
        else res.destroy();
      });
    });
  }

  note(line) {
    process.stdout.write(line + '\n');
  }

  listen() {
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(this.options.port, HOST, () => resolve(this.server.address().port));
    });
  }

  close() {
    for (const child of this.children) child.kill('SIGKILL');
    this.server.close();
    this.server.closeAllConnections();
    fs.rmSync(this.bodyDir, {recursive: true, force: true});
  }

  async handle(req, res) {
    const mark = req.url.indexOf('?');
    const pathname = mark < 0 ? req.url : req.url.slice(0, mark);
    const queryString = mark < 0 ? '' : req.url.slice(mark + 1);
    if (req.method !== 'GET' && req.method !== 'POST') return sendText(res, 405, 'method not allowed\n');
    if (pathname === '/') return sendText(res, 200, startPage(this.meta.line, this.pluginId, Boolean(process.env.ZINDO_PASSWORD)), 'text/html');
    if (pathname === '/frame') return sendText(res, 200, FRAME_PAGE, 'text/html');
    if (pathname === '/favicon.ico') return res.writeHead(204).end();
    if (pathname === '/plugin_sqlite') return this.runPlugin(req, res, queryString);
    if (pathname === '/plugins') {
      const plugin = new URLSearchParams(queryString).get('plugin');
      if (plugin !== this.pluginId) return sendText(res, 404, 'no such plugin\n');
      return this.runPlugin(req, res, withoutPluginSegment(queryString));
    }
    return sendText(res, 404, 'not found\n');
  }

  async runPlugin(req, res, queryString) {
    const started = Date.now();
    let body;
    try {
      body = await readBody(req);
    } catch (error) {
      return sendText(res, 413, 'request body too large\n');
    }
    let bodyFile = '';
    if (body.length > 0) {
      bodyFile = path.join(this.bodyDir, 'body-' + crypto.randomBytes(8).toString('hex'));
      fs.writeFileSync(bodyFile, body, {mode: 0o600, flag: 'wx'});
    }
    let run;
    try {
      run = await this.spawnPlugin(queryString, bodyFile, req.headers, res);
    } finally {
      // Gone before the answer leaves, so a client never sees it linger.
      if (bodyFile) fs.rmSync(bodyFile, {force: true});
    }
    this.relay(req, res, run, new URLSearchParams(queryString).get('action') || 'page', started);
  }

  relay(req, res, run, action, started) {
    if (run.abandoned) {
      this.note(`${req.method} ${action}: the client went away, plugin stopped`);
      return;
    }
    if (run.timedOut) {
      this.note(`${req.method} ${action}: plugin stopped after ${this.options.timeoutMs} ms -> 502`);
      return sendText(res, 502, 'plugin timed out\n');
    }
    // The plug-in promises exit status 0 and silence on stderr; say so
    // loudly when it breaks that promise.
    if (run.code !== 0 || run.stderr.length > 0) {
      const stderr = JSON.stringify(run.stderr.toString('utf8'));
      this.note(`plugin anomaly: exit ${run.code} signal ${run.signal} stderr ${stderr}`);
    }
    const answer = parseCgi(run.stdout);
    if (!answer) {
      this.note(`${req.method} ${action}: no CGI header block -> 502`);
      return sendText(res, 502, 'plugin answer has no header block\n');
    }
    res.statusCode = answer.status;
    res.statusMessage = answer.reason;
    for (const [name, value] of answer.headers) res.setHeader(name, value);
    res.end(answer.body);
    this.note(`${req.method} ${action} -> ${answer.status} (${Date.now() - started} ms)`);
  }

  /// Runs the plug-in for one request. A client that goes away before its
  /// answer (the Explorer aborts a request it replaced) ends the run, so
  /// that abandoned statements do not pile up.
  spawnPlugin(queryString, bodyFile, headers, res) {
    return new Promise((resolve) => {
      const child = childProcess.spawn(this.options.bin, [], {
        env: requestEnv(queryString, bodyFile, headers),
        stdio: ['ignore', 'pipe', 'pipe'],
      });
      this.children.add(child);
      const stdout = [];
      const stderr = [];
      let size = 0;
      let timedOut = false;
      let abandoned = false;
      const timer = setTimeout(() => {
        timedOut = true;
        child.kill('SIGKILL');
      }, this.options.timeoutMs);
      res.once('close', () => {
        if (res.writableFinished || child.exitCode !== null || child.signalCode !== null) return;
        abandoned = true;
        child.kill('SIGKILL');
      });
      child.stdout.on('data', (chunk) => {
        size += chunk.length;
        if (size > MAX_OUTPUT_BYTES) child.kill('SIGKILL');
        else stdout.push(chunk);
      });
      child.stderr.on('data', (chunk) => stderr.push(chunk));
      child.on('error', (error) => stderr.push(Buffer.from('spawn failed: ' + error.message)));
      child.on('close', (code, signal) => {
        clearTimeout(timer);
        this.children.delete(child);
        resolve({code: code, signal: signal, timedOut: timedOut, abandoned: abandoned,
                 stdout: Buffer.concat(stdout), stderr: Buffer.concat(stderr)});
      });
    });
  }
}

/// One line for a port that cannot be listened on, saying how to choose
/// another.
function busyPortText(port, error) {
  if (error.code === 'EADDRINUSE') {
    return `devhost: port ${port} is busy; choose another with DEVHOST_PORT, e.g. DEVHOST_PORT=${port < 65535 ? port + 1 : 8081} make demo`;
  }
  return `devhost: cannot listen on ${HOST}:${port} (${error.code || error.message}); choose another port with DEVHOST_PORT`;
}

async function main() {
  let options;
  try {
    options = parseOptions(process.argv, process.env);
  } catch (error) {
    process.stdout.write('devhost: ' + error.message + '\n');
    process.exit(2);
  }
  let meta;
  try {
    meta = readMeta(options.bin);
  } catch (error) {
    process.stdout.write(`devhost: cannot read the discovery line of ${options.bin}: ${error.message}\n`);
    process.exit(1);
  }
  const host = new DevHost(options, meta);
  let port;
  try {
    port = await host.listen();
  } catch (error) {
    process.stderr.write(busyPortText(options.port, error) + '\n');
    host.close();
    process.exit(1);
  }
  // One write, so that whoever waits for the "listening on" line gets the
  // whole banner with it.
  const gated = Boolean(process.env.ZINDO_PASSWORD);
  const banner = [
    `Explorer: http://${HOST}:${port}/plugin_sqlite` + (gated ? '?pwd=<password> (the node password gate is on)' : ''),
    `listening on http://${HOST}:${port}/ (the host's start page; Ctrl-C stops it)`,
  ];
  if (process.env.SQLITE_ALLOWED_ROOT) banner.push('databases under: ' + process.env.SQLITE_ALLOWED_ROOT);
  banner.push('plugin: ' + options.bin, 'plugin meta: ' + meta.line);
  host.note(banner.join('\n'));
  const stop = () => {
    host.close();
    process.exit(0);
  };
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}

main();
