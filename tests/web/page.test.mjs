// The browser front end in headless Chromium, against the simulated board
// compiled into the module. SITE names the built site folder; REFERENCE_DUMP,
// when set, names the dump velkor --sim wrote after programming the same file,
// which the page's board must match.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { cpSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { openSite, connected } from '../../scripts/web-browser.mjs';

const firmware = resolve(process.env.FIRMWARE || 'examples/demo.enc');

let site;

before(async () => {
  assert.ok(process.env.SITE, 'SITE names the built site folder');
  site = await openSite(process.env.SITE);
});

after(async () => {
  await site?.close();
});

// Every page is watched for what the page's Content-Security-Policy refuses.
function openPage(query, init, options) {
  const watch = () => addEventListener('securitypolicyviolation', (e) => (window.refused ??= []).push(e.violatedDirective));
  return site.open(query, [watch, init ?? []].flat(), options);
}

async function close(page) {
  assert.deepEqual(await page.evaluate(() => window.refused ?? []), []);
  await page.close();
}

async function textOf(page, id, expected) {
  await page.waitForFunction(([el, want]) => document.getElementById(el).textContent === want, [id, expected]);
}

// "Save log": the downloaded file's records.
async function savedLog(page) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#save-log')]);
  assert.match(download.suggestedFilename(), /^velkor-web-.*\.jsonl$/);
  return readFileSync(await download.path(), 'utf8').trimEnd().split('\n').map((line) => JSON.parse(line));
}

// An update of the firmware file, its box answered.
async function update(page) {
  await page.setInputFiles('#firmware-file', firmware);
  await textOf(page, 'hint', 'Ready');
  await page.click('#program');
  await textOf(page, 'message-text', 'Update complete!');
  await page.click('#message-ok');
}

test('demo board: detection, update with progress, the board holds the file', async () => {
  const page = await openPage('?demo');
  await connected(page);
  await textOf(page, 'hint', 'Select a firmware file to upload');
  assert.equal(await page.isDisabled('#program'), true);

  await page.setInputFiles('#firmware-file', firmware);
  await textOf(page, 'hint', 'Ready');
  // Every value the bar shows while the job runs.
  await page.evaluate(() => {
    window.seen = [];
    new MutationObserver(() => window.seen.push(document.getElementById('progress').value))
      .observe(document.getElementById('progress'), { attributes: true });
    const bar = document.getElementById('progress');
    const poll = () => { window.seen.push(bar.value); if (!window.stopPoll) requestAnimationFrame(poll); };
    poll();
  });
  await page.click('#program');
  await textOf(page, 'hint', 'Updating, do not disconnect!');
  await page.waitForSelector('#message[open]');
  assert.equal(await page.textContent('#message-text'), 'Update complete!');
  assert.equal(await page.textContent('#message-caption'), 'Done');
  assert.equal(await page.getAttribute('#message', 'data-icon'), 'information');
  assert.equal(await page.textContent('#status'), 'Done.');
  const size = readFileSync(firmware).length;
  const seen = await page.evaluate(() => { window.stopPoll = true; return window.seen; });
  assert.ok(seen.some((v) => v > 0 && v < size), `the bar moved on its way: ${seen.length} samples`);
  assert.equal(await page.evaluate(() => document.getElementById('progress').max), size);

  await page.click('#message-ok');
  await textOf(page, 'program', 'Program');
  await textOf(page, 'hint', 'Ready');
  await textOf(page, 'boot-report', 'Board now reports: Connected: Ferrit XR, version 3.02b');
  // The record as velkor --log writes it, less the exit status.
  const [record] = await savedLog(page);
  assert.deepEqual(Object.keys(record), ['time', 'program', 'version', 'job', 'file', 'board', 'outcome', 'identity_after', 'text', 'duration_s']);
  assert.deepEqual([record.program, record.job, record.outcome, record.identity_after, record.board.identity],
    ['velkor-web', 'program', 'done', 'Connected: Ferrit XR, version 3.02b', 'Connected: Ferrit XR, version 3.02b']);
  assert.deepEqual(record.file, { name: 'demo.enc', size, sha256: createHash('sha256').update(readFileSync(firmware)).digest('hex') });
  const dump = JSON.parse(await page.evaluate(() => window.velkorDemo.dump()));
  assert.equal(dump.mode, 'application');
  assert.ok(Object.keys(dump.data).length > 0 || dump.code.length > 0, 'the board was written');
  if (process.env.REFERENCE_DUMP) {
    const reference = JSON.parse(readFileSync(process.env.REFERENCE_DUMP, 'utf8'));
    assert.deepEqual(dump.data, reference.data);
    assert.deepEqual(dump.code, reference.code);
  }
  await close(page);
});

