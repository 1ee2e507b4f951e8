"""Delivery as a user meets it: the built program sends through a real SMTP
server on loopback; what arrives, what is refused, and what the program
says and returns when it could not deliver."""

import email
import email.policy
import re
import socket
import time

import pytest

from conftest import WINE
from smtp_server import free_port

BODY = (b"First line\n"
        b".a line that starts with a dot\n"
        b"..two dots\n"
        b"\n"
        b"a CR LF line\r\n"
        b".\n"
        b"no line end at the end")
SENT_BODY = BODY.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") + b"\r\n"


def configure(program, server=None, port=None, encoding="latin-1", **more):
    settings = dict(ServerName="127.0.0.1", PortNumber=port or server.port, Sender="alerts@example.com")
    settings.update(more)
    program.write_ini(encoding, **settings)


def send(program, *args, body=BODY, name="mail.txt"):
    if body is not None:
        (program.directory / name).write_bytes(body)
    return program.run(*args)


def parsed(message):
    return email.message_from_bytes(message.data, policy=email.policy.default)


def test_a_message_arrives_with_its_body_subject_and_recipients_intact(program, smtp_server):
    server = smtp_server()
    configure(program, server)
    run = send(program, "-s", "Nightly report", "mail.txt", "ops@example.com,dev@example.com")
    assert run.lines == ["will send mail.txt to ops@example.com,dev@example.com"]
    assert run.returncode == 0
    (message,) = server.messages
    assert message.mail_from == "alerts@example.com"
    assert message.rcpt_tos == ["ops@example.com", "dev@example.com"]
    head, _, body = message.data.partition(b"\r\n\r\n")
    assert body == SENT_BODY
    mail = parsed(message)
    assert mail.defects == []
    assert all(not mail[h].defects for h in mail.keys())
    assert mail["Subject"] == "Nightly report"
    assert mail["From"] == "alerts@example.com"
    assert mail["To"] == "ops@example.com, dev@example.com"
    assert mail["X-Mailer"].startswith("postrine")
    assert re.fullmatch(r"<\d{8}\d+\.\d\d\.\d+\.[0-9a-f]+@example\.com>", mail["Message-Id"])
    assert mail["Date"].datetime is not None


def test_two_runs_give_two_message_identifiers(program, smtp_server):
    server = smtp_server()
    configure(program, server)
    send(program, "mail.txt", "a@example.com")
    send(program, "mail.txt", "a@example.com")
    ids = [parsed(m)["Message-Id"] for m in server.messages]
    assert len(ids) == 2 and ids[0] != ids[1]


@pytest.mark.parametrize("recipients", ["r1@example.com,,r2@example.com",
                                        "r1@example.com, r2@example.com",
                                        " r1@example.com ,r2@example.com,"])
def test_empty_pieces_are_skipped_and_blanks_trimmed(program, smtp_server, recipients):
    server = smtp_server()
    configure(program, server)
    run = send(program, "mail.txt", recipients)
    assert run.returncode == 0, run.lines
    assert server.messages[0].rcpt_tos == ["r1@example.com", "r2@example.com"]


@pytest.mark.parametrize("pipelining", [True, False])
def test_one_refused_recipient_stops_the_whole_delivery(program, smtp_server, pipelining):
    server = smtp_server(pipelining=pipelining,
                         refuse_rcpt={"nobody@example.com": "550 5.1.1 user unknown"})
    configure(program, server)
    run = send(program, "mail.txt", "ops@example.com,nobody@example.com")
    assert run.returncode == 69
    assert run.lines[1] == ("error sending mail to ops@example.com,nobody@example.com "
                            "[RCPT TO:<nobody@example.com>: 550 5.1.1 user unknown]")
    assert server.messages == []
    assert "DATA-END" not in server.commands and "RSET" in server.commands


@pytest.mark.parametrize("behaviour, stage", [
    (dict(mail_reply="421 4.3.2 shutting down"), "MAIL FROM:<alerts@example.com> SIZE="),
    (dict(refuse_rcpt={"ops@example.com": "451 4.3.0 try again later"}),
     "RCPT TO:<ops@example.com>: 451"),
    (dict(data_reply="452 4.3.1 out of space"), "end of message: 452"),
])
def test_a_temporary_refusal_exits_75_and_quotes_the_server(program, smtp_server, behaviour, stage):
    server = smtp_server(**behaviour)
    configure(program, server)
    run = send(program, "mail.txt", "ops@example.com")
    assert run.returncode == 75
    assert stage in run.lines[1]
    assert server.messages == []


