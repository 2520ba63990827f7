// SPDX-License-Identifier: MIT
// Follows the server's live channel: applies the panel's state (the
// direction marks too, which the server picks), sends each click once as
// "ID CONTROL[ TEXT]", and reconnects by itself. A click made
// while the channel is down is refused here, never kept for later.
'use strict';
(() => {
    // The server keeps the key of the address in a cookie the page cannot
    // read; the address loses it, so that no history, screenshot or log
    // holds it.
    const address = new URL(location.href);
    if (address.searchParams.has('token')) {
        address.searchParams.delete('token');
        history.replaceState(history.state, '', address.pathname + address.search + address.hash);
    }
    const byId = (id) => document.getElementById(id);
    const status = byId('status');
    const panel = byId('panel');
    const box = byId('Text1');
    const keys = [];
    for (let n = 1; n <= 13; ++n)
        keys.push(byId('Command' + n));
    const readings = [1, 2, 3, 4, 5, 6].map((n) => byId('Label' + n));
    const indicators = [7, 8, 9, 10, 11, 12, 13, 14, 15, 16].map((n) => 'Label' + n)
        .concat(['Image2', 'Image3', 'Image4', 'Image5']).map(byId);
    const linkState = byId('linkstate');
    const kDown = 'The server cannot be reached; trying again...';
    // A refused key is news for this long, unless a key goes through first.
    const kRefusalMs = 5000;

    // The panel takes the height the line below it leaves.
    new ResizeObserver(() => document.documentElement.style.setProperty(
        '--line', status.getBoundingClientRect().height + 'px')).observe(status);

    let socket = null;
    let control = false;
    let nextId = 1;
    let linkAlive = null;
    // One line below the panel; the most pressing note wins.
    const notes = { down: '', refused: '', line: '', readOnly: '' };
    const showNotes = () => {
        status.textContent = notes.down || notes.refused || notes.line || notes.readOnly;
    };
    let refusalTimer = 0;
    const refuse = (why) => {
        clearTimeout(refusalTimer);
        notes.refused = why;
        if (why)
            refusalTimer = setTimeout(() => refuse(''), kRefusalMs);
        showNotes();
    };

    const setControl = (allowed, why) => {
        control = allowed;
        for (const key of keys)
            key.setAttribute('aria-disabled', allowed ? 'false' : 'true');
        box.readOnly = !allowed;
        notes.readOnly = allowed ? '' : why || '';
        showNotes();
    };

    const showReading = (label, text) => {
        label.textContent = text;
        label.setAttribute('aria-valuetext', text + ' ' + label.dataset.unit);
        const value = Number(text);
        if (text.trim() !== '' && Number.isFinite(value))
            label.setAttribute('aria-valuenow', String(value));
    };

    const apply = (message) => {
        switch (message.type) {
        case 'hello':
            setControl(message.control === true, message.why);
            break;
        case 'panel': {
            (message.texts || []).forEach((text, i) => {
                if (readings[i])
                    showReading(readings[i], text);
            });
            const hidden = new Set(message.hidden || []);
            for (const item of indicators)
                item.hidden = hidden.has(item.id);
            // The steady picture stands for the link while it lives; its
            // going and coming are told once, not the other's blinking.
            const alive = !hidden.has('Image2');
            if (linkAlive !== null && alive !== linkAlive)
                linkState.textContent = byId(alive ? 'Image2' : 'Image3').alt;
            linkAlive = alive;
            // A refusal for want of the line is over once the line is back.
            const line = message.line || '';
            if (notes.line && !line)
                refuse('');
            notes.line = line;
            break;
        }
        case 'reply':
            refuse(message.sent ? '' : message.why || 'Not sent.');
            break;
        }
        showNotes();
    };

    const connect = () => {
        const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
        const ws = new WebSocket(scheme + location.host + '/live');
        socket = ws;
        ws.onopen = () => {
            // A refusal for want of a server is over now it is back.
            notes.down = '';
            refuse('');
            panel.classList.remove('stale');
        };
        ws.onmessage = (event) => {
            let message;
            try {
                message = JSON.parse(event.data);
            } catch {
                return;
            }
            apply(message);
        };
        ws.onclose = () => {
            if (socket !== ws)
                return;
            socket = null;
            notes.down = kDown;
            // What it shows is no longer current: greyed, until the server's
            // state replaces it.
            panel.classList.add('stale');
            showNotes();
            setTimeout(connect, 1000);
        };
    };

    const click = (n) => {
        if (!control)
            return;
        if (!socket || socket.readyState !== WebSocket.OPEN) {
            refuse('Not sent: the server cannot be reached.');
            return;
        }
        const text = n >= 12 ? ' ' + box.value : '';
        socket.send(nextId++ + ' Command' + n + text);
    };

    keys.forEach((key, i) => key.addEventListener('click', () => click(i + 1)));
    setControl(false);
    connect();
})();