test('program aborts a running update, silently, and the board is left unfinished', async () => {
  // Full-speed USB timing keeps the update running long enough to abort.
  const page = await openPage('?demo=' + encodeURIComponent('{"latency": "usb-fs"}'));
  await connected(page);
  await page.setInputFiles('#firmware-file', firmware);
  await textOf(page, 'hint', 'Ready');
  // The abort ends the job within a record: the hint may be gone before a poll.
  await page.evaluate(() => {
    window.hints = [];
    const hint = document.getElementById('hint');
    new MutationObserver(() => window.hints.push(hint.textContent)).observe(hint, { childList: true });
  });
  await page.click('#program');
  await textOf(page, 'program', 'Updating...');
  // Nothing may cover the abort meanwhile.
  await page.keyboard.press('Control+Alt+KeyP');
  assert.equal(await page.isDisabled('#menu-about'), true);
  const asksBeforeLeaving = () => page.evaluate(() => !dispatchEvent(new Event('beforeunload', { cancelable: true })));
  assert.equal(await asksBeforeLeaving(), true);
  await page.click('#program');
  // A finished update would wait on its message box and never get here.
  await textOf(page, 'program', 'Program');
  const hints = await page.evaluate(() => window.hints);
  assert.ok(hints.includes('Aborting, please wait...'), hints.join(' / '));
  assert.equal(await page.isVisible('#message'), false);
  assert.equal(await page.isVisible('#password'), false);
  assert.equal(await asksBeforeLeaving(), false);
  assert.equal(await page.evaluate(() => document.getElementById('progress').value), 0);
  const dump = JSON.parse(await page.evaluate(() => window.velkorDemo.dump()));
  if (process.env.REFERENCE_DUMP) {
    const reference = JSON.parse(readFileSync(process.env.REFERENCE_DUMP, 'utf8'));
    assert.notDeepEqual([dump.data, dump.code], [reference.data, reference.code]);
  }
  await close(page);
});

test('a board silent after its boot: the page says so, the record has no identity after', async () => {
  const page = await openPage('?demo=' + encodeURIComponent('{"silent_after_boot": true}'));
  await connected(page);
  assert.equal(await page.getAttribute('#save-log', 'title'), 'Nothing to save yet');
  assert.equal(await page.isDisabled('#save-log'), true);
  await update(page);
  await textOf(page, 'boot-report', 'The board did not answer after booting; check it before use');
  const [record] = await savedLog(page);
  assert.deepEqual([record.outcome, record.identity_after, record.text],
    ['done', null, 'Update complete!\nThe board did not answer after booting; check it before use']);
  await close(page);
});

