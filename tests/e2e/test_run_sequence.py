"""The run sequence as a user sees it from outside."""

import os
import pty
import subprocess

import pytest

from conftest import WINE


def test_run_without_settings_exits(program):
    run = program.run()
    assert run.returncode in (0, 78)


@pytest.mark.skipif(WINE, reason="pseudo-terminals are a POSIX test")
def test_colour_is_set_back_to_7_on_a_terminal(program):
    master, slave = pty.openpty()
    p = subprocess.Popen(program.command([]), cwd=program.directory, stdin=slave, stdout=slave,
                         stderr=slave)
    os.close(slave)
    out = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    p.wait(timeout=60)
    os.close(master)
    assert out.endswith(b"\x1b[0;37;40m"), out
