// A built site folder served on 127.0.0.1 with a host's headers
// (scripts/serve-web.py, on a free port) and opened in headless Chromium through playwright-core, Debian's
// Chromium unless CHROMIUM names another: what the web tests, the web
// screenshots and the web zip's check drive the page with.
import { spawn } from 'node:child_process';
import { chromium } from 'playwright-core';

function serve(folder) {
  const server = spawn('python3', ['-u', new URL('serve-web.py', import.meta.url).pathname, '0', folder],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const base = new Promise((resolveUrl, reject) => {
    server.on('error', reject);
    server.on('exit', (code) => reject(new Error(`http.server exited with ${code}`)));
    server.stdout.on('data', (chunk) => {
      const port = /port (\d+)/.exec(chunk.toString());
      if (port)
        resolveUrl(`http://127.0.0.1:${port[1]}/`);
    });
  });
  return { server, base };
}

// open(query, init, options): a new page at the site's address plus query,
// init (one script or a list) run before the page's own scripts, options for
// browser.newContext; options.context opens it beside that context's tabs.
export async function openSite(folder) {
  const { server, base } = serve(folder);
  let browser;
  try {
    const url = await base;
    browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/lib/chromium/chromium',
      headless: true, args: ['--no-sandbox'] });
    return {
      url,
      async open(query, init, options) {
        const page = await (options?.context ?? await browser.newContext(options)).newPage();
        page.on('pageerror', (error) => console.error('page error:', error.message));
        for (const script of [init ?? []].flat())
          await page.addInitScript(script);
        await page.goto(url + query);
        return page;
      },
      async close() {
        await browser.close();
        server.kill();
      },
    };
  } catch (error) {
    await browser?.close();
    server.kill();
    throw error;
  }
}

export function connected(page) {
  return page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Connected: '));
}
