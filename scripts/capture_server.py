"""A capture SMTP server on loopback for the demo: accepts every message,
prints what it received, and stops after the first message or a time limit.

    capture_server.py PORTFILE [SECONDS]

It listens on 127.0.0.1 on a free port, writes that port number to PORTFILE
once it is ready, and exits 0 after printing one message (1 when none came).
"""

import socket
import sys
import threading

from aiosmtpd.controller import Controller


class Capture:
    def __init__(self):
        self.done = threading.Event()
        self.quit = threading.Event()

    async def handle_DATA(self, server, session, envelope):
        print("---- received by the capture server ----")
        print(f"MAIL FROM: {envelope.mail_from}")
        for rcpt in envelope.rcpt_tos:
            print(f"RCPT TO:   {rcpt}")
        print("DATA:")
        sys.stdout.write(envelope.original_content.decode("utf-8", "replace").replace("\r\n", "\n"))
        print("---- end of message ----")
        sys.stdout.flush()
        self.done.set()
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        self.quit.set()
        return "221 Bye"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    port_file = sys.argv[1]
    limit = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    handler = Capture()
    controller = Controller(handler, hostname="127.0.0.1", port=free_port())
    controller.start()
    with open(port_file, "w") as f:
        f.write(str(controller.port))
    got = handler.done.wait(limit)
    if got:
        # Let the client finish its dialogue before the server goes away.
        handler.quit.wait(5)
    controller.stop()
    sys.exit(0 if got else 1)


if __name__ == "__main__":
    main()
