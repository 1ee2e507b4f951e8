"""The command's front half as a user meets it: the settings file beside the
executable, the refusals with their exact lines, colours and exit codes,
and the "will send " line of an accepted call."""

import os
import stat
import time

import pytest

from conftest import WINE

USAGE = "Usage: postrine [-s subject] mailfilename recipient[,recipient2]"
DEFAULT_INI = ["[Settings]", "ServerName=??", "UserName=??", "Password=??",
               "Sender=postrine@localhost", "PortNumber=25"]


# Without a settings file, and where none can be written (root may write
# into any directory, so the name is made unusable).
@pytest.mark.parametrize("args, writable", [([], True), (["mail.txt", "r1"], True), (["mail.txt", "r1"], False)])
def test_first_run_writes_the_defaults_and_reports_only_the_missing_server(program, args, writable):
    if not writable:
        program.ini.mkdir()
    run = program.run(*args)
    assert run.lines == ["no server given - quit"]  # redirected: no colour sequences
    assert run.returncode == 78 and (WINE or run.stderr == b"")
    if writable:
        assert program.ini.read_bytes().decode("latin-1").split("\r\n") == DEFAULT_INI + [""]
        assert WINE or stat.S_IMODE(os.stat(program.ini).st_mode) == 0o600


@pytest.mark.parametrize("args, label", [
    (["mail.txt"], "(2)Call was:"),
    (["a", "b", "c"], "(3)Call was:"),
    (["mail.txt", "r1", "-s"], "(3)Call was:"),
    (["mail.txt", "r1", "-a"], "(3)Call was:"),
])
def test_a_bad_call_shows_the_usage_and_the_command_line(program, args, label):
    program.write_ini(ServerName="localhost")
    run = program.run(*args)
    if WINE:
        assert run.lines[0] == USAGE
        assert run.lines[1].startswith(label + '"') and run.lines[1].endswith(
            '.exe" ' + " ".join(args)), run.lines
        assert len(run.lines) == 2
    else:
        assert run.lines == [USAGE, f"{label}{program.exe} " + " ".join(args)]
    assert run.returncode == 64


@pytest.mark.parametrize("args, line", [
    (["mail.txt", "r1,r2"], "will send mail.txt to r1,r2"),
    (["mail.txt", "-S", "Monthly report", "r1"], "will send mail.txt to r1"),
    (["-s", "one", "-s", "two", "mail.txt", "r1"], "will send mail.txt to r1"),
    (["-s", "mail.txt", "r1"], "will send r1 to "),
    (["-s", "Hello"], "will send  to "),
    (["", "mail.txt"], "will send mail.txt to "),
    # "-a" attaches only where the call would be refused without it.
    (["-a", "r1"], "will send -a to r1"),
    (["mail.txt", "-A"], "will send mail.txt to -A"),
    (["-a", "report.pdf", "mail.txt", "r1"], "will send mail.txt to r1"),
    (["mail.txt", "-A", "x.csv", "-s", "s", "r1", "-a", "y.csv"], "will send mail.txt to r1"),
    # The other options are read the same way; the line then names every recipient.
    (["mail.txt", "-cc"], "will send mail.txt to -cc"),
    (["-CC", "c@x.io", "mail.txt", "a@x.io,b@x.io", "-bcc", "d@x.io", "-cc", "e@x.io"],
     "will send mail.txt to a@x.io,b@x.io cc c@x.io,e@x.io bcc d@x.io"),
    # Text beyond the ANSI code page arrives as typed, and shows as such.
    (["-s", "Grüße 日本", "日本語の報告.txt", "zoë@x.io,担当@例え.jp"], "will send 日本語の報告.txt to zoë@x.io,担当@例え.jp"),
])
def test_an_accepted_call_announces_what_it_will_send(program, args, line):
    program.write_ini(ServerName="127.0.0.1", PortNumber="9")
    run = program.run(*args)
    assert run.text_lines[0] == line


