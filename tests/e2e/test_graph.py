"""Sending through Microsoft Graph (graph_server.py) with a token from the
test token endpoint: the MIME Graph gets is what SMTP delivers, Bcc only in
its header; a large message goes as a draft with its attachments uploaded
in pieces; each failure gives its exit code and Graph's own words; and no
token shows anywhere."""

import base64
import contextlib
import hashlib
import os
import re

import pytest

from conftest import WINE, native, parsed, run_measured, tls_files
from graph_server import GRAPH_SCOPE, UPLOAD_SECRET, GraphServer, GraphTokens, error
from token_endpoint import CLIENT_ID, CLIENT_SECRET

SENDER = "alerts@example.com"
BODY = b"Disk full on db1.\n.a dot line\nGr\xfc\xdfe\n"
MB = 1024 * 1024


@pytest.fixture
def graph(certificates):
    """A token endpoint and a Graph on loopback, both with the test CA's
    certificate for localhost."""
    with contextlib.ExitStack() as stack:
        tokens = stack.enter_context(GraphTokens(**tls_files(certificates)))
        yield stack.enter_context(GraphServer(**tls_files(certificates), tokens=tokens))


def configure(program, graph, certificates, **more):
    # No ServerName: Graph needs none.
    program.write_ini(**{**dict(Sender=SENDER, Transport="graph", GraphURL=graph.url, OAuthTokenURL=graph.tokens.url,
                                OAuthClientID=CLIENT_ID, OAuthClientSecret=CLIENT_SECRET,
                                CAFile=native(certificates / "ca.pem"), Timeout=5, Trace="trace"), **more})


def secrets(graph):
    return [CLIENT_SECRET, UPLOAD_SECRET] + graph.tokens.granted


def assert_no_secrets(program, run, graph):
    """No token, secret or upload URL's query in the output or in any
    file of the program's directory but the settings and the token cache."""
    places = {"standard output": run.stdout, "standard error": run.stderr}
    for f in program.directory.iterdir():
        if f.is_file() and f.name not in ("postrine.ini", "postrine.token", program.exe.name) \
                and f.stat().st_size < 1 * MB:
            places[f.name] = f.read_bytes()
    for secret in secrets(graph):
        for where, data in places.items():
            assert secret.encode() not in data, f"{secret!r} in {where}"


def trace(program):
    return (program.directory / "trace.log").read_bytes().decode("latin-1")


def comparable(mail):
    """A message's header lines less those that differ from run to run
    (and the transfer encoding: SMTP may carry 8 bits, Graph's MIME is
    7-bit clean), and its leaves as content type and decoded bytes."""
    fields = [(k, re.sub(r'boundary="[^"]*"', "boundary", v)) for k, v in mail.items()
              if k not in ("Date", "Message-Id", "Bcc", "Content-Transfer-Encoding")]
    return fields, [(p.get_content_type(), p.get_payload(decode=True)) for p in mail.walk() if not p.is_multipart()]


def test_graph_gets_the_message_smtp_delivers_with_bcc_in_its_header_only(program, graph, smtp_server,
                                                                          certificates):
    (program.directory / "data.bin").write_bytes(bytes(range(256)) * 9)
    args = ["-a", "data.bin", "-s", "Nightly report", "-cc", "cc@example.com", "-bcc", "hidden@example.com",
            "mail.txt", "ops@example.com"]
    server = smtp_server()
    program.configure(server)
    assert program.send(*args, body=BODY).returncode == 0
    (delivered,) = server.messages
    configure(program, graph, certificates)
    run = program.send(*args, body=BODY)
    assert run.returncode == 0, run.lines
    (call,) = graph.calls
    assert call.path == f"/v1.0/users/{SENDER}/sendMail" and call.headers["Content-Type"] == "text/plain"
    assert graph.tokens.scopes == [GRAPH_SCOPE]
    sent = parsed(type("M", (), {"data": call.mime}))
    assert comparable(sent) == comparable(parsed(delivered))
    assert max(call.mime) < 128
    assert sent["Bcc"] == "hidden@example.com" and b"hidden@example.com" not in delivered.data
    assert_no_secrets(program, run, graph)
    assert f"Graph: POST {graph.url}/users/{SENDER}/sendMail\r\n" in trace(program)
    assert "Graph: HTTP 202" in trace(program)


