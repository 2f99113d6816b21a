// The Explorer behind a node password, with two databases: how the page
// settles the password (URL, per-node storage, active storage), how it sends
// it, and what a refusal looks like. With two databases nothing is chosen.
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
      for (const request of sent) {
        // A library is fetched with the password in its header only.
        const inUrl = new URL(request.url).searchParams.get('action') === 'asset' ? null : PASSWORD;
        assert.equal(new URL(request.url).searchParams.get('pwd'), inUrl);
        assert.equal(request.header, PASSWORD);
      }
    });
  }

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
