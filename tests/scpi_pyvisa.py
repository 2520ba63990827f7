#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# korvale-cli serve --scpi as a bench script sees it: pyvisa (pure Python
# backend) on the printed resource, against korvale-sim, and against a second
# supply model whose knob makes other steps. Loopback only.
#   scpi_pyvisa.py KORVALE_CLI KORVALE_SIM
import base64
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pyvisa

CLI, SIM = sys.argv[1], sys.argv[2]
NAN = "9.91E+37"
failures = []


def check(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: got {got!r}, wanted {wanted!r}")
        print(f"FAIL {what}: got {got!r}, wanted {wanted!r}", flush=True)


def until(what, test, seconds=15):
    """Polls `test` until it is true; bounded, never a fixed wait."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if test():
            return True
        time.sleep(0.02)
    failures.append(f"{what}: not within {seconds} s")
    print(f"FAIL {what}: not within {seconds} s", flush=True)
    return False


class Bench:
    """A simulator and a serve on it, with the two printed lines read."""

    def __init__(self, sim_args=()):
        self.dir = tempfile.TemporaryDirectory()
        link = os.path.join(self.dir.name, "supply")
        self.sim = subprocess.Popen([SIM, "--no-pace", "--period", "100", "--link", link, *sim_args],
                                    stdout=subprocess.DEVNULL)
        until("the simulator's link", lambda: os.path.exists(link), 5)
        self.serve = subprocess.Popen([CLI, "--device", link, "serve", "--http", "0", "--scpi", "0",
                                       "--no-announce"], stdout=subprocess.PIPE, text=True)
        panel = re.match(r"panel on http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})$",
                         self.serve.stdout.readline().strip())
        scpi = re.match(r"scpi on (TCPIP::127\.0\.0\.1::(\d+)::SOCKET)$",
                        self.serve.stdout.readline().strip())
        assert panel and scpi, "serve printed no panel and scpi lines"
        self.http, self.token = int(panel[1]), panel[2]
        self.resource, self.port = scpi[1], int(scpi[2])
        self.rm = pyvisa.ResourceManager("@py")

    def open(self, token=True):
        inst = self.rm.open_resource(self.resource, read_termination="\n", write_termination="\n",
                                     timeout=20000)
        if token:
            inst.write(f'SYST:PASS:CEN "{self.token}"')
        # Before the supply's first frame it is silent: wait as a script would.
        until("the first reading", lambda: inst.query("MEAS:VOLT?") != NAN)
        inst.write("*CLS")
        return inst

    def close(self):
        self.rm.close()
        for process in (self.serve, self.sim):
            process.send_signal(signal.SIGCONT)
            process.terminate()
            process.wait(10)
        self.dir.cleanup()


class Page:
    """The web panel's live channel, as a page holds it: every message read."""

    def __init__(self, port, token):
        self.sock = socket.create_connection(("127.0.0.1", port), 5)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /live?token={token} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                           f"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            self.buffer += self.sock.recv(4096)
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        assert head.startswith(b"HTTP/1.1 101"), head
        self.sock.setblocking(False)

    def messages(self):
        """The text messages that have come since the last call."""
        try:
            while chunk := self.sock.recv(65536):
                self.buffer += chunk
        except BlockingIOError:
            pass
        out = []
        while len(self.buffer) >= 2:
            size, at = self.buffer[1] & 0x7F, 2
            if size == 126:
                size, at = int.from_bytes(self.buffer[2:4], "big"), 4
            elif size == 127:
                size, at = int.from_bytes(self.buffer[2:10], "big"), 10
            if len(self.buffer) < at + size:
                break
            out.append(self.buffer[at:at + size].decode())
            self.buffer = self.buffer[at + size:]
        return out


def answer(sock):
    try:
        return sock.recv(16)
    except OSError:
        return b""


def errors(inst):
    """The error queue, emptied."""
    found = []
    while not (line := inst.query("SYST:ERR?")).startswith("0,"):
        found.append(line)
    return found


def control(bench):
    inst = bench.open(token=False)
    check("*IDN?", re.match(r"Korvale,KPS-4005 DC supply 40V 5A,0,\d+\.\d+\.\d+$",
                            inst.query("*IDN?")) is not None, True)
    check("readings", re.fullmatch(r"\d+\.\d{2};\d+\.\d{3};\d+\.\d",
                                   inst.query("MEAS:VOLT?;CURR?;POW?")) is not None, True)
    inst.write("OUTP ON")
    check("OUTP without the token", errors(inst), ['-203,"Command protected"'])
    inst.write(f'SYST:PASS:CEN "{bench.token}"')
    check("token", inst.query("SYST:PASS:STAT?"), "1")
    inst.write("OUTP ON")
    check("OUTP ON done", inst.query("*OPC?"), "1")
    check("OUTP?", inst.query("OUTP?"), "1")
    # The constant mode the output came on in, latched from the frames.
    check("its event latched", int(inst.query("STAT:OPER?")) & (256 | 1024 | 2048) != 0, True)
    check("voltage with the output on", float(inst.query("MEAS:VOLT?")) > 0, True)
    inst.write("VOLT 12.5")
    check("VOLT?", inst.query("VOLT?"), "12.50")
    inst.write("APPL 7.25,0.4")
    check("APPL", inst.query("VOLT?;CURR?"), "7.25;0.400")
    inst.write("VOLT 41")
    check("errors", errors(inst), ['-222,"Data out of range"'])
    check("no error", inst.query("SYST:ERR?"), '0,"No error"')
    inst.close()
    # The shell's one-liner.
    lxi = subprocess.run(["lxi", "scpi", "--address", "127.0.0.1", "--port", str(bench.port), "--raw",
                          "*IDN?"], capture_output=True, text=True, timeout=20)
    check("lxi scpi", "Korvale,KPS-4005" in lxi.stdout, True)


def two_connections(bench):
    a, b = bench.open(), bench.open()
    # Both asked before either is done: the instrument does one, then the other.
    a.write("VOLT 3.3;*OPC?")
    b.write("CURR 1.234;*OPC?")
    check("first connection's setting", a.read(), "1")
    check("second connection's setting", b.read(), "1")
    check("both settings", a.query("VOLT?;CURR?"), "3.30;1.234")
    check("their errors", errors(a) + errors(b), [])
    a.close()
    b.close()


def bounds(bench):
    inst = bench.open()
    page = Page(bench.http, bench.token)
    until("the page's first panel", lambda: any('"panel"' in m for m in page.messages()))
    # Asks, then goes before the answer: the job is cancelled, nothing else.
    gone = socket.create_connection(("127.0.0.1", bench.port))
    gone.sendall(f'SYST:PASS:CEN "{bench.token}";:VOLT 20;*OPC?\n'.encode())
    gone.close()
    # A flood behind a running job is cut; so are a line over the bound and
    # a client that asks and never reads (its answers counted once it is cut).
    flood = socket.create_connection(("127.0.0.1", bench.port))
    flood.sendall(f'SYST:PASS:CEN "{bench.token}";:VOLT 30\n'.encode())
    cut = []
    for sock, chunk in ((flood, b"*IDN?\n" * 4096), (socket.create_connection(("127.0.0.1", bench.port)),
                        b"A" * 8192), (socket.create_connection(("127.0.0.1", bench.port)), b"*IDN?\n" * 4096)):
        try:
            for _ in range(256):  # 6 MiB in, 45 MB of answers
                sock.sendall(chunk)
        except OSError:
            pass
        sock.settimeout(10)
        unread, closed = 0, False
        try:
            while data := sock.recv(1 << 20):
                unread += len(data)
            closed = True
        except ConnectionResetError:
            closed = True
        except OSError:
            pass  # still open
        cut.append(closed and unread < 16 << 20)
        sock.close()
    check("flood, long line, unread answers cut", cut, [True, True, True])
    # One past the bound is closed at once; a client that shuts its side
    # after asking still gets its answer.
    many = [socket.create_connection(("127.0.0.1", bench.port)) for _ in range(64)]
    for sock in many:
        try:
            sock.sendall(b"*OPT?\n")
            sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass  # the one refused may be gone already
        sock.settimeout(10)
    check("connections answered", [answer(sock) for sock in many].count(b"0\n"), 63)
    for sock in many:
        sock.close()
    page.messages()
    check("the other connection answers", inst.query("*IDN?").startswith("Korvale,"), True)
    inst.write("VOLT 9;*WAI")
    check("and sets", inst.query("VOLT?"), "9.00")
    # Numbered frames: every frame changes the panel the page is sent.
    until("the page still sees frames", lambda: any('"panel"' in m for m in page.messages()))
    inst.close()


def silence(bench):
    inst = bench.open()
    bench.sim.send_signal(signal.SIGSTOP)
    until("silence told", lambda: inst.query("MEAS:VOLT?") == NAN)
    # Queried while silent: not a number, at once, and -230 for each.
    check("silent readings", inst.query("MEAS:CURR?;:VOLT?;:OUTP?"), f"{NAN};{NAN};{NAN}")
    check("stale errors", set(errors(inst)), {'-230,"Data corrupt or stale"'})
    bench.sim.send_signal(signal.SIGCONT)
    until("readings back", lambda: inst.query("MEAS:VOLT?") != NAN)
    errors(inst)
    inst.close()


def other_model(bench):
    inst = bench.open()
    # Each reachable with its steps: 0.5 V and 0.05 V, 0.05 A and 2 mA, 7 W and 0.5 W.
    for command, shown in (("VOLT 17.3", "17.30"), ("VOLT 0.55", "0.55"), ("VOLT 40", "40.00"),
                           ("VOLT 0", "0.00"), ("CURR 1.234", "1.234"), ("POW 123.5", "123.5")):
        inst.write(command)
        check(f"{command} on the second model", inst.query(command.split()[0] + "?"), shown)
    check("second model's errors", errors(inst), [])
    inst.close()


def main():
    cases = [(control, ()), (two_connections, ()), (bounds, ("--numbered",)), (silence, ())]
    if os.environ.get("KORVALE_SECOND_MODEL", "1") == "1":
        cases.append((other_model, ("--knob-steps", "50,50,70,5,2,5")))
    passed = 0
    for case, sim_args in cases:
        before = len(failures)
        bench = Bench(sim_args)
        try:
            case(bench)
        except Exception as error:  # a timeout or a refused connection is a failure
            failures.append(f"{case.__name__}: {error!r}")
            print(f"FAIL {case.__name__}: {error!r}", flush=True)
        finally:
            bench.close()
        passed += len(failures) == before
        print(f"{case.__name__}: {'ok' if len(failures) == before else 'FAILED'}", flush=True)
    print(f"{passed} passed, {len(cases) - passed} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
