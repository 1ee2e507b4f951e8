"""Secure delivery against real TLS servers on loopback: STARTTLS and SMTPS
with certificates made at test time, logon over TLS only, and the refusals
a user can act on."""

import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import WINE
from smtp_server import TricklingTlsServer


# Outcomes of the certificate table below (exit code, part of the error
# line), and where wine's crypt32 falls short of Windows.
ACCEPTED = (0, "")
MISMATCH = (69, "is not issued for {host} (host name mismatch)")
ISSUER_UNKNOWN = (69, "certificate for {host} is not trusted (issuer unknown); add its CA with CAFile=")
WINE_NO_IP = pytest.mark.xfail(WINE, strict=True, reason="wine's SSL policy matches no IP address entries")
WINE_IP_WILDCARD = pytest.mark.xfail(WINE, strict=True, reason="wine's SSL policy lets *.0.0.1 match 127.0.0.1")


def configure(program, server, certificates=None, host="localhost", ca=True, **more):
    settings = dict(ServerName=host, PortNumber=server.port, Sender="alerts@example.com")
    if ca and certificates is not None:
        settings["CAFile"] = str(certificates / "ca.pem") if not WINE else "Z:" + str(
            certificates / "ca.pem").replace("/", "\\")
    settings.update(more)
    program.write_ini(**settings)


def send(program):
    (program.directory / "mail.txt").write_bytes(b"over TLS\n")
    return program.run("mail.txt", "ops@example.com")


def cert(certificates, name):
    return dict(cert=str(certificates / f"{name}.pem"), key=str(certificates / f"{name}.key"))


@pytest.mark.parametrize("tls, setting", [("starttls", "auto"), ("starttls", "starttls"),
                                          ("smtps", "smtps")])
@pytest.mark.parametrize("host", [pytest.param("127.0.0.1", marks=WINE_NO_IP), "localhost"])
def test_a_trusted_server_gets_the_message_over_tls(program, smtp_server, certificates, tls, setting, host):
    server = smtp_server(tls=tls, require_starttls=True, **cert(certificates, "good"))
    configure(program, server, certificates, host=host, TLS=setting)
    run = send(program)
    assert run.returncode == 0, run.lines
    assert [m.encrypted for m in server.messages] == [True]


# Inside TLS PLAIN goes first when offered: CRAM-MD5 is what a server with
# hashed passwords offers and cannot check.
@pytest.mark.parametrize("offered, used", [("CRAM-MD5", "CRAM-MD5"), ("PLAIN", "PLAIN"), ("LOGIN", "LOGIN"),
                                           ("CRAM-MD5 PLAIN LOGIN", "PLAIN"), ("CRAM-MD5 LOGIN", "LOGIN")])
def test_logon_happens_over_tls_with_the_mechanism_offered(program, smtp_server, certificates, offered, used):
    server = smtp_server(tls="starttls", auth=True, auth_require_tls=True, **cert(certificates, "good"))
    server.SMTP_kwargs["auth_exclude_mechanism"] = sorted({"CRAM-MD5", "PLAIN", "LOGIN"} - set(offered.split()))
    configure(program, server, certificates, UserName="mailuser", Password="s3cret pass")
    run = send(program)
    assert run.returncode == 0, run.lines
    assert [logon[0] for logon in server.recorder.logons] == [used]
    assert server.messages[0].encrypted
    assert b"s3cret" not in run.stdout + run.stderr


# One table for both back ends: the server's certificate, the name the
# program is given for the server, whether CAFile names the test CA. The
# test CA counts as trusted only through CAFile.
CERTIFICATE_CASES = [
    ("good", "localhost", True, ACCEPTED),
    pytest.param("good", "127.0.0.1", True, ACCEPTED, marks=WINE_NO_IP),
    pytest.param("ip_only", "127.0.0.1", True, ACCEPTED, marks=WINE_NO_IP),
    ("dns_only", "localhost", True, ACCEPTED),
    ("dns_only", "127.0.0.1", True, MISMATCH),  # an address needs an address entry
    ("ip_only", "localhost", True, MISMATCH),
    ("wrong_name", "localhost", True, MISMATCH),
    ("wrong_name", "127.0.0.1", True, MISMATCH),
    pytest.param("wildcard_ip", "127.0.0.1", True, MISMATCH, marks=WINE_IP_WILDCARD),
    ("wildcard_localhost", "localhost", True, MISMATCH),  # "*." stands for one label, never none
    ("expired", "localhost", True, (69, "certificate for localhost has expired")),
    ("not_yet_valid", "localhost", True, (69, "certificate for localhost is not valid yet")),
    ("good", "localhost", False, ISSUER_UNKNOWN),
    ("other_issuer", "localhost", True, ISSUER_UNKNOWN),
    ("self_signed", "localhost", True,
     (69, "certificate for localhost is not trusted (self-signed); add its CA with CAFile=")),
]


@pytest.mark.parametrize("name, host, ca, expected", CERTIFICATE_CASES)
def test_the_certificate_decides_whether_the_server_gets_the_message(program, smtp_server, certificates, name,
                                                                     host, ca, expected):
    server = smtp_server(tls="starttls", **cert(certificates, name))
    configure(program, server, certificates, host=host, ca=ca)
    run = send(program)
    code, text = expected
    assert run.returncode == code, run.lines
    if code == 0:
        assert [m.encrypted for m in server.messages] == [True]
    else:
        assert run.lines[1].startswith("error sending mail to ops@example.com [STARTTLS: "), run.lines
        assert text.format(host=host) in run.lines[1], run.lines
        assert server.messages == []