def test_a_refused_connection_exits_75(program):
    configure(program, port=free_port())
    run = send(program, "mail.txt", "ops@example.com")
    assert run.returncode == 75
    assert run.lines[1].startswith("error sending mail to ops@example.com [cannot connect to 127.0.0.1 port")


def test_a_connection_dropped_during_data_is_a_failure(program, smtp_server):
    server = smtp_server(drop_in_data=True)
    configure(program, server)
    run = send(program, "mail.txt", "ops@example.com", body=b"x" * 300000)
    assert run.returncode == 75
    assert "error sending mail to ops@example.com [" in run.lines[1]
    assert server.messages == []


def test_a_server_that_never_answers_cannot_hold_the_program(program, smtp_server):
    server = smtp_server(stall_ehlo=60)
    configure(program, server, Timeout="1")
    started = time.monotonic()
    run = send(program, "mail.txt", "ops@example.com")
    assert time.monotonic() - started < 30
    assert run.returncode == 75
    assert "EHLO: the server did not answer" in run.lines[1]


def test_an_empty_mail_file_is_sent(program, smtp_server):
    server = smtp_server()
    configure(program, server)
    run = send(program, "mail.txt", "ops@example.com", body=b"")
    assert run.returncode == 0
    assert server.messages[0].data.endswith(b"\r\n\r\n")


@pytest.mark.parametrize("recipients", ["a b@example.com", "x@example.com>,<y@example.com",
                                        "ok@example.com,\"bad@example.com\r\nRCPT TO:<z@example.com>\""])
def test_an_address_that_could_inject_a_command_is_refused_before_connecting(
        program, smtp_server, recipients):
    server = smtp_server()
    configure(program, server)
    run = send(program, "mail.txt", recipients)
    assert run.returncode == 65
    assert "cannot be used" in run.lines[-1]
    assert server.connections == 0


def test_a_subject_cannot_add_header_lines(program, smtp_server):
    server = smtp_server()
    configure(program, server)
    send(program, "-s", "Report\r\nBcc: victim@example.com", "mail.txt", "ops@example.com")
    mail = parsed(server.messages[0])
    assert mail["Bcc"] is None
    assert mail["Subject"] == "Report  Bcc: victim@example.com"


@pytest.mark.parametrize("subject, name", [
    ("Bericht für März", "mail.txt"),
    # Beyond the ANSI code page of a Western Windows, in a name too.
    ("Grüße 日本 📎", "日本語の報告.txt"),
])
def test_text_beyond_ascii_arrives_readable(program, smtp_server, subject, name):
    server = smtp_server()
    configure(program, server)
    body = "Grüße aus Köln – 10 €\n".encode("utf-8")
    run = send(program, "-s", subject, name, "ops@example.com", body=body, name=name)
    assert run.returncode == 0, run.text_lines
    assert run.text_lines == [f"will send {name} to ops@example.com"]
    mail = email.message_from_bytes(server.messages[0].data, policy=email.policy.strict)
    assert mail["Subject"] == subject
    assert mail.get_content().replace("\r\n", "\n") == "Grüße aus Köln – 10 €\n"


@pytest.mark.parametrize("encoding, password, domain", [
    ("utf-8", "Passwört 日本", "日本.example"),
    ("utf-8-sig", "Passwört 日本", "bücher.example"),
    # An old file saved in the ANSI code page keeps working.
    ("latin-1", "Passwört", "bücher.example"),
])
def test_settings_saved_as_utf8_or_in_the_ansi_code_page_are_read_right(
        program, smtp_server, encoding, password, domain):
    server = smtp_server(auth=True)
    server.SMTP_kwargs["auth_exclude_mechanism"] = ["CRAM-MD5", "LOGIN"]
    configure(program, server, encoding=encoding, Sender="alerts@" + domain, UserName="mailuser",
              Password=password, TLS="off")
    # Windows reads every value as text and sends it as UTF-8, as SASL
    # asks; POSIX sends the bytes of the file.
    sent = password.encode("utf-8" if WINE else encoding.replace("-sig", ""))
    server.recorder.password = sent
    run = send(program, "mail.txt", "ops@example.com")
    assert run.returncode == 0, run.lines
    assert server.recorder.logons == [("PLAIN", b"mailuser", sent)]
    assert server.messages[0].mail_from == "alerts@" + domain.encode("idna").decode()


