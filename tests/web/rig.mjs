// The page on a real HID stack, run inside the VM by scripts/rig/web-guest.sh:
// headless Chromium, granted the board by a managed policy (no chooser),
// reaches velkor-virtual-board through WebHID, hidraw and uhid. Prints a
// PASS or FAIL line per check and the timings; exits with the number of
// failures. Environment: PAGE_URL, BOARD (the virtual board), FIRMWARE,
// ZEROS (a file that clears the flash), WORK (a scratch folder), CHECK_DUMP
// (the rig's dump checker).
import { spawn, spawnSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { chromium } from 'playwright-core';

const env = process.env;
const identity = 'Connected: Ferrit XR, version 3.02b';
let failures = 0;
function check(name, ok, why) {
  console.log(ok ? `PASS ${name}` : `FAIL ${name}: ${why}`);
  failures += ok ? 0 : 1;
  return ok;
}

// Resolves once the board's device exists; the scenario may name a dump.
function startBoard(scenario) {
  writeFileSync(`${env.WORK}/board.json`, JSON.stringify(scenario));
  const board = spawn(env.BOARD, [`${env.WORK}/board.json`], { stdio: ['ignore', 'pipe', 'inherit'] });
  board.log = '';
  board.ended = new Promise((resolve) => board.on('exit', resolve));
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no device: ${board.log}`)), 30000);
    board.stdout.on('data', (chunk) => {
      board.log += chunk;
      if (board.log.includes('device created')) {
        clearTimeout(timer);
        resolve(board);
      }
    });
  });
}

async function stopBoard(board) {
  board.kill('SIGTERM');
  await board.ended;
}

function dumpMatches(name, dump, ...flags) {
  const run = spawnSync('python3', [env.CHECK_DUMP, env.FIRMWARE, dump, ...flags], { encoding: 'utf8' });
  check(name, run.status === 0, `${run.stdout}${run.stderr}`.replace(/\n/g, '|'));
}

const statusIs = (page, want, timeout = 120000) => page.waitForFunction(
  (text) => document.getElementById('status').textContent === text, want, { polling: 50, timeout });

// Chooses the file, presses Program and answers the job's box: its text, the
// time from the press, and when the status line last read "Erasing flash block".
async function program(page, file) {
  await page.setInputFiles('#firmware-file', file);
  await page.waitForFunction(() => !document.getElementById('program').disabled, null, { polling: 50 });
  // Timed in the page: the driver's own polling is slow in the VM.
  await page.evaluate(() => {
    const status = document.getElementById('status');
    const box = document.getElementById('message');
    new MutationObserver(() => {
      if (status.textContent === 'Erasing flash block')
        window.erasingAt = performance.now();
    }).observe(status, { childList: true, characterData: true, subtree: true });
    new MutationObserver(() => { window.boxAt ??= box.open ? performance.now() : undefined; })
      .observe(box, { attributes: true });
    window.boxAt = undefined;
    window.pressedAt = performance.now();
  });
  await page.click('#program');
  await page.waitForSelector('#message[open]', { timeout: 120000 });
  const box = await page.evaluate(() => ({
    text: document.getElementById('message-text').textContent,
    ms: window.boxAt - window.pressedAt,
    eraseWaitMs: window.boxAt - window.erasingAt,
    goneWaitMs: window.boxAt - window.goneAt,
  }));
  await page.click('#message-ok');
  return box;
}

async function openPage(profile, query = '') {
  const page = await profile.newPage();
  // Under TCG everything in the browser takes seconds.
  page.setDefaultTimeout(120000);
  page.on('pageerror', (error) => console.log(`page error: ${error.message}`));
  page.on('console', (line) => console.log(`page: ${line.text()}`));
  const start = Date.now();
  await page.goto(env.PAGE_URL + query, { waitUntil: 'domcontentloaded' });
  console.log(`page ${query || '(board)'} loaded in ${Date.now() - start} ms`);
  return page;
}

// The core's exchanges against a bare WebHID loop on the same board, in one
// page that leaves the board to them (?demo: the page's own jobs use the
// simulated board). Alternating rounds; the best of each.
async function compareExchanges(profile, count, rounds) {
  const page = await openPage(profile, '?demo');
  const times = await page.evaluate(async ([n, r]) => {
    const core = await (await import(new URL('velkor-core.js', location.href))).default();
    core.ccall('web_start', 'string', ['number', 'string'], [0, '']);
    const bare = async () => {
      const [device] = await navigator.hid.getDevices();
      await device.open();
      const start = performance.now();
      for (let i = 0; i < n; ++i) {
        const reply = new Promise((resolve) => device.addEventListener('inputreport', resolve, { once: true }));
        await device.sendReport(0, new Uint8Array(72));
        await reply;
      }
      const ms = performance.now() - start;
      await device.close();
      return ms;
    };
    const result = { bare: [], core: [] };
    for (let i = 0; i < r; ++i) {
      result.bare.push(await bare());
      result.core.push(await core.ccall('web_time_exchanges', 'number', ['number'], [n], { async: true }));
    }
    return result;
  }, [count, rounds]);
  await page.close();
  const best = (list) => Math.min(...list) / count;
  const bare = best(times.bare);
  const core = best(times.core);
  console.log(`exchanges: bare WebHID ${bare.toFixed(2)} ms, core ${core.toFixed(2)} ms, ratio ${(core / bare).toFixed(2)}`);
  check('the core\'s exchanges all answered', times.core.every((ms) => ms > 0), JSON.stringify(times));
}

async function updates(profile) {
  const page = await openPage(profile);
  await statusIs(page, 'No board detected');
  const dump = `${env.WORK}/dump.json`;
  const board = await startBoard({ dump });
  const plugged = Date.now();
  await statusIs(page, identity);
  check(`plugged in, found without a chooser (${Date.now() - plugged} ms)`, true);
  const zeros = await program(page, env.ZEROS);
  check('program zeros', zeros.text === 'Update complete!', zeros.text);
  // A second tab of the page polls all through the update: it must keep off.
  const other = await openPage(profile);
  await statusIs(other, identity);
  await other.evaluate(() => {
    const status = document.getElementById('status');
    window.seen = [];
    new MutationObserver(() => window.seen.push(status.textContent))
      .observe(status, { childList: true, characterData: true, subtree: true });
  });
  const full = await program(page, env.FIRMWARE);
  const records = readFileSync(env.FIRMWARE).length / 73;
  check(`program (${Math.round(full.ms)} ms, ${(full.ms / records).toFixed(1)} ms per record)`,
    full.text === 'Update complete!', full.text);
  // Asked once the box is answered, for up to 5 s.
  const word = await page.waitForFunction(() => document.getElementById('boot-report').textContent, null,
    { timeout: 10000 }).then((text) => text.jsonValue(), () => '');
  check('the booted board\'s word', word === `Board now reports: ${identity}`, word);
  const seen = await other.evaluate(() => window.seen);
  check('a second tab finds the board in use', seen.includes('Board in use by another program'), seen.join(' / '));
  await other.close();
  await stopBoard(board);
  dumpMatches('program dump', dump);
  await statusIs(page, 'No board detected', 10000).then(() => check('unplugged: no board', true),
    () => check('unplugged: no board', false, 'the page still shows a board'));
  await page.close();
}

async function silentErase(profile) {
  const board = await startBoard({ silent: ['0xC2'] });
  const page = await openPage(profile);
  await statusIs(page, identity);
  const box = await program(page, env.FIRMWARE);
  if (check('silent erase', box.text === 'Error -1 erasing 0x000000', box.text)) {
    // The deadline, neither cut short nor stretched beyond what the page's
    // timers and drawing take under emulation.
    const wait = Math.round(box.eraseWaitMs);
    check(`silent erase: the deadline (${wait} ms)`, wait >= 4900 && wait <= 6500, `${wait} ms, not 4900-6500`);
  }
  await page.close();
  await stopBoard(board);
}

async function unplugged(profile) {
  const dump = `${env.WORK}/unplug.json`;
  // Reports come in pairs (request, reply), the page's detections too: the
  // 61st is a request, so the cable goes while a read waits for its reply.
  const board = await startBoard({ unplug_after: 61, replug_after_ms: 1500, dump });
  const page = await openPage(profile);
  await statusIs(page, identity);
  // Heard after the page's own listener, which may end the job first: a few
  // milliseconds below zero are on time.
  await page.evaluate(() => navigator.hid.addEventListener('disconnect', () => { window.goneAt ??= performance.now(); }));
  const broken = await program(page, env.FIRMWARE);
  const wait = Math.round(broken.goneWaitMs);
  check(`unplug mid-update is an error ${wait} ms after the unplug (${broken.text})`,
    broken.text.startsWith('Error') && wait > -1000 && wait < 3000, broken.text);
  await statusIs(page, identity);
  const rerun = await program(page, env.FIRMWARE);
  check('rerun after replug', rerun.text === 'Update complete!', rerun.text);
  await page.close();
  await stopBoard(board);
  dumpMatches('rerun dump', dump, '--reruns');
}

// A node the browser may not open (hidraw without the udev rule): the page
// names the fix rather than "No board detected".
async function refusedNode(profile) {
  const board = await startBoard({});
  const page = await openPage(profile);
  await statusIs(page, identity);
  spawnSync('sh', ['-c', 'chmod 000 /dev/hidraw*']);
  const told = await page.waitForFunction(
    () => document.getElementById('status').textContent.includes('may not open it'), null, { polling: 50 })
    .then(() => true, () => false);
  check('a node the browser may not open: the page names the udev rule', told, await page.textContent('#status'));
  spawnSync('sh', ['-c', 'chmod 600 /dev/hidraw*']);
  await page.close();
  await stopBoard(board);
}

// A tab in the background leaves the board alone: not one report while the
// page is hidden, the board plugged in meanwhile included.
async function hiddenTab(profile) {
  const page = await openPage(profile);
  await statusIs(page, 'No board detected');
  await page.evaluate(() => {
    Object.defineProperty(document, 'hidden', { get: () => true });
    document.dispatchEvent(new Event('visibilitychange'));
  });
  const dump = `${env.WORK}/hidden.json`;
  const board = await startBoard({ dump });
  await new Promise((resolve) => setTimeout(resolve, 5000));
  await stopBoard(board);
  const { reports } = JSON.parse(readFileSync(dump, 'utf8'));
  check('a hidden tab sends the board no report', reports === 0, `${reports} reports`);
  await page.close();
}

const browser = await chromium.launch({
  executablePath: env.CHROMIUM || '/usr/lib/chromium/chromium', headless: true, args: ['--no-sandbox'],
});
// One profile for every page, as a user's tabs share one.
const profile = await browser.newContext();
try {
  await updates(profile);
  const board = await startBoard({});
  await compareExchanges(profile, 100, 3);
  await stopBoard(board);
  await silentErase(profile);
  await unplugged(profile);
  await refusedNode(profile);
  await hiddenTab(profile);
} catch (error) {
  check('the page run', false, error.stack);
} finally {
  await browser.close();
}
console.log(`web-hid: ${failures} failed`);
process.exit(failures);
