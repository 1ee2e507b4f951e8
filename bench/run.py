"""Side-by-side benchmark on loopback: postrine against the peers a user
would pick instead (curl and msmtp), sending the same work to the same
local server. Prints, per case, the median wall time and peak memory of
each tool, postrine's ratio to each peer, and the targets it missed.

    /usr/bin/python3 bench/run.py POSTRINE_BINARY [RUNS]
"""

import asyncio
import base64
import os
import resource
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

from aiosmtpd.controller import Controller

HERE = Path(__file__).resolve().parent
RELAY_DELAY = 0.020  # seconds added to every reply on its way back


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sink:
    """Accepts every message; keeps only its size."""

    def __init__(self):
        self.sizes = []

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # As a production server does: the client may pipeline its envelope.
        session.host_name = hostname
        return responses[:-1] + ["250-PIPELINING"] + responses[-1:]

    async def handle_DATA(self, server, session, envelope):
        self.sizes.append(len(envelope.original_content))
        return "250 OK"


class FastSink(threading.Thread):
    """A bare SMTP sink in the manner of Postfix's smtp-sink: reads in large
    pieces and looks only for the end of the data, so that a large message
    measures the client rather than the server's line parsing."""

    def __init__(self):
        super().__init__(daemon=True)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]

    def run(self):
        while True:
            conn, _ = self.listener.accept()
            threading.Thread(target=self.session, args=(conn,), daemon=True).start()

    @staticmethod
    def session(conn):
        conn.sendall(b"220 sink ESMTP\r\n")
        pending = b""
        in_data = False
        with conn:
            while True:
                piece = conn.recv(1 << 20)
                if not piece:
                    return
                pending += piece
                replies = []
                while True:
                    if in_data:
                        end = pending.find(b"\r\n.\r\n")
                        if end < 0:
                            pending = pending[-4:]
                            break
                        pending = pending[end + 5:]
                        in_data = False
                        replies.append(b"250 2.0.0 queued")
                        continue
                    nl = pending.find(b"\r\n")
                    if nl < 0:
                        break
                    verb = pending[:4].upper()
                    pending = pending[nl + 2:]
                    if verb == b"EHLO":
                        replies.append(b"250-sink\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 0")
                    elif verb == b"DATA":
                        replies.append(b"354 go ahead")
                        in_data = True
                        pending = b"\r\n" + pending  # the end may follow at once
                    elif verb == b"QUIT":
                        conn.sendall(b"".join(r + b"\r\n" for r in replies) + b"221 bye\r\n")
                        return
                    else:
                        replies.append(b"250 ok")
                if replies:
                    conn.sendall(b"".join(r + b"\r\n" for r in replies))


def start_server(tls_context=None):
    sink = Sink()
    kwargs = dict(data_size_limit=None)
    if tls_context:
        kwargs["tls_context"] = tls_context
    controller = Controller(sink, hostname="127.0.0.1", port=free_port(), **kwargs)
    controller.start()
    return controller, sink


class Relay(threading.Thread):
    """A loopback relay that holds every chunk the server sends for 20 ms,
    as a distant server would: each round trip costs that much more."""

    def __init__(self, target_port):
        super().__init__(daemon=True)
        self.target_port = target_port
        self.port = free_port()
        self.loop = asyncio.new_event_loop()
        self.ready = threading.Event()

    async def pipe(self, reader, writer, delay):
        """Forwards every chunk `delay` seconds after it arrived, in order,
        without holding back the chunks behind it."""
        queue = asyncio.Queue()

        async def forward():
            while (item := await queue.get()) is not None:
                due, data = item
                await asyncio.sleep(max(0.0, due - self.loop.time()))
                writer.write(data)
                await writer.drain()
            writer.close()

        sender = asyncio.ensure_future(forward())
        try:
            while data := await reader.read(65536):
                await queue.put((self.loop.time() + delay, data))
        except ConnectionError:
            pass
        await queue.put(None)
        await sender

    async def handle(self, client_reader, client_writer):
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", self.target_port)
        await asyncio.gather(self.pipe(client_reader, server_writer, 0),
                             self.pipe(server_reader, client_writer, RELAY_DELAY))

    def run(self):
        asyncio.set_event_loop(self.loop)
        server = self.loop.run_until_complete(asyncio.start_server(self.handle, "127.0.0.1", self.port))
        self.ready.set()
        self.server = server
        self.loop.run_forever()