ACCESS_DENIED = error(403, "ErrorAccessDenied", "Access is denied. Check credentials and try again.")
# Graph's answers to sendMail (the first ones; later ones succeed), the exit
# code, the words of the error line and the number of requests made.
FAILURES = {
    "access denied": ([ACCESS_DENIED], 69,
                      "[Graph refused the message (403 ErrorAccessDenied: Access is denied. Check credentials and try "
                      "again.)]", 1),
    "no mailbox": ([error(404, "ErrorInvalidUser", "The requested user 'alerts@example.com' is invalid.")], 69,
                   "(404 ErrorInvalidUser: The requested user 'alerts@example.com' is invalid.)", 1),
    "token refused": ([error(401, "InvalidAuthenticationToken", "Access token has expired or is not yet valid.")],
                      69, "(401 InvalidAuthenticationToken: Access token has expired or is not yet valid.)", 1),
    "server fault": ([error(500, "generalException", "An internal server error occurred.")], 75,
                     "(500 generalException: An internal server error occurred.)", 1),
    "no JSON": ([(502, None, {})], 75, "(502 Bad Gateway)", 1),
    "throttled too long": ([(429, {"error": {"code": "ApplicationThrottled", "message": "Too many requests"}},
                             {"Retry-After": "120"})], 75,
                           "(429 ApplicationThrottled: Too many requests) and asked to wait 120 s, longer than Timeout", 1),
    "unavailable twice": ([(503, None, {"Retry-After": "1"})] * 2, 75,
                          "(503 Service Unavailable) once more after the one retry", 2),
    "throttled once": ([(429, None, {"Retry-After": "1"})], 0, None, 2),
    "200 is not 202": ([(200, {}, {})], 69, "Graph did not confirm the message (200 OK)", 1),
    "no answer": (["stall"], 75, "failed: no answer within 2 seconds", 1),
}


@pytest.mark.parametrize("answers, code, words, calls", FAILURES.values(), ids=FAILURES)
def test_each_failure_gives_its_exit_code_and_graphs_words(program, graph, certificates, answers, code, words, calls):
    graph.faults["sendMail"] = list(answers)
    configure(program, graph, certificates, Timeout=2)
    run = program.send()
    assert run.returncode == code, run.lines
    if words:
        assert run.lines[-1].startswith("error sending mail to ops@example.com [") and words in run.lines[-1], run.lines
    assert len(graph.calls) == calls
    assert_no_secrets(program, run, graph)
    if calls == 2:
        assert "Graph: waiting 1 s before trying once more" in trace(program)
    # The trace quotes Graph's error fields, as the error line does.
    first = answers[0]
    if first != "stall" and first[1] and "error" in first[1]:
        fields = first[1]["error"]
        assert f"; error.code {fields['code']}; error.message {fields['message']}\r\n" in trace(program)


def test_a_connection_that_fails_names_the_host_and_exits_75(program, graph, certificates):
    configure(program, graph, certificates, GraphURL="https://localhost:1/v1.0")
    run = program.send()
    assert run.returncode == 75, run.lines
    assert "failed: cannot connect to localhost port 1" in run.lines[-1], run.lines


def test_a_cached_token_graph_refuses_is_fetched_anew_once(program, graph, certificates):
    configure(program, graph, certificates)
    assert program.send().returncode == 0
    graph.tokens.granted.clear()  # the cached token revoked
    run = program.send()
    assert run.returncode == 0, run.lines
    assert [c.kind for c in graph.calls] == ["sendMail"] * 3 and len(graph.tokens.requests) == 2


SETTINGS = {
    "unknown transport": (dict(Transport="ews"), "unknown Transport setting \"ews\" in postrine.ini (use smtp or graph)"),
    "plain http": (dict(GraphURL="http://localhost/v1.0"),
                   "unknown GraphURL setting \"http://localhost/v1.0\" in postrine.ini (use the https URL"),
    "no token source": (dict(OAuthTokenURL="", OAuthClientID="", OAuthClientSecret=""),
                        "Transport=graph in postrine.ini needs OAuthTokenURL or OAuthTokenCommand"),
}


@pytest.mark.parametrize("settings, words", SETTINGS.values(), ids=SETTINGS)
def test_graph_settings_that_cannot_work_exit_78_naming_the_key(program, graph, certificates, settings, words):
    configure(program, graph, certificates, **settings)
    run = program.send()
    assert run.returncode == 78 and words in run.lines[-1], run.lines
    assert not graph.calls


