// The web application example (examples/webapp) in headless Chromium
// (Debian's), driven by playwright-core: search and paging, an item page
// whose hostile name shows as text, a review posted through the form with
// its CSRF token and shown escaped, and a post without the token refused.
// No script may run: any dialog fails the test. Args: VEK_WEBAPP ARTIFACTS.
// Exit 77 (skipped) without Chromium or playwright-core.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { launch, serverUrl } = require('./chromium');

const [webapp, artifacts] = process.argv.slice(2);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vek-webapp-'));

function check(what, ok, detail) {
  if (!ok) throw new Error(`${what}: ${detail === undefined ? 'failed' : JSON.stringify(detail)}`);
  console.log(`ok: ${what}`);
}

async function main() {
  const server = spawn(webapp, ['--port', '0', '--db', path.join(dir, 'catalogue.sqlite')],
                       { stdio: ['ignore', 'ignore', 'pipe'] });
  const url = await serverUrl(server, 'vek_webapp');
  const browser = await launch();
  try {
    const tab = await browser.newPage();
    const dialogs = [];
    tab.on('dialog', async (d) => {
      dialogs.push(d.message());
      await d.dismiss();
    });
    const text = async (sel) => (await tab.textContent(sel)).trim();

    // Search: every item, 20 a page, then the next page.
    await tab.goto(url);
    check('all items listed', (await text('#count')) === '240 items', await text('#count'));
    check('first page', (await text('#page')) === 'page 1 of 12', await text('#page'));
    await tab.click('#next');
    check('next page', (await text('#page')) === 'page 2 of 12', await text('#page'));
    check('20 a page', (await tab.$$('#results li')).length === 20);
    // A search for "lamp": the hostile names among the results, as text.
    await tab.fill('#q', 'lamp');
    await tab.click('#search');
    const count = await text('#count');
    check('search narrows', /^\d+ items$/.test(count) && count !== '240 items', count);
    check('search value kept', (await tab.inputValue('#q')) === 'lamp');
    const names = await tab.$$eval('#results a', (as) => as.map((a) => a.textContent));
    check('hostile name shown as text', names.includes("<script>alert('lamp')</script>"), names);
    // A search text that would break out of the attribute stays in it.
    await tab.goto(url + '?q=' + encodeURIComponent('"><script>alert(9)</script>'));
    check('hostile query kept as the value', (await tab.inputValue('#q')) === '"><script>alert(9)</script>');

    // The item with a hostile name, and a review through the form.
    await tab.goto(url + 'item/2');
    check('item name as text', (await text('#name')) === '"><img src=x onerror=alert(2)> lamp');
    check('no image injected', (await tab.$$('main img')).length === 0);
    check('stars shown', (await tab.textContent('.stars')).length === 5);
    await tab.fill('textarea[name=text]', '<b>solid</b> & "bright"');
    await Promise.all([tab.waitForNavigation(), tab.click('#review button')]);
    check('back on the item', tab.url() === url + 'item/2', tab.url());
    const reviews = await tab.$$eval('#reviews li', (ls) => ls.map((l) => l.textContent));
    check('review shown as text', reviews.includes('<b>solid</b> & "bright"'), reviews);

    // A post without the token, from the same browser (its cookie sent).
    const forged = await tab.request.post(url + 'item/2/review', { form: { text: 'forged' } });
    check('post without token refused', forged.status() === 403, forged.status());
    const stale = await tab.request.post(url + 'item/2/review',
                                         { form: { text: 'forged', csrf: '0'.repeat(32) } });
    check('post with a wrong token refused', stale.status() === 403, stale.status());
    await tab.goto(url + 'item/2');
    const after = await tab.$$eval('#reviews li', (ls) => ls.map((l) => l.textContent));
    check('no forged review', !after.includes('forged'), after);
    const missing = await tab.goto(url + 'item/99999');
    check('unknown item is 404', missing.status() === 404, missing.status());

    fs.mkdirSync(artifacts, { recursive: true });
    await tab.goto(url + 'item/2');
    await tab.screenshot({ path: path.join(artifacts, 'webapp.png'), fullPage: true });
    check('no script ran', dialogs.length === 0, dialogs);
  } finally {
    await browser.close();
    server.kill('SIGTERM');
    await new Promise((resolve) => server.on('exit', resolve));
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().then(() => process.exit(0)).catch((e) => {
  console.log(e.stack || String(e));
  process.exit(1);
});