test('demo scenarios by name and as a document', async () => {
  const unidentified = await openPage('?demo=unidentified');
  await textOf(unidentified, 'status', 'Connected: unidentified device');
  await textOf(unidentified, 'hint', 'Check board and reconnect');
  // A file gone unreadable since it was chosen: the reason, in a box.
  await unidentified.evaluate(() => {
    File.prototype.arrayBuffer = () => Promise.reject(new DOMException('It is gone.', 'NotFoundError'));
    const chosen = new DataTransfer();
    chosen.items.add(new File(['D'], 'gone.enc'));
    Object.assign(document.getElementById('firmware-file'), { files: chosen.files }).dispatchEvent(new Event('change'));
  });
  await textOf(unidentified, 'message-text', 'gone.enc cannot be read: It is gone.');
  await close(unidentified);

  const absent = await openPage('?demo=' + encodeURIComponent('{"present": false}'));
  await textOf(absent, 'status', 'No board detected');
  await textOf(absent, 'hint', 'Attach board to USB and power on');
  await close(absent);

  const unknown = await openPage('?demo=no-such-board');
  await unknown.waitForSelector('#message[open]');
  assert.equal(await unknown.getAttribute('#message', 'data-icon'), 'error');
  await close(unknown);
});

// A stand-in for the browser's WebHID with one granted board that answers
// every identify request as the demo board does.
function fakeWebHid() {
  const sent = [];
  window.hidSent = sent;
  const identity = new Uint8Array([0x00, 0x43, 0x00, 0x00, 0x03, 0x02, 0x62, 0x00]);
  const device = {
    vendorId: 0x04d8,
    productId: 0xfc31,
    opened: false,
    oninputreport: null,
    async open() { this.opened = true; },
    async close() { this.opened = false; },
    async sendReport(reportId, data) {
      sent.push({ reportId, length: data.byteLength, command: data[0] });
      if (data[0] === 0x00)
        setTimeout(() => this.oninputreport?.({ reportId: 0, data: new DataView(identity.buffer) }), 1);
    },
  };
  const hid = Object.assign(new EventTarget(), {
    getDevices: async () => [device],
    requestDevice: async (options) => { window.hidRequested = options; return [device]; },
  });
  Object.defineProperty(Navigator.prototype, 'hid', { get: () => (window.hidTouched = hid), configurable: true });
}

test('WebHID: the granted board is asked with padded reports and identified', async () => {
  const page = await openPage('', fakeWebHid);
  await textOf(page, 'status', 'Connected: Ferrit XR, version 3.02b');
  await textOf(page, 'hint', 'Select a firmware file to upload');
  const sent = await page.evaluate(() => window.hidSent);
  assert.ok(sent.length > 0);
  for (const report of sent)
    assert.deepEqual(report, { reportId: 0, length: 72, command: 0x00 });
  await page.click('#connect');
  assert.deepEqual(await page.evaluate(() => window.hidRequested),
    { filters: [{ vendorId: 0x04d8, productId: 0xfc31 }] });
  await close(page);
});

test('WebHID: a board listed but refused says how to let the browser open it', async () => {
  const refuse = () => navigator.hid.getDevices().then(([board]) => {
    board.open = async () => { throw new DOMException('Failed to open the device.', 'NotAllowedError'); };
  });
  const page = await openPage('', [fakeWebHid, refuse]);
  await textOf(page, 'hint', 'sudo udevadm control --reload-rules && sudo udevadm trigger');
  assert.match(await page.textContent('#status'), /^A board is attached but this user may not open it: install packaging\/udev/);
  await close(page);
});

test('a crafted demo link stays in its tab, and its silent board leaves the page clickable', async () => {
  const demo = await openPage('?demo=' + encodeURIComponent(
    '{"device_path": "webhid:0", "silent": ["0x00"], "read_timeout_ms": 60000}'));
  await demo.waitForSelector('#app', { state: 'visible' });
  // The other tab's real board (webhid:0) is neither locked nor waited for.
  const real = await openPage('', fakeWebHid, { context: demo.context() });
  await real.waitForFunction(() => /^(Connected|Board in use)/.test(document.getElementById('status').textContent));
  assert.equal(await real.textContent('#status'), 'Connected: Ferrit XR, version 3.02b');
  const started = Date.now();
  await demo.click('#menu-about');
  await demo.waitForSelector('#about[open]');
  assert.ok(Date.now() - started < 1000, `a click took ${Date.now() - started} ms`);
  assert.equal(await demo.textContent('#status'), 'Wait...', 'still waiting on the silent board');
  // The wait is cut to 10 s.
  await demo.waitForFunction(() => document.getElementById('status').textContent !== 'Wait...', null, { timeout: 15000 });
  await close(real);
  await close(demo);
});

