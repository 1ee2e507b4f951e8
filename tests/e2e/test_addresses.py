"""Addresses and the form of the message as the mail RFCs write them: what
the server receives in MAIL, RCPT and the header for international,
quoted and malformed addresses, for subjects a reader would not show as
typed, and for bodies that go as base64. Every message that arrives is read
back by Python's strict mail parser."""

import email
import email.errors
import email.policy

import pytest

from conftest import WINE

BUCHER = "bücher.example"
ALABEL = "xn--bcher-kva.example"


def configure(program, server, **more):
    settings = dict(ServerName="127.0.0.1", PortNumber=server.port, Sender="alerts@example.com")
    settings.update(more)
    program.write_ini(**settings)


def send(program, *args, body=b"report\n"):
    (program.directory / "mail.txt").write_bytes(body)
    return program.run(*args)


def strict(message, utf8=False):
    """The message as a strict reader parses it, with no defect anywhere; a
    message with a UTF-8 header (RFC 6532) is read as text."""
    policy = email.policy.strict
    if utf8:
        mail = email.message_from_string(message.data.decode("utf-8"), policy=policy)
    else:
        message.data.decode("ascii")  # no 8-bit header without SMTPUTF8
        mail = email.message_from_bytes(message.data, policy=policy)
    assert mail.defects == []
    for name in mail.keys():
        defects = mail[name].defects
        if utf8:
            # Python's address parser predates RFC 6532 and flags every local
            # part beyond ASCII, which that RFC allows under SMTPUTF8.
            defects = [d for d in defects if not isinstance(d, email.errors.NonASCIILocalPartDefect)]
        assert not defects, (name, defects)
    return mail


def quoted(recipients):
    """Recipients that hold a double quote, with a blank at the end: the
    split leaves it out, and it makes the Windows command line carry the
    argument in quotes, its own quotes escaped, as a user there types it."""
    return recipients + " "


def refusal(run):
    """The error line, however the console encodes it."""
    return run.lines[-1]


@pytest.mark.parametrize("smtputf8", [True, False], ids=["SMTPUTF8", "no SMTPUTF8"])
def test_an_international_domain_goes_in_utf8_or_as_its_a_label(program, smtp_server, smtputf8):
    server = smtp_server(smtputf8=smtputf8)
    configure(program, server, Sender="alerts@" + BUCHER)
    run = send(program, "mail.txt", "ops@" + BUCHER)
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    domain = BUCHER if smtputf8 else ALABEL
    assert message.mail_from == "alerts@" + domain
    assert message.rcpt_tos == ["ops@" + domain]
    assert ("SMTPUTF8" in message.options) == smtputf8
    mail = strict(message, utf8=smtputf8)
    assert mail["From"] == "alerts@" + domain
    assert mail["To"] == "ops@" + domain


def test_a_local_part_beyond_ascii_goes_in_utf8_under_smtputf8(program, smtp_server):
    server = smtp_server(smtputf8=True)
    configure(program, server, Sender="jörg@" + BUCHER)
    run = send(program, "-s", "Grüße", "mail.txt", "zoë@x.io,ops@x.io")
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    assert message.mail_from == "jörg@" + BUCHER
    assert message.rcpt_tos == ["zoë@x.io", "ops@x.io"]
    assert "SMTPUTF8" in message.options
    mail = strict(message, utf8=True)
    assert mail["From"] == "jörg@" + BUCHER
    assert [a.username for a in mail["To"].addresses] == ["zoë", "ops"]
    assert mail["Subject"] == "Grüße"


@pytest.mark.parametrize("sender, recipients, named", [
    ("alerts@example.com", "ops@x.io,zoë@x.io", "recipient address cannot be used: \"zo"),
    ("jörg@example.com", "ops@x.io", "the sender address \"j"),
])
def test_a_local_part_beyond_ascii_is_refused_by_a_server_without_smtputf8(
        program, smtp_server, sender, recipients, named):
    server = smtp_server(smtputf8=False)
    configure(program, server, Sender=sender)
    run = send(program, "mail.txt", recipients)
    assert run.returncode == 65
    assert named in refusal(run)
    assert "offers no SMTPUTF8 for a local part beyond ASCII" in refusal(run)
    assert server.messages == [] and "MAIL" not in server.commands and server.commands[-1] == "QUIT"


