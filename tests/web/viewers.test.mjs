// SPDX-License-Identifier: MIT
// Many pages at once on one server: 50 browser contexts and 8 tabs of one
// context each see every frame of a run, in order.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, startServe, startSupply, until } from './harness.mjs';

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
    await page.goto(serve.url);
    return page;
}

test('50 viewers in their own contexts and 8 tabs of one context see every frame', async () => {
    await until(() => supply.connected(), 'serve to connect to the supply');
    supply.play(frameOf(0));
    for (let i = 0; i < 50; ++i)
        pages.push(await watchedPage(await browser.newContext()));
    const shared = await browser.newContext();
    for (let i = 0; i < 8; ++i)
        pages.push(await watchedPage(shared));
    const shows = (page, k) => page.evaluate((text) => document.getElementById('Label1').textContent === text, volts(k));
    for (const page of pages)
        await until(() => shows(page, 0), 'every page to show the first frame');

    // The next frame goes only once every page shows the last one, so that
    // each page must see each frame.
    const run = [1, 2, 3, 4, 5, 6, 7, 8, 9];
    for (const k of run) {
        supply.play(frameOf(k));
        for (const page of pages)
            await until(() => shows(page, k), `every page to show ${volts(k)}`);
    }
    for (const [i, page] of pages.entries()) {
        const seen = await page.evaluate(() => window.seen);
        assert.deepEqual(seen.slice(seen.indexOf(volts(0))), [0, ...run].map(volts), `page ${i}`);
    }
});