test('framed by another site, without the headers that forbid it: only a notice, WebHID untouched', async () => {
  const page = await openPage('', fakeWebHid);
  await page.route('http://other.test/', (route) => route.fulfill({
    contentType: 'text/html', body: `<iframe src="${site.url}" allow="hid" style="opacity: 0.01"></iframe>` }));
  await page.route(site.url, async (route) => route.fulfill({ response: await route.fetch(), headers: { 'content-type': 'text/html' } }));
  await page.goto('http://other.test/');
  const frame = page.frames()[1];
  await frame.waitForSelector('#framed', { state: 'visible' });
  assert.equal(await frame.isVisible('#app'), false);
  assert.equal(await frame.evaluate(() => window.hidTouched), undefined);
  await close(page);
});

test('without WebHID only the notice shows', async () => {
  const page = await openPage('', () => { delete Navigator.prototype.hid; });
  await page.waitForSelector('#no-webhid', { state: 'visible' });
  assert.equal(await page.isVisible('#app'), false);
  await close(page);
});

test('About opens and closes', async () => {
  const page = await openPage('?demo');
  await page.waitForSelector('#app', { state: 'visible' });
  await page.click('#menu-about');
  await page.waitForSelector('#about[open]');
  assert.match(await page.textContent('#about'), /Velkor Update Utility v\d\.\d\d\s+Firmware updates over USB\s+Supported Products:\s+Ferrit XRVantor 5/);
  await page.click('#about-ok');
  await page.waitForSelector('#about', { state: 'hidden' });
  await close(page);
});

// Ctrl+Alt+P and a password; the box answers after the check's pause.
async function tryPassword(page, entry) {
  await page.keyboard.press('Control+Alt+KeyP');
  await page.waitForSelector('#password[open]');
  await page.fill('#password-input', entry);
  await page.click('#password-ok');
  await textOf(page, 'password-label', 'Checking...');
}

async function demoWithServiceMode() {
  const page = await openPage('?demo');
  await connected(page);
  await tryPassword(page, 'zephyr');
  await page.waitForSelector('#service-shot-counter');
  return page;
}

test('service mode: a wrong password is refused after the pause, the right one shows the service menu', async () => {
  const page = await openPage('?demo');
  await page.waitForSelector('#app', { state: 'visible' });
  assert.equal(await page.$('#service-shot-counter'), null);
  assert.equal(await page.getAttribute('#password-input', 'maxlength'), '29');
  const started = Date.now();
  await tryPassword(page, 'zephyrs');
  await page.waitForSelector('#message[open]');
  assert.ok(Date.now() - started >= 1900, 'the check pauses');
  assert.equal(await page.textContent('#message-caption'), 'Access Denied');
  assert.equal(await page.textContent('#message-text'), 'Password incorrect');
  assert.equal(await page.getAttribute('#message', 'data-icon'), 'error');
  await page.click('#message-ok');
  await page.waitForSelector('#password', { state: 'hidden' });
  assert.equal(await page.$('#service-pressure'), null);

  await tryPassword(page, 'zephyr');
  await page.waitForSelector('#service-pressure');
  await page.waitForSelector('#password', { state: 'hidden' });
  // Ctrl+Alt+P again asks before leaving service mode.
  await page.keyboard.press('Control+Alt+KeyP');
  await page.waitForSelector('#message[open]');
  assert.equal(await page.textContent('#message-caption'), 'Disable Service Mode');
  await page.click('#message-yes');
  await page.waitForSelector('#service-shot-counter', { state: 'detached' });
  await close(page);
});

