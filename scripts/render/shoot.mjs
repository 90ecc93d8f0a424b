// Photographs a page in headless Chromium once it says it has drawn, for scripts/render-example:
//   node shoot.mjs URL OUT.png WIDTH HEIGHT [NODE_PREFIX]
// Starts the browser named by QUILLMESH_CHROMIUM (default /usr/bin/chromium) with software
// WebGL, opens URL in a WIDTHxHEIGHT viewport, waits until <body data-state> leaves "loading",
// and writes the viewport to OUT.png when it reads "done". Exits with 1 (and says why) when the
// page reports an error or takes longer than a minute. playwright-core is loaded from
// NODE_PREFIX/node_modules (default /opt/quillmesh-node).
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [url, out, widthText, heightText, prefix = '/opt/quillmesh-node'] = process.argv.slice(2);
if (!url || !out || !widthText || !heightText) {
    console.error('usage: node shoot.mjs URL OUT.png WIDTH HEIGHT [NODE_PREFIX]');
    process.exit(2);
}
const width = Number(widthText);
const height = Number(heightText);

const { chromium } = await import(
    pathToFileURL(path.join(prefix, 'node_modules/playwright-core/index.mjs')).href);

const browser = await chromium.launch({
    executablePath: process.env.QUILLMESH_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // SwiftShader: WebGL without a GPU or a display.
    args: ['--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist',
           '--hide-scrollbars'],
});
let status = 0;
try {
    const page = await browser.newPage({ viewport: { width, height }, deviceScaleFactor: 1 });
    page.on('console', (message) => {
        if (message.type() === 'error') {
            console.error(`page: ${message.text()}`);
        }
    });
    page.on('pageerror', (error) => console.error(`page: ${error.message}`));
    await page.goto(url);
    await page.waitForFunction(() => document.body.dataset.state !== 'loading', null,
                               { timeout: 60000 });
    const state = await page.evaluate(() => document.body.dataset.state);
    if (state === 'done') {
        await page.screenshot({ path: out });
    } else {
        const text = await page.evaluate(() => document.getElementById('message').textContent);
        console.error(`the page did not draw: ${text || state}`);
        status = 1;
    }
} catch (error) {
    console.error(error.message);
    status = 1;
} finally {
    await browser.close();
}
process.exit(status);
