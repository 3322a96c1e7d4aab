// The page's own cost per record: whole updates in demo mode (the simulated
// board in the module, no link model) of two files of different length; the
// difference in time over the difference in records, so that the fixed
// pauses, the page's start and the box at the end drop out.
//   node bench/web/page-bench.mjs SITE-FOLDER MAKE-FIRMWARE
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openSite, connected } from '../../scripts/web-browser.mjs';

const [siteFolder, makeFirmware] = process.argv.slice(2);
const work = mkdtempSync(join(tmpdir(), 'velkor-web-bench-'));

// A file of data records only; make_firmware cuts it into 64-byte blocks.
function firmware(bytes) {
  const description = join(work, `${bytes}.fw`);
  const file = join(work, `${bytes}.enc`);
  writeFileSync(description, `fill 0x000000 ${bytes} ramp\n`);
  execFileSync(makeFirmware, [description, file]);
  let records = 0;
  const raw = readFileSync(file);
  for (let at = 0; at + 2 <= raw.length; at += 2 + raw[at + 1])
    records += 1;
  return { file, records };
}

// From the press of Program to the job's box, in the page's own clock.
async function timeUpdate(site, file) {
  const page = await site.open('?demo');
  await connected(page);
  await page.setInputFiles('#firmware-file', file);
  await page.waitForFunction(() => !document.getElementById('program').disabled);
  const ms = await page.evaluate(() => new Promise((resolve) => {
    const box = document.getElementById('message');
    const start = performance.now();
    new MutationObserver(() => { if (box.open) resolve(performance.now() - start); })
      .observe(box, { attributes: true });
    document.getElementById('program').click();
  }));
  const text = await page.textContent('#message-text');
  await page.close();
  if (text !== 'Update complete!')
    throw new Error(`the update ended with "${text}"`);
  return ms;
}

const small = firmware(64 * 64);
const large = firmware(64 * 8192);
const site = await openSite(siteFolder);
try {
  const best = async (f) => Math.min(...[await timeUpdate(site, f.file), await timeUpdate(site, f.file),
    await timeUpdate(site, f.file)]);
  const a = await best(small);
  const b = await best(large);
  const perRecord = (b - a) / (large.records - small.records);
  console.log(`page, demo board, no link model: ${small.records} records ${a.toFixed(0)} ms, ` +
    `${large.records} records ${b.toFixed(0)} ms: ${(perRecord * 1000).toFixed(1)} µs per record`);
} finally {
  await site.close();
}
