// The page in a real browser on a phone-sized screen: refused before login, a wrong password
// and its slowdown, then the room: the live picture changes, an event picture opens and steps,
// monitoring goes off and the mode changes (and the program's own state follows).
'use strict';
const { chromium } = require(process.env.PLAYWRIGHT_CORE);
const assert = require('node:assert/strict');
const fs = require('node:fs');

const [url, password, locale, profile] = process.argv.slice(2);
const ja = locale.startsWith('ja');

async function status(page) {
  return page.evaluate(async () => {
    const r = await fetch('/api/status');
    return r.ok ? r.json() : { http: r.status };
  });
}

// The pixels the live image shows now, small (in the page).
function livePixels() {
  const img = document.getElementById('live');
  const c = document.createElement('canvas');
  c.width = 32;
  c.height = 24;
  const g = c.getContext('2d');
  g.drawImage(img, 0, 0, 32, 24);
  return Array.from(g.getImageData(0, 0, 32, 24).data).join(',');
}

async function main() {
  fs.mkdirSync(profile, { recursive: true });
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    ignoreHTTPSErrors: true,  // the program's own certificate; its fingerprint is for people
    viewport: { width: 390, height: 844 },
    locale,
  });
  try {
    const page = context.pages()[0] || (await context.newPage());
    const problems = [];
    page.on('pageerror', (e) => problems.push(String(e)));
    // Refused requests show as console errors too; the responses themselves are checked here.
    page.on('console', (m) => {
      if (m.type() === 'error' && !m.text().startsWith('Failed to load resource')) problems.push(m.text());
    });
    page.on('response', (r) => { if (r.status() === 404 || r.status() >= 500) problems.push(r.url()); });

    const started = Date.now();
    await page.goto(url);
    await page.waitForSelector('#login:not([hidden])');
    console.log(`login page shown after ${Date.now() - started} ms (browser's first page)`);
    const again = Date.now();
    await page.reload();
    await page.waitForSelector('#login:not([hidden])');
    console.log(`login page shown again after ${Date.now() - again} ms`);
    assert.equal(await page.isVisible('#room'), false);
    assert.equal((await status(page)).http, 401);
    assert.equal(await page.textContent('#login-button'), ja ? 'ログイン' : 'Log in');

    // A wrong password, then the right one at once: the server makes it wait.
    await page.fill('#password', 'not the password');
    await page.click('#login-button');
    await page.waitForFunction(() => document.getElementById('login-error').textContent !== '');
    await page.fill('#password', password);
    await page.click('#login-button');
    await page.waitForFunction(() => /\d/.test(document.getElementById('login-error').textContent));
    assert.equal(await page.isVisible('#room'), false);
    await page.waitForTimeout(1100);
    await page.fill('#password', password);
    await page.click('#login-button');
    await page.waitForSelector('#room:not([hidden])');

    // The live picture changes.
    await page.waitForFunction(() => document.getElementById('live').src.startsWith('blob:'));
    await page.waitForFunction(() => document.getElementById('live').naturalWidth > 0);
    const first = await page.evaluate(livePixels);
    let changed = false;
    for (let i = 0; i < 100 && !changed; ++i) {
      await page.waitForTimeout(200);
      changed = (await page.evaluate(livePixels)) !== first;
    }
    assert.ok(changed, 'the live picture did not change');
    await page.waitForFunction(() => document.getElementById('level').textContent !== '-');

    // An event picture opens full size and steps to the next one.
    await page.selectOption('#days', '2026-12-06');
    await page.waitForSelector('#events li.warning img');
    const count = await page.locator('#events img').count();
    assert.ok(count >= 2, `${count} pictures`);
    assert.equal(await page.locator('#events li.mail-failed').count(), 1);
    await page.locator('#events img').first().click();
    await page.waitForSelector('#viewer:not([hidden])');
    await page.waitForFunction(() => document.getElementById('viewer-img').naturalWidth > 0);
    const shownFirst = await page.textContent('#viewer-text');
    await page.click('#next');
    await page.waitForFunction((t) => document.getElementById('viewer-text').textContent !== t,
                               shownFirst);
    await page.click('#close');
    assert.equal(await page.isVisible('#viewer'), false);

    // Monitoring off, mode 2: the program itself follows.
    await page.waitForSelector('#monitoring[aria-pressed="true"]');
    await page.click('#monitoring');
    await page.waitForSelector('#monitoring[aria-pressed="false"]');
    assert.equal((await status(page)).monitoring, false);
    await page.click('.mode[data-mode="2"]');
    await page.waitForSelector('.mode[data-mode="2"].on');
    assert.equal((await status(page)).mode, 2);

    // Without the CSRF token the browser's own session changes nothing.
    const refused = await page.evaluate(async () =>
      (await fetch('/api/monitoring', { method: 'POST', body: new URLSearchParams({ on: '1' }) })).status);
    assert.equal(refused, 403);
    assert.equal((await status(page)).monitoring, false);

    assert.deepEqual(problems, []);
    console.log('browser test passed');
  } finally {
    await context.close();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
