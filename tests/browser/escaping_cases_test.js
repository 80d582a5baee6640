// Hostile values in headless Chromium (Debian's, driven by playwright-core):
// each case of escaping/cases.json is rendered by `vekpp render` with its
// data, then (for cases marked "attack") with each string value replaced in
// turn by every string of escaping/attacks.json. Every page is loaded, its
// event handlers fired and its links clicked; the test fails if any script
// of a value runs (calls pwn()), or if a case renders where it should be
// refused or is refused where it should render.
// Args: VEKPP [ARTIFACTS]. Exit 77 (skipped) without Chromium or playwright-core.
'use strict';
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const chromiumPath = ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find(fs.existsSync);
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch (e) {
  chromium = null;
}
if (!chromiumPath || !chromium) {
  console.log('chromium or playwright-core missing (scripts/install-deps.sh browser): skipped');
  process.exit(process.env.CI ? 1 : 77);
}

const vekpp = process.argv[2];
const artifacts = process.argv[3];
const here = path.join(__dirname, 'escaping');
const cases = JSON.parse(fs.readFileSync(path.join(here, 'cases.json'), 'utf8'));
const attacks = JSON.parse(fs.readFileSync(path.join(here, 'attacks.json'), 'utf8'));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vekpp-escaping-'));

// Renders Template with Data: the page's file, or null when vekpp refuses.
function render(template, data) {
  fs.writeFileSync(path.join(work, 'page.html'), template);
  fs.writeFileSync(path.join(work, 'data.json'), JSON.stringify(data));
  const out = path.join(work, 'out.html');
  const r = spawnSync(vekpp, ['render', path.join(work, 'page.html'), '--data',
                              path.join(work, 'data.json'), '-o', out], { encoding: 'utf8' });
  if (r.status === 1) return { refused: r.stderr.trim() };
  if (r.status !== 0) throw new Error('vekpp render: ' + r.status + ' ' + r.stderr);
  return { file: out };
}

// The variants of a case: its own data, then each string value replaced by
// each attack.
function* variants(c) {
  yield { label: 'own data', data: c.data };
  if (!c.attack) return;
  for (const key of Object.keys(c.data)) {
    if (typeof c.data[key] !== 'string') continue;
    for (const a of attacks) yield { label: key + '=' + JSON.stringify(a), data: { ...c.data, [key]: a } };
  }
}

async function main() {
  const browser = await chromium.launch({ executablePath: chromiumPath, args: ['--no-sandbox'] });
  const page = await browser.newPage();
  let current = '';
  const ran = [];
  const record = () => ran.push(current);
  await page.exposeFunction('pwn', record);
  await page.exposeFunction('xss', record);
  // Links and forms may run javascript: URLs, but never leave the page.
  await page.addInitScript(() => {
    document.addEventListener('click', (e) => {
      const a = e.target.closest && e.target.closest('a');
      const href = a && (a.href && a.href.baseVal !== undefined ? a.href.baseVal : a.href);
      if (a && !/^\s*javascript:/i.test(String(href || ''))) e.preventDefault();
    }, true);
    document.addEventListener('submit', (e) => e.preventDefault(), true);
  });
  page.on('dialog', (d) => d.dismiss().catch(() => {}));

  const faults = [];
  let loads = 0, refusals = 0;
  const started = Date.now();
  for (const c of cases) {
    for (const v of variants(c)) {
      current = c.name + ' [' + v.label + ']';
      const r = render(c.template, v.data);
      if (r.refused) {
        ++refusals;
        if (v.label === 'own data' && !c.refused) faults.push(current + ': refused: ' + r.refused);
        continue;
      }
      if (v.label === 'own data' && c.refused) faults.push(current + ': rendered, not refused');
      await page.goto('file://' + r.file, { waitUntil: 'load' }).catch(() => {});
      ++loads;
      // Fire the page's handlers and follow its links, in every frame.
      await page.evaluate(async () => {
        const fire = (root) => {
          for (const el of root.querySelectorAll('*')) {
            for (const name of el.getAttributeNames()) {
              if (/^on/i.test(name)) {
                try { el.dispatchEvent(new Event(name.slice(2).toLowerCase())); } catch (e) {}
              }
            }
            if (el.localName === 'a' || el.localName === 'button' || el.localName === 'area') {
              try {
                if (typeof el.click === 'function') el.click();
                else el.dispatchEvent(new MouseEvent('click', { bubbles: true, cancelable: true }));
              } catch (e) {}
            }
          }
        };
        await new Promise((ok) => setTimeout(ok, 50));
        fire(document);
        await new Promise((ok) => setTimeout(ok, 30));
      }).catch(() => {});
      // SVG links whose href an animation sets follow only a real click.
      for (const a of (await page.$$('svg a').catch(() => [])).slice(0, 3)) {
        await a.click({ timeout: 500, force: true }).catch(() => {});
      }
      if (ran.length) {
        faults.push(current + ': a value ran as script');
        if (artifacts) {
          fs.mkdirSync(artifacts, { recursive: true });
          fs.copyFileSync(r.file, path.join(artifacts, 'escaping-fault-' + faults.length + '.html'));
        }
        ran.length = 0;
      }
    }
  }
  await browser.close();
  const seconds = ((Date.now() - started) / 1000).toFixed(1);
  if (faults.length) {
    console.log(faults.join('\n'));
    process.exit(1);
  }
  console.log(`${cases.length} cases, ${loads} page loads, ${refusals} refusals, no script ran (${seconds} s)`);
}

main().then(() => fs.rmSync(work, { recursive: true, force: true }), (e) => {
  console.error(e);
  fs.rmSync(work, { recursive: true, force: true });
  process.exit(1);
});
