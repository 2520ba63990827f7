// SPDX-License-Identifier: MIT
// Figures for korvale-cli serve and its page, each beside a floor run in the
// same invocation: a frame on the line to its text in Chromium's DOM (floor:
// a bare page on the same /live socket), the server's CPU and memory with 1
// and with many live clients (floor: watch alone on the same supply), and
// opening the page to its first reading with the bytes it cost. Run by
// scripts/bench-web, which builds the programs; prints key=value lines.
// Timings here are never pass/fail tests.
import { spawn } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { createConnection, createServer } from 'node:net';
import { join } from 'node:path';
import { performance } from 'node:perf_hooks';
import { createInterface } from 'node:readline';
import { cli, launchBrowser, scratch, startServe, startSim, startSupply, statusFrames, until } from '../tests/web/harness.mjs';

const args = Object.fromEntries(process.argv.slice(2).map((a) => a.replace(/^--/, '').split('=')));
const frames = Number(args.frames || 300); // per target, over `rounds` alternations
// Short turns, so that a burst of other work on the machine falls on both.
const rounds = Number(args.rounds || 10);
const seconds = Number(args.seconds || 20);
const clients = Number(args.clients || 100);
const openings = Number(args.openings || 20);
const out = args.out || '.';
// Whole frames at once instead of byte by byte at 1200 baud: the same frame
// rate with one wake-up of the server per frame instead of one per byte.
const simLine = ['--period', '250', '--numbered', ...(args.pace === 'no' ? ['--no-pace'] : [])];
const only = args.only ? args.only.split(',') : ['latency', 'cpu', 'opening', 'scpi'];
const queries = Number(args.queries || 1000); // round trips per target
const askers = Number(args.askers || 16); // SCPI connections asking at once

