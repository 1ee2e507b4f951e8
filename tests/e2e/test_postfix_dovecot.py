"""Against a production server: Postfix, which cuts command lines at 2048
octets, with Dovecot's oauth2 password database behind it (conftest's
postfix_oauth). A token far longer than one AUTH line holds is taken with
either mechanism, and a fresh token the server refuses costs one token
request and one failed logon. A password is taken with PLAIN inside TLS,
though Dovecot, keeping it hashed, offers CRAM-MD5 too."""

import pytest

from test_oauth import assert_no_secrets, by_url, configure, send

# Longer than Microsoft Entra's usual access tokens, and than the 2048
# octets of a Postfix command line once in base64.
LONG = 2500


@pytest.fixture
def served(postfix_oauth, endpoint):
    """The server and a token endpoint for it, the introspection's verdict
    set back afterwards."""
    e = endpoint(length=LONG)
    yield postfix_oauth, e
    postfix_oauth.introspection.accepted = lambda token: False


@pytest.mark.parametrize("listener, mechanism", [("smtp", "OAUTHBEARER"), ("xoauth2", "XOAUTH2")])
def test_a_token_of_2500_characters_is_delivered_with_each_mechanism(program, served, certificates,
                                                                     listener, mechanism):
    server, e = served
    server.introspection.accepted = lambda token: token in e.granted
    delivered = len(server.messages)
    configure(program, server, certificates, PortNumber=server.ports[listener], **by_url(e))
    run = send(program)
    assert run.returncode == 0, (run.lines, server.log()[-2000:])
    assert len(e.granted) == 1 and len(e.granted[0]) == LONG
    assert server.introspection.asked[-1] == e.granted[0], "the token reached Dovecot whole"
    messages = server.wait_for_messages(delivered + 1)
    assert len(messages) == delivered + 1 and messages[-1].rcpt_tos == ["ops@example.com"]
    assert b"disk full on db1" in messages[-1].data
    trace = (program.directory / "trace.log").read_bytes().decode("latin-1")
    assert f"C: AUTH {mechanism}\r\n" in trace and "C: <redacted>\r\n" in trace
    assert_no_secrets(program, run, server, [e.granted[0]])


def test_a_fresh_token_that_is_refused_costs_one_request_and_one_failed_logon(program, served, certificates):
    server, e = served
    asked = len(server.introspection.asked)
    delivered = len(server.messages)
    configure(program, server, certificates, PortNumber=server.ports["smtp"], **by_url(e))
    run = send(program)
    assert run.returncode == 69, run.lines
    assert "[AUTH OAUTHBEARER: 535 5.7.8 Error: authentication failed" in run.lines[-1], run.lines
    assert "fresh" not in run.lines[-1]
    assert len(e.requests) == 1
    assert len(server.introspection.asked) == asked + 1
    assert len(server.messages) == delivered


def test_a_password_kept_hashed_is_taken_with_plain_though_cram_md5_is_offered(program, postfix_oauth,
                                                                                certificates):
    server = postfix_oauth
    delivered = len(server.messages)
    configure(program, server, certificates, PortNumber=server.ports["smtp"], Password=server.password)
    run = send(program)
    assert run.returncode == 0, (run.lines, server.log()[-2000:])
    trace = (program.directory / "trace.log").read_bytes().decode("latin-1")
    assert "CRAM-MD5" in trace.split("C: STARTTLS")[1].split("C: AUTH")[0], "offered under TLS"
    assert "C: AUTH PLAIN" in trace
    messages = server.wait_for_messages(delivered + 1)
    assert len(messages) == delivered + 1 and b"disk full on db1" in messages[-1].data
    assert_no_secrets(program, run, server, [server.password])
