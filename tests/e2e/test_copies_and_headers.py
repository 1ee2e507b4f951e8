"""Copies, replies and extra headers as a user meets them: what a mail
reader parses of each header, who gets the message, and every way of
slipping a line into the header refused with nothing sent."""

import pytest

from conftest import parsed


def test_every_option_shows_in_the_header_a_reader_parses(program, smtp_server):
    server = smtp_server()
    program.configure(server, Sender="Backup Cron <backup@example.com>")
    run = program.send("-cc", "Team <team@example.com>,ops@example.com", "-bcc", "archive@example.com",
                       "-replyto", "Tickets <tickets@example.com>", "-priority", "High", "-receipt",
                       "-x", "X-Ticket-Queue: ops", "-dsn", "failure", "mail.txt", "ops@example.com")
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    # Each address once in the envelope; the server offers no DSN, so none
    # asked (the next test).
    assert message.mail_from == "backup@example.com"
    assert message.rcpt_tos == ["ops@example.com", "team@example.com", "archive@example.com"]
    assert not any(o.startswith(("RET=", "ENVID=")) for o in message.options)
    assert b"archive" not in message.data
    mail = parsed(message)
    assert mail["From"].addresses[0].display_name == "Backup Cron"
    assert [a.addr_spec for a in mail["Cc"].addresses] == ["team@example.com", "ops@example.com"]
    assert mail["Reply-To"].addresses[0].addr_spec == "tickets@example.com"
    assert (mail["X-Priority"], mail["Importance"], mail["Priority"]) == ("1 (Highest)", "high", "urgent")
    assert mail["Disposition-Notification-To"] == "Backup Cron <backup@example.com>"
    assert mail["X-Ticket-Queue"] == "ops"


@pytest.mark.parametrize("args, line, code, sender", [
    (["-x", "From: boss@example.com"], '"From" is written by the program itself', 64, None),
    (["-x", "content-type: text/html"], "", 64, None),
    (["-x", "X-Ticket: 1\r\nBcc: victim@example.com"], "", 64, None),
    (["-x", "X-Ticket: 1\nRCPT TO:<victim@example.com>"], "", 64, None),
    (["-x", "X Ticket: 1"], "", 64, None),
    (["-replyto", "desk@example.com\r\nBcc: victim@example.com"],
     'the reply address "desk@example.com..Bcc: victim@example.com" cannot be used', 65, None),
    (["-cc", "victim@example.com\r\nX: y"], "error sending mail to", 65, None),
    # A sender from the settings file with a control character in it, or
    # with a line after it that a reader would take for its continuation.
    (["-receipt"], 'the sender address "alerts@example.com.x" cannot be used', 65, "alerts@example.com\x01x"),
    (["-receipt", "-bcc", "a@x.io"], "will send", 0, "Backup <backup@x.io>\r\n Bcc: victim@example.com"),
])
def test_no_option_can_add_a_line_to_the_header(program, smtp_server, args, line, code, sender):
    server = smtp_server()
    program.configure(server, **({"Sender": sender} if sender else {}))
    run = program.send(*args, "mail.txt", "ops@example.com")
    assert run.returncode == code, run.lines
    assert any(line in shown for shown in run.lines)
    if code:
        assert server.messages == []
    else:
        (message,) = server.messages
        assert b"victim" not in message.data and b"Bcc" not in message.data


def test_a_refused_copy_stops_the_whole_message(program, smtp_server):
    server = smtp_server(refuse_rcpt={"team@example.com": "550 5.1.1 no such user"})
    program.configure(server)
    run = program.send("-cc", "team@example.com", "-bcc", "archive@example.com", "mail.txt", "ops@example.com")
    assert run.returncode == 69 and server.messages == []
    assert run.lines[-1].startswith("error sending mail to ops@example.com cc team@example.com bcc archive@example.com [")
    assert run.lines[-1].endswith("[RCPT TO:<team@example.com>: 550 5.1.1 no such user]")


@pytest.mark.parametrize("offered", [True, False])
def test_delivery_notices_are_asked_for_exactly_when_the_server_offers_them(program, smtp_server, offered):
    server = smtp_server(dsn=offered)
    program.configure(server, Trace="trace.log")
    run = program.send("-dsn", "failure,Delay", "mail.txt", "ops@x.io,dba@x.io")
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    message_id = parsed(message)["Message-Id"].strip("<>")
    dsn_mail = ["RET=HDRS", "ENVID=" + message_id.upper()]
    assert [o for o in message.options if o.startswith(("RET=", "ENVID="))] == (dsn_mail if offered else [])
    notify = ["NOTIFY=FAILURE,DELAY"] if offered else []
    assert message.rcpt_options == {"ops@x.io": notify, "dba@x.io": notify}
    trace = (program.directory / "trace.log").read_text(encoding="latin-1")
    assert ("the server offers no DSN" in trace) != offered
