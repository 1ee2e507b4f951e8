"""The protocol trace (the Trace setting) against real servers on loopback:
what a session over STARTTLS with a logon writes, that no form of the
password gets into it, a refusal, two processes tracing into one file at
once, and a trace that cannot be written."""

import base64
import os
import re
import subprocess
import threading
import time

import pytest

from conftest import WINE, native, tls_files

PASSWORD = "s3cret pass"
# "[pid]  ms  event"
LINE = re.compile(r"\[(\d+)\] +(\d+) ms  (.*)")


def configure(program, server, certificates=None, **more):
    ca = dict(CAFile=native(certificates / "ca.pem")) if certificates else {}
    program.configure(server, **{"ServerName": "localhost", "UserName": "mailuser", "Password": PASSWORD, **ca,
                                 **more})


def send(program, recipients="ops@example.com"):
    return program.send("-s", "Disk report", "mail.txt", recipients, body=b"first line\n.dotted\nlast line\n")


def events(path):
    """The trace's lines as (process id, event), each line checked whole."""
    text = path.read_bytes().decode("latin-1")
    assert text.endswith("\r\n"), text[-200:]
    out = []
    for line in text.split("\r\n")[:-1]:
        match = LINE.fullmatch(line)
        assert match, f"torn or foreign line: {line!r}"
        out.append((match[1], match[3]))
    return out


