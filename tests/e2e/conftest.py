"""Helpers for running the built program as a user would: a copy of the
executable in a fresh directory (its settings file lives beside it), run
with arguments, its output captured as bytes."""

import contextlib
import email
import email.errors
import email.policy
import errno
import os
import pty
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

import pytest

PLATFORM = os.environ.get("POSTRINE_PLATFORM", "posix")
WINE = PLATFORM == "wine"
WINE_LAUNCH_FAILED = b"Application could not be started, or no application associated with the specified file."
EXE = os.environ.get("POSTRINE_EXE", "")
FAST_EXE = os.environ.get("POSTRINE_FAST_EXE", "")


@dataclass
class Run:
    returncode: int
    stdout: bytes
    stderr: bytes

    @property
    def lines(self):
        """Standard output split at CR LF (the last, empty piece dropped)."""
        text = self.stdout.decode("latin-1")
        assert text == "" or text.endswith("\r\n"), repr(text)
        return text.split("\r\n")[:-1]

    @property
    def text_lines(self):
        """The lines as text: what the program writes of its own is UTF-8
        when redirected, on every platform."""
        return self.stdout.decode("utf-8").split("\r\n")[:-1]


class Program:
    """One copy of postrine in its own directory."""

    def __init__(self, directory: Path, fast: bool = True):
        source = FAST_EXE if fast else EXE
        if not source:
            pytest.skip("POSTRINE_EXE is not set; run through ctest")
        self.directory = directory
        self.exe = directory / Path(source).name
        shutil.copy2(source, self.exe)

    @property
    def ini(self) -> Path:
        return self.directory / "postrine.ini"

    def write_ini(self, encoding="latin-1", **settings):
        """The settings file as a user saves it: by default in the ANSI code
        page of the Windows host (windows-1252), or as UTF-8, "utf-8-sig"
        with the byte-order mark that Notepad may write."""
        lines = ["[Settings]"] + [f"{k}={v}" for k, v in settings.items()]
        self.ini.write_bytes(("\r\n".join(lines) + "\r\n").encode(encoding))

    def configure(self, server=None, encoding="latin-1", **settings):
        """Settings for sending as alerts@example.com through `server` on
        127.0.0.1, with `settings` added or in their place."""
        base = dict(ServerName="127.0.0.1", PortNumber=server.port if server else 25, Sender="alerts@example.com")
        self.write_ini(encoding, **{**base, **settings})

    def send(self, *args, body=b"report\n", name="mail.txt", **options) -> Run:
        """Writes the mail file and runs the program with `args` (by
        default that file and one recipient)."""
        if body is not None:
            (self.directory / name).write_bytes(body)
        return self.run(*(args or (name, "ops@example.com")), **options)

    def command(self, args):
        if WINE:
            return ["wine", str(self.exe)] + list(args)
        return [str(self.exe)] + list(args)

    def run(self, *args, timeout=120, stdin=subprocess.DEVNULL, env=None) -> Run:
        for _ in range(3):
            p = subprocess.run(self.command(args), cwd=self.directory, stdin=stdin, capture_output=True,
                               timeout=timeout, env={"WINEDEBUG": "-all", **os.environ, **(env or {})})
            if not (WINE and p.returncode == 1 and p.stdout.startswith(WINE_LAUNCH_FAILED)):
                break
            # Now and then wine's loader fails to start a program at all
            # and hands it to its shell, which fails too: the program never
            # ran, so it is started once more (stdin from its beginning).
            if hasattr(stdin, "seek"):
                stdin.seek(0)
        return Run(p.returncode, p.stdout, p.stderr)

    def run_on_terminal(self, *args, timeout=60) -> bytes:
        """Runs the program on a pseudo-terminal; returns all it wrote there."""
        master, slave = pty.openpty()
        p = subprocess.Popen(self.command(args), cwd=self.directory, stdin=slave, stdout=slave, stderr=slave)
        os.close(slave)
        out = b""
        with contextlib.suppress(OSError):  # the end of the terminal's output
            while chunk := os.read(master, 4096):
                out += chunk
        p.wait(timeout=timeout)
        os.close(master)
        return out


def parsed(message, utf8=False):
    """A received message as a strict reader parses it, with no defect
    anywhere; one with a UTF-8 header (RFC 6532) is read as text, any
    other header must be ASCII."""
    if utf8:
        mail = email.message_from_string(message.data.decode("utf-8"), policy=email.policy.strict)
    else:
        message.data.partition(b"\r\n\r\n")[0].decode("ascii")
        mail = email.message_from_bytes(message.data, policy=email.policy.strict)
    for name in mail.keys():
        # Python's address parser predates RFC 6532 and flags every local
        # part beyond ASCII, which that RFC allows under SMTPUTF8.
        defects = [d for d in mail[name].defects if not isinstance(d, email.errors.NonASCIILocalPartDefect)]
        assert not defects, (name, defects)
    return mail


