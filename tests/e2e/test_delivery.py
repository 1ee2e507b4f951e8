"""Delivery as a user meets it: the built program sends through a real SMTP
server on loopback; what arrives, and what the program says and returns
when it could not deliver. (Each refusal of the dialogue is the fault
table's and the unit tests'.)"""

import re

import pytest

from conftest import WINE, parsed
from smtp_server import free_port

BODY = (b"First line\n"
        b".a line that starts with a dot\n"
        b"..two dots\n"
        b"\n"
        b"a CR LF line\r\n"
        b".\n"
        b"no line end at the end")
SENT_BODY = BODY.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") + b"\r\n"


def test_a_message_arrives_with_its_body_subject_and_recipients_intact(program, smtp_server):
    server = smtp_server()
    program.configure(server)
    # Empty pieces of the list are skipped, blanks trimmed; a line end in
    # the subject cannot start a header line of its own.
    recipients = " ops@example.com,,dev@example.com,"
    run = program.send("-s", "Nightly report\r\nBcc: victim@example.com", "mail.txt", recipients, body=BODY)
    assert run.lines == [f"will send mail.txt to {recipients}"]
    assert run.returncode == 0
    (message,) = server.messages
    assert message.mail_from == "alerts@example.com"
    assert message.rcpt_tos == ["ops@example.com", "dev@example.com"]
    assert f"SIZE={len(message.data)}" in message.options
    assert message.data.partition(b"\r\n\r\n")[2] == SENT_BODY
    mail = parsed(message)
    assert mail["Subject"] == "Nightly report  Bcc: victim@example.com" and mail["Bcc"] is None
    assert mail["From"] == "alerts@example.com"
    assert mail["To"] == "ops@example.com, dev@example.com"
    assert mail["X-Mailer"].startswith("postrine")
    assert re.fullmatch(r"<\d{8}\d+\.\d\d\.\d+\.[0-9a-f]+@example\.com>", mail["Message-Id"])
    assert mail["Date"].datetime is not None
    # An empty mail file is sent too, with an identifier of its own.
    assert program.send(body=b"").returncode == 0
    assert server.messages[1].data.endswith(b"\r\n\r\n")
    assert parsed(server.messages[1])["Message-Id"] != mail["Message-Id"]


def test_a_refused_connection_exits_75(program):
    program.configure(PortNumber=free_port())
    run = program.send()
    assert run.returncode == 75
    assert run.lines[1].startswith("error sending mail to ops@example.com [cannot connect to 127.0.0.1 port")


def test_a_connection_dropped_during_data_is_a_failure(program, smtp_server):
    server = smtp_server(fault=("body", "drop"))
    program.configure(server)
    run = program.send(body=b"x" * 300000)
    assert run.returncode == 75
    assert "error sending mail to ops@example.com [" in run.lines[1]
    assert server.messages == []


@pytest.mark.parametrize("encoding, password, domain", [
    ("utf-8", "Passwört 日本", "日本.example"),
    ("utf-8-sig", "Passwört 日本", "bücher.example"),
    # An old file saved in the ANSI code page keeps working.
    ("latin-1", "Passwört", "bücher.example"),
])
def test_settings_saved_as_utf8_or_in_the_ansi_code_page_are_read_right(
        program, smtp_server, encoding, password, domain):
    server = smtp_server(auth=True, mechanisms=["PLAIN"])
    program.configure(server, encoding, Sender="alerts@" + domain, UserName="mailuser", Password=password,
                      TLS="off")
    # Windows reads every value as text and sends it as UTF-8, as SASL
    # asks; POSIX sends the bytes of the file.
    sent = password.encode("utf-8" if WINE else encoding.replace("-sig", ""))
    server.recorder.password = sent
    run = program.send()
    assert run.returncode == 0, run.lines
    assert server.recorder.logons == [("PLAIN", b"mailuser", sent)]
    assert server.messages[0].mail_from == "alerts@" + domain.encode("idna").decode()


def test_a_server_on_ipv6_loopback_is_reached(program, smtp_server):
    try:
        server = smtp_server(host="::1")
    except OSError as e:  # a host with IPv6 switched off
        pytest.skip(f"no IPv6 loopback here: {e}")
    program.configure(server, ServerName="[::1]")
    run = program.send()
    assert run.returncode == 0, run.lines
    assert len(server.messages) == 1
