// SPDX-License-Identifier: MIT
// The README's nginx recipe, as it stands there, in front of serve with a
// self-signed certificate: the page, its live channel and its keys work
// over HTTPS, and /metrics is reached through it.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { kPatience, launchBrowser, panelState, scratch, startServe, startSim, until } from './harness.mjs';

const nginxBinary = process.env.KORVALE_NGINX || '/usr/sbin/nginx';
let dir, sim, serve, nginx, browser, httpsPort;

// The one ```nginx block of the README, so that what is tested is what
// readers copy.
function readmeRecipe() {
    const readme = readFileSync(new URL('../../README.md', import.meta.url), 'utf8');
    const blocks = [...readme.matchAll(/```nginx\n([\s\S]*?)```/g)];
    assert.equal(blocks.length, 1, 'the README holds one nginx recipe');
    return blocks[0][1];
}

function freePort() {
    return new Promise((resolve) => {
        const server = createServer();
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

before(async () => {
    dir = scratch();
    sim = await startSim(dir.dir);
    serve = await startServe(sim.link);
    execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1',
        '-subj', '/CN=localhost', '-keyout', dir.path('key.pem'), '-out', dir.path('cert.pem')],
        { stdio: 'ignore' });
    httpsPort = await freePort();
    const site = readmeRecipe()
        .replace(/listen\s+443 ssl;/, `listen 127.0.0.1:${httpsPort} ssl;`)
        .replace(/ssl_certificate\s+\S+;/, `ssl_certificate ${dir.path('cert.pem')};`)
        .replace(/ssl_certificate_key\s+\S+;/, `ssl_certificate_key ${dir.path('key.pem')};`)
        .replace(/proxy_pass\s+http:\/\/127\.0\.0\.1:8080;/, `proxy_pass ${serve.base};`);
    assert.notEqual(site.indexOf(serve.base), -1, 'the recipe proxies to 127.0.0.1:8080');
    mkdirSync(dir.path('temp'));
    writeFileSync(dir.path('nginx.conf'), `
${process.getuid?.() === 0 ? 'user root;' : ''}
daemon off;
pid ${dir.path('nginx.pid')};
error_log ${dir.path('error.log')};
events {}
http {
    access_log off;
    client_body_temp_path ${dir.path('temp')};
    proxy_temp_path ${dir.path('temp')};
    fastcgi_temp_path ${dir.path('temp')};
    uwsgi_temp_path ${dir.path('temp')};
    scgi_temp_path ${dir.path('temp')};
${site}
}
`);
    nginx = spawn(nginxBinary, ['-p', dir.dir, '-c', dir.path('nginx.conf')], { stdio: 'inherit' });
    await until(() => existsSync(dir.path('nginx.pid')), 'nginx started');
    browser = await launchBrowser();
});

after(async () => {
    await browser?.close();
    if (nginx && nginx.exitCode === null) {
        const ended = new Promise((resolve) => nginx.once('exit', resolve));
        nginx.kill('SIGTERM');
        await ended;
    }
    await serve?.stop();
    await sim?.stop();
    dir?.remove();
});

test('the page, its keys and /metrics through nginx over HTTPS', { timeout: kPatience }, async () => {
    const context = await browser.newContext({ ignoreHTTPSErrors: true });
    const page = await context.newPage();
    const origin = `https://localhost:${httpsPort}`;
    await page.goto(`${origin}/?token=${serve.token}`);
    // The simulator's limits show: frames came through the proxy's socket.
    await until(async () => (await panelState(page)).texts[3] === '12', 'a reading through nginx');
    const from = sim.commands().length;
    await page.locator('#Command10').click();
    await until(() => sim.commands().length > from, 'the I/O key through nginx');
    assert.deepEqual(sim.commands().slice(from), ['eb 90 aa 0c']);
    await until(async () => (await panelState(page)).visible.includes(14), 'the output shown on');
    const metrics = await page.evaluate(async () => (await fetch('/metrics')).text());
    assert.match(metrics, /^korvale_up\{[^}]*\} 1$/m);
    await context.close();
});
