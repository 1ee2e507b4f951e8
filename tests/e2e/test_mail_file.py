"""A mail file or attachment that cannot be sent as it stands: missing, a
device, a FIFO without a writer, larger than 2 GiB, or "-" with standard
input closed. Each is refused at once, before any connection, with the
reason on the error line, exit 66 and without the program's memory
growing; a closed standard output or error loses only what would have
gone there. (Every kind of file the reader refuses, and why, is the unit
tests' table.)"""

import os
import re
import subprocess

import pytest

from conftest import WINE, run_measured


def fifo(d):
    os.mkfifo(d / "mail.fifo")
    return "mail.fifo"


def sparse(d):
    with open(d / "mail.txt", "wb") as f:
        f.truncate(3 << 30)
    return "mail.txt"


def device(d):
    return "NUL" if WINE else "/dev/zero"


# What the file is, a function that makes it in the program's directory and
# returns its name, and the reason the error line gives (None: the system's
# words, which Windows words in the user's language), and whether it is
# attached.
MISSING = None if WINE else "No such file or directory"
CASES = {
    "missing": (lambda d: "mail.txt", MISSING, False),
    "endless device": (device, "not a regular file", False),
    "FIFO without a writer": (fifo, "not a regular file", False),
    "3 GiB sparse file": (sparse, "larger than 2 GiB", False),
    "missing attachment": (lambda d: "missing.pdf", MISSING, True),
}


@pytest.mark.parametrize("make, reason, attached", CASES.values(), ids=CASES)
def test_a_file_that_cannot_be_sent_is_refused_before_connecting(program, smtp_server, make, reason, attached):
    name = make(program.directory)
    server = smtp_server()
    program.configure(server)
    if attached:
        (program.directory / "mail.txt").write_bytes(b"see attached\n")
    args = ["mail.txt", "-a", name] if attached else [name]
    returncode, lines, memory = run_measured(program, *args, "ops@example.com")
    assert returncode == 66
    said = f"cannot read {'attachment' if attached else 'mail file'} {name} ["
    assert lines[1] == said + f"{reason}]" if reason else lines[1].startswith(said) and lines[1].endswith("]")
    assert server.connections == 0
    assert memory < 100 << 20


@pytest.mark.parametrize("closed", [0, 1, 2])
def test_a_closed_standard_stream_is_never_taken_for_a_file(program, smtp_server, closed):
    # The program starts with the descriptor closed, so that the first file
    # it opens would take it: the spool of standard input, the trace.
    server = smtp_server()
    program.configure(server, Trace="trace.txt")
    (program.directory / "mail.txt").write_bytes(b"the body\n")
    body = "-" if closed == 0 else "mail.txt"
    p = subprocess.run(["sh", "-c", f'exec "$@" {closed}<&-', "sh", *program.command(
                       ["-s", "report", body, "ops@example.com"])], cwd=program.directory,
                       stdin=subprocess.DEVNULL, capture_output=True, env=dict(os.environ, WINEDEBUG="-all"),
                       timeout=60)
    if closed == 0:
        assert p.returncode == 66
        # Wine gives the program a handle that cannot be read, and the
        # system's words for it.
        reason = rb"[^]]+" if WINE else rb"standard input is closed"
        assert re.search(rb"\r\ncannot read mail file - \[" + reason + rb"\]\r\n$", p.stdout), p.stdout
        assert server.connections == 0
    else:
        assert p.returncode == 0, p.stdout
        assert [m.data.split(b"\r\n\r\n", 1)[1] for m in server.messages] == [b"the body\r\n"]
        assert b"will send" not in (program.directory / "trace.log").read_bytes()
