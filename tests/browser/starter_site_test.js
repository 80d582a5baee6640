// The starter site of `vekpp new site` in headless Chromium (Debian's),
// driven by playwright-core, served by `vekpp serve` on loopback: from the
// index to a post by its link, the index's second page and back, a tag page
// from a post, and live reload after a post's Markdown is edited.
// Args: VEKPP. Exit 77 (skipped) without Chromium or playwright-core.
'use strict';
const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { launch, serverUrl, stopServer } = require('./chromium');

const vekpp = process.argv[2];
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vekpp-starter-'));
const site = path.join(work, 'blog');
const made = spawnSync(vekpp, ['new', 'site', site], { encoding: 'utf8' });
if (made.status !== 0) {
  console.log('vekpp new site failed: ' + made.stderr);
  process.exit(1);
}
// Three more posts, older than the starter's: six in all, two pages of five.
for (let i = 1; i <= 3; ++i) {
  fs.writeFileSync(path.join(site, 'posts', `older-${i}.md`),
                   `---\ntitle: Older ${i}\ndate: 2024-04-0${i}\ntags: [archive]\n---\nOlder post ${i}.\n`);
}

let failed = 0;
const check = (what, ok, detail) => {
  console.log(`${ok ? 'ok' : 'FAIL'}: ${what}${ok ? '' : ': ' + detail}`);
  if (!ok) failed = 1;
};

async function main() {
  const server = spawn(vekpp, ['serve', site, '--port', '0'], { stdio: ['ignore', 'ignore', 'pipe'] });
  let log = '';
  server.stderr.on('data', (d) => { log += d; });
  const url = await serverUrl(server, 'vekpp serve');
  const browser = await launch();
  try {
    const tab = await browser.newPage();
    await tab.goto(url);
    const titles = await tab.$$eval('article.summary h2 a', (as) => as.map((a) => a.textContent));
    check('the index lists the newest five posts', titles.length === 5 && titles[0] === 'Front matter',
          JSON.stringify(titles));
    check('the index says page 1 of 2',
          (await tab.textContent('nav.pager span')) === 'Page 1 of 2', await tab.textContent('nav.pager'));

    // Index -> post, by its link.
    await Promise.all([tab.waitForNavigation(), tab.click('text=Markdown, with extensions')]);
    check('the post is at its pretty URL', tab.url() === url + 'posts/markdown/', tab.url());
    check('the post shows its heading', (await tab.textContent('article h1')) === 'Markdown, with extensions',
          await tab.textContent('article h1'));
    check('the post renders its table', (await tab.$$('article table')).length === 1, 'no table');

    // Post -> tag page.
    await Promise.all([tab.waitForNavigation(), tab.click('a[href="/tags/howto/"]')]);
    const tagged = await tab.$$eval('main li a', (as) => as.map((a) => a.textContent).sort());
    check('the tag page lists its posts', tab.url() === url + 'tags/howto/' &&
          JSON.stringify(tagged) === JSON.stringify(['Front matter', 'Markdown, with extensions']),
          tab.url() + ' ' + JSON.stringify(tagged));

    // Index -> page 2 -> back.
    await tab.goto(url);
    await Promise.all([tab.waitForNavigation(), tab.click('a[rel="next"]')]);
    const second = await tab.$$eval('article.summary h2 a', (as) => as.map((a) => a.textContent));
    check('page 2 holds the oldest post', tab.url() === url + 'page/2/' &&
          JSON.stringify(second) === JSON.stringify(['Older 1']), tab.url() + ' ' + JSON.stringify(second));
    await Promise.all([tab.waitForNavigation(), tab.click('a[rel="prev"]')]);
    check('its newer link leads to the index', tab.url() === url, tab.url());

    // Live reload: a post's Markdown edited while it is open.
    await tab.goto(url + 'posts/welcome/');
    await tab.waitForFunction(() => window.vekppLiveReload && window.vekppLiveReload.readyState === 1,
                              null, { timeout: 10000 });
    const file = path.join(site, 'posts', 'welcome.md');
    const start = Date.now();
    fs.writeFileSync(file, fs.readFileSync(file, 'utf8').replace('The first post.', 'The *edited* post.'));
    try {
      await tab.waitForFunction(() => /The edited post\./.test(document.querySelector('article').textContent),
                                null, { timeout: 2000, polling: 20 });
      check(`the edit is shown after ${Date.now() - start} ms`, true, '');
    } catch (e) {
      check('the edit is shown within 2 s', false, await tab.textContent('article'));
    }
  } finally {
    await browser.close();
    if (!(await stopServer(server, () => log))) failed = 1;
    fs.rmSync(work, { recursive: true, force: true });
  }
  process.exit(failed);
}

main().catch((e) => {
  console.log(e.stack || String(e));
  process.exit(1);
});