@pytest.mark.parametrize("args, line, code", [
    (["-x", "X-Ticket 42", "mail.txt", "r1"], 'the header "X-Ticket 42" given with -x holds no ":"', 64),
    (["-priority", "urgent", "mail.txt", "r1"], 'unknown -priority value "urgent" (use high, normal or low)', 64),
    (["-dsn", "sometimes", "mail.txt", "r1"], 'unknown -dsn value "sometimes"', 64),
    (["-tf", "missing.txt", "mail.txt", "r1"], "cannot read recipient file missing.txt [", 66),
    (["-profile", "home", "mail.txt", "r1"], "no section [home] in postrine.ini for -profile home", 78),
])
def test_an_option_value_that_cannot_be_used_ends_the_run_with_the_reason(program, args, line, code):
    program.write_ini(ServerName="127.0.0.1", PortNumber="9")
    run = program.run(*args)
    assert len(run.lines) == 1 and run.lines[0].startswith(line), run.lines
    assert run.returncode == code


def test_recipient_files_join_the_recipients(program):
    program.write_ini(ServerName="127.0.0.1", PortNumber="9")
    (program.directory / "team.txt").write_bytes(b"\xef\xbb\xbf# the team\r\nb@x.io, c@x.io\r\n\r\nd@x.io # on call\r\n")
    run = program.run("-tf", "team.txt", "mail.txt", "a@x.io")
    assert run.text_lines[0] == "will send mail.txt to a@x.io,b@x.io, c@x.io,d@x.io"


# The profile's server counts even where [Settings] has none; the first run
# writes [Settings] alone, and a profile writes nothing.
def test_a_profile_takes_the_place_of_the_settings_for_one_run(program):
    text = "[Settings]\r\nServerName=??\r\nUserName=??\r\nPassword=??\r\nSender=a@x.io\r\nPortNumber=25\r\n" \
           "[Work]\r\nServerName=127.0.0.1\r\nPortNumber=9\r\n"
    program.ini.write_bytes(text.encode())
    assert program.run("-profile", "work", "mail.txt", "r1").lines[0] == "will send mail.txt to r1"
    assert program.run("mail.txt", "r1").lines == ["no server given - quit"]
    assert program.ini.read_bytes() == text.encode()


@pytest.mark.skipif(WINE, reason="pseudo-terminals are a POSIX test")
def test_refusals_are_red_and_the_colour_is_set_back(program):
    program.write_ini(ServerName="localhost")
    out = program.run_on_terminal("a", "b", "c")
    assert out.index(b"\x1b[0;91;40m") < out.index(USAGE.encode()) < out.index(b"(3)Call was:")
    assert out.endswith(b"\x1b[0;37;40m"), out


def test_the_shipped_program_holds_an_error_on_screen_for_five_seconds(real_program):
    started = time.monotonic()
    run = real_program.run()
    assert time.monotonic() - started >= 5.0
    assert run.lines == ["no server given - quit"]


# 2^32 + the server's port would reach the server if the number were cut
# to 32 bits before it is checked.
@pytest.mark.parametrize("offset", [2**32, None], ids=["cut to the port", "zero"])
def test_a_port_out_of_range_is_a_settings_error_and_nothing_is_sent(program, smtp_server, offset):
    server = smtp_server()
    port = server.port + offset if offset else 0
    program.configure(server, PortNumber=str(port))
    run = program.send()
    assert run.returncode == 78
    assert run.lines[-1] == f"PortNumber {port} in postrine.ini is out of range (use 1 to 65535)"
    assert server.connections == 0


@pytest.mark.skipif(not WINE, reason="POSIX takes a setting's bytes as they are")
def test_a_setting_that_is_no_text_on_this_system_stops_the_run(program, smtp_server):
    # Neither UTF-8 nor text in code page 932, the ANSI code page of a
    # Japanese Windows: it cannot be told what the password is.
    server = smtp_server()
    program.configure(server, UserName="u", Password="x\x81 \xa0")
    run = program.send(env={"LANG": "ja_JP.UTF-8"})
    assert run.returncode == 78
    assert run.lines[-1] == ("Password in postrine.ini holds characters that this system cannot read "
                             "(save the file as UTF-8)")
    assert server.connections == 0
