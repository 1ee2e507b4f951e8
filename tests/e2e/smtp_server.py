"""A real SMTP server on loopback for the end-to-end tests: aiosmtpd in a
thread, on a free port of 127.0.0.1, with a handler that records what it
received and can refuse, stall or drop the connection on demand."""

import asyncio
import socket
import ssl
from dataclasses import dataclass, field

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult


def free_port(host="127.0.0.1"):
    with socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


@dataclass
class Message:
    mail_from: str
    rcpt_tos: list
    data: bytes  # as received, dot-stuffing undone
    encrypted: bool = False
    options: list = field(default_factory=list)  # the MAIL parameters
    rcpt_options: dict = field(default_factory=dict)  # address -> its RCPT parameters


@dataclass
class Behaviour:
    """What the server does, per test."""
    refuse_rcpt: dict = field(default_factory=dict)  # address -> reply
    dsn: bool = False           # offer DSN and take its parameters
    fault: tuple = ()           # (stage, action): see FaultySMTP


# What a fault does in place of the server's answer.
FAULT_REPLIES = {
    "4xx": "451 4.3.0 fault injected",
    "5xx": "554 5.3.0 fault injected",
    "overlong": "250 " + "x" * 10000,
    "malformed": "hello, this is no reply",
    "endless": "\r\n".join(["250-more"] * 1000),
}


class Recorder:
    """The handler: keeps each message taken and each logon tried."""

    def __init__(self, behaviour):
        self.behaviour = behaviour
        self.messages = []
        self.logons = []        # (mechanism, login, password) of each AUTH
        self.connections = 0
        self.password = b"s3cret pass"  # the one that mailuser logs on with

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        offered = ["250-PIPELINING"] + (["250-DSN"] if self.behaviour.dsn else [])
        return responses[:-1] + offered + responses[-1:]

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address in self.behaviour.refuse_rcpt:
            return self.behaviour.refuse_rcpt[address]
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options_of = {**getattr(envelope, "rcpt_options_of", {}), address: options}
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        action = self.behaviour.fault[1] if server._fault_here("end") else None
        if action in FAULT_REPLIES:
            return FAULT_REPLIES[action]
        if action == "stall":
            await asyncio.sleep(3600)
        if action == "drop":  # the message is not taken
            server.transport.close()
            return "421 closed"
        if action == "drop-after":  # taken, then the line goes dead
            asyncio.get_running_loop().call_later(0.05, server.transport.close)
        encrypted = bool(session.ssl) or server.transport.get_extra_info("ssl_object") is not None
        self.messages.append(Message(envelope.mail_from, list(envelope.rcpt_tos),
                                     envelope.original_content, encrypted,
                                     list(envelope.mail_options), getattr(envelope, "rcpt_options_of", {})))
        return "250 Message accepted"

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        self.logons.append((mechanism, auth_data.login, auth_data.password))
        ok = auth_data.login == b"mailuser" and auth_data.password == self.password
        return AuthResult(success=ok, handled=False)