@pytest.mark.parametrize("recipients, rcpt_tos, usernames", [
    (quoted('"x,y@x.io",z@x.io'), ['"x,y"@x.io', "z@x.io"], ["x,y", "z"]),
    (quoted('"a\\"b@x.io",c@x.io'), ['"a\\"b"@x.io', "c@x.io"], ['a"b', "c"]),
    ("c\\\\server@x.io", ['"c\\\\server"@x.io'], ["c\\server"]),
    ("Postmaster,ops@x.io", ["Postmaster", "ops@x.io"], ["ops"]),
])
def test_a_local_part_that_is_no_dot_atom_goes_as_a_quoted_string(
        program, smtp_server, recipients, rcpt_tos, usernames):
    server = smtp_server()
    configure(program, server)
    run = send(program, "mail.txt", recipients)
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    assert message.rcpt_tos == rcpt_tos
    mail = strict(message)
    assert [a.username for a in mail["To"].addresses] == usernames


@pytest.mark.parametrize("recipients, sender, named", [
    (quoted('"ab"@x.io'), None, 'recipient address cannot be used: ""ab"@x.io" (text after a closing quote)'),
    (quoted('ok@x.io,"ab@c.io"xyz@evil.io'), None,
     'recipient address cannot be used: ""ab@c.io"xyz@evil.io" (text after a closing quote)'),
    ("ab,x.io", None, 'recipient address cannot be used: "ab" (no "@"), "x.io" (no "@")'),
    ("ops@x.io", "alerts", 'the sender address "alerts" cannot be used (no "@")'),
    ("ops@x.io", "s" * 8186 + "@x.io", 'the sender address "ssss'),
    ("o" * 65 + "@x.io", None, "(longer than SMTP allows"),
    ("ops@x.io,a\x1bb@x.io", None, 'recipient address cannot be used: "a.b@x.io" (a control character)'),
])
def test_what_is_no_address_is_refused_before_any_connection(program, smtp_server, recipients, sender, named):
    server = smtp_server(auth=True)
    configure(program, server, UserName="mailuser", Password="s3cret pass", TLS="off",
              **({"Sender": sender} if sender else {}))
    run = send(program, "mail.txt", recipients)
    assert run.returncode == 65
    assert refusal(run).startswith("error sending mail to ")
    assert named in refusal(run)
    assert len(refusal(run)) < 400, "a long address is named by its start"
    assert server.connections == 0


@pytest.mark.parametrize("subject", [
    "\x1b[31mred alert\x1b[0m",
    "ring\x07 and delete\x7f",
    "=?utf-8?B?SGVsbG8=?=",
    "re: =?iso-8859-1?Q?caf=E9?= menu",
    "Bericht für März " + "x" * 120,
])
def test_a_subject_a_reader_would_not_show_as_typed_goes_as_encoded_words(program, smtp_server, subject):
    server = smtp_server()
    configure(program, server)
    run = send(program, "-s", subject, "mail.txt", "ops@example.com")
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    head = message.data.partition(b"\r\n\r\n")[0].decode("ascii")
    lines = head.split("\r\n")
    start = next(i for i, line in enumerate(lines) if line.startswith("Subject: "))
    field = [lines[start]]
    end = start + 1
    while end < len(lines) and lines[end].startswith(" "):
        field.append(lines[end])
        end += 1
    assert field[0].startswith("Subject: =?")
    assert all(len(line) <= 76 for line in field), field
    assert all(" " <= c <= "~" for line in field for c in line)
    assert strict(message)["Subject"] == subject


@pytest.mark.parametrize("body, canonical", [
    (b"a\x00b\nbare LF\rbare CR\r\nCR LF\n", b"a\x00b\r\nbare LF\r\nbare CR\r\nCR LF\r\n"),
    (b"\x00" * 100 + b"\n" * 3, b"\x00" * 100 + b"\r\n" * 3),
])
def test_a_body_with_nul_bytes_is_base64_of_its_crlf_form(program, smtp_server, body, canonical):
    server = smtp_server()
    configure(program, server)
    run = send(program, "mail.txt", "ops@example.com", body=body)
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    mail = strict(message)
    assert mail["Content-Transfer-Encoding"] == "base64"
    assert mail.get_content_type() == "text/plain"
    assert mail.get_payload(decode=True) == canonical
    assert f"SIZE={len(message.data)}" in message.options
