// Debian's Chromium and playwright-core, for every browser test: exits 77
// (skipped) when either is missing, or 1 under CI, where a skip would hide
// a missing install.
'use strict';
const fs = require('fs');

const chromiumPath = ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find(fs.existsSync);
let chromium = null;
try {
  ({ chromium } = require('playwright-core'));
} catch (e) {
  chromium = null;
}
if (!chromiumPath || !chromium) {
  console.log('chromium or playwright-core missing (scripts/install-deps.sh browser): skipped');
  process.exit(process.env.CI ? 1 : 77);
}

// The http://127.0.0.1:PORT/ a server started with --port 0 prints on its
// standard error, within 10 s; Name says which server in the error.
function serverUrl(server, name) {
  let log = '';
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(name + ' did not start: ' + log)), 10000);
    server.stderr.on('data', (d) => {
      log += d;
      const m = /http:\/\/127\.0\.0\.1:\d+\//.exec(log);
      if (m) {
        clearTimeout(timer);
        resolve(m[0]);
      }
    });
  });
}

// Headless Chromium as every test starts it.
function launch() {
  return chromium.launch({
    executablePath: chromiumPath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
  });
}

// Stops a vekpp serve process with SIGTERM and waits for it to exit; true
// when its log Log() ends with its "stopped" line, else the log is printed.
async function stopServer(server, log) {
  server.kill('SIGTERM');
  await new Promise((resolve) => server.on('exit', resolve));
  if (/vekpp: stopped/.test(log())) return true;
  console.log('vekpp serve did not stop cleanly:\n' + log());
  return false;
}

module.exports = { chromium, chromiumPath, serverUrl, launch, stopServer };
