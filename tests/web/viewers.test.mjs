// SPDX-License-Identifier: MIT
// Many pages at once on one server: 50 browser contexts and 8 tabs of one
// context each see every frame of a run, in order.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, startServe, startSupply, until, kPatience } from './harness.mjs';

let supply, serve, browser;
const pages = [];

before(async () => {
    supply = await startSupply();
    serve = await startServe(supply.device);
    browser = await launchBrowser();
});

after(async () => {
    await browser?.close();
    await serve?.stop();
    await supply?.close();
});

// Volts 10.0k: the reading 1000 + k, binary, in the frame's first field.
const volts = (k) => `10.0${k}`;
const frameOf = (k) => 'eb90' + (1000 + k).toString(16).padStart(4, '0') + '138812340fa001f420000c' + '5a'.repeat(15);

// Each page keeps every Volts text it shows, from its first message on.
async function watchedPage(context) {
    const page = await context.newPage();
    await page.addInitScript(() => {
        window.seen = [];
        document.addEventListener('DOMContentLoaded', () => {
            const label = document.getElementById('Label1');
            new MutationObserver(() => {
                if (window.seen.at(-1) !== label.textContent)
                    window.seen.push(label.textContent);
            }).observe(label, { childList: true, characterData: true, subtree: true });
        });
    });
    await page.goto(serve.url, { timeout: 0 });
    return page;
}

// Opening 58 pages is slow on two cores.
test('50 viewers in their own contexts and 8 tabs of one context see every frame', { timeout: 4 * kPatience }, async () => {
    await until(() => supply.connected(), 'serve to connect to the supply');
    supply.play(frameOf(0));
    const contexts = await Promise.all([...Array(50)].map(() => browser.newContext()));
    const shared = await browser.newContext();
    // A few at a time: two cores start 58 renderers.
    const queue = contexts.concat(Array(8).fill(shared));
    while (queue.length)
        pages.push(...await Promise.all(queue.splice(0, 6).map(watchedPage)));
    // Each page polls its own DOM for the text.
    const allShow = (k) => Promise.all(pages.map((page) => page.waitForFunction(
        (text) => document.getElementById('Label1').textContent === text, volts(k),
        { polling: 100, timeout: 0 })));
    await allShow(0);

    // The next frame goes only once every page shows the last one, so that
    // each page must see each frame.
    const run = [1, 2, 3, 4, 5, 6, 7, 8, 9];
    for (const k of run) {
        supply.play(frameOf(k));
        await allShow(k);
    }
    for (const [i, page] of pages.entries()) {
        const seen = await page.evaluate(() => window.seen);
        assert.deepEqual(seen.slice(seen.indexOf(volts(0))), [0, ...run].map(volts), `page ${i}`);
    }
});