@pytest.mark.parametrize("name", ["good", "self_signed", "wrong_name"])
def test_tls_verify_off_trusts_any_certificate(program, smtp_server, certificates, name):
    server = smtp_server(tls="starttls", **cert(certificates, name))
    configure(program, server, certificates, ca=False, TLSVerify="off")
    run = send(program)
    assert run.returncode == 0, run.lines
    assert server.messages[0].encrypted


def test_tls_starttls_with_a_server_that_offers_none_is_refused(program, smtp_server):
    server = smtp_server()
    configure(program, server, TLS="starttls")
    run = send(program)
    assert run.returncode == 69
    assert "offers no STARTTLS" in run.lines[1]
    assert server.messages == []


def test_no_password_crosses_a_connection_without_tls(program, smtp_server):
    server = smtp_server(auth=True)
    configure(program, server, UserName="mailuser", Password="s3cret pass")
    run = send(program)
    assert run.returncode == 69
    assert "offered no TLS" in run.lines[1] and "password was withheld" in run.lines[1]
    assert server.recorder.logons == [] and "AUTH" not in server.commands


@pytest.mark.skipif(WINE, reason="the system store of OpenSSL; Schannel has its own")
@pytest.mark.parametrize("store", ["file", "directory"])
def test_a_root_in_the_system_store_is_trusted(program, smtp_server, certificates, tmp_path, store):
    # The system store as OpenSSL finds it: a bundle file, read only when
    # the chain needs it, or a hashed directory.
    empty = tmp_path / "no-roots"
    empty.mkdir()
    hashed = tmp_path / "roots"
    hashed.mkdir()
    digest = subprocess.run(["openssl", "x509", "-hash", "-noout", "-in", certificates / "ca.pem"],
                            capture_output=True, text=True, check=True).stdout.strip()
    shutil.copy(certificates / "ca.pem", hashed / f"{digest}.0")
    env = {"SSL_CERT_FILE": str(certificates / "ca.pem"), "SSL_CERT_DIR": str(empty)} if store == "file" \
        else {"SSL_CERT_FILE": str(tmp_path / "missing.pem"), "SSL_CERT_DIR": str(hashed)}
    server = smtp_server(tls="starttls", require_starttls=True, **cert(certificates, "good"))
    configure(program, server, certificates, ca=False)
    (program.directory / "mail.txt").write_bytes(b"over TLS\n")
    run = program.run("mail.txt", "ops@example.com", env=env)
    assert run.returncode == 0, run.lines
    assert [m.encrypted for m in server.messages] == [True]
    # With neither, the same server is refused.
    server.messages.clear()
    env = {"SSL_CERT_FILE": str(tmp_path / "missing.pem"), "SSL_CERT_DIR": str(empty)}
    run = program.run("mail.txt", "ops@example.com", env=env)
    assert run.returncode == 69 and "is not trusted (issuer unknown)" in run.lines[-1]
    assert server.messages == []


def test_a_server_that_answers_the_handshake_in_clear_text_is_left_at_once(program, smtp_server, certificates):
    # It keeps the connection open: only a look at what came back ends the
    # wait before the time-out.
    server = smtp_server(tls="starttls", fault=("STARTTLS", "tls-chatter"), **cert(certificates, "good"))
    configure(program, server, certificates, Timeout="30")
    started = time.monotonic()
    run = send(program)
    assert time.monotonic() - started < 10
    assert run.returncode == 69, run.lines
    assert "[STARTTLS: TLS handshake with localhost failed: the server answered in clear text, not with TLS]" \
        in run.lines[1], run.lines
    assert server.messages == []


@pytest.mark.xfail(WINE, strict=True, reason="wine takes SCH_CREDENTIALS but offers TLS 1.2 at most")
@pytest.mark.parametrize("tls", ["starttls", "smtps"])
def test_a_server_that_speaks_only_tls_1_3_is_reached(program, smtp_server, certificates, tls):
    server = smtp_server(tls=tls, require_starttls=True, tls13_only=True, **cert(certificates, "good"))
    configure(program, server, certificates, TLS=tls)
    run = send(program)
    assert run.returncode == 0, run.lines
    assert [m.encrypted for m in server.messages] == [True]


SHORT_SIGNATURE = Path(__file__).parent / "certs" / "short_ecdsa_signature"


@pytest.mark.xfail(WINE, strict=True, reason="wine refuses an ECDSA signature whose s is shorter than 32 bytes")
def test_a_chain_whose_ecdsa_signature_has_a_short_half_is_trusted(program, smtp_server):
    # A fixed chain, valid until December 2036; see its README.
    server = smtp_server(tls="starttls", require_starttls=True, **cert(SHORT_SIGNATURE, "server"))
    configure(program, server, SHORT_SIGNATURE)
    run = send(program)
    assert run.returncode == 0, run.lines
    assert [m.encrypted for m in server.messages] == [True]


def test_a_server_that_trickles_its_greeting_cannot_stretch_the_time_out(program, certificates):
    # The whole greeting would take some twenty seconds, each byte well within
    # the two-second limit.
    with TricklingTlsServer(certificates / "good.pem", certificates / "good.key", pause=0.4) as server:
        configure(program, server, certificates, TLS="smtps", Timeout="2")
        started = time.monotonic()
        run = send(program)
        elapsed = time.monotonic() - started
    assert run.returncode == 75, run.lines
    assert "[greeting: the server did not answer: no answer within 2 seconds]" in run.lines[1], run.lines
    assert elapsed < 15  # the greeting alone would take twenty; the rest is for a busy machine
