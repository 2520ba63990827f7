// SPDX-License-Identifier: MIT
// The page against a supply the test plays itself: the shared table of
// status frames shows the same texts and indicators as the window, the
// constant-mode label blinks, the link is lost and comes back, a bad
// number entry says why and sends nothing, and the panel fits the window.
// The page's clock is the test's: a note fades only when the test says.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, panelState, startServe, startSupply, statusFrames, until, kPatience } from './harness.mjs';

let supply, serve, browser, page;
// Whatever the browser refused or failed at, such as a blocked resource.
const pageErrors = [];

before(async () => {
    supply = await startSupply();
    serve = await startServe(supply.device);
    browser = await launchBrowser();
    page = await browser.newPage();
    page.on('console', (message) => message.type() === 'error' && pageErrors.push(message.text()));
    page.on('pageerror', (error) => pageErrors.push(error.message));
    await page.clock.install();
    await page.clock.pauseAt(Date.now() + 1000);
    await page.goto(serve.url);
    await until(() => supply.connected(), 'serve to connect to the supply');
});

after(async () => {
    await browser?.close();
    await serve?.stop();
    await supply?.close();
});

// The window's accessible names, by role, and the control that carries each.
const named = [
    ['button', 'U', 'Command1'], ['button', 'I', 'Command2'], ['button', 'P', 'Command3'],
    ['button', 'u', 'Command4'], ['button', 'ENT', 'Command5'], ['button', 'CE', 'Command6'],
    ['button', 'N', 'Command7'], ['button', 'F', 'Command8'], ['button', 'L', 'Command9'],
    ['button', 'I/O', 'Command10'], ['button', 'REM', 'Command11'],
    ['button', 'Right arrow', 'Command12'], ['button', 'Left arrow', 'Command13'],
    ['textbox', 'Number', 'Text1'], ['img', 'Front panel', 'Image1'], ['img', 'Link alive', 'Image2'],
    ['img', 'Link lost', 'Image3'], ['img', 'Up mark', 'Image4'], ['img', 'Down mark', 'Image5'],
];
// Window geometry in pixels of the 701 x 331 panel, and font pixel sizes.
const geometry = [
    ['Command1', 338, 71, 35, 22, 12], ['Command12', 581, 112, 27, 35, 0], ['Text1', 544, 117, 33, 25, 14],
    ['Label1', 93, 74, 88, 33, 35], ['Label16', 99, 175, 41, 15, 12], ['Image1', 8, 8, 687, 318, 0],
];

