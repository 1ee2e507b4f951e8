"""The protocol trace (the Trace setting) against real servers on loopback:
what a session over STARTTLS with a logon writes, that no form of the
password gets into it, a refusal, and a trace that cannot be written."""

import base64
import os
import re
import time

import pytest

from conftest import WINE, native, tls_files

PASSWORD = "s3cret pass"
LINE = re.compile(r"\[\d+\] +\d+ ms  (.*)")  # "[pid]  ms  event"


def configure(program, server, certificates=None, **more):
    ca = dict(CAFile=native(certificates / "ca.pem")) if certificates else {}
    program.configure(server, **{"ServerName": "localhost", "UserName": "??", "Trace": "trace.txt", **ca, **more})


def send(program, recipients="ops@example.com"):
    return program.send("-s", "Disk report", "mail.txt", recipients, body=b"first line\n.dotted\nlast line\n")


def events(program):
    """The events of the trace (named as the log file class names it), each
    line checked whole."""
    text = (program.directory / "trace.log").read_bytes().decode("latin-1")
    assert text.endswith("\r\n"), text[-200:]
    matches = [LINE.fullmatch(line) for line in text.split("\r\n")[:-1]]
    assert all(matches), text
    return [m[1] for m in matches]


def test_a_starttls_session_with_a_logon_is_traced_without_the_password(program, smtp_server, certificates):
    # LOGIN: the password travels alone, in base64, on a line of its own.
    server = smtp_server(tls="starttls", auth=True, auth_require_tls=True, mechanisms=["LOGIN"],
                         **tls_files(certificates))
    configure(program, server, certificates, UserName="mailuser", Password=PASSWORD)
    run = send(program)
    assert run.returncode == 0, run.lines
    assert len(server.messages) == 1
    raw = (program.directory / "trace.log").read_bytes().decode("latin-1")
    for form in (PASSWORD, base64.b64encode(PASSWORD.encode()).decode(), PASSWORD.encode().hex(), "first line"):
        assert form not in raw, form
    lines = events(program)
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4} postrine 1\.0 on .+; server localhost port "
                        rf"{server.port}; TLS=auto TLSVerify=on CAFile=.+ Timeout=60; logon as mailuser", lines[0])
    assert re.fullmatch(rf"connect (127\.0\.0\.1|::1) port {server.port}: connected", lines[1])
    # The dialogue line by line is the unit tests'; here the lines that
    # only the whole program and the platform's TLS library write.
    assert lines.count("C: <redacted>") == 2 and "body: 33 bytes, 3 lines" in lines
    assert lines[-1] == "outcome: sent; exit code 0"
    tls = [line for line in lines if line.startswith("TLS: ")]
    assert re.fullmatch(r"TLS: TLSv1\.[23], cipher \S+", tls[0]) or (WINE and "cipher unknown" in tls[0]), tls
    assert tls[1:] == ["TLS: certificate subject CN=server", "TLS: certificate issuer CN=postrine test ca",
                       "TLS: certificate names DNS:localhost, IP:127.0.0.1", tls[4],
                       "TLS: certificate trusted for localhost"]
    assert re.fullmatch(r"TLS: certificate valid from \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC to "
                        r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC", tls[4]), tls[4]


def test_a_refused_recipient_and_a_refused_certificate_show_in_the_trace(program, smtp_server, certificates):
    server = smtp_server(refuse_rcpt={"bad@example.com": "550 5.1.1 no such user"})
    configure(program, server)
    assert send(program, "ops@example.com,bad@example.com").returncode == 69
    assert events(program)[-1] == ("outcome: error sending mail to ops@example.com,bad@example.com "
                                   "[RCPT TO:<bad@example.com>: 550 5.1.1 no such user]; exit code 69")
    server = smtp_server(tls="starttls", **tls_files(certificates, "ip_only"))
    configure(program, server, certificates)
    assert send(program).returncode == 69
    lines = events(program)
    assert "TLS: certificate names IP:127.0.0.1" in lines
    assert ("TLS: certificate refused: the certificate of the server is not issued for localhost "
            "(host name mismatch)") in lines


def test_a_trace_that_cannot_be_written_leaves_the_result_unchanged(program, smtp_server, tmp_path):
    server = smtp_server()
    configure(program, server, Trace="")
    expected = send(program)
    assert expected.returncode == 0
    assert not (program.directory / "trace.log").exists(), "no trace without the setting"
    # In a missing directory, under a file, and (when permissions hold for
    # this user) in a read-only one.
    (tmp_path / "a_file").write_bytes(b"")
    names = [tmp_path / "missing" / "trace.txt", tmp_path / "a_file" / "trace.txt"]
    if not WINE and os.geteuid() != 0:
        (tmp_path / "read_only").mkdir(mode=0o500)
        names.append(tmp_path / "read_only" / "trace.txt")
    for name in names:
        configure(program, server, Trace=native(name))
        run = send(program)
        assert (run.returncode, run.stdout, run.stderr) == (expected.returncode, expected.stdout, expected.stderr)
        assert not name.with_suffix(".log").exists()
    assert len(server.messages) == 1 + len(names)


@pytest.mark.skipif(WINE, reason="the hold is a POSIX lock, which a Windows program does not see")
def test_a_trace_file_that_another_program_holds_costs_one_wait_and_changes_nothing(program, smtp_server, tmp_path):
    import fcntl
    server = smtp_server()
    trace = tmp_path / "held.log"
    trace.write_bytes(b"")
    configure(program, server, Trace=str(trace))
    with open(trace, "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        started = time.monotonic()
        run = send(program)
        elapsed = time.monotonic() - started
    assert run.returncode == 0 and len(server.messages) == 1
    # The log class tries a busy line for some five seconds; the trace
    # gives up after the first such line instead of waiting for each.
    assert elapsed < 9, elapsed
    assert trace.read_bytes() == b""


@pytest.mark.skipif(WINE, reason="FIFOs and file modes are POSIX; the access list on Windows is a unit test's")
def test_a_new_trace_file_is_private_and_a_fifo_is_never_written(program, smtp_server, tmp_path):
    import fcntl
    server = smtp_server()
    configure(program, server)
    assert send(program).returncode == 0
    assert (program.directory / "trace.log").stat().st_mode & 0o777 == 0o600
    # A FIFO whose reader never reads would block the first write past its
    # buffer (one page here; the trace of a hundred recipients is larger),
    # with the connection open.
    fifo = tmp_path / "trace.log"
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, 4096)
        configure(program, server, Trace=str(tmp_path / "trace.txt"))
        run = send(program, ",".join(f"ops{i}@example.com" for i in range(100)))
        assert run.returncode == 0 and len(server.messages) == 2
        assert os.read(reader, 65536) == b""
    finally:
        os.close(reader)
