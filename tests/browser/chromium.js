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

module.exports = { chromium, chromiumPath };
