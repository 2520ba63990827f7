// SPDX-License-Identifier: MIT
// Clicks through the page reach korvale-sim as the window's bytes, once and
// in order; a page without the token, or of another program on another
// port, cannot send; a click made while the server is gone is never sent
// later; the token leaves the address, and a restarted server's new one is
// asked for.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { launchBrowser, panelState, scratch, startServe, startSim, until, kPatience } from './harness.mjs';

let dir, sim, serve, browser;
const tokenFile = () => dir.path('token');

before(async () => {
    dir = scratch();
    writeFileSync(tokenFile(), '0123456789abcdef0123456789abcdef\n');
    sim = await startSim(dir.dir);
    serve = await startServe(sim.link, ['--token-file', tokenFile()]);
    browser = await launchBrowser();
});

after(async () => {
    await browser?.close();
    await serve?.stop();
    await sim?.stop();
    dir?.remove();
});

// Frames flow: "Locked" has gone and the steady link picture stands alone.
async function linkAlive(page) {
    const state = await panelState(page);
    return state.image2 && !state.image3 && !state.visible.includes(15);
}

// Waits for the command log to end in `marker` (a click made last, whose
// frame proves all before it were handled) and returns what came since
// `from`.
async function commandsUpTo(from, marker) {
    const all = await until(() => {
        const lines = sim.commands();
        return lines.length > from && lines.at(-1) === marker && lines;
    }, 'the marker frame ' + marker);
    return all.slice(from);
}

test('every key and both arrows send the window\'s frames, once, in order', { timeout: kPatience }, async () => {
    const page = await browser.newPage();
    await page.goto(serve.url);
    await until(() => linkAlive(page), 'frames from the supply');
    const from = sim.commands().length;
    // Control, entry for the arrows, the frame expected. What the keypad
    // refuses, and how the page says so, is tst_protocol's and frames.test's.
    const clicks = [
        [1, '', 'eb 90 aa 00'], [2, '', 'eb 90 aa 04'], [3, '', 'eb 90 aa 08'],
        [4, '', 'eb 90 aa 01'], [5, '', 'eb 90 aa 05'], [6, '', 'eb 90 aa 09'],
        [7, '', 'eb 90 aa 02'], [8, '', 'eb 90 aa 06'], [10, '', 'eb 90 aa 0c'],
        [12, '12.5', 'eb 90 55 0c'], [13, ' 255 ', 'eb 90 cc ff'], [12, '1', 'eb 90 55 01'],
    ];
    const expected = [];
    for (const [n, entry, frame] of clicks) {
        if (n >= 12)
            await page.fill('#Text1', entry);
        await page.click('#Command' + n);
        // Each frame is seen before the next click: the server refuses keys
        // pressed faster than a hand could.
        expected.push(frame);
        await until(() => sim.commands().length >= from + expected.length, frame);
    }
    await page.click('#Command4');
    expected.push('eb 90 aa 01');
    assert.deepEqual(await commandsUpTo(from, 'eb 90 aa 01'), expected);
    await page.close();
});

test('pages without the key send nothing: none, a wrong one, another port\'s given its cookie', { timeout: kPatience }, async () => {
    const from = sim.commands().length;
    const viewer = await browser.newPage();
    // A wrong token is no token, and leaves no cookie behind.
    await viewer.goto(serve.base + '/?token=0123');
    await until(async () => (await panelState(viewer)).status.startsWith('Read-only'), 'the read-only note');
    for (let n = 1; n <= 13; ++n)
        assert.equal(await viewer.getAttribute('#Command' + n, 'aria-disabled'), 'true');
    await viewer.click('#Command1', { force: true });
    await viewer.click('#Command12', { force: true });
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(serve.url);
    await until(async () => (await page.getAttribute('#Command8', 'aria-disabled')) === 'false', 'control');
    // Another program's page on this host, to which the browser sends the
    // cookie that holds the key.
    const other = createServer((request, response) => response.writeHead(200, { 'Content-Type': 'text/html' })
        .end(`<script>const ws = new WebSocket('${serve.base.replace('http', 'ws')}/live');
            ws.onmessage = () => ws.send('1 Command2'); ws.onclose = () => { window.ended = true; };</script>`)).unref();
    await new Promise((resolve) => other.listen(0, '127.0.0.1', resolve));
    const foreign = await context.newPage();
    await foreign.goto(`http://127.0.0.1:${other.address().port}/`);
    await until(() => foreign.evaluate(() => window.ended), 'the channel to be refused');
    other.close();
    // A page with the token sends a marker after the others' clicks.
    await page.click('#Command8');
    assert.deepEqual(await commandsUpTo(from, 'eb 90 aa 06'), ['eb 90 aa 06']);
    await viewer.close();
    await context.close();
});

test('with the server gone the page says so, refuses clicks, and follows it back', { timeout: kPatience }, async () => {
    const page = await browser.newPage();
    // Past the first load no address, request or message holds the token.
    const seen = [];
    page.on('console', (message) => seen.push(message.text()));
    page.on('request', (request) => seen.push(request.url()));
    page.on('websocket', (socket) => seen.push(socket.url()));
    await page.goto(serve.url);
    seen.shift();
    await until(() => linkAlive(page), 'frames from the supply');
    const from = sim.commands().length;
    const address = serve.base.replace('http://', '');
    await serve.stop();
    const stale = () => page.$eval('#panel', (panel) => panel.classList.contains('stale'));
    await until(async () => (await panelState(page)).status.startsWith('The server cannot be reached') &&
        await stale(), 'the page to see the server gone and grey what it shows');
    await page.click('#Command2', { force: true });
    await until(async () => (await panelState(page)).status.includes('cannot be reached'), 'the refusal');
    // Chromium reports each failed try with its address.
    await until(() => seen.some((text) => /WebSocket connection to .* failed/.test(text)), 'a failed try');
    serve = await startServe(sim.link, ['--token-file', tokenFile()], address);
    await until(async () => (await panelState(page)).status === '' && (await linkAlive(page)) &&
        !(await stale()), 'the page to follow the server back');
    await page.click('#Command3');
    assert.deepEqual(await commandsUpTo(from, 'eb 90 aa 08'), ['eb 90 aa 08']);
    seen.push(page.url(), await page.evaluate(() => document.cookie));
    assert.deepEqual(seen.filter((text) => text.includes(serve.token)), []);

    // A new token at the restart: the page says its key has gone stale,
    // which is not the read-only note of a page opened without one.
    await serve.stop();
    serve = await startServe(sim.link, [], address);
    await until(async () => (await panelState(page)).status === "This address's key is no longer valid: the server " +
        'was restarted; open the address it printed.' && await page.getAttribute('#Command1', 'aria-disabled') === 'true',
    'the stale key to be told');
    await page.goto(serve.url);
    await until(async () => (await page.getAttribute('#Command1', 'aria-disabled')) === 'false', 'control');
    await page.close();
});

test('a device that cannot be opened is named below the panel', { timeout: kPatience }, async () => {
    const missing = await startServe(dir.path('no-such-tty'), ['--token-file', tokenFile()]);
    try {
        const page = await browser.newPage();
        await page.goto(missing.url);
        await until(async () => / could not be opened: /.test((await panelState(page)).status), 'the reason');
        assert.ok((await panelState(page)).status.includes('no-such-tty'));
        // The link counts as lost while no device is open.
        await until(async () => !(await panelState(page)).image2, 'the link to count as lost');
        await page.close();
    } finally {
        await missing.stop();
    }
});
