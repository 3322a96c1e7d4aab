// Opens FOLDER/?demo in headless Chromium and waits for the demo board:
// the site in FOLDER loads, its module starts and detects.
//   node scripts/check-web-site.mjs FOLDER
import { openSite, connected } from './web-browser.mjs';

const site = await openSite(process.argv[2]);
try {
  const page = await site.open('?demo');
  await connected(page);
  console.log(await page.textContent('#status'));
} finally {
  await site.close();
}
