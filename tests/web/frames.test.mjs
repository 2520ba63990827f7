// SPDX-License-Identifier: MIT
// The page against a supply the test plays itself: the shared table of
// status frames shows the same texts and indicators as the window, the
// constant-mode label blinks, the link is lost and comes back, and a bad
// number entry says why and sends nothing.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, panelState, startServe, startSupply, statusFrames, until } from './harness.mjs';

let supply, serve, browser, page;

before(async () => {
    supply = await startSupply();
    serve = await startServe(supply.device);
    browser = await launchBrowser();
    page = await browser.newPage();
    await page.goto(serve.url);
    await until(() => supply.connected(), 'serve to connect to the supply');
});

after(async () => {
    await browser?.close();
    await serve?.stop();
    await supply?.close();
});

const withoutLabel = (labels, n) => labels.filter((label) => label !== n);

test('each status frame shows the window\'s texts and indicators, and its label blinks', async () => {
    for (const row of statusFrames) {
        supply.play(row.frame);
        // The blinking label may be either way at any moment; the rest hold.
        const settled = await until(async () => {
            const state = await panelState(page);
            const same = JSON.stringify(state.texts) === JSON.stringify(row.texts) &&
                JSON.stringify(withoutLabel(state.visible, row.blinkTarget)) ===
                    JSON.stringify(withoutLabel(row.visible, row.blinkTarget));
            return same && state;
        }, row.why);
        assert.equal(settled.image2, true, row.why);
        assert.equal(settled.image3, false, row.why);
        const label = page.locator('#Label' + row.blinkTarget);
        if (row.blinkTarget) {
            await until(() => label.isHidden(), `Label${row.blinkTarget} to blink off (${row.why})`);
            await until(() => label.isVisible(), `Label${row.blinkTarget} to blink on (${row.why})`);
        }
        // "Locked" went at the first frame and stays away.
        assert.equal(await page.locator('#Label15').isHidden(), true);
    }
});

test('a silent supply blinks the lost-link picture; frames bring the steady one back', async () => {
    supply.silence();
    await until(async () => !(await panelState(page)).image2, 'the link to count as lost');
    for (const shown of [true, false, true])
        await until(async () => (await panelState(page)).image3 === shown, 'the lost-link picture to blink');
    supply.play(statusFrames[0].frame);
    await until(async () => {
        const state = await panelState(page);
        return state.image2 && !state.image3;
    }, 'the link to come back');
});

test('a bad entry says why, shows the mark and sends nothing; a good one sends its frame', async () => {
    const sentBefore = supply.received.length;
    await page.fill('#Text1', 'abc');
    await page.click('#Command12');
    await until(async () => (await panelState(page)).status.includes("'abc' is not a number from 0 to 255"),
        'the refusal to show');
    assert.equal(await page.locator('#Image4').isVisible(), true);
    assert.equal(await page.locator('#Image5').isVisible(), false);
    await page.fill('#Text1', '7');
    await page.click('#Command13');
    await until(() => supply.received.length >= sentBefore + 4, 'the number frame');
    assert.equal(supply.received.subarray(sentBefore).toString('hex'), 'eb90cc07');
    assert.equal(await page.locator('#Image4').isVisible(), false);
    assert.equal(await page.locator('#Image5').isVisible(), true);
    await until(async () => (await panelState(page)).status === '', 'the refusal to clear');
});