test('controls carry the window\'s ids, names, order, colours and geometry at any width', { timeout: kPatience }, async () => {
    for (const [role, name, id] of named) {
        const control = page.getByRole(role, { name, exact: true, includeHidden: true });
        assert.equal(await control.getAttribute('id'), id, name);
    }
    assert.equal(await page.getByRole('button', { name: 'QUIT' }).count(), 0);
    // The page's own policy lets it load and connect, and no other site frame it.
    const headers = (await fetch(serve.base + '/')).headers;
    assert.match(headers.get('content-security-policy'), /frame-ancestors 'none'/);
    assert.deepEqual(pageErrors, []);
    // A mistyped address gets a page that says so and leads to the panel.
    const missing = await fetch(serve.base + '/index.html');
    assert.deepEqual([missing.status, missing.headers.get('content-type'), /<a href="\/">/.test(await missing.text())],
        [404, 'text/html; charset=utf-8', true]);
    // Only the direction marks start hidden, and hidden means not shown.
    const html = await (await fetch(serve.base + '/')).text();
    assert.deepEqual([...html.matchAll(/id="(\w+)"[^>]* hidden>/g)].map((m) => m[1]), ['Image4', 'Image5']);
    assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('#panel > *')]
        .filter((e) => e.checkVisibility() === e.hidden).map((e) => e.id)), []);
    assert.deepEqual(await page.evaluate(() => ['panel', 'Command1', 'Text1']
        .map((id) => getComputedStyle(document.getElementById(id)).backgroundColor)),
    ['rgb(192, 192, 192)', 'rgb(255, 255, 192)', 'rgb(192, 192, 255)']);

    // The keys, the arrows, then the number box, as the window's tab order.
    await page.focus('#Command1');
    const order = ['Command1'];
    for (let i = 0; i < 13; ++i) {
        await page.keyboard.press('Tab');
        order.push(await page.evaluate(() => document.activeElement.id));
    }
    assert.deepEqual(order, [...Array(13).keys()].map((i) => 'Command' + (i + 1)).concat('Text1'));

    for (const width of [701, 1402, 500]) {
        await page.setViewportSize({ width, height: 800 });
        const scale = (await page.locator('#panel').boundingBox()).width / 701;
        const origin = await page.locator('#panel').boundingBox();
        for (const [id, left, top, w, h, font] of geometry) {
            const box = await page.locator('#' + id).boundingBox();
            const got = [box.x - origin.x, box.y - origin.y, box.width, box.height].map((v) => v / scale);
            got.forEach((v, i) => assert.ok(Math.abs(v - [left, top, w, h][i]) < 1, `${id} at ${width}: ${got}`));
            if (font) {
                const size = await page.$eval('#' + id, (e) => parseFloat(getComputedStyle(e).fontSize));
                assert.ok(Math.abs(size / scale - font) < 0.1, `${id} font ${size} at ${width}`);
            }
        }
    }

    // What a screen reader gets: each display a meter with the window's
    // name for it, its value, and its digits with the unit.
    const { frame, texts } = statusFrames[0];
    supply.play(frame);
    await until(async () => JSON.stringify((await panelState(page)).texts) === JSON.stringify(texts), 'a frame');
    const cdp = await page.context().newCDPSession(page);
    const tree = (await cdp.send('Accessibility.getFullAXTree')).nodes.filter((n) => !n.ignored);
    assert.deepEqual(tree.filter((n) => n.role.value === 'meter').map((n) => [n.name.value, n.value.value]),
        ['Volts', 'Amperes', 'Watts', 'Volts limit', 'Amperes limit', 'Watts limit']
            .map((name, i) => [name + ' display', Math.fround(texts[i])]));
    assert.deepEqual(await page.$$eval('[role=meter]', (all) => all.map((e) => e.getAttribute('aria-valuetext'))),
        texts.map((text, i) => text + ' ' + 'VAW'[i % 3]));
});

test('the panel and the note below it fit the window; zoom enlarges the panel', { timeout: kPatience }, async () => {
    // A laptop, the same at 200 % zoom, a phone upright, and a smaller
    // laptop at 200 %, where a stale key's note takes two lines.
    const widths = [];
    for (const [width, height, scale] of [[1366, 657, 1], [683, 328, 2], [390, 844, 1], [640, 300, 2]]) {
        const context = await browser.newContext({ viewport: { width, height }, deviceScaleFactor: scale });
        await context.addCookies([{ name: 'korvale-key-' + new URL(serve.base).port, value: 'stale', url: serve.base }]);
        const viewer = await context.newPage();
        await viewer.goto(serve.base + '/');
        await until(async () => (await panelState(viewer)).status.includes('no longer valid'), 'the note');
        // A frame drawn since: the page has measured the note.
        await viewer.evaluate(() => new Promise((drawn) => requestAnimationFrame(() => requestAnimationFrame(drawn))));
        const [panel, note] = await Promise.all(['#panel', '#status'].map((id) => viewer.locator(id).boundingBox()));
        const where = `${width}x${height}: ${JSON.stringify([panel, note])}`;
        assert.ok(panel.x >= 0 && panel.y >= 0 && panel.x + panel.width <= width + 0.5 && panel.y + panel.height <=
            note.y + 0.5 && note.x >= 0 && note.x + note.width <= width + 0.5 && note.y + note.height <= height + 0.5, where);
        // The window's width, the height the note leaves or its largest size stops it.
        assert.ok([panel.width - width, note.y + note.height - height, panel.width - 66 * 16]
            .some((gap) => Math.abs(gap) < 1), where);
        widths.push(panel.width * scale);
        await context.close();
    }
    assert.ok(widths[1] > widths[0] && Math.abs(widths[2] - 390) < 1, `zoomed in, upright: ${widths}`);
});

