// Live reload in headless Chromium (Debian's), driven by playwright-core:
// a page served by `vekpp serve` shows an edit of its template, of the data
// and of its style sheet within 2 s, with no action in the browser.
// Args: VEKPP. Exit 77 (skipped) without Chromium or playwright-core.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { launch, serverUrl, stopServer } = require('./chromium');

const vekpp = process.argv[2];
const site = fs.mkdtempSync(path.join(os.tmpdir(), 'vekpp-live-'));
const write = (name, text) => fs.writeFileSync(path.join(site, name), text);
const page = (mark) =>
  '<html><head><link rel="stylesheet" href="style.css"></head>' +
  `<body><h1 id="title"><#title#></h1><p id="mark">${mark}</p></body></html>`;
write('index.html', page('template one'));
write('_data.json', '{"title": "data one"}');
write('style.css', 'h1 { color: rgb(255, 0, 0); }');

async function main() {
  // The server, on a free loopback port: live reload is on by default there.
  const server = spawn(vekpp, ['serve', site, '--port', '0'], { stdio: ['ignore', 'ignore', 'pipe'] });
  let log = '';  // read at the end: the server must say it stopped
  server.stderr.on('data', (d) => { log += d; });
  const url = await serverUrl(server, 'vekpp serve');
  const browser = await launch();
  let failed = 0;
  try {
    const tab = await browser.newPage();
    await tab.goto(url);
    // Edits a file once the page follows the stream, then waits at most 2 s
    // for the page to show Want.
    const expectAfter = async (what, edit, check, want) => {
      await tab.waitForFunction(() => window.vekppLiveReload && window.vekppLiveReload.readyState === 1,
                                null, { timeout: 10000 });
      const start = Date.now();
      edit();
      try {
        await tab.waitForFunction(check, want, { timeout: 2000, polling: 20 });
        console.log(`${what}: shown after ${Date.now() - start} ms`);
      } catch (e) {
        console.log(`${what}: not shown within 2 s`);
        failed = 1;
      }
    };
    await expectAfter('template edit', () => write('index.html', page('template two')),
                      (w) => document.getElementById('mark').textContent === w, 'template two');
    await expectAfter('data edit', () => write('_data.json', '{"title": "data two"}'),
                      (w) => document.getElementById('title').textContent === w, 'data two');
    await expectAfter('style sheet edit', () => write('style.css', 'h1 { color: rgb(0, 0, 255); }'),
                      (w) => getComputedStyle(document.getElementById('title')).color === w,
                      'rgb(0, 0, 255)');
  } finally {
    await browser.close();
    if (!(await stopServer(server, () => log))) failed = 1;
    fs.rmSync(site, { recursive: true, force: true });
  }
  process.exit(failed);
}

main().catch((e) => {
  console.log(e.stack || String(e));
  process.exit(1);
});