def test_long_lines_are_encoded_so_no_line_exceeds_the_limit(program, smtp_server):
    server = smtp_server()
    configure(program, server)
    body = b"y" * 5000 + b"\n"
    send(program, "mail.txt", "ops@example.com", body=body)
    message = server.messages[0]
    assert max(len(line) for line in message.data.split(b"\r\n")) <= 998
    assert parsed(message).get_content().replace("\r\n", "\n") == "y" * 5000 + "\n"


def test_the_password_is_withheld_on_an_unencrypted_connection(program, smtp_server):
    server = smtp_server(auth=True)
    configure(program, server, UserName="mailuser", Password="s3cret pass")
    run = send(program, "mail.txt", "ops@example.com")
    assert run.returncode == 69
    assert "password was withheld" in run.lines[1]
    assert server.recorder.logons == [] and server.messages == []
    assert b"s3cret" not in run.stdout + run.stderr


@pytest.mark.parametrize("mechanism", ["PLAIN", "LOGIN"])
def test_tls_off_logs_on_in_the_clear_when_the_settings_say_so(program, smtp_server, mechanism):
    server = smtp_server(auth=True)
    server.SMTP_kwargs["auth_exclude_mechanism"] = [
        m for m in ("CRAM-MD5", "PLAIN", "LOGIN") if m != mechanism]
    configure(program, server, UserName="mailuser", Password="s3cret pass", TLS="off")
    run = send(program, "mail.txt", "ops@example.com")
    assert run.returncode == 0, run.lines
    assert server.recorder.logons == [(mechanism, b"mailuser", b"s3cret pass")]
    assert len(server.messages) == 1
    assert b"s3cret" not in run.stdout + run.stderr


def test_a_wrong_password_delivers_nothing_where_logon_is_optional(program, smtp_server):
    server = smtp_server(auth=True)
    configure(program, server, UserName="mailuser", Password="wrong", TLS="off")
    run = send(program, "mail.txt", "ops@example.com")
    assert run.returncode == 69, run.lines
    assert run.lines[1].startswith("error sending mail to ops@example.com [AUTH CRAM-MD5: 535 "), run.lines
    assert "MAIL" not in server.commands and server.messages == []
    assert b"wrong" not in run.stdout


@pytest.mark.parametrize("body", [BODY, "Grüße aus Köln\n".encode() * 50, b"\x00binary\x01" * 100],
                         ids=["7bit", "8bit", "base64"])
def test_the_size_declared_is_the_size_that_arrives(program, smtp_server, body):
    server = smtp_server()
    configure(program, server)
    assert send(program, "mail.txt", "ops@example.com", body=body).returncode == 0
    (message,) = server.messages
    assert f"SIZE={len(message.data)}" in message.options


def test_a_message_larger_than_the_server_takes_is_not_sent(program, smtp_server):
    server = smtp_server(size_limit=2000)
    configure(program, server)
    run = send(program, "mail.txt", "ops@example.com", body=b"x" * 3000)
    assert run.returncode == 69
    assert "larger than the server accepts (2000 bytes)" in run.lines[-1]
    assert "MAIL" not in server.commands and server.messages == []


@pytest.mark.parametrize("name", ["::1", "[::1]"])
def test_a_server_on_ipv6_loopback_is_reached(program, smtp_server, name):
    try:
        server = smtp_server(host="::1")
    except OSError as e:  # a host with IPv6 switched off
        pytest.skip(f"no IPv6 loopback here: {e}")
    configure(program, server, ServerName=name)
    run = send(program, "mail.txt", "ops@example.com")
    assert run.returncode == 0, run.lines
    assert len(server.messages) == 1


def test_a_logon_is_not_tried_for_a_message_that_cannot_be_sent(program, smtp_server):
    server = smtp_server(auth=True)
    configure(program, server, UserName="mailuser", Password="s3cret pass", TLS="off")
    run = send(program, "mail.txt", "not an address")
    assert run.returncode == 65
    assert server.connections == 0 and server.recorder.logons == []
