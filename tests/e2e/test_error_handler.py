"""A run-time error that nothing handles: the build that meets a processor
exception at its first pause writes ZUNERROR.LOG beside the executable,
tells the error on standard error when nobody can answer a dialog, and ends
with the error's generic code without waiting for anyone. The build that
meets it inside the allocator, with the allocator's lock held, shows that
a report stuck on that lock still ends the process within seconds."""

import fcntl
import os
import pty
import re
import termios
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import WINE

FAULT_EXE = os.environ.get("POSTRINE_FAULT_EXE", "")
# Built beside the other one unless named.
LOCKED_EXE = os.environ.get("POSTRINE_FAULT_LOCKED_EXE", "") or (
    FAULT_EXE and str(Path(FAULT_EXE).with_stem(Path(FAULT_EXE).stem + "_locked")))
BANNER = b"***********************ERROR********************************\r\n"
PROCESSOR_EXCEPTION = 50
REPORT_SECONDS = 5  # how long a report may take when nobody is asked
LATE = b"\r\nThe report of the processor exception did not finish within 5 seconds; the process ends.\r\n"


@pytest.fixture
def faulting(tmp_path):
    return faulting_build(tmp_path, FAULT_EXE)


def faulting_build(tmp_path, source):
    if not source or not Path(source).exists():
        pytest.skip(f"{source or 'POSTRINE_FAULT_EXE'} is not there; run through ctest")
    directory = tmp_path / "bin"
    directory.mkdir()
    exe = directory / Path(source).name
    shutil.copy2(source, exe)
    (directory / "postrine.ini").write_bytes(b"[Settings]\r\nServerName=127.0.0.1\r\nPortNumber=1\r\n")

    command = (["wine"] if WINE else []) + [str(exe), "missing.txt", "a@example.com"]

    def run(lang="en_US.UTF-8", timeout=120):
        env = dict(os.environ, LANG=lang, WINEDEBUG="-all")
        env.pop("LC_ALL", None)
        # A session of its own: no controlling terminal, nobody to answer.
        return subprocess.run(command, cwd=directory, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout, env=env, start_new_session=True)

    run.command = command
    run.directory = directory
    run.log = directory / "ZUNERROR.LOG"
    run.name = exe.name
    return run


def on_terminal(command, directory):
    """Starts `command` as the foreground job of a terminal of its own;
    returns the process and the terminal."""
    master, slave = pty.openpty()

    def take_terminal():
        os.setsid()
        fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

    p = subprocess.Popen(command, cwd=directory, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, pass_fds=(slave,), preexec_fn=take_terminal)
    os.close(slave)
    return p, master


def read_until(master, end):
    shown = b""
    while not shown.endswith(end):
        chunk = os.read(master, 4096)
        assert chunk, shown
        shown += chunk
    return shown


# The log's date in the form of the user's locale.
@pytest.mark.parametrize("lang, date", [("en_US.UTF-8", rb"\d\d/\d\d/\d{4}"), ("de_DE.UTF-8", rb"\d\d\.\d\d\.\d{4}")])
def test_the_error_is_logged_told_and_ends_the_process_with_its_code(faulting, lang, date):
    p = faulting(lang)
    assert p.returncode == PROCESSOR_EXCEPTION
    assert p.stderr.startswith(b"ERROR\r\nError Code:  50 [ PROCESSOR EXCEPTION ]\r\n"), p.stderr
    assert b"CallStack:\r\n" in p.stderr and b"POSTRINE:PROCESS (Line:" in p.stderr
    log = faulting.log.read_bytes()
    lines = log.split(b"\r\n")
    assert lines[0] + b"\r\n" == BANNER
    assert re.fullmatch(date + rb" \d\d:\d\d:\d\d", lines[2]), lines[2]
    assert lines[3] == b"Application: " + faulting.name.encode()
    assert b"SubCode         :5333\r\n" in log
    assert b"ExceptionCode   :" + (b"C0000005" if WINE else b"0000000B") + b"\r\n" in log


@pytest.mark.skipif(WINE, reason="the terminal prompt is the POSIX form of the dialog")
def test_on_a_terminal_the_dialog_waits_for_the_answer(faulting):
    p, master = on_terminal(faulting.command, faulting.directory)
    shown = read_until(master, b"[Q]uit? ")
    # A person may take longer than a report without one.
    time.sleep(REPORT_SECONDS + 1)
    assert p.poll() is None  # waiting for the answer
    shown = shown.replace(b"\r\r\n", b"\r\n")  # the terminal adds a CR to every LF
    assert shown.startswith(b"\a\a\a")  # the three tones
    assert b"ERROR\r\nError Code:  50 [ PROCESSOR EXCEPTION ]" in shown
    os.write(master, b"x\nq\n")  # an answer that is not offered is asked again
    assert p.wait(timeout=30) == PROCESSOR_EXCEPTION
    os.close(master)
    assert p.stderr.read() == b""


# Nobody to answer, or a person at the terminal: neither keeps a stuck
# report alive.
@pytest.mark.parametrize("terminal", [False, pytest.param(True, marks=pytest.mark.skipif(
    WINE, reason="the terminal prompt is the POSIX form of the dialog"))])
def test_a_fault_inside_the_allocator_ends_the_process_within_seconds(tmp_path, terminal):
    faulting = faulting_build(tmp_path, LOCKED_EXE)
    if terminal:
        p, master = on_terminal(faulting.command, faulting.directory)
        assert p.wait(timeout=REPORT_SECONDS + 15) == PROCESSOR_EXCEPTION
        os.close(master)
        stderr = p.stderr.read()
    else:
        p = faulting(timeout=REPORT_SECONDS + 15)
        assert p.returncode == PROCESSOR_EXCEPTION
        stderr = p.stderr
    assert WINE or stderr.endswith(LATE)
    assert not faulting.log.exists()
