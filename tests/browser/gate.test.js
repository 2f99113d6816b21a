// The Explorer behind a node password, with two databases: how the page
// settles the password (URL, per-node storage, active storage), how it sends
// it (its header only, never a URL), what a refusal looks like, and the
// password page a browser gets without it. With two databases nothing is
// chosen.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const {after, before, describe, test} = require('node:test');
const h = require('./helpers');

const PASSWORD = 'se cret&1';

describe('Explorer behind a node password, two databases', {timeout: 120000}, () => {
  let dir;
  let host;
  let browser;

  before(async () => {
    dir = h.tempDir('sqlite-gate-');
    h.makeDb(path.join(dir, 'root', 'a.db'), 'CREATE TABLE t (x); INSERT INTO t VALUES (1);');
    h.makeDb(path.join(dir, 'root', 'sub', 'b.sqlite'), 'CREATE TABLE u (y);');
    fs.mkdirSync(path.join(dir, 'home'));
    host = await h.startDevHost({
      SQLITE_ALLOWED_ROOT: path.join(dir, 'root'), HOME: path.join(dir, 'home'), ZINDO_PASSWORD: PASSWORD,
    });
    browser = await h.launchBrowser();
  });

  after(async () => {
    if (browser) await browser.close();
    if (host) await host.stop();
    if (host) h.assertCleanRuns(host);
    fs.rmSync(dir, {recursive: true, force: true});
  });

  const cases = [
    {name: 'no password anywhere', query: '', storage: {}, admitted: false},
    {name: 'a wrong pwd parameter', query: '?pwd=wrong', storage: {}, admitted: false},
    {name: 'the pwd parameter', query: '?pwd=' + encodeURIComponent(PASSWORD), storage: {}, admitted: true},
    {name: 'the pwd parameter before the stored one', query: '?node=n1&pwd=' + encodeURIComponent(PASSWORD),
      storage: {zindo_pwd_n1: 'wrong'}, admitted: true},
    {name: 'the stored password of the node', query: '?node=n1', storage: {zindo_pwd_n1: PASSWORD}, admitted: true},
    {name: 'another node\'s stored password', query: '?node=n2', storage: {zindo_pwd_n1: PASSWORD}, admitted: false},
    {name: 'the active password', query: '?node=n2', storage: {zindo_active_pwd: PASSWORD}, admitted: true},
  ];
  for (const c of cases) {
    test(c.name + (c.admitted ? ' is accepted' : ' is refused'), async () => {
      const page = await h.freshPage(browser.context, host.url);
      await page.evaluate((entries) => {
        for (const [key, value] of Object.entries(entries)) localStorage.setItem(key, value);
      }, c.storage);
      // The page itself is gated too; its load carries a Bearer token, as a
      // host that signed the user in would, so what the script sends is
      // decided by the script alone.
      await page.route((url) => url.pathname === '/plugin_sqlite' && !url.searchParams.has('action'),
                       (route) => route.continue({headers: {...route.request().headers(), authorization: 'Bearer ' + PASSWORD}}));
      const sent = [];
      page.on('request', (request) => {
        if (request.url().includes('action=')) sent.push({url: request.url(), header: request.headers()['x-zindo-password']});
      });
      await h.openExplorer(page, host.url + '/plugin_sqlite' + c.query);
      if (!c.admitted) {
        assert.equal(await page.textContent('#reswrap .err'), 'invalid node password');
        assert.equal(await page.$$eval('#dbsel option', (options) => options.length), 0);
        assert.equal(await page.isHidden('#infocard'), true);
        return;
      }
      assert.equal(await page.textContent('#dbcount'), '2 databases');
      assert.equal(await page.textContent('#dbsel option:checked'), 'Choose a database (2)');
      assert.equal(await page.textContent('#tables'), 'Select a database.');
      // Choosing a database sends its schema request with the password too.
      await page.selectOption('#dbsel', {index: 1});
      await page.waitForSelector('#tables .titem');
      assert.ok(sent.length >= 3);
      // The password travels in its header alone, and leaves the address bar.
      for (const request of sent) {
        assert.equal(new URL(request.url).searchParams.get('pwd'), null, request.url);
        assert.equal(request.header, PASSWORD);
      }
      assert.equal(new URL(page.url()).searchParams.has('pwd'), false);
    });
  }

  // Every request the tab makes, and the password header of each.
  function recordRequests(page) {
    const sent = [];
    page.on('request', (request) => {
      sent.push({url: request.url(), header: request.headers()['x-zindo-password']});
    });
    return sent;
  }

  function assertNoPasswordInUrls(sent) {
    for (const request of sent) {
      const url = new URL(request.url);
      if (url.protocol === 'blob:' || url.protocol === 'data:') continue;
      assert.equal(url.searchParams.has('pwd'), false, request.url);
      assert.equal(request.url.includes('cret'), false, request.url);
    }
  }

  test('the password page: axe-clean in both themes, fixed text, no password left in the address', async () => {
    const page = await h.freshPage(browser.context, host.url);
    for (const theme of ['light', 'dark']) {
      const response = await page.goto(host.url + '/plugin_sqlite?theme=' + theme + '&pwd=wrong');
      assert.equal(response.status(), 401);
      assert.match(response.headers()['content-type'], /^text\/html/);
      assert.equal(response.headers()['cache-control'], 'no-store');
      assert.equal(await page.getAttribute('html', 'data-theme'), theme);
      await page.getByLabel('Node password').waitFor();
      assert.equal(await page.getAttribute('#pwfield', 'type'), 'password');
      // The refused pwd field leaves the address bar; the rest stays.
      assert.equal(new URL(page.url()).search, '?theme=' + theme);
      for (const width of [1280, 375]) {
        await page.setViewportSize({width: width, height: 800});
        assert.deepEqual(await h.axeViolations(page), [], theme + ' ' + width);
        await h.screenshot(page, 'password-page-' + theme + '-' + width);
      }
      await page.setViewportSize({width: 1280, height: 900});
    }
    // A client that does not ask for a page keeps the JSON refusal.
    const json = await page.evaluate(async () => {
      const response = await fetch('/plugin_sqlite', {headers: {Accept: 'application/json'}});
      return {status: response.status, body: await response.text()};
    });
    assert.deepEqual(json, {status: 401, body: '{"ok":false,"error":"invalid node password"}\n'});
    assert.deepEqual(page.errors, []);
  });

  test('a wrong password is refused on the page; the right one opens the Explorer, sent in its header only',
       async () => {
         const page = await h.freshPage(browser.context, host.url);
         const sent = recordRequests(page);
         await page.goto(host.url + '/plugin_sqlite?node=n1');
         await page.getByLabel('Node password').fill('wrong');
         await page.click('#pwbtn');
         await page.waitForFunction(() => document.getElementById('pwerror').textContent !== '');
         assert.equal(await page.textContent('#pwerror'), 'invalid node password');
         assert.equal(await page.inputValue('#pwfield'), 'wrong');
         assert.deepEqual(await h.axeViolations(page), []);
         await h.screenshot(page, 'password-page-refused');

         await page.getByLabel('Node password').fill(PASSWORD);
         await page.click('#pwbtn');
         await page.waitForFunction(() => document.getElementById('dbcount') &&
                                    document.getElementById('dbcount').textContent === '2 databases');
         assert.equal(await page.evaluate(() => document.compatMode), 'CSS1Compat');
         assert.equal(await page.title(), 'sqlite');
         // The Explorer works: a table, its rows, the editor's library, a download.
         const aDb = await page.$eval('#dbsel', (s) => Array.from(s.options).find((o) => o.value.endsWith('a.db')).value);
         await page.selectOption('#dbsel', aDb);
         await page.click('#tables .titem');
         await page.waitForSelector('#reswrap tbody tr');
         await page.waitForSelector('.cm-editor');
         const [file] = await Promise.all([page.waitForEvent('download'), page.click('#dlcsvbtn')]);
         assert.match(fs.readFileSync(await file.path(), 'utf8'), /^x\n1\n$/);
         const actions = sent.filter((r) => r.url.includes('action='));
         for (const action of ['dbs', 'schema', 'query', 'info', 'asset']) {
           assert.ok(actions.some((r) => new URL(r.url).searchParams.get('action') === action), action);
         }
         for (const request of actions) assert.equal(request.header, PASSWORD, request.url);
         assertNoPasswordInUrls(sent);
         assert.equal(new URL(page.url()).search, '?node=n1');

         // A reload comes back to the password page, which opens the
         // Explorer with the password this tab entered, without asking.
         await page.reload();
         await page.waitForFunction(() => document.getElementById('dbcount') &&
                                    document.getElementById('dbcount').textContent === '2 databases');
         assertNoPasswordInUrls(sent);
         assert.deepEqual(page.errors, []);
       });

  test('a page opened with the password in its address drops it from the address bar', async () => {
    const page = await h.freshPage(browser.context, host.url);
    const sent = recordRequests(page);
    await h.openExplorer(page, host.url + '/plugin_sqlite?pwd=' + encodeURIComponent(PASSWORD) + '&theme=dark');
    assert.equal(await page.textContent('#dbcount'), '2 databases');
    assert.equal(page.url(), host.url + '/plugin_sqlite?theme=dark');
    // Only the page's own address carried it.
    assertNoPasswordInUrls(sent.slice(sent.findIndex((r) => r.url.includes('action='))));
  });

  test('Rescan keeps the chosen database; the placeholder clears the tables panel', async () => {
    const page = await h.freshPage(browser.context, host.url);
    await h.openExplorer(page, host.url + '/plugin_sqlite?pwd=' + encodeURIComponent(PASSWORD));
    await page.selectOption('#dbsel', {index: 2});
    await page.waitForSelector('#tables .titem');
    const chosen = await page.inputValue('#dbsel');
    // Marks the old options, to wait for the new list instead of reading the old one.
    await page.$$eval('#dbsel option', (options) => options.forEach((o) => o.setAttribute('data-old', '')));
    await page.click('#reloadbtn');
    await page.waitForFunction(() => document.querySelector('#dbsel option') &&
                               !document.querySelector('#dbsel option[data-old]'));
    await page.waitForSelector('#tables .titem');
    assert.equal(await page.inputValue('#dbsel'), chosen);
    const hint = await page.textContent('#dbhint');
    assert.ok(hint.startsWith(chosen));
    await page.selectOption('#dbsel', {index: 0});
    assert.equal(await page.textContent('#tables'), 'Select a database.');
    assert.equal(await page.textContent('#dbhint'), hint);
    await page.click('#runbtn');
    assert.equal(await page.textContent('#reswrap .err'), 'Select a database first.');
  });
});
