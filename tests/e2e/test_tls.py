"""Secure delivery against real TLS servers on loopback: STARTTLS and SMTPS
with certificates made at test time, logon over TLS only, and the refusals
a user can act on."""

import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import WINE, native, tls_files


# Outcomes of the certificate table below (exit code, part of the error
# line), and where wine's crypt32 falls short of Windows.
ACCEPTED = (0, "")
MISMATCH = (69, "is not issued for {host} (host name mismatch)")
ISSUER_UNKNOWN = (69, "certificate for {host} is not trusted (issuer unknown); add its CA with CAFile=")
WINE_NO_IP = pytest.mark.xfail(WINE, strict=True, reason="wine's SSL policy matches no IP address entries")
WINE_IP_WILDCARD = pytest.mark.xfail(WINE, strict=True, reason="wine's SSL policy lets *.0.0.1 match 127.0.0.1")


def configure(program, server, certificates=None, host="localhost", **more):
    ca = dict(CAFile=native(certificates / "ca.pem")) if certificates else {}
    program.configure(server, ServerName=host, **ca, **more)


def send(program, **options):
    return program.send(body=b"over TLS\n", **options)


SHORT_SIGNATURE = Path(__file__).parent / "certs" / "short_ecdsa_signature"  # valid until 2036; see its README


@pytest.mark.parametrize("tls, setting, options", [
    ("starttls", "auto", {}), ("starttls", "starttls", {}), ("smtps", "smtps", {}),
    pytest.param("starttls", "auto", {"tls13_only": True}, id="TLS 1.3 only",
                 marks=pytest.mark.xfail(WINE, strict=True, reason="wine offers TLS 1.2 at most")),
    pytest.param("starttls", "auto", {"chain": (SHORT_SIGNATURE, "server")}, id="short ECDSA signature half",
                 marks=pytest.mark.xfail(WINE, strict=True, reason="wine refuses an ECDSA s shorter than 32 bytes")),
])
def test_a_trusted_server_gets_the_message_and_the_logon_over_tls(program, smtp_server, certificates, tls,
                                                                  setting, options):
    directory, name = options.get("chain", (certificates, "good"))
    # Inside TLS PLAIN goes first: CRAM-MD5 is what a server with hashed
    # passwords offers and cannot check.
    server = smtp_server(tls=tls, require_starttls=True, auth=True, tls13_only="tls13_only" in options,
                         **tls_files(directory, name))
    configure(program, server, directory, TLS=setting, UserName="mailuser", Password="s3cret pass")
    run = send(program)
    assert run.returncode == 0, run.lines
    assert [m.encrypted for m in server.messages] == [True]
    assert server.recorder.logons == [("PLAIN", b"mailuser", b"s3cret pass")]
    assert b"s3cret" not in run.stdout + run.stderr


# One table for both back ends: the server's certificate, the name the
# program is given for the server, and what it trusts: the test CA through
# CAFile ("CAFile"), the system's roots alone ("system"), or anything
# (TLSVerify=off).
CERTIFICATE_CASES = [
    pytest.param("ip_only", "127.0.0.1", "CAFile", ACCEPTED, marks=WINE_NO_IP),
    ("dns_only", "127.0.0.1", "CAFile", MISMATCH),  # an address needs an address entry
    pytest.param("wildcard_ip", "127.0.0.1", "CAFile", MISMATCH, marks=WINE_IP_WILDCARD),
    ("expired", "localhost", "CAFile", (69, "certificate for localhost has expired")),
    ("not_yet_valid", "localhost", "CAFile", (69, "certificate for localhost is not valid yet")),
    ("good", "localhost", "system", ISSUER_UNKNOWN),
    ("other_issuer", "localhost", "CAFile", ISSUER_UNKNOWN),
    ("self_signed", "localhost", "CAFile",
     (69, "certificate for localhost is not trusted (self-signed); add its CA with CAFile=")),
    ("self_signed", "localhost", "TLSVerify=off", ACCEPTED),
]


@pytest.mark.parametrize("name, host, trust, expected", CERTIFICATE_CASES)
def test_the_certificate_decides_whether_the_server_gets_the_message(program, smtp_server, certificates, name,
                                                                     host, trust, expected):
    server = smtp_server(tls="starttls", **tls_files(certificates, name))
    configure(program, server, certificates if trust == "CAFile" else None, host=host,
              **({"TLSVerify": "off"} if trust == "TLSVerify=off" else {}))
    run = send(program)
    code, text = expected
    assert run.returncode == code, run.lines
    if code == 0:
        assert [m.encrypted for m in server.messages] == [True]
    else:
        assert run.lines[1].startswith("error sending mail to ops@example.com [STARTTLS: "), run.lines
        assert text.format(host=host) in run.lines[1], run.lines
        assert server.messages == []


def test_a_server_without_tls_gets_no_password(program, smtp_server):
    # A token, and TLS=starttls, are kept to by the same check.
    server = smtp_server(auth=True)
    configure(program, server, UserName="mailuser", Password="s3cret pass")
    run = send(program)
    assert run.returncode == 69
    assert "offered no TLS, so the password was withheld" in run.lines[1]
    assert b"AUTH" not in server.received and b"s3cret" not in server.received
    assert server.messages == []


@pytest.mark.skipif(WINE, reason="the system store of OpenSSL; Schannel has its own")
@pytest.mark.parametrize("store", ["file", "directory"])
def test_a_root_in_the_system_store_is_trusted(program, smtp_server, certificates, tmp_path, store):
    # The system store as OpenSSL finds it: a bundle file, read only when
    # the chain needs it, or a hashed directory. (Without the test CA in
    # it, the same server is refused: the certificate table's case.)
    hashed = tmp_path / "roots"
    hashed.mkdir()
    digest = subprocess.run(["openssl", "x509", "-hash", "-noout", "-in", certificates / "ca.pem"],
                            capture_output=True, text=True, check=True).stdout.strip()
    shutil.copy(certificates / "ca.pem", hashed / f"{digest}.0")
    env = {"SSL_CERT_FILE": str(certificates / "ca.pem"), "SSL_CERT_DIR": str(tmp_path)} if store == "file" \
        else {"SSL_CERT_FILE": str(tmp_path / "missing.pem"), "SSL_CERT_DIR": str(hashed)}
    server = smtp_server(tls="starttls", require_starttls=True, **tls_files(certificates))
    configure(program, server)
    run = send(program, env=env)
    assert run.returncode == 0, run.lines
    assert [m.encrypted for m in server.messages] == [True]


def test_a_server_that_answers_the_handshake_in_clear_text_is_left_at_once(program, smtp_server, certificates):
    # It keeps the connection open: only a look at what came back ends the
    # wait before the time-out.
    server = smtp_server(tls="starttls", fault=("STARTTLS", "tls-chatter"), **tls_files(certificates))
    configure(program, server, certificates, Timeout="30")
    started = time.monotonic()
    run = send(program)
    assert time.monotonic() - started < 10
    assert run.returncode == 69, run.lines
    assert "[STARTTLS: TLS handshake with localhost failed: the server answered in clear text, not with TLS]" \
        in run.lines[1], run.lines
    assert server.messages == []
