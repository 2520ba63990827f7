// SPDX-License-Identifier: MIT
// Real processes for the browser tests: korvale-cli serve, korvale-sim with
// its command log, a supply played over TCP by the test itself, and
// headless Chromium. Every wait is for a state, bounded only by the test's
// own timeout.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, existsSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

export const cli = process.env.KORVALE_CLI || 'korvale-cli';
export const sim = process.env.KORVALE_SIM || 'korvale-sim';

// A test that has not seen its state by then has failed: a bound for a
// broken build, far above any loaded machine's time (seconds, from the
// environment for the mutation runs).
export const kPatience = 1000 * Number(process.env.KORVALE_WEB_PATIENCE || 300);

// Polls `probe` until it returns a truthy value, which it returns.
export async function until(probe, what) {
    for (;;) {
        const value = await probe();
        if (value)
            return value;
        // A poll, not a guess at how long anything takes.
        await new Promise((resolve) => setTimeout(resolve, 25, what));
    }
}

export function scratch() {
    const dir = mkdtempSync(join(tmpdir(), 'korvale-web-'));
    return { dir, path: (name) => join(dir, name), remove: () => rmSync(dir, { recursive: true, force: true }) };
}

function firstLine(child, name) {
    return new Promise((resolve, reject) => {
        const lines = createInterface({ input: child.stdout });
        lines.once('line', (line) => resolve(line));
        child.once('exit', (code) => reject(new Error(`${name} exited with ${code} before its first line`)));
    });
}

function stopper(child) {
    return () => new Promise((resolve) => {
        if (child.exitCode !== null || child.signalCode !== null)
            return resolve();
        child.once('exit', () => resolve());
        child.kill('SIGTERM');
    });
}

// `korvale-cli serve` on a port the system chooses; resolves once it has
// said where the panel is.
export async function startServe(device, extra = [], http = '127.0.0.1:0') {
    const child = spawn(cli, ['serve', '--device', device, '--http', http, ...extra],
        { stdio: ['ignore', 'pipe', 'inherit'] });
    const line = await firstLine(child, 'korvale-cli serve');
    const match = /^panel on (http:\/\/[^/]+)\/\?token=([0-9A-Za-z]+)$/.exec(line);
    if (!match)
        throw new Error('unexpected first line: ' + line);
    return { child, base: match[1], token: match[2], url: `${match[1]}/?token=${match[2]}`, stop: stopper(child) };
}

// The simulated supply on a pseudo-terminal, logging each command frame.
export async function startSim(dir, extra = []) {
    const link = join(dir, 'sim-tty');
    const log = join(dir, 'commands.log');
    const child = spawn(sim, ['--link', link, '--command-log', log, ...extra],
        { stdio: ['ignore', 'pipe', 'inherit'] });
    await firstLine(child, 'korvale-sim');
    return {
        child, link, log, stop: stopper(child),
        // The command frames received so far, one "eb 90 kk dd" a line.
        commands: () => (existsSync(log) ? readFileSync(log, 'latin1').split('\n').filter(Boolean) : []),
    };
}

// A supply played by the test: serve connects to it as socket://; the test
// writes the exact frames it wants and sees the bytes sent back.
export async function startSupply() {
    const supply = { sockets: new Set(), received: Buffer.alloc(0) };
    const server = createServer((socket) => {
        supply.sockets.add(socket);
        socket.on('data', (data) => { supply.received = Buffer.concat([supply.received, data]); });
        socket.on('close', () => supply.sockets.delete(socket));
        socket.on('error', () => {});
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const { port } = server.address();
    supply.device = `socket://127.0.0.1:${port}`;
    supply.connected = () => supply.sockets.size > 0;
    supply.send = (hex) => {
        for (const socket of supply.sockets)
            socket.write(Buffer.from(hex, 'hex'));
    };
    // Keeps sending one frame, as a supply does, until told to fall silent.
    let timer = null;
    supply.play = (hex) => {
        clearInterval(timer);
        supply.send(hex);
        timer = setInterval(() => supply.send(hex), 200);
    };
    supply.silence = () => clearInterval(timer);
    // The cable pulled: serve cannot open the device until it is back.
    supply.unplug = () => new Promise((resolve) => {
        server.close(resolve);
        supply.sockets.forEach((socket) => socket.destroy());
    });
    supply.plug = () => new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
    supply.close = () => new Promise((resolve) => {
        clearInterval(timer);
        for (const socket of supply.sockets)
            socket.destroy();
        server.close(() => resolve());
    });
    return supply;
}

export function launchBrowser() {
    return chromium.launch({ executablePath: process.env.KORVALE_CHROMIUM || '/usr/bin/chromium',
        headless: true, args: ['--no-sandbox'] });
}

// What a page shows: Label1..6's texts and which of the watched indicators
// are visible.
export function panelState(page) {
    return page.evaluate(() => {
        const visible = [];
        for (let n = 7; n <= 16; ++n)
            if (document.getElementById('Label' + n).checkVisibility())
                visible.push(n);
        return {
            texts: [1, 2, 3, 4, 5, 6].map((n) => document.getElementById('Label' + n).textContent),
            visible,
            image2: document.getElementById('Image2').checkVisibility(),
            image3: document.getElementById('Image3').checkVisibility(),
            status: document.getElementById('status').textContent,
        };
    });
}

export const statusFrames = JSON.parse(readFileSync(new URL('../data/status-frames.json', import.meta.url)));
