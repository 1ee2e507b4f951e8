"""Secrets kept out of postrine.ini: a password from PasswordCommand, from
Windows Credential Manager (credman:<target>) or protected with DPAPI for
the user (postrine -protect). A secret that cannot be had stops the run
with exit 78 before any connection, its source named, the secret nowhere."""

import base64
import os
import subprocess

import pytest

from conftest import WINE

PASSWORD = "s3cret pass"  # the one the test server takes from mailuser


def shell(posix, windows):
    return windows if WINE else posix


def logon(program, server, **settings):
    program.configure(server, UserName="mailuser", TLS="off", **settings)


def assert_secret_nowhere(program, run):
    """Neither the password nor the PLAIN logon that carries it in the
    output, the trace or the log."""
    plain = base64.b64encode(b"\0mailuser\0" + PASSWORD.encode())
    for where in [run.stdout, run.stderr] + [p.read_bytes() for p in program.directory.iterdir()
                                              if p.suffix == ".log" and p.is_file()]:
        assert PASSWORD.encode() not in where and plain not in where, where[:200]


# The command, the exit code and the start of the error line.
COMMANDS = [
    (shell("printf 's3cret pass\\nsecond line\\n'", "echo s3cret pass"), 0, None),
    ("echo vault is sealed 1>&2 && exit 3", 78, "PasswordCommand in postrine.ini failed with exit status 3: vault is sealed"),
    (shell("true", "rem"), 78, "PasswordCommand in postrine.ini printed no password"),
    ("no-such-password-helper", 78, "PasswordCommand in postrine.ini failed with exit status "),
    (shell("sleep 20", "ping -n 20 127.0.0.1"), 78, "PasswordCommand in postrine.ini did not end within 2 seconds"),
]


@pytest.mark.parametrize("command, code, words", COMMANDS)
def test_password_command_gives_the_password_or_stops_the_run(program, smtp_server, command, code, words):
    server = smtp_server(auth=True, mechanisms=["PLAIN"])
    logon(program, server, Password="??", PasswordCommand=command, Timeout=2, Trace="trace")
    run = program.send()
    assert run.returncode == code, run.lines
    if code == 0:
        assert server.recorder.logons == [("PLAIN", b"mailuser", PASSWORD.encode())]
        assert_secret_nowhere(program, run)
    else:
        assert run.lines[-1].startswith(words), run.lines
        assert server.connections == 0
    assert b"s3cret" not in run.stdout


# Settings that name a secret that is not there: 78, nothing sent.
MISSING = [
    (dict(Password="s3cret", PasswordCommand="echo x"), "Password and PasswordCommand are both set"),
    (dict(Password="dpapi:not base64!"), "Password in postrine.ini is no value that postrine -protect printed"),
    (dict(Password="dpapi:AQAAANCMnd8BFdERjHoAwE/Cl+sBAAAA"), "Password in postrine.ini holds a protected secret that cannot"
     if WINE else "Password in postrine.ini"),
    (dict(Password="credman:postrine-test-absent"), "Password in postrine.ini names the credential "
     "postrine-test-absent of Windows Credential Manager, which cannot be read ("),
    (dict(OAuthTokenURL="https://127.0.0.1:9/t", OAuthClientID="c", OAuthClientSecret="credman:"),
     "OAuthClientSecret in postrine.ini names no credential after credman:"),
]


@pytest.mark.parametrize("settings, words", MISSING)
def test_a_secret_that_cannot_be_had_is_a_settings_error(program, smtp_server, settings, words):
    server = smtp_server(auth=True, mechanisms=["PLAIN"])
    logon(program, server, **settings)
    run = program.send()
    assert run.returncode == 78, run.lines
    assert run.lines[-1].startswith(words), run.lines
    assert server.connections == 0


@pytest.mark.skipif(not WINE, reason="Windows Credential Manager")
def test_a_password_from_credential_manager(program, smtp_server):
    tool = os.environ["POSTRINE_WRITE_CREDENTIAL"]
    target = f"postrine-test-{os.getpid()}-{id(program)}"
    subprocess.run(["wine", tool, target, "mailuser", PASSWORD], check=True, capture_output=True, timeout=60)
    server = smtp_server(auth=True, mechanisms=["PLAIN"])
    logon(program, server, Password=f"CredMan:{target}")
    run = program.send()
    assert run.returncode == 0, run.lines
    assert server.recorder.logons == [("PLAIN", b"mailuser", PASSWORD.encode())]
    assert_secret_nowhere(program, run)


@pytest.mark.skipif(not WINE, reason="DPAPI")
def test_protect_prints_a_value_that_only_this_user_can_read(program, smtp_server, tmp_path):
    typed = tmp_path / "typed"
    typed.write_bytes(PASSWORD.encode() + b"\r\n")
    with open(typed, "rb") as stdin:
        run = program.run("-PROTECT", stdin=stdin)
    assert run.returncode == 0, run.lines
    value = run.lines[-1]
    assert value.startswith("dpapi:") and "s3cret" not in run.stdout.decode("latin-1")
    server = smtp_server(auth=True, mechanisms=["PLAIN"])
    logon(program, server, Password=value)
    run = program.send()
    assert run.returncode == 0, run.lines
    assert server.recorder.logons == [("PLAIN", b"mailuser", PASSWORD.encode())]
    # Altered, it is refused rather than sent as a wrong password.
    logon(program, server, Password=value[:-8] + ("A" if value[-8] != "A" else "B") + value[-7:])
    run = program.send()
    assert run.returncode == 78, run.lines
    assert server.connections == 1


@pytest.mark.skipif(WINE, reason="Windows has DPAPI")
def test_protect_says_what_to_use_where_there_is_no_dpapi(program):
    run = program.run("-protect")
    assert run.returncode == 64, run.lines
    assert run.lines[-1].startswith("-protect protects a secret with Windows' DPAPI"), run.lines
