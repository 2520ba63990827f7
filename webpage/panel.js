// SPDX-License-Identifier: MIT
// Follows the server's live channel: applies the panel's state (the
// direction marks too, which the server picks), sends each click once as
// "ID CONTROL[ TEXT]", and reconnects by itself. A click made
// while the channel is down is refused here, never kept for later.
'use strict';
(() => {
    const token = new URLSearchParams(location.search).get('token') || '';
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
    const kDown = 'The server cannot be reached; trying again...';

    let socket = null;
    let control = false;
    let nextId = 1;
    // One line below the panel; the most pressing note wins.
    const notes = { down: '', refused: '', line: '', readOnly: '' };
    const showNotes = () => {
        status.textContent = notes.down || notes.refused || notes.line || notes.readOnly;
    };

    const setControl = (allowed) => {
        control = allowed;
        for (const key of keys)
            key.setAttribute('aria-disabled', allowed ? 'false' : 'true');
        box.readOnly = !allowed;
        notes.readOnly = allowed ? '' : 'Read-only: open the link with its token to press keys.';
        showNotes();
    };

    const apply = (message) => {
        switch (message.type) {
        case 'hello':
            setControl(message.control === true);
            break;
        case 'panel': {
            (message.texts || []).forEach((text, i) => {
                if (readings[i])
                    readings[i].textContent = text;
            });
            const hidden = new Set(message.hidden || []);
            for (const item of indicators)
                item.hidden = hidden.has(item.id);
            notes.line = message.line || '';
            break;
        }
        case 'reply':
            notes.refused = message.sent ? '' : message.why || 'Not sent.';
            break;
        }
        showNotes();
    };

    const connect = () => {
        const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
        const ws = new WebSocket(scheme + location.host + '/live?token=' + encodeURIComponent(token));
        socket = ws;
        ws.onopen = () => {
            // A refusal for want of a server is over now it is back.
            notes.down = '';
            notes.refused = '';
            panel.classList.remove('stale');
            showNotes();
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
            notes.refused = 'Not sent: the server cannot be reached.';
            showNotes();
            return;
        }
        const text = n >= 12 ? ' ' + box.value : '';
        socket.send(nextId++ + ' Command' + n + text);
    };

    keys.forEach((key, i) => key.addEventListener('click', () => click(i + 1)));
    setControl(false);
    connect();
})();