def native(path) -> str:
    """A path as the program under test takes it in its settings."""
    return "Z:" + str(path).replace("/", "\\") if WINE else str(path)


def run_measured(program, *args, timeout=20):
    """Runs the program; returns its exit code, standard output and peak
    resident memory in bytes (of the program and anything it waited for).
    GNU time reports the program's own peak: the usage a child of this
    Python process reports counts the pages it shared with it before exec."""
    out = program.directory / "stdout.bin"
    peak = program.directory / "peak.txt"
    with open(out, "wb") as stdout:
        p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(peak)] + program.command(args),
                           cwd=program.directory, stdin=subprocess.DEVNULL, stdout=stdout,
                           stderr=subprocess.DEVNULL, env=dict(os.environ, WINEDEBUG="-all"), timeout=timeout)
    memory = int(peak.read_text().split()[-1]) * 1024
    return p.returncode, out.read_bytes().decode("latin-1").split("\r\n")[:-1], memory


def copy_prefix(base: Path, own: Path):
    """Makes `own` a wine prefix like the booted `base`, whose server may
    still be writing to it: the registry files and the time stamp that
    tells wineboot the prefix is up to date copied, the drive links, and
    drive_c hard-linked (wine never writes the system files in place). A
    registry file shared with the base was seen to leave the base's
    certificate checks failing for every later session. A file that goes
    while the tree is walked is passed over."""
    def link(source, target):
        with contextlib.suppress(FileNotFoundError):
            if Path(source).parent == base:
                shutil.copy2(source, target)
                return
            try:
                os.link(source, target)
            except OSError as error:
                if error.errno != errno.EXDEV:
                    raise
                shutil.copy2(source, target)

    kept = {"dosdevices", "drive_c", ".update-timestamp"}
    shutil.copytree(base, own, symlinks=True, copy_function=link, dirs_exist_ok=True,
                    ignore=lambda top, names: [n for n in names if Path(top) == base and n not in kept
                                               and not n.endswith(".reg")])


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    """Under wine each session (each file, each xdist worker) runs in a wine
    prefix of its own, so that sessions side by side never share a wine
    server: one shared by two sessions was seen to give one the locale of
    the other and to fail a certificate lookup now and then."""
    if not WINE:
        yield
        return
    base = Path(os.environ.get("WINEPREFIX") or Path.home() / ".wine")
    if not (base / "system.reg").exists():
        pytest.exit(f"{base} is not a booted wine prefix: run wineboot -i first", returncode=1)
    own = Path(tempfile.mkdtemp(prefix=base.name + "-session-", dir=base.parent))
    copy_prefix(base, own)
    os.environ["WINEPREFIX"] = str(own)
    # Wine takes the ANSI code page from LANG: windows-1252, the code page
    # of a Western Windows, whatever the host's locale.
    os.environ["LANG"] = "en_US.UTF-8"
    # A server kept for the whole session, its services started here:
    # without it each program would start them anew, some seconds every
    # time, and they would hold on to that program's output pipes.
    subprocess.run(["wineserver", "-p"], check=True)
    subprocess.run(["wineboot"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    try:
        yield
    finally:
        subprocess.run(["wineserver", "-k"], env=dict(os.environ), capture_output=True)
        os.environ["WINEPREFIX"] = str(base)
        shutil.rmtree(own, ignore_errors=True)


@pytest.fixture(scope="session", autouse=True)
def program_starts(wine_prefix, tmp_path_factory):
    """Under wine a program that cannot start at all may end with status 0
    and say nothing, which some checks would take for success: the first
    run of each session must give the line of a first run."""
    if not WINE or not FAST_EXE:
        return
    run = Program(tmp_path_factory.mktemp("start"), fast=True).run()
    if run.stdout != b"no server given - quit\r\n":
        pytest.exit(f"wine did not run {FAST_EXE}: status {run.returncode}, "
                    f"output {run.stdout!r}, errors {run.stderr[-500:]!r}", returncode=1)


@pytest.fixture
def program(tmp_path):
    """A fresh copy of the program whose pauses are cut short."""
    (tmp_path / "bin").mkdir()
    return Program(tmp_path / "bin", fast=True)


@pytest.fixture
def real_program(tmp_path):
    """A fresh copy of the program exactly as shipped (5-second pauses)."""
    (tmp_path / "real").mkdir()
    return Program(tmp_path / "real", fast=False)


@pytest.fixture
def smtp_server():
    """Starts a recording SMTP server on loopback: smtp_server(**options),
    the options of smtp_server.Behaviour and smtp_server.Server."""
    from smtp_server import Behaviour, Server

    def start(**options):
        behaviour = {k: options.pop(k) for k in list(options) if k in Behaviour.__dataclass_fields__}
        server = Server(Behaviour(**behaviour), **options)
        server.start()
        stack.callback(server.stop)
        server.baseline = server.recorder.connections  # the start-up check's own
        return server

    with contextlib.ExitStack() as stack:
        yield start


# The server certificates of the TLS tests: subject alternative names, and
# the validity period where it is not "from now on for two days".
SERVER_CERTIFICATES = {
    "good": ("DNS:localhost,IP:127.0.0.1", None),
    "dns_only": ("DNS:localhost", None),
    "ip_only": ("IP:127.0.0.1", None),
    "wildcard_ip": ("DNS:*.0.0.1", None),
    "expired": ("DNS:localhost,IP:127.0.0.1", ("20000101000000Z", "20010101000000Z")),
    "not_yet_valid": ("DNS:localhost,IP:127.0.0.1", ("21000101000000Z", "21010101000000Z")),
}


@pytest.fixture(scope="session")
def certificates(tmp_path_factory):
    """A test CA with the server certificates of SERVER_CERTIFICATES, made
    at test time by the openssl command; "self_signed" signed by itself and
    "other_issuer" by a CA that nobody trusts."""
    d = tmp_path_factory.mktemp("certs")

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=d, check=True, capture_output=True)

    # Every certificate is signed with an RSA key. Wine's certificate checks
    # refuse an ECDSA signature whose r or s is shorter than 32 bytes (about
    # one in 128 signatures), so ECDSA issuers made afresh per session would
    # fail a whole session of TLS tests under wine now and then. The servers'
    # own keys stay ECDSA: they sign only the handshake, which wine's TLS
    # library checks itself.
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    issuer_key = ["-newkey", "rsa:2048", "-nodes"]
    for ca in ("ca", "other_ca"):
        openssl("req", "-x509", *issuer_key, "-keyout", f"{ca}.key", "-out", f"{ca}.pem", "-days", "2",
                "-subj", f"/CN=postrine test {ca}", "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    # "openssl ca" rather than "x509 -req": it sets any validity period.
    (d / "ca.cnf").write_text("[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\n"
                              "serial = serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\ndefault_days = 2\n"
                              "[any]\ncommonName = supplied\n")
    (d / "index.txt").write_text("")
    (d / "serial").write_text("01\n")

    def issue(name, san, dates=None, ca="ca"):
        (d / f"{name}.ext").write_text(f"subjectAltName={san}\nextendedKeyUsage=serverAuth\n")
        openssl("req", *key, "-keyout", f"{name}.key", "-out", f"{name}.csr", "-subj", "/CN=server")
        period = ["-startdate", dates[0], "-enddate", dates[1]] if dates else []
        openssl("ca", "-batch", "-notext", "-config", "ca.cnf", "-cert", f"{ca}.pem", "-keyfile", f"{ca}.key",
                "-in", f"{name}.csr", "-out", f"{name}.pem", "-extfile", f"{name}.ext", *period)

    for name, (san, dates) in SERVER_CERTIFICATES.items():
        issue(name, san, dates)
    issue("other_issuer", "DNS:localhost,IP:127.0.0.1", ca="other_ca")
    openssl("req", "-x509", *issuer_key, "-keyout", "self_signed.key", "-out", "self_signed.pem",
            "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
    return d


def tls_files(certificates, name="good"):
    """A server's certificate and key, as smtp_server takes them."""
    return dict(cert=str(certificates / f"{name}.pem"), key=str(certificates / f"{name}.key"))


@pytest.fixture
def endpoint(certificates):
    """Starts an OAuth token endpoint on loopback: endpoint(**options) (see
    token_endpoint.TokenEndpoint), with the certificate `cert` of the test
    certificates ("good" unless it says)."""
    from token_endpoint import TokenEndpoint
    with contextlib.ExitStack() as stack:
        yield lambda cert="good", **options: stack.enter_context(
            TokenEndpoint(**tls_files(certificates, cert), **options))


@pytest.fixture(scope="session")
def postfix_oauth(certificates):
    """Postfix with Dovecot's oauth2 password database behind it
    (real_server.py), started once per session and stopped at its end:
    listener "smtp" offers OAUTHBEARER and XOAUTH2, and PLAIN, LOGIN and
    CRAM-MD5 for `password` (of alerts@example.com, kept hashed);
    "xoauth2" offers XOAUTH2 alone. Its `introspection.accepted(token)`
    tells which tokens Dovecot takes; a test sets it."""
    import real_server
    from token_endpoint import Introspection
    reason = real_server.missing()
    if reason:
        pytest.skip(reason)
    introspection = Introspection("alerts@example.com")
    server = real_server.PostfixDovecot(certificates / "good.pem", certificates / "good.key", introspection.url,
                                        "alerts@example.com", "s3cret pass")
    server.introspection = introspection
    try:
        yield server.start()
    finally:
        server.stop()
        introspection.stop()
