"""A production mail server for the end-to-end tests: Debian's Postfix with
its SASL logon through Dovecot's auth service, each with a configuration
directory of its own under a fresh directory, on loopback and free ports
only, ended with the test process whatever becomes of it. What
Postfix accepts it relays to an aiosmtpd sink (smtp_server.Server).
Postfix keeps its shipped limits (line_length_limit 2048 among them)."""

import os
import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from smtp_server import Behaviour, Server, free_port

POSTFIX = "/usr/sbin/postfix"
DOVECOT = "/usr/sbin/dovecot"
POSTCONF = "/usr/sbin/postconf"


def missing():
    """Why the servers cannot run here, or None."""
    for program, package in ((POSTFIX, "postfix"), (DOVECOT, "dovecot-core")):
        if not os.access(program, os.X_OK):
            return f"{program} is not installed (Debian package {package}; scripts/install-deps.sh test)"
    if os.geteuid() != 0:
        return "Postfix and Dovecot are started as root, and this is not"
    return None


# Each server runs under a shell that holds the read end of a pipe from the
# test process: when the pipe closes (stop(), or the test process killed
# outright) the shell ends the server; a server that ends by itself ends
# the shell.
WATCHED = ('exec 3<&0; "$@" 3<&- </dev/null & server=$!; '
           '{ read _; kill "$server" 2>/dev/null; } <&3 & watch=$!; '
           'wait "$server"; status=$?; kill "$watch" 2>/dev/null; exit $status')


def passdbs(directory, introspection_url, user, password):
    """Dovecot's logon settings: OAUTHBEARER and XOAUTH2 checked by the
    oauth2 password database against `introspection_url`; PLAIN, LOGIN
    and CRAM-MD5 against a file that holds only a SHA512-CRYPT hash of
    `password`, so that CRAM-MD5 is offered and cannot be checked, as on
    servers that keep hashed passwords."""
    args = Path(directory) / "dovecot-oauth2.conf.ext"
    args.write_text(f"introspection_mode = post\nintrospection_url = {introspection_url}\n"
                    "force_introspection = yes\nusername_attribute = username\n"
                    "active_attribute = active\nactive_value = true\ntimeout_msecs = 5000\n")
    hashed = subprocess.run(["openssl", "passwd", "-6", "-stdin"], input=password, capture_output=True, text=True,
                            check=True).stdout.strip()
    users = Path(directory) / "users"
    users.write_text(f"{user}:{{SHA512-CRYPT}}{hashed}\n")
    return ("auth_mechanisms = oauthbearer xoauth2 plain login cram-md5\n"
            f"passdb {{\n  driver = oauth2\n  mechanisms = oauthbearer xoauth2\n  args = {args}\n}}\n"
            f"passdb {{\n  driver = passwd-file\n  mechanisms = plain login cram-md5\n  args = {users}\n}}\n")


# The services Postfix needs to take a message and relay it, none in a
# chroot; the SMTP listener is added with its address.
MASTER_SERVICES = """\
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
"""


# The SMTP listeners, each with the Postfix settings that differ for it.
LISTENERS = {"smtp": {}, "xoauth2": {"smtpd_sasl_mechanism_filter": "xoauth2"}}


def poll(ready, seconds=20):
    """Waits until ready() holds or `seconds` have passed; gives ready()."""
    end = time.monotonic() + seconds
    while not ready() and time.monotonic() < end:
        time.sleep(0.05)
    return ready()


