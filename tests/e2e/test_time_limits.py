"""A peer that keeps the line alive without ever answering in time, each
byte well within the time-out: the run ends within it and says so, exit 75.
And a slow reader, waited for while bytes move."""

import socket
import ssl
import threading
import time

import pytest

from conftest import native, tls_files
from smtp_server import server_context

TIMEOUT = 2  # seconds
PAUSE = 0.2  # between two trickled bytes


class Proxy:
    """Forwards one connection to the server on port `upstream` through
    up() and down()."""

    chunk = 65536

    def __init__(self, upstream=None):
        self.upstream = upstream
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.sockets = []
        self.thread = threading.Thread(target=self.serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.listener.close()
        for s in self.sockets:  # ends a wait for the other side
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self.thread.join(timeout=10)

    def accept(self):
        try:
            return self.listener.accept()[0]
        except OSError:
            return None

    def serve(self):
        client = self.accept()
        if client is None:
            return
        server = socket.create_connection(("127.0.0.1", self.upstream))
        self.sockets += [client, server]
        with client, server:
            up = threading.Thread(target=self.forward, args=(client, server, self.up), daemon=True)
            up.start()
            self.forward(server, client, self.down)
            up.join(timeout=5)

    def forward(self, source, sink, each):
        try:
            while not self.stopping.is_set() and (data := source.recv(self.chunk)):
                each(data, sink)
        except OSError:
            return

    def up(self, data, server):
        server.sendall(data)

    def down(self, data, client):
        client.sendall(data)


class TricklingProxy(Proxy):
    """The client's bytes go on at once; the server's trickle once the
    client has sent `after` (from the start when None)."""

    def __init__(self, upstream, after=None):
        super().__init__(upstream)
        self.after, self.seen = after, b""

    def up(self, data, server):
        self.seen = (self.seen + data)[-4096:]
        server.sendall(data)

    def down(self, data, client):
        for byte in data:
            if (self.after is None or self.after in self.seen) and self.stopping.wait(PAUSE):
                return
            client.sendall(bytes([byte]))


class MeteredProxy(Proxy):
    """The server's bytes go on at once, the client's at `rate` bytes a
    second, as a slow but steady link takes them; after `stall_after` bytes
    (when given) it takes no more, as a stuck one does."""

    chunk = 8192

    def __init__(self, upstream, rate, stall_after=None):
        super().__init__(upstream)
        self.rate, self.stall_after, self.taken = rate, stall_after, 0
        self.started = time.monotonic()
        # A small window, so that the rate holds from the first bytes on.
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)

    def up(self, data, server):
        self.taken += len(data)
        server.sendall(data)
        if self.stall_after is not None and self.taken >= self.stall_after:
            self.stopping.wait(120)
        else:
            self.stopping.wait(max(0.0, self.started + self.taken / self.rate - time.monotonic()))


class TricklingTlsServer(Proxy):
    """SMTPS that completes the TLS handshake, then sends the record holding
    its greeting one byte every `pause` seconds."""

    def __init__(self, cert, key, pause):
        super().__init__()
        self.context = server_context(cert, key)
        self.pause = pause

    def serve(self):
        connection = self.accept()
        if connection is None:
            return
        with connection:
            incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
            tls = self.context.wrap_bio(incoming, outgoing, server_side=True)
            try:
                while True:
                    try:
                        tls.do_handshake()
                        break
                    except ssl.SSLWantReadError:
                        connection.sendall(outgoing.read())
                        data = connection.recv(65536)
                        if not data:
                            return
                        incoming.write(data)
                connection.sendall(outgoing.read())
                tls.write(b"220 postrine.test trickling greeting\r\n")
                for byte in outgoing.read():
                    if self.stopping.wait(self.pause):
                        return
                    connection.sendall(bytes([byte]))
            except (OSError, ssl.SSLError):
                return


CASES = {
    # name: (server's TLS, TLS setting, the peer in front of it, the error line's end)
    "clear-text reply": (None, "off", lambda port, _: TricklingProxy(port, b"EHLO"),
                         "[EHLO: the server did not answer: no answer within 2 seconds]"),
    # STARTTLS takes the same handshake.
    "SMTPS handshake": ("smtps", "smtps", lambda port, _: TricklingProxy(port),
                        "[TLS handshake with localhost failed: no answer within 2 seconds]"),
    # Some twenty seconds in all, each byte well within the limit.
    "record under TLS": (None, "smtps", lambda _, c: TricklingTlsServer(c / "good.pem", c / "good.key", 0.4),
                         "[greeting: the server did not answer: no answer within 2 seconds]"),
}


@pytest.mark.parametrize("tls, setting, peer, ending", CASES.values(), ids=CASES.keys())
def test_a_trickling_server_cannot_stretch_the_time_out(program, smtp_server, certificates, tls, setting, peer,
                                                        ending):
    server = smtp_server(tls=tls, **(tls_files(certificates) if tls else {}))
    with peer(server.port, certificates) as proxy:
        program.configure(ServerName="localhost", PortNumber=proxy.port, TLS=setting,
                          CAFile=native(certificates / "ca.pem"), Timeout=str(TIMEOUT))
        started = time.monotonic()
        run = program.send()
        elapsed = time.monotonic() - started
    assert run.returncode == 75, run.lines
    assert run.lines[-1].endswith(ending), run.lines
    # Trickled to its end, each exchange would outlast this by far.
    assert elapsed < TIMEOUT + 15, f"took {elapsed:.1f} s"
    assert server.messages == []


# A message read at 400 KiB a second, as a slow but steady link reads it:
# each write waits for the system's send buffer (up to some megabytes) to
# drain in part, for longer than the time-out, while bytes move all the
# time. A link that stalls ends the send once the buffers are full.
RATE = 400 << 10
CASES_SLOW = {
    # name: (message size, bytes read before the stall)
    "steady": (4 << 20, None),
    "stalled": (6 << 20, 512 << 10),
}


@pytest.mark.parametrize("size, stall_after", CASES_SLOW.values(), ids=CASES_SLOW.keys())
def test_a_slow_reader_is_waited_for_while_bytes_move_and_left_when_none_do(program, smtp_server, size,
                                                                               stall_after):
    server = smtp_server()
    line = b"x" * 70 + b"\n"
    (program.directory / "mail.txt").write_bytes(line * (size // len(line)))
    with MeteredProxy(server.port, RATE, stall_after) as proxy:
        program.configure(PortNumber=proxy.port, Timeout=str(TIMEOUT))
        started = time.monotonic()
        run = program.run("mail.txt", "ops@example.com")
        elapsed = time.monotonic() - started
    if stall_after is None:
        assert run.returncode == 0, run.lines
        assert len(server.messages) == 1
    else:
        assert run.returncode == 75, run.lines
        assert run.lines[-1].endswith("[DATA: the connection failed while sending: no answer within 2 seconds]"), \
            run.lines
        assert elapsed < stall_after / RATE + TIMEOUT + 15, f"took {elapsed:.1f} s"
        assert server.messages == []