def attach(program, sizes):
    """Attachment files of random bytes; their names."""
    names = []
    for name, size in sizes.items():
        with open(program.directory / name, "wb") as f:
            for _ in range(size // MB):
                f.write(os.urandom(MB))
            f.write(os.urandom(size % MB))
        names += ["-a", name]
    return names


def test_a_large_message_goes_as_a_draft_its_attachments_uploaded_in_pieces(program, graph, certificates):
    configure(program, graph, certificates)
    names = attach(program, {"big.bin": 10 * MB + 7, "medium.bin": 5 * MB // 2, "small.csv": MB})
    (program.directory / "mail.txt").write_bytes(BODY)
    returncode, lines, memory = run_measured(program, *names, "mail.txt", "ops@example.com", timeout=120)
    assert returncode == 0, lines
    assert graph.kinds() == ["draft", "session", "piece", "piece", "piece", "attachment", "send"]
    (draft,) = graph.drafts.values()
    assert draft["sent"] and not draft["deleted"]
    (upload, medium) = draft["attachments"]
    big = (program.directory / "big.bin").read_bytes()
    assert upload.done and upload.digest.digest() == hashlib.sha256(big).digest()
    assert upload.item == {"attachmentType": "file", "name": "big.bin", "size": len(big),
                           "contentType": "application/octet-stream", "isInline": False}
    assert medium == {"name": "medium.bin", "bytes": (program.directory / "medium.bin").read_bytes()}
    # The draft holds what fits: the body and the small file.
    leaves = comparable(parsed(type("M", (), {"data": draft["mime"]})))[1]
    assert [t for t, _ in leaves] == ["text/plain", "text/csv"]
    assert leaves[1][1] == (program.directory / "small.csv").read_bytes()
    text = trace(program)
    assert re.search(rf"Graph: PUT https://localhost:{graph.port}/upload/1\?<redacted> bytes 0-3932159/10485767\r\n",
                     text), text
    assert "Authorization" not in str([c.headers for c in graph.calls if c.kind == "piece"])
    assert_no_secrets(program, type("R", (), {"stdout": "\r\n".join(lines).encode(), "stderr": b""}), graph)
    # A piece is held at a time, never the file or its base64.
    if not WINE:
        assert memory < 16 * MB, memory


def test_a_failed_upload_exits_75_and_deletes_the_draft(program, graph, certificates):
    graph.faults["piece"] = [error(500, "generalException", "upload failed")]
    configure(program, graph, certificates)
    run = program.send(*attach(program, {"big.bin": 4 * MB}), "mail.txt", "ops@example.com")
    assert run.returncode == 75, run.lines
    assert "Graph refused the upload of big.bin (bytes 0-3932159/4194304) (500 generalException: upload failed)" \
        in run.lines[-1], run.lines
    assert graph.kinds() == ["draft", "session", "piece", "delete"]
    (draft,) = graph.drafts.values()
    assert draft["deleted"] and not draft["sent"]


@pytest.mark.skipif(WINE, reason="150 MB through wine's TLS takes minutes")
def test_150_mb_is_uploaded_and_151_mb_is_refused_before_any_request(program, graph, certificates):
    configure(program, graph, certificates, Timeout=30)
    run = program.send(*attach(program, {"huge.bin": 151 * MB}), "mail.txt", "ops@example.com")
    assert run.returncode == 66, run.lines
    assert "huge.bin is larger than the 150 MB that Microsoft Graph takes" in run.lines[-1], run.lines
    assert not graph.calls and not graph.tokens.requests
    os.truncate(program.directory / "huge.bin", 150 * MB)
    returncode, lines, memory = run_measured(program, "-a", "huge.bin", "mail.txt", "ops@example.com", timeout=300)
    assert returncode == 0, lines
    (upload,) = graph.uploads.values()
    assert upload.done and upload.received == 150 * MB and len(upload.ranges) == 40
    assert memory < 16 * MB, memory


def test_a_message_graph_fails_for_now_is_queued_and_sent_later_with_its_bcc(program, graph, certificates):
    graph.faults["sendMail"] = [error(503, "ServiceUnavailable", "try later")] * 2
    configure(program, graph, certificates, Queue=native(program.directory / "queue"), Timeout=2)
    run = program.send("-bcc", "hidden@example.com", "mail.txt", "ops@example.com", body=BODY)
    assert run.returncode == 0, run.lines
    assert run.lines[-1].startswith("queued for a later try: "), run.lines
    run = program.run("-q")
    assert run.returncode == 0, run.lines
    assert run.lines[-1].startswith("sent from the queue: "), run.lines
    mime = graph.calls[-1].mime
    assert mime.startswith(b"Bcc: hidden@example.com\r\n") and mime.count(b"Bcc:") == 1
    assert mime.endswith(b"\r\n\r\n" + BODY.replace(b"\n", b"\r\n").replace(b"\xfc\xdf", b"=FC=DF")), mime[-80:]
    assert_no_secrets(program, run, graph)


def test_a_message_too_large_for_one_graph_request_is_not_queued(program, graph, certificates):
    graph.faults["draft"] = [error(503, "ServiceUnavailable", "try later")] * 2
    (program.directory / "big.bin").write_bytes(os.urandom(5 * MB))
    configure(program, graph, certificates, Queue=native(program.directory / "queue"), Timeout=2)
    run = program.send("-a", "big.bin", "mail.txt", "ops@example.com", body=BODY)
    assert run.returncode == 75, run.lines
    assert run.lines[-1].startswith("not queued: through Graph a queued message goes in one request"), run.lines
    assert not list(program.directory.glob("queue/*.mail"))
