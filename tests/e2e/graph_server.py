"""A Microsoft Graph of the test suite's own, on loopback over TLS with a
certificate of the test CA: sendMail, creating a draft, the upload session
of an attachment and its pieces, adding a small attachment, sending and
deleting the draft, in the request forms Microsoft documents. It takes the
tokens that a token endpoint granted, records what each request carried
(the MIME decoded, an upload's bytes only as a digest and a size), and
answers from a script of faults before it answers as Graph does."""

import base64
import hashlib
import json
import re
import ssl
import threading
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from token_endpoint import SCOPE, TokenEndpoint

GRAPH_SCOPE = "https://graph.microsoft.com/.default"
UPLOAD_SECRET = "upl0ad-t0ken-in-the-query"
PIECE_UNIT = 320 * 1024
LARGEST_PIECE = 4 * 1024 * 1024
LARGEST_REQUEST = 4 * 1024 * 1024


class GraphTokens(TokenEndpoint):
    """The token endpoint, granting tokens for Graph's scope: the scopes
    asked for are recorded."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.scopes = []

    def answer(self, form):
        self.scopes.append(form.get("scope"))
        if form.get("scope") == GRAPH_SCOPE:
            form = {**form, "scope": SCOPE}
        return super().answer(form)


@dataclass
class Call:
    method: str
    kind: str        # sendMail, draft, session, piece, attachment, send, delete
    path: str
    headers: dict
    mime: bytes = b""           # the MIME decoded from a sendMail or draft
    json: dict = field(default_factory=dict)


@dataclass
class Upload:
    item: dict
    received: int = 0
    digest: object = field(default_factory=hashlib.sha256)
    ranges: list = field(default_factory=list)
    done: bool = False


def error(status, code, message):
    return status, {"error": {"code": code, "message": message}}, {}


class GraphServer:
    """faults: kind -> a list of answers (status, json, headers), or
    "stall" for none, given to the first requests of that kind before the
    real ones."""

    def __init__(self, cert, key, tokens):
        self.tokens = tokens
        self.calls = []
        self.uploads = {}    # session number -> Upload
        self.drafts = {}     # id -> {"mime", "attachments": [...], "sent", "deleted"}
        self.faults = {}
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        outer = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                outer.handle(self)

            do_PUT = do_POST
            do_DELETE = do_POST

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        self.url = f"https://localhost:{self.port}/v1.0"

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()

    def kinds(self):
        return [c.kind for c in self.calls]

    # What a request is, by its method and path.
    ROUTES = [
        ("POST", r"/v1\.0/users/([^/]+)/sendMail", "sendMail"),
        ("POST", r"/v1\.0/users/([^/]+)/messages", "draft"),
        ("POST", r"/v1\.0/users/([^/]+)/messages/([^/]+)/attachments/createUploadSession", "session"),
        ("POST", r"/v1\.0/users/([^/]+)/messages/([^/]+)/attachments", "attachment"),
        ("POST", r"/v1\.0/users/([^/]+)/messages/([^/]+)/send", "send"),
        ("DELETE", r"/v1\.0/users/([^/]+)/messages/([^/]+)", "delete"),
        ("PUT", r"/upload/(\d+)\?authtoken=" + UPLOAD_SECRET, "piece"),
    ]

    def handle(self, h):
        for method, pattern, kind in self.ROUTES:
            match = re.fullmatch(pattern, h.path)
            if method == h.command and match:
                break
        else:
            self.reply(h, *error(404, "UnknownPath", f"no such path {h.path}"))
            return
        length = int(h.headers.get("Content-Length", "0"))
        call = Call(h.command, kind, h.path, dict(h.headers))
        with self.lock:
            self.calls.append(call)
            fault = self.faults.get(kind, [])
            answer = fault.pop(0) if fault else None
        if answer == "stall":
            self.stopping.wait(30)
            return
        if kind == "piece":
            if answer:
                h.rfile.read(length)
            self.reply(h, *(answer or self.piece(h, int(match.group(1)), length)))
            return
        body = h.rfile.read(length)
        if answer:
            self.reply(h, *answer)
            return
        if h.headers.get("Authorization") not in [f"Bearer {t}" for t in self.tokens.granted]:
            self.reply(h, *error(401, "InvalidAuthenticationToken", "Access token validation failure."))
            return
        if kind in ("sendMail", "draft"):
            if length > LARGEST_REQUEST:
                self.reply(h, *error(413, "ErrorRequestTooLarge", "The request is larger than 4 MB."))
                return
            assert h.headers.get("Content-Type") == "text/plain", h.headers
            call.mime = base64.b64decode(body, validate=True)
            if kind == "sendMail":
                self.reply(h, 202, None, {})
                return
            with self.lock:
                number = str(len(self.drafts) + 1)
                self.drafts[number] = {"mime": call.mime, "attachments": [], "sent": False, "deleted": False}
            self.reply(h, 201, {"id": f"AAMk{number}=", "subject": "draft"}, {})
            return
        draft = self.drafts.get(match.group(2).removeprefix("AAMk").removesuffix("="))
        if draft is None:
            self.reply(h, *error(404, "ErrorItemNotFound", "The specified object was not found in the store."))
            return
        if kind == "session":
            call.json = json.loads(body)
            item = call.json["AttachmentItem"]
            assert item["attachmentType"] == "file" and item["size"] >= 3 * 1024 * 1024, item
            with self.lock:
                number = len(self.uploads) + 1
                self.uploads[number] = Upload(item)
                draft["attachments"].append(self.uploads[number])
            self.reply(h, 201, {"uploadUrl": f"https://localhost:{self.port}/upload/{number}?authtoken={UPLOAD_SECRET}",
                                "nextExpectedRanges": ["0-"]}, {})
        elif kind == "attachment":
            call.json = json.loads(body)
            data = base64.b64decode(call.json["contentBytes"], validate=True)
            draft["attachments"].append({"name": call.json["name"], "bytes": data})
            self.reply(h, 201, {"id": "att"}, {})
        elif kind == "send":
            draft["sent"] = True
            self.reply(h, 202, None, {})
        else:
            draft["deleted"] = True
            self.reply(h, 204, None, {})

    def piece(self, h, number, length):
        """One PUT of an upload session, read in pieces: its range must be
        the next one, of a size Graph takes, and carry no token."""
        upload = self.uploads[number]
        size = upload.item["size"]
        got = re.fullmatch(r"bytes (\d+)-(\d+)/(\d+)", h.headers.get("Content-Range", ""))
        left = length
        while left:
            chunk = h.rfile.read(min(left, 1 << 20))
            if not chunk:
                break
            upload.digest.update(chunk)
            left -= len(chunk)
        if "Authorization" in h.headers or not got:
            return error(400, "InvalidRequest", "an upload takes no Authorization header and needs Content-Range")
        first, last, total = map(int, got.groups())
        upload.ranges.append((first, last))
        final = last + 1 == size
        if (first != upload.received or total != size or last - first + 1 != length or length > LARGEST_PIECE
                or (not final and length % PIECE_UNIT)):
            return error(400, "InvalidRange", f"unexpected range {first}-{last}/{total} of {length} bytes")
        upload.received = last + 1
        if final:
            upload.done = True
            return 201, None, {"Location": f"https://localhost/attachments/{number}"}
        return 200, {"expirationDateTime": "2030-01-01T00:00:00Z", "nextExpectedRanges": [f"{last + 1}-"]}, {}

    def reply(self, h, status, body, headers):
        data = json.dumps(body).encode() if body is not None else b""
        h.send_response(status)
        for name, value in headers.items():
            h.send_header(name, value)
        if body is not None:
            h.send_header("Content-Type", "application/json")
        h.send_header("Content-Length", str(len(data)))
        h.end_headers()
        h.wfile.write(data)
