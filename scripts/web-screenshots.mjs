// The page's screenshots in docs/web.md: the page in demo mode, 800x600, one
// PNG per state, saved as FOLDER/screenshot-web-NAME.png.
//   node scripts/web-screenshots.mjs SITE FOLDER   (scripts/screenshots.sh --web)
import { readFileSync } from 'node:fs';
import { openSite, connected } from './web-browser.mjs';

const [siteFolder, out] = process.argv.slice(2);
const firmware = 'examples/demo.enc';
const size = { viewport: { width: 800, height: 600 } };
const site = await openSite(siteFolder);

async function shot(page, name) {
  const path = `${out}/screenshot-web-${name}.png`;
  await page.screenshot({ path });
  console.log(path);
}

function textOf(page, id, text) {
  return page.waitForFunction(([el, want]) => document.getElementById(el).textContent === want, [id, text]);
}

// ?demo with SCENARIO, the board detected and FILE (a path, or a file for
// setInputFiles) chosen when given.
async function demo(scenario, file) {
  const page = await site.open(scenario ? '?demo=' + encodeURIComponent(scenario) : '?demo', null, size);
  await connected(page);
  if (file) {
    await page.setInputFiles('#firmware-file', file);
    await textOf(page, 'hint', 'Ready');
  }
  return page;
}

async function boardStates() {
  const absent = await site.open('?demo=' + encodeURIComponent('{"present": false}'), null, size);
  await textOf(absent, 'status', 'No board detected');
  await shot(absent, 'no-board');

  const ready = await demo('', firmware);
  await shot(ready, 'ready');
  await ready.click('#program');
  await ready.waitForSelector('#message[open]');
  await shot(ready, 'done');
  await ready.click('#message-ok');
  await ready.waitForFunction(() => document.getElementById('boot-report').textContent !== '');
  await shot(ready, 'booted');

  // Full-speed USB timing: the bar is caught on its way.
  const updating = await demo('{"latency": "usb-fs"}', firmware);
  await updating.click('#program');
  await updating.waitForFunction(() => {
    const bar = document.getElementById('progress');
    return bar.value > bar.max * 0.4;
  });
  await shot(updating, 'updating');

  // A byte of the first data block's payload changed: the update stops on its CRC.
  const bytes = readFileSync(firmware);
  bytes[200] ^= 0xff;
  const refused = await demo('', { name: 'demo.enc', mimeType: 'application/octet-stream', buffer: bytes });
  await refused.click('#program');
  await refused.waitForSelector('#message[open]');
  await shot(refused, 'error');
}

async function serviceStates() {
  const page = await demo('');
  await page.keyboard.press('Control+Alt+KeyP');
  await page.waitForSelector('#password[open]');
  await page.fill('#password-input', 'zephyr');
  await shot(page, 'password');
  await page.click('#password-ok');
  await page.click('#service-shot-counter');
  await page.waitForSelector('#shot-counter[open]');
  await shot(page, 'shot-counter');
  await page.click('#shot-cancel');
  await page.click('#service-pressure');
  await page.waitForSelector('#message[open]');
  await shot(page, 'pressure');

  const noWebHid = await site.open('', () => { delete Navigator.prototype.hid; }, size);
  await noWebHid.waitForSelector('#no-webhid', { state: 'visible' });
  await shot(noWebHid, 'no-webhid');
}

try {
  await boardStates();
  await serviceStates();
} finally {
  await site.close();
}