class FaultySMTP(SMTP):
    """Offers CRAM-MD5 too, and injects one fault at one stage of the
    dialogue.

    Stages: "greeting", each command verb ("EHLO", "MAIL", "RCPT",
    "STARTTLS", "AUTH", "DATA", "QUIT"), "body" (where "drop" closes the
    connection after the first line of the message), and "end" for the
    reply to the end of the message. Actions: a reply of FAULT_REPLIES instead of the real
    one, "drop" (close the connection instead of answering), "drop-after"
    (answer, then close), "stall" (never answer), and for STARTTLS
    "tls-drop", "tls-garbage" and "tls-alert" (agree, then close, send no
    TLS, or answer the ClientHello with an internal_error alert), and
    "tls-chatter" (agree, then answer the handshake in clear text and keep
    the connection open)."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.stage = "greeting"
        for verb, method in list(self._smtp_methods.items()):
            self._smtp_methods[verb] = self._staged(verb, method)

    def _staged(self, verb, method):
        async def run(arg):
            self.stage = verb
            if self._fault_here(verb) and self.event_handler.behaviour.fault[1] != "drop-after":
                return await self.inject()
            await method(arg)
            if self._fault_here(verb):
                self.transport.close()
        return run

    def _fault_here(self, stage):
        fault = self.event_handler.behaviour.fault
        return bool(fault) and fault[0] == stage

    async def inject(self):
        """Answers the current stage with the fault instead of the reply."""
        action = self.event_handler.behaviour.fault[1]
        if action == "stall":
            await asyncio.sleep(3600)
        if action in ("drop", "drop-after"):
            self.transport.close()
            return
        if action.startswith("tls-"):  # agree to STARTTLS, then break the handshake
            await SMTP.push(self, "220 Ready to start TLS")
            if action == "tls-garbage":
                await SMTP.push(self, "this is no TLS record")
            if action == "tls-alert":  # the ClientHello, answered with a fatal internal_error alert
                await self._reader.read(5)
                self.transport.write(b"\x15\x03\x03\x00\x02\x02\x50")
            if action == "tls-chatter":  # clear text once the handshake has begun, and no end
                await asyncio.sleep(0.3)
                await SMTP.push(self, "250 this is no TLS record")
                await asyncio.sleep(3600)
            self.transport.close()
            return
        await SMTP.push(self, FAULT_REPLIES[action])

    async def push(self, status):
        if self.stage == "greeting":
            self.stage = "after greeting"
            if self._fault_here("greeting"):
                if self.event_handler.behaviour.fault[1] == "drop-after":
                    await super().push(status)
                    self.transport.close()
                    return
                return await self.inject()
        return await super().push(status)

    def _getparams(self, params):
        taken = super()._getparams(params)
        if taken is not None and self.event_handler.behaviour.dsn:
            for name in ("RET", "ENVID", "NOTIFY", "ORCPT"):
                taken.pop(name, None)
        return taken

    async def auth_CRAM__MD5(self, _, args):
        # Offered, so that a logon in clear text takes it; each test of it
        # meets a fault first (the digest is the unit tests').
        return AuthResult(success=False, handled=False)

    async def smtp_DATA(self, arg):
        if not self._fault_here("body"):
            return await super().smtp_DATA(arg)
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        await self._reader.readline()
        self.transport.close()


def server_context(cert, key, tls13_only=False):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    if tls13_only:
        context.minimum_version = ssl.TLSVersion.TLSv1_3
    return context


class Server(Controller):
    """tls: None, "starttls" or "smtps", with `cert` and `key` files (and
    tls13_only to refuse anything older than TLS 1.3); host:
    "127.0.0.1" or "::1"; size_limit: the SIZE the server announces;
    smtputf8: offer SMTPUTF8 (without it the server takes ASCII commands
    only); mechanisms: the logon mechanisms offered with auth; recorder:
    a handler of the Recorder kind in place of a plain one. Every byte a
    connection received is kept in `received`."""

    def __init__(self, behaviour, auth=False, tls=None, cert=None, key=None,
                 require_starttls=False, auth_require_tls=False, host="127.0.0.1",
                 size_limit=None, auth_required=False, tls13_only=False, smtputf8=False,
                 mechanisms=("CRAM-MD5", "PLAIN", "LOGIN"), recorder=None):
        self.recorder = recorder or Recorder(behaviour)
        self.received = b""
        kwargs = {"enable_SMTPUTF8": smtputf8}
        if size_limit is not None:
            kwargs.update(data_size_limit=size_limit)
        if auth:
            excluded = [m for m in ("CRAM-MD5", "PLAIN", "LOGIN", "OAUTHBEARER", "XOAUTH2") if m not in mechanisms]
            kwargs.update(authenticator=self.recorder.authenticate, auth_require_tls=auth_require_tls,
                          auth_required=auth_required, auth_exclude_mechanism=excluded)
        if tls == "starttls":
            kwargs.update(tls_context=server_context(cert, key, tls13_only), require_starttls=require_starttls)
        if tls == "smtps":
            kwargs.update(ssl_context=server_context(cert, key, tls13_only))
        super().__init__(self.recorder, hostname=host, port=free_port(host), **kwargs)

    def factory(self):
        self.recorder.connections += 1
        protocol = FaultySMTP(self.handler, **self.SMTP_kwargs)
        received = protocol.data_received

        def record(data):
            self.received += data
            received(data)
        protocol.data_received = record
        return protocol

    @property
    def connections(self):
        """Connections made by the program under test."""
        return self.recorder.connections - self.baseline

    @property
    def messages(self):
        return self.recorder.messages
