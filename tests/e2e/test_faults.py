"""The dialogue under fault: a server that, at one stage, refuses, hangs up,
never answers or answers with nonsense. Whatever happens, the run ends
within its time-out, the exit status says whether to try again (75), give
up (69) or nothing is wrong (0), the error line names the cause, and a
message is reported as sent only when the server took it."""

import re
import time

import pytest

from conftest import native, tls_files

pytestmark = pytest.mark.filterwarnings("ignore:Requiring AUTH while not requiring TLS")

TIMEOUT = 1  # seconds; the reply to the end of the message may take ten times as long

SENT = (0, None)


def plain_stage(shown):
    """The outcome of each fault at a stage whose reply decides. Replies
    that are no replies are the parser's, the same at every stage: they
    are met at the greeting."""
    return {
        "4xx": (75, f"{shown}: 451 4.3.0 fault injected"),
        "5xx": (69, f"{shown}: 554 5.3.0 fault injected"),
        "drop": (75, f"{shown}: the server closed the connection"),
        "stall": (75, f"{shown}: the server did not answer"),
    }


MAIL = "MAIL FROM:<alerts@example.com> SIZE=#"  # '#' stands for a number
CASES = {
    "greeting": {**plain_stage("greeting"), "drop-after": (75, "EHLO: "), "overlong": (75, "longer than 4096 bytes"),
                 "malformed": (75, "no reply code"), "endless": (75, "more than 512 lines")},
    # An old server refuses EHLO: HELO then works.
    "EHLO": {**plain_stage("EHLO"), "5xx": SENT, "drop-after": (75, MAIL)},
    "MAIL": {**plain_stage(MAIL), "drop-after": (75, "RCPT TO:<ops@example.com>: ")},
    "RCPT": {**plain_stage("RCPT TO:<ops@example.com>"), "drop-after": (75, "DATA: ")},
    # Once DATA has run its course the message is the server's.
    "DATA": {**plain_stage("DATA"), "drop-after": SENT},
    "end": {**plain_stage("end of message"), "drop-after": SENT},
    "QUIT": {"4xx": SENT, "drop": SENT, "stall": SENT},
    "STARTTLS": {**plain_stage("STARTTLS"), "tls-drop": (75, "STARTTLS: "), "tls-garbage": (69, "STARTTLS: "),
                 # The server's own fault: worth another try.
                 "tls-alert": (75, "STARTTLS: TLS handshake with localhost failed: the server sent the TLS alert "
                                   "internal_error (80)]"),
                 "drop-after": (75, "EHLO: ")},  # TLS in place, then the line goes dead
    # A refused logon ends the send before MAIL.
    "AUTH": plain_stage("AUTH CRAM-MD5"),
}


def reached(stage, certificates):
    """What the server and the settings need for the dialogue to reach
    `stage`."""
    if stage == "STARTTLS":  # by name: wine's crypt32 matches no certificate entry for an address
        return dict(tls="starttls", **tls_files(certificates)), dict(ServerName="localhost",
                                                                   CAFile=native(certificates / "ca.pem"))
    if stage == "AUTH":
        return dict(auth=True, auth_required=True), dict(UserName="mailuser", Password="s3cret pass", TLS="off")
    return {}, {}


@pytest.mark.parametrize("stage, action, expected", [
    (stage, action, expected) for stage, table in CASES.items() for action, expected in table.items()])
def test_a_fault_at_each_stage(program, smtp_server, certificates, stage, action, expected):
    options, settings = reached(stage, certificates)
    server = smtp_server(fault=(stage, action), **options)
    program.configure(server, Timeout=str(TIMEOUT), **settings)
    # Every wait is bounded: the end of the message by ten time-outs, the
    # rest, RSET and QUIT among them, by one each.
    limit = (10 * TIMEOUT if stage == "end" else TIMEOUT) + 2 * TIMEOUT + 15
    started = time.monotonic()
    run = program.send(timeout=limit + 30)
    elapsed = time.monotonic() - started
    assert elapsed < limit, f"{stage}/{action} took {elapsed:.1f} s"
    code, text = expected
    assert run.returncode == code, run.lines
    if code == 0:
        assert len(run.lines) == 1, run.lines  # the "will send" line alone
        assert len(server.messages) == 1
    else:
        assert run.lines[-1].startswith("error sending mail to ops@example.com ["), run.lines
        assert re.search(re.escape(text).replace("\\#", r"\d+"), run.lines[-1]), (text, run.lines)
        assert server.messages == []