test('service mode: the shot counter read from the board and set, the raw pressure values', async () => {
  const page = await demoWithServiceMode();
  await page.click('#service-shot-counter');
  await page.waitForSelector('#shot-counter[open]');
  assert.equal(await page.textContent('#shot-current'), '1000');
  assert.equal(await page.inputValue('#shot-new'), '1000');
  await page.fill('#shot-new', '70000');
  await page.click('#shot-ok');
  await page.waitForSelector('#message[open]');
  assert.equal(await page.textContent('#message-caption'), 'Shot Counter');
  assert.equal(await page.textContent('#message-text'), 'New shot counter set');
  await page.click('#message-ok');
  const dump = JSON.parse(await page.evaluate(() => window.velkorDemo.dump()));
  assert.equal(dump.shot_counter, 70000);

  await page.click('#service-pressure');
  await page.waitForSelector('#message[open]');
  assert.equal(await page.textContent('#message-caption'), 'Raw Pressure Values');
  // As shown: the lines and the columns' double spaces kept.
  assert.equal(await page.innerText('#message-text'), '1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n');
  assert.equal(await page.getAttribute('#message', 'data-icon'), 'information');
  await page.click('#message-ok');
  assert.deepEqual((await savedLog(page)).map((r) => [r.job, r.outcome, r.shots ?? r.set ?? r.pressure]), [['shots', 'done', 1000],
    ['shots', 'done', 70000], ['pressure', 'done', '1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n']]);
  await close(page);
});

test('installed: offline after one visit a demo update completes; a new build replaces every cached file', async (t) => {
  const folder = mkdtempSync('/tmp/velkor-site-');
  cpSync(process.env.SITE, folder, { recursive: true });
  const served = await openSite(folder);
  t.after(() => served.close().then(() => rmSync(folder, { recursive: true })));
  const page = await served.open('', () => navigator.serviceWorker.addEventListener('controllerchange', () => (window.changed = true)));
  await page.evaluate(() => navigator.serviceWorker.ready);
  // Only the worker's cache may answer now, not the browser's HTTP cache.
  await (await page.context().newCDPSession(page)).send('Network.clearBrowserCache');
  await page.context().setOffline(true);
  await page.goto(served.url + '?demo');
  await update(page);

  // Each cache of the origin: name -> { file: its SHA-256 }.
  const cached = () => page.evaluate(async () => Object.fromEntries(await Promise.all((await caches.keys()).map(async (name) => [name, Object.fromEntries(
    await Promise.all((await (await caches.open(name)).keys()).map(async (r) => [new URL(r.url).pathname.slice(1) || './', [...new Uint8Array(
      await crypto.subtle.digest('SHA-256', await (await caches.match(r, { cacheName: name })).arrayBuffer()))].join()])))]))));
  // The next build, online: one file changed, the worker written as the build writes it for every file of the site.
  await page.context().setOffline(false);
  const files = readdirSync(folder).filter((f) => f !== 'sw.js').sort();
  writeFileSync(join(folder, 'style.css'), readFileSync(join(folder, 'style.css'), 'utf8') + '/* next build */\n');
  execFileSync('cmake', [`-DSITE=${folder}`, `-DFILES=${files}`, '-DTEMPLATE=web/sw.js', `-DOUT=${folder}/sw.js`, '-P', 'web/site_worker.cmake']);
  await page.reload();
  await page.waitForFunction(() => window.changed && navigator.serviceWorker.controller.state === 'activated');
  // One cache, the new build's, holding every file of the site but the worker itself.
  assert.deepEqual(await cached(), { [`velkor ${served.url} ${readFileSync(`${folder}/sw.js`, 'utf8').match(/BUILD = '(\w+)'/)[1]}`]: Object.fromEntries(['./', ...files].map((f) =>
    [f, [...createHash('sha256').update(readFileSync(join(folder, f === './' ? 'index.html' : f))).digest()].join()])) });
});