def measure(command, stdin_path=None, timeout=600):
    """Wall time in seconds and peak resident memory in KiB of one run, the
    peak as GNU time reports it for the tool alone."""
    with tempfile.NamedTemporaryFile("r") as report:
        stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
        started = time.monotonic()
        p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                             stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        watchdog = threading.Timer(timeout, p.kill)
        watchdog.start()
        _, status, _ = os.wait4(p.pid, 0)  # blocks without holding the interpreter
        elapsed = time.monotonic() - started
        watchdog.cancel()
        p.returncode = os.waitstatus_to_exitcode(status)
        if stdin_path:
            stdin.close()
        if p.returncode != 0:
            raise RuntimeError(f"{' '.join(command[:3])} ... exited {p.returncode}")
        return elapsed, int(report.read().split()[-1])


def make_certificates(d):
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=d, check=True, capture_output=True)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=bench CA", "-addext", "basicConstraints=critical,CA:TRUE")
    (d / "ext").write_text("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "ext")
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(d / "server.pem", d / "server.key")
    return context, d / "ca.pem"


def serve(work):
    """The servers, in a process of their own so that the measuring process
    never competes with them: prints the three ports, runs until stdin ends."""
    tls_context, _ = make_certificates(work)
    plain, _ = start_server()
    secure, _ = start_server(tls_context)
    relay = Relay(plain.port)
    relay.start()
    relay.ready.wait()
    fast = FastSink()
    fast.start()
    print(plain.port, secure.port, relay.port, fast.port, flush=True)
    sys.stdin.read()
    plain.stop()
    secure.stop()


def main():
    if sys.argv[1] == "--serve":
        serve(Path(sys.argv[2]))
        return
    postrine_binary = Path(sys.argv[1]).resolve()
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    work = Path(tempfile.mkdtemp(prefix="postrine-bench-"))
    shutil.copy2(postrine_binary, work / "postrine")
    sender = "bench@example.com"

    small = b"A short alert from a scheduled job.\n"
    big = (b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-_ lines\n" * 700000)[:50 * 1024 * 1024]
    (work / "small.txt").write_bytes(small)
    (work / "big.txt").write_bytes(big)
    header = f"From: {sender}\r\nTo: r0@example.com\r\nSubject: bench\r\n\r\n".encode()
    # The peers send a prepared message file as it is: give it CR LF lines.
    (work / "small.eml").write_bytes(header + small.replace(b"\n", b"\r\n"))
    (work / "big.eml").write_bytes(header + big.replace(b"\n", b"\r\n"))
    big_size = len(big)
    del big
    # The attachment and the message a peer would send for it: the same
    # multipart layout, the file as base64 in lines of 76.
    attachment_size = 200 * 1024 * 1024
    with open(work / "big.bin", "wb") as f, open(work / "attached.eml", "wb") as eml:
        eml.write(header.replace(b"\r\n\r\n", b"\r\nMIME-Version: 1.0\r\n"
                                 b"Content-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n"))
        eml.write(b"--=_b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + small.replace(b"\n", b"\r\n"))
        eml.write(b"\r\n--=_b\r\nContent-Type: application/octet-stream\r\n"
                  b"Content-Transfer-Encoding: base64\r\n\r\n")
        for _ in range(attachment_size // (57 * 1024 * 16)):
            block = os.urandom(57 * 1024 * 16)
            f.write(block)
            encoded = base64.b64encode(block)
            eml.write(b"".join(encoded[i:i + 76] + b"\r\n" for i in range(0, len(encoded), 76)))
        eml.write(b"\r\n--=_b--\r\n")
    many = [f"r{i}@example.com" for i in range(200)]

    servers = subprocess.Popen([sys.executable, __file__, "--serve", str(work)],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    plain_port, secure_port, relay_port, fast_port = map(int, servers.stdout.readline().split())
    ca_file = work / "ca.pem"

    def postrine(port, body, recipients, tls="off", ca=None, host="127.0.0.1", attach=None):
        ini = (f"[Settings]\r\nServerName={host}\r\nUserName=??\r\nPassword=??\r\n"
               f"Sender={sender}\r\nPortNumber={port}\r\nTLS={tls}\r\n")
        if ca:
            ini += f"CAFile={ca}\r\n"
        (work / "postrine.ini").write_text(ini)
        options = ["-a", str(work / attach)] if attach else []
        return measure([str(work / "postrine"), *options, str(work / body), ",".join(recipients)])

    def curl(port, eml, recipients, tls=False):
        cmd = ["curl", "-s", "--url", f"smtp://127.0.0.1:{port}", "--mail-from", sender, "-T", str(work / eml)]
        for r in recipients:
            cmd += ["--mail-rcpt", r]
        if tls:
            cmd += ["--ssl-reqd", "--cacert", str(ca_file)]
        return measure(cmd)

    def msmtp(port, eml, recipients, tls=False):
        cmd = ["msmtp", "--host=127.0.0.1", f"--port={port}", f"--from={sender}", "--auth=off"]
        cmd += ["--tls=on", "--tls-starttls=on", f"--tls-trust-file={ca_file}"] if tls else ["--tls=off"]
        return measure(cmd + ["--"] + recipients, stdin_path=work / eml)

    # Each case: its name, the size of what is sent, the tools, and the
    # targets: postrine's largest time ratio to a peer, and its largest
    # peak memory in MiB. The large messages go to the bare sink, which
    # keeps up with any client; the rest to aiosmtpd.
    cases = [
        ("one small message", len(small), {
            "postrine": lambda: postrine(plain_port, "small.txt", ["r0@example.com"]),
            "curl": lambda: curl(plain_port, "small.eml", ["r0@example.com"]),
            "msmtp": lambda: msmtp(plain_port, "small.eml", ["r0@example.com"])}, {}, None),
        ("a 50 MiB body", big_size, {
            "postrine": lambda: postrine(fast_port, "big.txt", ["r0@example.com"]),
            "curl": lambda: curl(fast_port, "big.eml", ["r0@example.com"]),
            "msmtp": lambda: msmtp(fast_port, "big.eml", ["r0@example.com"])}, {"curl": 0.9}, 16),
        ("a 200 MiB attachment", attachment_size, {
            "postrine": lambda: postrine(fast_port, "small.txt", ["r0@example.com"], attach="big.bin"),
            "curl": lambda: curl(fast_port, "attached.eml", ["r0@example.com"])}, {"curl": 1.2}, 16),
        ("200 recipients, 20 ms per round trip", len(small), {
            "postrine": lambda: postrine(relay_port, "small.txt", many),
            "curl": lambda: curl(relay_port, "small.eml", many),
            "msmtp": lambda: msmtp(relay_port, "small.eml", many)}, {"msmtp": 0.45}, None),
        ("one small message over STARTTLS", len(small), {
            "postrine": lambda: postrine(secure_port, "small.txt", ["r0@example.com"], "starttls", ca_file),
            "curl": lambda: curl(secure_port, "small.eml", ["r0@example.com"], tls=True),
            "msmtp": lambda: msmtp(secure_port, "small.eml", ["r0@example.com"], tls=True)}, {}, None),
    ]

    print(f"{runs} runs per tool and case; median wall time, peak resident memory\n")
    failures = []
    for name, _, tools, time_targets, memory_target in cases:
        # One warm-up run each, then the tools take turns, so that no tool
        # gains from running after the others.
        samples = {tool: [] for tool in tools}
        for tool, run in tools.items():
            run()
        for _ in range(runs):
            for tool, run in tools.items():
                samples[tool].append(run())
        results = {tool: (statistics.median(x[0] for x in got), max(x[1] for x in got))
                   for tool, got in samples.items()}
        print(name)
        for tool, (seconds, kib) in results.items():
            print(f"  {tool:9s} {seconds * 1000:9.1f} ms {kib / 1024:9.1f} MiB")
        p_time, p_mem = results["postrine"]
        ratios = "  ".join(f"{t} x{p_time / s:.2f} time, x{p_mem / m:.2f} memory"
                           for t, (s, m) in results.items() if t != "postrine")
        print(f"  postrine to {ratios}")
        for peer, most in time_targets.items():
            if p_time > results[peer][0] * most:
                failures.append(f"{name}: x{p_time / results[peer][0]:.2f} {peer}'s time, target x{most}")
        if memory_target and p_mem > memory_target * 1024:
            failures.append(f"{name}: peak memory {p_mem / 1024:.1f} MiB, target {memory_target} MiB")
        print()
    servers.stdin.close()
    servers.wait(timeout=30)
    shutil.rmtree(work)
    print("targets met" if not failures else "targets missed:\n  " + "\n  ".join(failures))


if __name__ == "__main__":
    main()
