"""The run sequence as a user sees it from outside."""

import pytest

from conftest import WINE


@pytest.mark.skipif(WINE, reason="pseudo-terminals are a POSIX test")
def test_colour_is_set_back_to_7_on_a_terminal(program):
    out = program.run_on_terminal()
    assert out.endswith(b"\x1b[0;37;40m"), out


def test_a_redirected_run_writes_no_colour_sequences(program):
    run = program.run()
    assert b"\x1b" not in run.stdout
    assert run.stderr == b"" or WINE