const now = () => performance.timeOrigin + performance.now();
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const load = () => readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
const sorted = (values) => [...values].sort((a, b) => a - b);
const quantile = (values, q) => {
    const s = sorted(values);
    return s[Math.min(s.length - 1, Math.max(0, Math.ceil(s.length * q) - 1))];
};
const median = (values) => {
    const s = sorted(values);
    return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const fixed = (v, n = 2) => (v === undefined ? 'none' : v.toFixed(n));
const report = (name, fields) => {
    const line = name + ' ' + Object.entries(fields).map(([k, v]) => `${k}=${v}`).join(' ');
    console.log(line);
    return line;
};

// A status frame whose Reading1 (Label1, the volts) is n hundredths.
const base = Buffer.from(statusFrames[0].frame, 'hex');
const frameOf = (n) => {
    const frame = Buffer.from(base);
    frame.writeUInt16BE(n, 2);
    return frame;
};
// Writes frames as a back-to-back line brings them: each with the next one's
// sync pair, which is what tells the reader a frame has ended (else it waits
// for the next frame or the line's quiet, 100 ms). The lone first sync pair,
// left to go quiet, puts the reader's 30-byte counts in step with the writes,
// as on a line. Each write resolves with the time it was handed to the kernel.
async function lineWriter(supply) {
    const sync = base.subarray(0, 2);
    for (const socket of supply.sockets)
        socket.write(sync);
    await sleep(300);
    return (frame) => new Promise((resolve) => {
        const bytes = Buffer.concat([frame.subarray(2), sync]);
        for (const socket of supply.sockets)
            socket.write(bytes, () => resolve(now()));
    });
}
const textOf = (n) => `${String(Math.floor(n / 100)).padStart(2, '0')}.${String(n % 100).padStart(2, '0')}`;

// The bare floor: the same origin and socket, one element, nothing else.
const kBarePage = `<!doctype html><p id="t"></p><script>
const t = document.getElementById('t');
const ws = new WebSocket('ws://' + location.host + '/live');
ws.onmessage = (e) => { const m = JSON.parse(e.data); if (m.type === 'panel') t.textContent = m.texts[0]; };
</script>`;

// Notes each text the element takes, with the page's wall-clock time.
function observe(page, id) {
    return page.evaluate((id) => {
        const element = document.getElementById(id);
        window.seen = [];
        new MutationObserver(() => window.seen.push([element.textContent, performance.timeOrigin + performance.now()]))
            .observe(element, { childList: true, characterData: true, subtree: true });
    }, id);
}

// ---- A frame's last byte to its text in the DOM ---------------------------
async function latency() {
    const supply = await startSupply();
    const serve = await startServe(supply.device);
    const browser = await launchBrowser();
    await until(() => supply.connected(), 'serve to connect');
    const delays = { page: [], floor: [] };
    const missed = { page: 0, floor: 0 };
    let n = 1000;
    const write = await lineWriter(supply);
    const loads = [];
    for (let round = 0; round < rounds; ++round) {
        for (const target of ['page', 'floor']) {
            const page = await browser.newPage();
            const id = target === 'page' ? 'Label1' : 't';
            if (target === 'page') {
                await page.goto(serve.url);
            } else {
                await page.goto(serve.base + '/metrics');
                await page.evaluate((html) => { document.open(); document.write(html); document.close(); }, kBarePage);
            }
            // Live once a frame written now shows.
            await observe(page, id);
            const warm = textOf(n++);
            await until(async () => {
                await write(frameOf(n - 1));
                return page.evaluate((t) => window.seen.some(([text]) => text === t), warm);
            }, 'the page to follow');
            loads.push(load());
            const sent = [];
            for (let i = 0; i < Math.ceil(frames / rounds); ++i) {
                const k = n++ % 10000;
                sent.push([textOf(k), await write(frameOf(k))]);
                // Apart by more than a frame's way through, at no fixed phase.
                await sleep(40 + Math.random() * 20);
            }
            await sleep(500);
            const seen = new Map();
            for (const [text, at] of await page.evaluate(() => window.seen))
                if (!seen.has(text))
                    seen.set(text, at);
            for (const [text, at] of sent) {
                if (seen.has(text))
                    delays[target].push(seen.get(text) - at);
                else
                    ++missed[target];
            }
            await page.close();
        }
    }
    await browser.close();
    await serve.stop();
    await supply.close();
    const m = { page: median(delays.page), floor: median(delays.floor) };
    const p = { page: quantile(delays.page, 0.99), floor: quantile(delays.floor, 0.99) };
    writeFileSync(join(out, 'latency.json'), JSON.stringify(delays));
    return [report('latency', {
        frames: delays.page.length, missed: missed.page, median_ms: fixed(m.page), p99_ms: fixed(p.page),
        floor_frames: delays.floor.length, floor_missed: missed.floor, floor_median_ms: fixed(m.floor),
        floor_p99_ms: fixed(p.floor), ratio_median: fixed(m.page / m.floor), ratio_p99: fixed(p.page / p.floor),
        load: JSON.stringify(loads),
    })];
}

// ---- CPU and memory at the full frame rate ---------------------------------
// korvale-sim paced at the line's own 250 ms frame time, so frames come back
// to back, numbered so that every one changes Label1 and reaches every client
// (the server sends only what changed).
const kHz = 100; // CLK_TCK on Linux
const cpuSeconds = (pid) => {
    const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
    return (Number(fields[11]) + Number(fields[12])) / kHz;
};
const memory = (pid) => {
    const status = readFileSync(`/proc/${pid}/status`, 'utf8');
    const kib = (key) => Number(new RegExp(`^${key}:\\s+(\\d+)`, 'm').exec(status)[1]);
    return { rss: kib('VmRSS'), hwm: kib('VmHWM') };
};

// CPU as % of a core over the window, and memory at its end.
async function measure(pid) {
    const loadBefore = load();
    const c0 = cpuSeconds(pid);
    const t0 = now();
    await sleep(seconds * 1000);
    const cpu = (cpuSeconds(pid) - c0) / ((now() - t0) / 1000) * 100;
    return { cpu, ...memory(pid), load: `"${loadBefore} / ${load()}"` };
}

async function serveWith(count) {
    const dir = scratch();
    const sim = await startSim(dir.dir, simLine);
    const serve = await startServe(sim.link);
    let messages = 0;
    const sockets = [];
    for (let i = 0; i < count; ++i) {
        const ws = new WebSocket(`${serve.base.replace('http', 'ws')}/live`);
        ws.onmessage = () => ++messages;
        sockets.push(ws);
    }
    await until(() => sockets.every((ws) => ws.readyState === WebSocket.OPEN), 'every client to connect');
    // Settled: the line open, frames flowing to every client.
    await until(() => messages >= count * 4, 'frames to reach the clients');
    await sleep(2000);
    const m0 = messages;
    const figures = await measure(serve.child.pid);
    figures.messages = messages - m0;
    figures.open = sockets.filter((ws) => ws.readyState === WebSocket.OPEN).length;
    for (const ws of sockets)
        ws.close();
    await serve.stop();
    await sim.stop();
    dir.remove();
    return figures;
}

async function watchAlone() {
    const dir = scratch();
    const sim = await startSim(dir.dir, simLine);
    const log = dir.path('watch.jsonl');
    const child = spawn(cli, ['--device', sim.link, 'watch', '--format', 'jsonl', '--output', log],
        { stdio: ['ignore', 'ignore', 'inherit'] });
    const rows = () => { try { return (readFileSync(log, 'utf8').match(/"V"/g) || []).length; } catch { return 0; } };
    await until(() => rows() > 0, 'watch to log a row');
    await sleep(2000);
    const r0 = rows();
    const figures = await measure(child.pid);
    figures.rows = rows() - r0;
    child.kill('SIGTERM');
    await new Promise((resolve) => child.once('exit', resolve));
    await sim.stop();
    dir.remove();
    return figures;
}

async function cpu() {
    const watch = await watchAlone();
    const one = await serveWith(1);
    const many = await serveWith(clients);
    const perClient = (many.rss - one.rss) / (clients - 1);
    return [
        report('cpu_watch', { seconds, cpu_pct: fixed(watch.cpu, 3), rss_kib: watch.rss, hwm_kib: watch.hwm, rows: watch.rows, load: watch.load }),
        report('cpu_serve_1', { seconds, cpu_pct: fixed(one.cpu, 3), rss_kib: one.rss, hwm_kib: one.hwm, messages: one.messages, open: one.open, load: one.load }),
        report(`cpu_serve_${clients}`, { seconds, cpu_pct: fixed(many.cpu, 3), rss_kib: many.rss, hwm_kib: many.hwm, messages: many.messages, open: many.open, load: many.load }),
        report('cpu_summary', { pace: args.pace || 'yes', clients, rss_per_client_kib: fixed(perClient, 1),
            hwm_per_client_kib: fixed((many.hwm - one.hwm) / (clients - 1), 1),
            ratio_cpu_many_to_watch: fixed(many.cpu / watch.cpu), ratio_cpu_one_to_watch: fixed(one.cpu / watch.cpu) }),
    ];
}

// ---- Opening the page to its first reading, and what it costs ------------
// The first reading is Label1's first text set by the page's script: setting
// textContent replaces the parsed text node, which the parser never does.
const kFirstReading = `(() => {
    new MutationObserver((records) => {
        for (const r of records)
            if (r.target.id === 'Label1' && r.removedNodes.length && window.firstReading === undefined)
                window.firstReading = performance.timeOrigin + performance.now();
    }).observe(document, { childList: true, subtree: true });
})();`;

async function opening() {
    const supply = await startSupply();
    const serve = await startServe(supply.device);
    const browser = await launchBrowser();
    await until(() => supply.connected(), 'serve to connect');
    // Back to back at the line's own frame time.
    const kPeriodMs = 250;
    let k = 0;
    const write = await lineWriter(supply);
    const timer = setInterval(() => write(frameOf(k++ % 10000)), kPeriodMs);
    const after = [], loadAt = [], bytes = [], wsBytes = [], floorLoad = [], floorBytes = [];
    const loads = [];
    for (let i = 0; i < openings; ++i) {
        for (const target of ['floor', 'page']) {
            // A fresh context: nothing cached, every byte counted.
            const context = await browser.newContext();
            const page = await context.newPage();
            const cdp = await context.newCDPSession(page);
            await cdp.send('Network.enable');
            const tally = { http: 0, ws: 0, wsAfter: 0 };
            let shown = false;
            cdp.on('Network.loadingFinished', (e) => { tally.http += e.encodedDataLength; });
            // Frames' payloads (the handshake's headers are in neither).
            const frame = (e) => { if (!shown) tally.ws += Buffer.byteLength(e.response.payloadData); };
            cdp.on('Network.webSocketFrameReceived', frame);
            cdp.on('Network.webSocketFrameSent', frame);
            if (target === 'page')
                await page.addInitScript(kFirstReading);
            await page.goto(target === 'page' ? serve.url : serve.base + '/metrics', { waitUntil: 'load' });
            const nav = await page.evaluate(() => {
                const n = performance.getEntriesByType('navigation')[0];
                return { origin: performance.timeOrigin, start: n.startTime, load: n.loadEventStart };
            });
            if (target === 'floor') {
                floorLoad.push(nav.load - nav.start);
                floorBytes.push(tally.http);
            } else {
                const first = await until(() => page.evaluate(() => window.firstReading), 'a first reading');
                shown = true;
                loads.push(load());
                loadAt.push(nav.load - nav.start);
                after.push(first - (nav.origin + nav.load));
                // Responses whose loading finished after the socket's first
                // reading still count: wait for the page to be quiet.
                await page.waitForLoadState('networkidle');
                bytes.push(tally.http);
                wsBytes.push(tally.ws);
            }
            await context.close();
        }
    }
    clearInterval(timer);
    await browser.close();
    await serve.stop();
    await supply.close();
    return [report('opening', {
        openings, load_median_ms: fixed(median(loadAt), 1), load_worst_ms: fixed(Math.max(...loadAt), 1),
        first_after_load_median_ms: fixed(median(after), 1), first_after_load_worst_ms: fixed(Math.max(...after), 1),
        period_ms: kPeriodMs, http_bytes: median(bytes), ws_bytes: median(wsBytes),
        total_bytes: median(bytes) + median(wsBytes), floor_load_median_ms: fixed(median(floorLoad), 1),
        floor_bytes: median(floorBytes), load: JSON.stringify(loads.slice(0, 1).concat(loads.slice(-1))),
    })];
}

// ---- SCPI: a query's round trip, and the server under askers and pages ----
// serve --scpi on the simulator; its two printed lines read.
async function startScpiServe(device) {
    const child = spawn(cli, ['serve', '--device', device, '--http', '127.0.0.1:0', '--scpi', '0',
        '--no-announce'], { stdio: ['ignore', 'pipe', 'inherit'] });
    const printed = [];
    createInterface({ input: child.stdout }).on('line', (line) => printed.push(line));
    await until(() => printed.length >= 2, 'serve --scpi to print its two lines');
    return {
        child, base: /^panel on (http:\/\/[^/]+)\//.exec(printed[0])[1],
        port: Number(/::(\d+)::SOCKET$/.exec(printed[1])[1]),
        stop: () => new Promise((resolve) => { child.once('exit', resolve); child.kill('SIGTERM'); }),
    };
}

// A line-at-a-time client: ask() resolves with the answer line.
function lineClient(port) {
    return new Promise((resolve, reject) => {
        const waiting = [];
        let buffer = '';
        const socket = createConnection({ host: '127.0.0.1', port, noDelay: true }, () => resolve({
            ask: (text) => new Promise((answer) => { waiting.push(answer); socket.write(text + '\n'); }),
            close: () => socket.destroy(),
        }));
        socket.once('error', reject);
        socket.setEncoding('latin1');
        socket.on('data', (data) => {
            buffer += data;
            for (let at; (at = buffer.indexOf('\n')) >= 0; buffer = buffer.slice(at + 1))
                waiting.shift()(buffer.slice(0, at));
        });
    });
}

// The floor: socat echoing on a port of its own, one process, as bare as TCP gets.
async function startEcho() {
    const probe = createServer();
    await new Promise((resolve) => probe.listen(0, '127.0.0.1', resolve));
    const port = probe.address().port;
    await new Promise((resolve) => probe.close(resolve));
    const child = spawn('socat', [`TCP-LISTEN:${port},bind=127.0.0.1,reuseaddr`, 'PIPE'], { stdio: 'ignore' });
    const client = await until(() => lineClient(port).catch(() => null), 'socat to listen');
    return { port, client, stop: () => { client.close(); child.kill('SIGTERM'); } };
}

async function roundTrip() {
    const dir = scratch();
    const sim = await startSim(dir.dir, simLine);
    const serve = await startScpiServe(sim.link);
    const scpi = await lineClient(serve.port);
    const echo = await startEcho();
    // Answers only once frames come: the reading is real.
    await until(async () => (await scpi.ask('MEAS:VOLT?')) !== '9.91E+37', 'the first reading');
    const times = { scpi: [], echo: [] };
    const ask = async (client, text, into) => {
        const t0 = performance.now();
        await client.ask(text);
        into.push(performance.now() - t0);
    };
    for (let i = 0; i < 50; ++i) { // warm both up
        await ask(scpi, 'MEAS:VOLT?', []);
        await ask(echo.client, 'MEAS:VOLT?', []);
    }
    for (let round = 0; round < rounds; ++round) {
        for (let i = 0; i < queries / rounds; ++i)
            await ask(echo.client, 'MEAS:VOLT?', times.echo);
        for (let i = 0; i < queries / rounds; ++i)
            await ask(scpi, 'MEAS:VOLT?', times.scpi);
    }
    scpi.close();
    echo.stop();
    await serve.stop();
    await sim.stop();
    dir.remove();
    const ms = (v) => fixed(v, 3);
    return [report('scpi_round_trip', {
        queries: times.scpi.length, median_ms: ms(median(times.scpi)), p99_ms: ms(quantile(times.scpi, 0.99)),
        echo_median_ms: ms(median(times.echo)), echo_p99_ms: ms(quantile(times.echo, 0.99)),
        ratio_median: fixed(median(times.scpi) / median(times.echo)),
        ratio_p99: fixed(quantile(times.scpi, 0.99) / quantile(times.echo, 0.99)), load: `"${load()}"`,
    })];
}

// `count` pages and `asking` connections asking MEAS:VOLT? back to back.
// Numbered frames: a page that sees every frame sees Label1 count up by one.
async function scpiWith(count, asking) {
    const dir = scratch();
    const sim = await startSim(dir.dir, simLine);
    const serve = await startScpiServe(sim.link);
    const pages = [];
    for (let i = 0; i < count; ++i) {
        const page = { ws: new WebSocket(`${serve.base.replace('http', 'ws')}/live`), last: -1, seen: 0, gaps: 0 };
        page.ws.onmessage = (event) => {
            const message = JSON.parse(event.data);
            if (message.type !== 'panel')
                return;
            const n = Math.round(Number(message.texts[0]) * 100);
            if (n === page.last)
                return; // a blink, not a frame
            page.gaps += page.last >= 0 && n !== page.last + 1 && n > page.last ? 1 : 0;
            page.last = n;
            ++page.seen;
        };
        pages.push(page);
    }
    await until(() => pages.every((page) => page.seen >= 4), 'frames to reach every page');
    const clients = await Promise.all(Array.from({ length: asking }, () => lineClient(serve.port)));
    let answered = 0;
    let running = true;
    const loops = clients.map(async (client) => {
        while (running) {
            await client.ask('MEAS:VOLT?');
            ++answered;
        }
    });
    await sleep(2000);
    const a0 = answered;
    const seen0 = pages.map((page) => page.seen);
    const gaps0 = pages.reduce((sum, page) => sum + page.gaps, 0);
    const figures = await measure(serve.child.pid);
    figures.queries_per_s = fixed((answered - a0) / seconds, 0);
    const seen = pages.map((page, i) => page.seen - seen0[i]);
    figures.page_frames_min = Math.min(...seen);
    figures.page_frames_max = Math.max(...seen);
    figures.gaps = pages.reduce((sum, page) => sum + page.gaps, 0) - gaps0;
    running = false;
    await Promise.all(loops);
    clients.forEach((client) => client.close());
    pages.forEach((page) => page.ws.close());
    await serve.stop();
    await sim.stop();
    dir.remove();
    return figures;
}

async function scpiCpu() {
    const idle = await scpiWith(clients, 0);
    const busy = await scpiWith(clients, askers);
    const line = (name, f, extra = {}) => report(name, { seconds, cpu_pct: fixed(f.cpu, 3), rss_kib: f.rss, ...extra,
        page_frames_min: f.page_frames_min, page_frames_max: f.page_frames_max, gaps: f.gaps, load: f.load });
    return [
        line(`scpi_cpu_pages_${clients}_askers_0`, idle),
        line(`scpi_cpu_pages_${clients}_askers_${askers}`, busy, { queries_per_s: busy.queries_per_s }),
        report('scpi_cpu_summary', { ratio_cpu_askers_to_none: fixed(busy.cpu / idle.cpu) }),
    ];
}

const lines = [];
if (only.includes('scpi'))
    lines.push(...await roundTrip(), ...await scpiCpu());
if (only.includes('latency'))
    lines.push(...await latency());
if (only.includes('cpu'))
    lines.push(...await cpu());
if (only.includes('opening'))
    lines.push(...await opening());
writeFileSync(join(out, 'results.txt'), lines.join('\n') + '\n');
