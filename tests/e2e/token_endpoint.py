"""An OAuth 2.0 token endpoint of the test suite's own, on loopback: Python's
http.server over TLS with a certificate of the test CA. It grants the
client-credentials grant to one client, hands out numbered tokens, records
every request, and can instead answer with an error or not at all. A
client may prove itself with a client assertion signed with a registered
certificate (RFC 7523), which is verified as Entra ID would. Beside it the
introspection endpoint that a server asks about the tokens."""

import base64
import hashlib
import json
import ssl
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from cryptography import x509
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding

CLIENT_ID = "0b7e1a52-postrine-test"
CLIENT_SECRET = "cl1ent~s3cret&value"
SCOPE = "https://outlook.office365.com/.default"


class FormServer:
    """An HTTP server on 127.0.0.1 that answers each POSTed form with
    answer(fields): a status and a JSON body, or None for no answer."""

    def __init__(self, answer):
        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                form = urllib.parse.parse_qs(self.rfile.read(length).decode("ascii"))
                reply = answer({k: v[0] for k, v in form.items()})
                if reply is None:
                    return
                data = json.dumps(reply[1]).encode()
                self.send_response(reply[0])
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]

    def start(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class TokenEndpoint(FormServer):
    """mode: "grant" (the default), "invalid_client" or "silent" (reads
    the request, never answers); length: the length of the tokens granted,
    at least that of a numbered token. They live an hour. registered: the
    PEM file of the client's certificate, which its assertions must be
    signed with; none: only the client secret is taken."""

    def __init__(self, cert, key, mode="grant", length=0, registered=None):
        super().__init__(self.answer)
        self.mode = mode
        self.length = length
        self.registered = x509.load_pem_x509_certificate(open(registered, "rb").read()) if registered else None
        self.assertions = []  # (header, claims) of each assertion taken
        self.rejected = []    # why each assertion refused was
        self.seen_ids = set()
        self.requests = []  # the form fields of each request
        self.granted = []   # the tokens handed out, in order
        self.stopping = threading.Event()
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.url = f"https://localhost:{self.port}/tenant-id/oauth2/v2.0/token"

    def answer(self, form):
        self.requests.append(form)
        if self.mode == "silent":
            self.stopping.wait(60)
            return None
        if "client_assertion" in form:
            why = self.refusal(form)
            if why:
                self.rejected.append(why)
            good = not why
        else:
            good = form == dict(grant_type="client_credentials", client_id=CLIENT_ID, client_secret=CLIENT_SECRET,
                                scope=SCOPE)
        if self.mode == "invalid_client" or not good:
            description = ("AADSTS700027: Client assertion failed signature validation." if "client_assertion" in form
                           else "AADSTS7000215: Invalid client secret provided.")
            return 401, {"error": "invalid_client", "error_description": description}
        token = f"eyJ0eXAiOiJKV1Qi.tok-{len(self.granted) + 1}-{time.monotonic_ns()}"
        if self.length:
            token = (token + ".").ljust(self.length, "x")
        self.granted.append(token)
        return 200, {"token_type": "Bearer", "expires_in": 3600, "access_token": token}

    def refusal(self, form):
        """Why the form's client assertion is not taken; empty when it is."""
        if self.registered is None:
            return "no certificate registered"
        if set(form) != {"grant_type", "client_id", "scope", "client_assertion_type", "client_assertion"}:
            return f"fields {sorted(form)}"
        if (form["grant_type"], form["client_id"], form["scope"]) != ("client_credentials", CLIENT_ID, SCOPE):
            return "grant, client or scope"
        if form["client_assertion_type"] != "urn:ietf:params:oauth:client-assertion-type:jwt-bearer":
            return "client_assertion_type"
        parts = form["client_assertion"].split(".")
        if len(parts) != 3 or any("=" in p for p in parts):
            return "not a JWS in compact form without padding"
        header, claims = (json.loads(unpadded(p)) for p in parts[:2])
        der = self.registered.public_bytes(serialization.Encoding.DER)
        if header.get("typ") != "JWT" or header.get("x5t#S256") != b64url(hashlib.sha256(der).digest()):
            return f"header {header}"
        if "x5t" in header and header["x5t"] != b64url(hashlib.sha1(der).digest()):
            return "x5t"
        if header.get("alg") == "PS256":
            scheme = padding.PSS(mgf=padding.MGF1(hashes.SHA256()), salt_length=32)
        elif header.get("alg") == "RS256":
            scheme = padding.PKCS1v15()
        else:
            return f"alg {header.get('alg')}"
        try:
            self.registered.public_key().verify(unpadded(parts[2]), f"{parts[0]}.{parts[1]}".encode(), scheme,
                                                hashes.SHA256())
        except InvalidSignature:
            return "signature"
        now = time.time()
        if claims.get("aud") != self.url or claims.get("iss") != CLIENT_ID or claims.get("sub") != CLIENT_ID:
            return f"claims {claims}"
        if not (0 < claims["exp"] - claims["nbf"] <= 600 and claims["nbf"] <= now + 60 < claims["exp"] + 60):
            return f"times {claims}"
        if not claims.get("jti") or claims["jti"] in self.seen_ids:
            return "jti used before"
        self.seen_ids.add(claims["jti"])
        self.assertions.append((header, claims))
        return ""

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.stop()


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def unpadded(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


class Introspection(FormServer):
    """The endpoint a server asks about a token (RFC 7662 introspection,
    POSTed as token=..., as Dovecot's oauth2 password database does):
    active, with the user as its username, when accepted(token) says so (a
    test sets it; none by default). Plain HTTP; every token asked about is
    recorded."""

    def __init__(self, user):
        super().__init__(self.answer)
        self.user = user
        self.asked = []
        self.accepted = lambda token: False
        self.url = f"http://127.0.0.1:{self.port}/introspect"
        self.start()

    def answer(self, form):
        token = form.get("token", "")
        self.asked.append(token)
        return 200, {"active": True, "username": self.user} if self.accepted(token) else {"active": False}