const withoutLabel = (labels, n) => labels.filter((label) => label !== n);

test('each status frame shows the window\'s texts and indicators, and its label blinks', { timeout: kPatience }, async () => {
    for (const row of statusFrames) {
        supply.play(row.frame);
        // The blinking label may be either way at any moment; the rest hold.
        await until(async () => {
            const state = await panelState(page);
            const same = JSON.stringify(state.texts) === JSON.stringify(row.texts) &&
                JSON.stringify(withoutLabel(state.visible, row.blinkTarget)) ===
                    JSON.stringify(withoutLabel(row.visible, row.blinkTarget));
            // The link pictures change at the next blink tick.
            return same && state.image2 && !state.image3;
        }, row.why);
        const label = page.locator('#Label' + row.blinkTarget);
        if (row.blinkTarget) {
            await until(() => label.isHidden(), `Label${row.blinkTarget} to blink off (${row.why})`);
            await until(() => label.isVisible(), `Label${row.blinkTarget} to blink on (${row.why})`);
        }
        // "Locked" went at the first frame and stays away.
        assert.equal(await page.locator('#Label15').isHidden(), true);
    }
});

test('a silent supply blinks the lost-link picture, said once; frames bring the steady one back', { timeout: kPatience }, async () => {
    await page.evaluate(() => {
        window.said = [];
        const said = document.getElementById('linkstate');
        new MutationObserver(() => window.said.push(said.textContent)).observe(said, { childList: true });
    });
    supply.silence();
    await until(async () => !(await panelState(page)).image2, 'the link to count as lost');
    for (const shown of [true, false, true])
        await until(async () => (await panelState(page)).image3 === shown, 'the lost-link picture to blink');
    supply.play(statusFrames[0].frame);
    await until(async () => {
        const state = await panelState(page);
        return state.image2 && !state.image3;
    }, 'the link to come back');
    assert.deepEqual(await page.evaluate(() => window.said), ['Link lost', 'Link alive']);
});

test('a bad entry says why for a while, shows the mark and sends nothing; a good one sends its frame', { timeout: kPatience }, async () => {
    const sentBefore = supply.received.length;
    const refused = async () => (await panelState(page)).status.includes("'abc' is not a number from 0 to 255");
    await page.fill('#Text1', 'abc');
    await page.click('#Command12');
    await until(refused, 'the refusal to show');
    await page.clock.runFor(10000);
    await until(async () => (await panelState(page)).status === '', 'the refusal to fade');
    await page.click('#Command12');
    await until(refused, 'the refusal to show again');
    assert.equal(await page.locator('#Image4').isVisible(), true);
    assert.equal(await page.locator('#Image5').isVisible(), false);
    await page.fill('#Text1', '7');
    await page.click('#Command13');
    await until(() => supply.received.length >= sentBefore + 4, 'the number frame');
    assert.equal(supply.received.subarray(sentBefore).toString('hex'), 'eb90cc07');
    // The mark comes from the server, as the panel's state.
    await until(async () => !(await page.locator('#Image4').isVisible()) &&
        await page.locator('#Image5').isVisible(), 'the down mark');
    await until(async () => (await panelState(page)).status === '', 'the refusal to clear');
});

test('a key refused for want of the line is forgotten when the line is back', { timeout: kPatience }, async () => {
    await supply.unplug();
    await until(async () => / (was lost|could not be opened): /.test((await panelState(page)).status), 'the loss');
    await page.click('#Command1');
    await until(async () => (await panelState(page)).status === 'The line is not open.', 'the refusal');
    await supply.plug();
    await until(async () => (await panelState(page)).status === '', 'the refusal to clear');
});