def disguises(secret):
    """The secret as it is, in base64 at each of the three alignments (the
    characters that depend on the bytes around it left out), and in hex."""
    raw = secret.encode()
    forms = [secret]
    for pad in range(3):
        encoded = base64.b64encode(b"\0" * pad + raw + b"\0\0\0").decode()
        forms.append(encoded[(pad * 4 + 2) // 3:((pad + len(raw)) * 4) // 3])
    return forms + [raw.hex(), raw.hex().upper()]


def test_a_starttls_session_with_a_logon_is_traced_without_the_password(program, smtp_server, certificates):
    # LOGIN: the password travels alone, in base64, on a line of its own.
    server = smtp_server(tls="starttls", auth=True, auth_require_tls=True, mechanisms=["LOGIN"],
                         **tls_files(certificates))
    configure(program, server, certificates, Trace="trace.txt")
    run = send(program)
    assert run.returncode == 0, run.lines
    assert len(server.messages) == 1

    trace = program.directory / "trace.log"  # named as the log file class names it
    raw = trace.read_bytes().decode("latin-1")
    for form in disguises(PASSWORD):
        assert form not in raw, form
    lines = [event for _, event in events(trace)]
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4} postrine 1\.0 on .+; server localhost port "
                        rf"{server.port}; TLS=auto TLSVerify=on CAFile=.+ Timeout=60; logon as mailuser", lines[0])
    assert re.fullmatch(rf"connect (127\.0\.0\.1|::1) port {server.port}: connected", lines[1])
    commands = [line[3:].split(" ")[0] for line in lines if line.startswith("C: ") and ":" not in line[3:]]
    assert commands == ["EHLO", "STARTTLS", "EHLO", "AUTH", "<redacted>", "<redacted>", "DATA", ".", "QUIT"]
    assert "C: AUTH LOGIN" in lines
    for expected in ("S: 220 Ready to start TLS", "S: 235 2.7.0 Authentication successful",
                     "C: MAIL FROM:<alerts@example.com> SIZE=", "C: RCPT TO:<ops@example.com>",
                     "S: 354 End data with <CR><LF>.<CR><LF>", "C: From: alerts@example.com",
                     "C: To: ops@example.com", "C: Subject: Disk report", "C: Message-Id: <",
                     "C: MIME-Version: 1.0", "C: Content-Type: text/plain", "body: 33 bytes, 3 lines",
                     "S: 250 Message accepted", "S: 221 Bye", "outcome: sent; exit code 0"):
        assert any(line.startswith(expected) for line in lines), (expected, lines)
    # Every reply line of the EHLO under TLS, as the server sent it.
    assert "S: 250-AUTH LOGIN" in lines
    tls = [line for line in lines if line.startswith("TLS: ")]
    assert re.fullmatch(r"TLS: TLSv1\.[23], cipher \S+", tls[0]) or (WINE and "cipher unknown" in tls[0]), tls
    assert tls[1:] == ["TLS: certificate subject CN=server", "TLS: certificate issuer CN=postrine test ca",
                       "TLS: certificate names DNS:localhost, IP:127.0.0.1", tls[4],
                       "TLS: certificate trusted for localhost"]
    assert re.fullmatch(r"TLS: certificate valid from \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC to "
                        r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC", tls[4]), tls[4]
    assert "first line" not in raw and "dotted" not in raw, "no body content"


def test_a_refused_recipient_and_a_refused_certificate_show_in_the_trace(program, smtp_server, certificates):
    server = smtp_server(refuse_rcpt={"bad@example.com": "550 5.1.1 no such user"})
    configure(program, server, UserName="??", Trace="trace.txt")
    run = send(program, "ops@example.com,bad@example.com")
    assert run.returncode == 69
    lines = [event for _, event in events(program.directory / "trace.log")]
    assert "C: RCPT TO:<bad@example.com>" in lines and "S: 550 5.1.1 no such user" in lines
    assert lines[-1] == ("outcome: error sending mail to ops@example.com,bad@example.com "
                         "[RCPT TO:<bad@example.com>: 550 5.1.1 no such user]; exit code 69")

    server = smtp_server(tls="starttls", **tls_files(certificates, "ip_only"))
    configure(program, server, certificates, UserName="??", Trace="trace.txt")
    assert send(program).returncode == 69
    lines = [event for _, event in events(program.directory / "trace.log")]
    assert "TLS: certificate names IP:127.0.0.1" in lines
    assert ("TLS: certificate refused: the certificate of the server is not issued for localhost "
            "(host name mismatch)") in lines


def test_two_processes_tracing_into_one_file_at_once_lose_and_tear_no_line(program, smtp_server, tmp_path):
    server = smtp_server()
    runs = 3 if WINE else 10
    trace = tmp_path / "shared" / "trace.log"
    trace.parent.mkdir()
    configure(program, server, UserName="??", Trace=native(trace))
    (program.directory / "mail.txt").write_bytes(b"line\n")
    codes = []

    def worker():
        for _ in range(runs):
            codes.append(subprocess.run(program.command(["mail.txt", "ops@example.com"]), cwd=program.directory,
                                        stdin=subprocess.DEVNULL, capture_output=True, timeout=120).returncode)

    workers = [threading.Thread(target=worker) for _ in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert codes == [0] * (2 * runs)
    # The runs of each process id (wine gives a finished process's id to
    # the next), each beginning with its head line.
    by_process = {}
    for pid, event in events(trace):
        runs_of = by_process.setdefault(pid, [])
        head = "postrine 1.0 on " in event
        if head:
            runs_of.append([])
        runs_of[-1].append("head" if head else re.sub(r"^(\S+ \S+).*", r"\1", event))
    shapes = [tuple(run) for runs_of in by_process.values() for run in runs_of]
    assert len(shapes) == 2 * runs
    # Each run's lines whole and in order: the same dialogue every time.
    assert len(set(shapes)) == 1, set(shapes)
    assert shapes[0][-1] == "outcome: sent;" and "C: QUIT" in shapes[0]


def unwritable(tmp_path):
    """Trace names that cannot be written: in a missing directory, under a
    file, and (when permissions hold for this user) in a read-only one."""
    (tmp_path / "a_file").write_bytes(b"")
    names = [tmp_path / "missing" / "trace.txt", tmp_path / "a_file" / "trace.txt"]
    if not WINE and os.geteuid() != 0:
        (tmp_path / "read_only").mkdir(mode=0o500)
        names.append(tmp_path / "read_only" / "trace.txt")
    return names


def test_a_trace_that_cannot_be_written_leaves_the_result_unchanged(program, smtp_server, tmp_path):
    server = smtp_server()
    configure(program, server, UserName="??")
    before = set(os.listdir(program.directory))
    expected = send(program)
    assert expected.returncode == 0
    assert set(os.listdir(program.directory)) - before == {"mail.txt"}, "no trace without the setting"
    names = unwritable(tmp_path)
    for name in names:
        configure(program, server, UserName="??", Trace=native(name))
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
    configure(program, server, UserName="??", Trace=str(trace))
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
    configure(program, server, UserName="??", Trace="trace.txt")
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
        configure(program, server, UserName="??", Trace=str(tmp_path / "trace.txt"))
        (program.directory / "mail.txt").write_bytes(b"a line\n")
        recipients = ",".join(f"ops{i}@example.com" for i in range(100))
        run = program.run("-s", "Disk report", "mail.txt", recipients, timeout=30)
        assert run.returncode == 0 and len(server.messages) == 2
        assert os.read(reader, 65536) == b""
    finally:
        os.close(reader)
