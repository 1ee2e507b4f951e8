"""Against a production server: Postfix, which cuts command lines at 2048
octets, with Dovecot's oauth2 password database behind it (real_server.py).
A token far longer than one AUTH line holds is taken with either
mechanism."""

import pytest

from test_oauth import assert_no_secrets, by_url, configure, send

# Longer than Microsoft Entra's usual access tokens, and than the 2048
# octets of a Postfix command line once in base64.
LONG = 2500


@pytest.fixture(scope="module")
def postfix(certificates):
    """Postfix, started once for the file: listener "smtp" offers
    OAUTHBEARER and XOAUTH2, "xoauth2" XOAUTH2 alone. Its
    `introspection.accepted(token)` tells which tokens Dovecot takes."""
    import real_server
    from token_endpoint import Introspection
    reason = real_server.missing()
    if reason:
        pytest.skip(reason)
    introspection = Introspection("alerts@example.com")
    server = real_server.PostfixDovecot(
        certificates / "good.pem", certificates / "good.key",
        lambda directory: real_server.oauth2_passdb(directory, introspection.url),
        listeners={"smtp": {}, "xoauth2": {"smtpd_sasl_mechanism_filter": "xoauth2"}})
    server.introspection = introspection
    try:
        yield server.start()
    finally:
        server.stop()
        introspection.stop()


@pytest.mark.parametrize("listener, mechanism", [("smtp", "OAUTHBEARER"), ("xoauth2", "XOAUTH2")])
def test_a_token_of_2500_characters_is_delivered_with_each_mechanism(program, postfix, endpoint, certificates,
                                                                     listener, mechanism):
    e = endpoint(length=LONG)
    postfix.introspection.accepted = lambda token: token in e.granted
    delivered = len(postfix.messages)
    configure(program, postfix, certificates, PortNumber=postfix.ports[listener], **by_url(e))
    run = send(program)
    assert run.returncode == 0, (run.lines, postfix.log()[-2000:])
    assert len(e.granted) == 1 and len(e.granted[0]) == LONG
    assert postfix.introspection.asked[-1] == e.granted[0], "the token reached Dovecot whole"
    messages = postfix.wait_for_messages(delivered + 1)
    assert len(messages) == delivered + 1 and messages[-1].rcpt_tos == ["ops@example.com"]
    assert b"disk full on db1" in messages[-1].data
    trace = (program.directory / "trace.log").read_bytes().decode("latin-1")
    assert f"C: AUTH {mechanism}\r\n" in trace and "C: <redacted>\r\n" in trace
    assert_no_secrets(program, run, postfix, [e.granted[0]])