class PostfixDovecot:
    """Postfix with STARTTLS (`cert`, `key`) and SASL through Dovecot
    (passdbs()), logon required to relay, relaying to its own sink; each
    listener of LISTENERS on a free port of 127.0.0.1 in `ports`, "smtp"
    first (`port`)."""

    def __init__(self, cert, key, introspection_url, user, password):
        self.directory = Path(tempfile.mkdtemp(prefix="postrine-postfix-"))
        # Postfix's and Dovecot's own users must reach their files.
        self.directory.chmod(0o755)
        self.ports = {name: free_port() for name in LISTENERS}
        self.port = self.ports["smtp"]
        self.sink = Server(Behaviour())
        self.processes = []
        self.password = password
        self._cert, self._key = cert, key
        self._passdbs = lambda directory: passdbs(directory, introspection_url, user, password)

    @property
    def messages(self):
        return self.sink.messages

    def log(self):
        """What Postfix and Dovecot logged, to explain a failure."""
        return "".join(p.read_text(errors="replace") for p in
                       (self.directory / "postfix.log", self.directory / "dovecot.log") if p.exists())

    def start(self):
        try:
            self.sink.start()
            self.sink.baseline = self.sink.recorder.connections
            self._start_dovecot()
            for attempt in range(3):
                try:
                    self._start_postfix()
                    break
                except RuntimeError:
                    if attempt == 2:
                        raise
                # Another process took a free port before Postfix bound it
                # (the greeting names this instance): once more on others.
                self._stop_processes(self.processes[1:])
                self.ports = {name: free_port() for name in LISTENERS}
                self.port = self.ports["smtp"]
                shutil.rmtree(self.directory / "postfix")
        except BaseException:
            self.stop()
            raise
        return self

    def _start_dovecot(self):
        d = self.directory
        (d / "dovecot").mkdir()
        conf = d / "dovecot" / "dovecot.conf"
        conf.write_text(
            f"base_dir = {d}/dovecot/run\nstate_dir = {d}/dovecot/state\n"
            f"log_path = {d}/dovecot.log\nprotocols = none\nssl = no\nlisten = 127.0.0.1\n"
            "default_internal_user = dovecot\ndefault_login_user = dovenull\nauth_verbose = yes\n"
            + self._passdbs(d / "dovecot") +
            "userdb {\n  driver = static\n  args = uid=dovecot gid=dovecot home=/nonexistent\n}\n"
            f"service auth {{\n  unix_listener {d}/queue/private/auth {{\n"
            "    mode = 0660\n    user = postfix\n    group = postfix\n  }\n}\n")
        # Postfix's private directory, where Dovecot puts the socket.
        (d / "queue" / "private").mkdir(parents=True)
        shutil.chown(d / "queue" / "private", "postfix")
        self._spawn([DOVECOT, "-F", "-c", str(conf)])
        self._wait(lambda: (d / "queue" / "private" / "auth").exists(), "Dovecot's auth socket")

    def _start_postfix(self):
        d = self.directory
        conf = d / "postfix"
        conf.mkdir()
        shutil.copy(self._cert, conf / "cert.pem")
        shutil.copy(self._key, conf / "key.pem")
        (conf / "main.cf").write_text(
            f"compatibility_level = 3.6\nqueue_directory = {d}/queue\ndata_directory = {d}/data\n"
            f"maillog_file = {d}/postfix.log\nmaillog_file_prefixes = {d}\nmail_owner = postfix\n"
            "setgid_group = postdrop\n"
            "inet_interfaces = 127.0.0.1\ninet_protocols = ipv4\nmyhostname = mail.postrine.test\n"
            "mydestination =\nmynetworks = 127.0.0.0/8\nalias_maps =\nlocal_recipient_maps =\n"
            f"relayhost = [127.0.0.1]:{self.sink.port}\nsmtp_tls_security_level = none\n"
            "smtpd_peername_lookup = no\nsmtp_host_lookup = native\n"
            f"smtpd_banner = $myhostname ESMTP {d.name}\n"
            f"smtpd_tls_security_level = may\nsmtpd_tls_cert_file = {conf}/cert.pem\n"
            f"smtpd_tls_key_file = {conf}/key.pem\nsmtpd_tls_auth_only = yes\n"
            "smtpd_sasl_auth_enable = yes\nsmtpd_sasl_type = dovecot\nsmtpd_sasl_path = private/auth\n"
            "smtpd_relay_restrictions = permit_sasl_authenticated, reject\n"
            "smtpd_recipient_restrictions =\n")
        listeners = "".join(f"127.0.0.1:{self.ports[name]} inet n - n - - smtpd\n"
                            + "".join(f"  -o {key}={value}\n" for key, value in settings.items())
                            for name, settings in LISTENERS.items())
        (conf / "master.cf").write_text(listeners + MASTER_SERVICES)
        # The queue's directories, as "postfix start" makes them.
        made = subprocess.run([POSTFIX, "-c", str(conf), "post-install", "create-missing"], capture_output=True,
                              text=True)
        if made.returncode != 0:
            raise RuntimeError(f"postfix could not make its queue: {made.stdout}{made.stderr}{self.log()}")
        daemons = subprocess.run([POSTCONF, "-c", str(conf), "-h", "daemon_directory"], capture_output=True,
                                 text=True, check=True).stdout.strip()
        # Without -w the master stays in the foreground.
        self._spawn([f"{daemons}/master", "-c", str(conf), "-s"])
        self._wait(self._greets, "Postfix's greeting")

    def _spawn(self, command):
        self.processes.append(subprocess.Popen(["/bin/sh", "-c", WATCHED, "sh", *command], stdin=subprocess.PIPE,
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def _greets(self):
        try:
            for port in self.ports.values():
                with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                    # This instance's, not another one's on a port taken meanwhile.
                    if not s.recv(200).startswith(f"220 mail.postrine.test ESMTP {self.directory.name}".encode()):
                        return False
            return True
        except OSError:
            return False

    def _wait(self, ready, what):
        def ended():
            return any(p.poll() is not None for p in self.processes)

        if not poll(lambda: ready() or ended()) or ended():
            raise RuntimeError(f"{what} did not come, {[p.returncode for p in self.processes]}:\n{self.log()}")

    def wait_for_messages(self, count):
        """The sink's messages once they are `count` (Postfix relays them
        a moment after it has taken them) or some seconds have passed."""
        poll(lambda: len(self.messages) >= count)
        return self.messages

    def _stop_processes(self, processes):
        for p in reversed(processes):
            p.stdin.close()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.processes = [p for p in self.processes if p not in processes]

    def stop(self):
        self._stop_processes(self.processes)
        try:
            self.sink.stop()
        except Exception:  # never started
            pass
        shutil.rmtree(self.directory, ignore_errors=True)
