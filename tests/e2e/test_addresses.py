"""Addresses as the mail RFCs write them: what the server receives in MAIL,
RCPT and the header for international and quoted addresses, read back by
Python's strict mail parser, and what is refused before any connection."""

import pytest

from conftest import parsed

BUCHER = "bücher.example"
ALABEL = "xn--bcher-kva.example"


def quoted(recipients):
    """Recipients that hold a double quote, with a blank at the end: the
    split leaves it out, and it makes the Windows command line carry the
    argument in quotes, its own quotes escaped, as a user there types it."""
    return recipients + " "


@pytest.mark.parametrize("smtputf8, sender, recipients, domain, to", [
    (True, "jörg@" + BUCHER, "zoë@x.io,ops@" + BUCHER, BUCHER, ["zoë@x.io", "ops@" + BUCHER]),
    # A domain goes as its A-label where UTF-8 cannot.
    (False, "alerts@" + BUCHER, "ops@" + BUCHER, ALABEL, ["ops@" + ALABEL]),
])
def test_an_address_beyond_ascii_goes_in_utf8_or_with_its_a_label(program, smtp_server, smtputf8, sender,
                                                                   recipients, domain, to):
    server = smtp_server(smtputf8=smtputf8)
    program.configure(server, Sender=sender)
    run = program.send("-s", "Grüße", "mail.txt", recipients)
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    assert message.mail_from == sender.split("@")[0] + "@" + domain
    assert message.rcpt_tos == to
    assert ("SMTPUTF8" in message.options) == smtputf8
    mail = parsed(message, utf8=smtputf8)
    assert mail["From"] == message.mail_from
    assert [a.addr_spec for a in mail["To"].addresses] == to
    assert mail["Subject"] == "Grüße"


def test_a_local_part_beyond_ascii_is_refused_by_a_server_without_smtputf8(program, smtp_server):
    server = smtp_server(smtputf8=False)
    program.configure(server)
    run = program.send("mail.txt", "ops@x.io,zoë@x.io")
    assert run.returncode == 65
    assert 'recipient address cannot be used: "zo' in run.lines[-1]
    assert "offers no SMTPUTF8 for a local part beyond ASCII" in run.lines[-1]
    assert b"MAIL FROM" not in server.received and server.received.endswith(b"QUIT\r\n")


@pytest.mark.parametrize("recipients, rcpt_tos, usernames", [
    (quoted('"x,y@x.io",z@x.io'), ['"x,y"@x.io', "z@x.io"], ["x,y", "z"]),
    (quoted('"a\\"b@x.io",c\\\\server@x.io'), ['"a\\"b"@x.io', '"c\\\\server"@x.io'], ['a"b', "c\\server"]),
    ("Postmaster,ops@x.io", ["Postmaster", "ops@x.io"], ["ops"]),
])
def test_a_local_part_that_is_no_dot_atom_goes_as_a_quoted_string(
        program, smtp_server, recipients, rcpt_tos, usernames):
    server = smtp_server()
    program.configure(server)
    run = program.send("mail.txt", recipients)
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    assert message.rcpt_tos == rcpt_tos
    assert [a.username for a in parsed(message)["To"].addresses] == usernames


@pytest.mark.parametrize("recipients, sender, named", [
    ("ok@x.io,\"bad@x.io\r\nRCPT TO:<z@x.io>\"", None, 'recipient address cannot be used: "bad@x.io..RCPT'),
    (quoted('ok@x.io,"ab@c.io"xyz@evil.io'), None,
     'recipient address cannot be used: ""ab@c.io"xyz@evil.io" (text after a closing quote)'),
    ("ops@x.io", "alerts", 'the sender address "alerts" cannot be used (no "@")'),
])
def test_what_is_no_address_is_refused_before_any_connection(program, smtp_server, recipients, sender, named):
    server = smtp_server(auth=True)
    program.configure(server, UserName="mailuser", Password="s3cret pass", TLS="off",
                      **({"Sender": sender} if sender else {}))
    run = program.send("mail.txt", recipients)
    assert run.returncode == 65
    # The error line repeats the recipients as typed, line ends and all.
    assert "error sending mail to " in run.stdout.decode("latin-1")
    assert named in run.lines[-1]
    assert server.connections == 0
