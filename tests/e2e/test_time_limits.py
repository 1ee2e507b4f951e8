"""A peer that keeps the line alive without ever answering in time: a proxy
in front of a real server passes the server's bytes on one at a time,
slowly, from a chosen moment. Each byte comes well within the time-out, the
whole answer never does; whatever stage it hits, clear text or TLS, the run
ends within the time-out and says so, exit 75."""

import socket
import ssl
import threading
import time

import pytest

from conftest import native, tls_files
from smtp_server import server_context

TIMEOUT = 2  # seconds
PAUSE = 0.2  # between two trickled bytes


class TricklingProxy:
    """Forwards one connection to `upstream`. The client's bytes go on at
    once; the server's too, until the client has sent `after` (at once when
    None) and the server has then sent `lines_first` more lines; from there
    the server's bytes trickle."""

    def __init__(self, upstream, after=None, lines_first=0):
        self.upstream = upstream
        self.after = after
        self.lines_first = lines_first
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.triggered = threading.Event()
        if after is None:
            self.triggered.set()
        self.threads = []
        self.sockets = []

    def __enter__(self):
        self.threads.append(threading.Thread(target=self.serve, daemon=True))
        self.threads[0].start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.listener.close()
        for s in self.sockets:  # ends a wait for the other side
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for t in self.threads:
            t.join(timeout=10)

    def serve(self):
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        server = socket.create_connection(("127.0.0.1", self.upstream))
        self.sockets += [client, server]
        with client, server:
            up = threading.Thread(target=self.client_to_server, args=(client, server), daemon=True)
            up.start()
            self.server_to_client(server, client)
            up.join(timeout=5)

    def client_to_server(self, client, server):
        seen = b""
        try:
            while not self.stopping.is_set():
                data = client.recv(65536)
                if not data:
                    return
                seen = (seen + data)[-4096:]
                if self.after is not None and self.after in seen:
                    self.triggered.set()
                server.sendall(data)
        except OSError:
            return

    def server_to_client(self, server, client):
        lines_left = self.lines_first
        try:
            while not self.stopping.is_set():
                data = server.recv(65536)
                if not data:
                    return
                for i, byte in enumerate(data):
                    if not self.triggered.is_set() or lines_left > 0:
                        client.sendall(bytes([byte]))
                        if self.triggered.is_set() and byte == 0x0A:
                            lines_left -= 1
                        continue
                    if self.stopping.wait(PAUSE):
                        return
                    client.sendall(bytes([byte]))
        except OSError:
            return


class TricklingTlsServer:
    """SMTPS on loopback that completes the TLS handshake, then sends the
    record holding its greeting one byte every `pause` seconds: a peer that
    keeps a connection alive without ever answering in time."""

    def __init__(self, cert, key, pause):
        self.context = server_context(cert, key)
        self.pause = pause
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.listener.close()
        self.thread.join(timeout=10)

    def serve(self):
        try:
            connection, _ = self.listener.accept()
        except OSError:
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


class MeteredProxy(TricklingProxy):
    """Forwards one connection to `upstream`, the server's bytes at once
    and the client's at `rate` bytes a second, as a slow but steady link
    does; after `stall_after` bytes (when given) it takes no more, as a
    stuck one does."""

    def __init__(self, upstream, rate, stall_after=None):
        super().__init__(upstream)
        self.rate = rate
        self.stall_after = stall_after
        self.taken = 0  # bytes read from the client so far
        # A small window, so that the rate holds from the first bytes on.
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)

    def client_to_server(self, client, server):
        started = time.monotonic()
        try:
            while not self.stopping.is_set():
                if self.stall_after is not None and self.taken >= self.stall_after:
                    self.stopping.wait(120)
                    return
                due = started + self.taken / self.rate - time.monotonic()
                if due > 0 and self.stopping.wait(due):
                    return
                data = client.recv(8192)
                if not data:
                    return
                self.taken += len(data)
                server.sendall(data)
        except OSError:
            return

    def server_to_client(self, server, client):
        try:
            while data := server.recv(65536):
                client.sendall(data)
        except OSError:
            return


CASES = {
    # name: (server's TLS, TLS setting, trickle after, lines first, the error line's end)
    "clear-text reply": (None, "off", b"EHLO", 0, "[EHLO: the server did not answer: no answer within 2 seconds]"),
    "SMTPS handshake": ("smtps", "smtps", None, 0,
                        "[TLS handshake with localhost failed: no answer within 2 seconds]"),
    "STARTTLS handshake": ("starttls", "starttls", b"STARTTLS", 1,
                           "[STARTTLS: TLS handshake with localhost failed: no answer within 2 seconds]"),
}


@pytest.mark.parametrize("tls, setting, after, lines_first, ending", CASES.values(), ids=CASES.keys())
def test_a_trickling_server_cannot_stretch_the_time_out(program, smtp_server, certificates,
                                                        tls, setting, after, lines_first, ending):
    server = smtp_server(tls=tls, **(tls_files(certificates) if tls else {}))
    with TricklingProxy(server.port, after, lines_first) as proxy:
        program.configure(ServerName="localhost", PortNumber=proxy.port, TLS=setting,
                          CAFile=native(certificates / "ca.pem"), Timeout=str(TIMEOUT))
        started = time.monotonic()
        run = program.send()
        elapsed = time.monotonic() - started
    assert run.returncode == 75, run.lines
    assert run.lines[-1].endswith(ending), run.lines
    # Trickled to its end, each exchange would outlast this by far (and
    # end in a delivery, not in the time-out's words); the margin is for
    # starting the program on a busy machine.
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
        # Reaching the stall takes a second or two at the rate; the margin
        # is for a busy machine.
        assert elapsed < stall_after / RATE + TIMEOUT + 15, f"took {elapsed:.1f} s"
        assert server.messages == []


def test_a_server_that_trickles_its_greeting_under_tls_cannot_stretch_the_time_out(program, certificates):
    # The whole greeting would take some twenty seconds, each byte well
    # within the limit.
    with TricklingTlsServer(certificates / "good.pem", certificates / "good.key", pause=0.4) as server:
        program.configure(server, ServerName="localhost", CAFile=native(certificates / "ca.pem"), TLS="smtps",
                          Timeout=str(TIMEOUT))
        started = time.monotonic()
        run = program.send()
        elapsed = time.monotonic() - started
    assert run.returncode == 75, run.lines
    assert run.lines[1].endswith("[greeting: the server did not answer: no answer within 2 seconds]"), run.lines
    assert elapsed < TIMEOUT + 15
