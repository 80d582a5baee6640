// Hostile values in headless Chromium (Debian's, driven by playwright-core):
// each case of escaping/cases.json is rendered by `vekpp render` with its
// data, then (for cases marked "attack") with each string value replaced in
// turn by every string of escaping/attacks.json. Every page is loaded, its
// event handlers fired and its links clicked; the test fails if any script
// of a value runs (calls pwn()), or if a case renders where it should be
// refused or is refused where it should render.
// Args: VEKPP [ARTIFACTS]. Exit 77 (skipped) without Chromium or playwright-core.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { chromium, chromiumPath } = require('./chromium');

const vekpp = process.argv[2];
const artifacts = process.argv[3];
const here = path.join(__dirname, 'escaping');
const cases = JSON.parse(fs.readFileSync(path.join(here, 'cases.json'), 'utf8'));
const attacks = JSON.parse(fs.readFileSync(path.join(here, 'attacks.json'), 'utf8'));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vekpp-escaping-'));

// Renders Template with Data in folder Slot: the page's text, or the
// message when vekpp refuses.
function render(template, data, slot) {
  const dir = path.join(work, String(slot));
  fs.mkdirSync(dir, { recursive: true });
  fs.writeFileSync(path.join(dir, 'page.html'), template);
  fs.writeFileSync(path.join(dir, 'data.json'), JSON.stringify(data));
  return new Promise((resolve, reject) => {
    const child = spawn(vekpp, ['render', path.join(dir, 'page.html'), '--data',
                                path.join(dir, 'data.json')]);
    let out = '', err = '';
    child.stdout.on('data', (d) => { out += d; });
    child.stderr.on('data', (d) => { err += d; });
    child.on('error', reject);
    child.on('close', (status) => {
      if (status === 0) resolve({ html: out });
      else if (status === 1) resolve({ refused: err.trim() });
      else reject(new Error('vekpp render: ' + status + ' ' + err));
    });
  });
}

// Renders every variant, two at a time (the renders dominate the run).
async function renderAll(c, list) {
  const results = new Array(list.length);
  let next = 0;
  const worker = async (slot) => {
    while (next < list.length) {
      const i = next++;
      results[i] = await render(c.template, list[i].data, slot);
    }
  };
  await Promise.all([worker(0), worker(1)]);
  return results;
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

// The script that fires a document's handlers and follows its links.
function fireAll() {
  for (const el of document.querySelectorAll('*')) {
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
}

// Links and forms may run javascript: URLs, but never leave the page.
function stayOnPage() {
  document.addEventListener('click', (e) => {
    const a = e.target.closest && e.target.closest('a');
    const href = a && (a.href && a.href.baseVal !== undefined ? a.href.baseVal : a.href);
    if (a && !/^\s*javascript:/i.test(String(href || ''))) e.preventDefault();
  }, true);
  document.addEventListener('submit', (e) => e.preventDefault(), true);
}

const escapeAttr = (s) => s.replace(/&/g, '&amp;').replace(/"/g, '&quot;');

async function main() {
  const browser = await chromium.launch({ executablePath: chromiumPath, args: ['--no-sandbox'] });
  const page = await browser.newPage();
  const ran = [];
  // A call names the variant whose frame (or a frame inside it) made it.
  await page.exposeBinding('pwn', ({ frame }) => {
    while (frame && !/^v\d+$/.test(frame.name()) && frame.parentFrame()) frame = frame.parentFrame();
    ran.push(frame && /^v\d+$/.test(frame.name()) ? frame.name() : 'an unnamed frame');
  });
  await page.addInitScript(`window.xss = (...a) => window.pwn(...a); (${stayOnPage})();`);
  page.on('dialog', (d) => d.dismiss().catch(() => {}));

  const faults = [];
  let loads = 0, refusals = 0;
  const started = Date.now();
  for (const c of cases) {
    // Every variant of a case in its own frame of one page. A template
    // refused with its own data is refused with any (it is refused as
    // parsed), so its attacks are not rendered.
    const own = await render(c.template, c.data, 0);
    if (own.refused) {
      ++refusals;
      if (!c.refused) faults.push(`${c.name}: refused: ${own.refused}`);
      continue;
    }
    if (c.refused) faults.push(`${c.name}: rendered, not refused`);
    const list = [...variants(c)].slice(1);
    const frames = [{ label: 'own data', html: own.html }];
    (await renderAll(c, list)).forEach((r, i) => {
      if (r.refused) ++refusals;
      else frames.push({ label: list[i].label, html: r.html });
    });
    if (!frames.length) continue;
    const host = frames.map((f, i) => `<iframe name="v${i}" srcdoc="${escapeAttr(f.html)}"></iframe>`).join('\n');
    await page.setContent(host, { waitUntil: 'load' }).catch(() => {});
    loads += frames.length;
    for (const frame of page.frames()) {
      await frame.evaluate(fireAll).catch(() => {});
    }
    // SVG links whose href an animation sets follow only a real click.
    for (const a of (await page.$$('svg a').catch(() => [])).slice(0, 3)) {
      await a.click({ timeout: 200, force: true }).catch(() => {});
    }
    await page.waitForTimeout(50);
    for (const name of new Set(ran)) {
      const i = /^v\d+$/.test(name) ? Number(name.slice(1)) : -1;
      faults.push(`${c.name} [${i >= 0 ? frames[i].label : name}]: a value ran as script`);
      if (artifacts && i >= 0) {
        fs.mkdirSync(artifacts, { recursive: true });
        fs.writeFileSync(path.join(artifacts, `escaping-fault-${faults.length}.html`), frames[i].html);
      }
    }
    ran.length = 0;
  }
  await browser.close();
  const seconds = ((Date.now() - started) / 1000).toFixed(1);
  if (faults.length) {
    console.log(faults.join('\n'));
    process.exit(1);
  }
  console.log(`${cases.length} cases, ${loads} pages, ${refusals} refusals, no script ran (${seconds} s)`);
}

main().then(() => fs.rmSync(work, { recursive: true, force: true }), (e) => {
  console.error(e);
  fs.rmSync(work, { recursive: true, force: true });
  process.exit(1);
});
