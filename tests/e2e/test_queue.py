"""The queue of the Queue setting: a message that fails for now is kept
whole and delivered exactly once by a later run or by "postrine -q"; one
that fails for good is never queued; a crash while it is written leaves
nothing or the whole message; two runs at once never send one twice."""

import email
import email.policy
import os
import re
import stat
import subprocess
import time

import pytest

from conftest import WINE, native
from smtp_server import free_port


def queue_of(program):
    return program.directory / "queue"


def queued(program):
    q = queue_of(program)
    return sorted(p for p in q.iterdir() if p.name.endswith(".mail")) if q.exists() else []


def configure(program, port, **settings):
    program.configure(None, PortNumber=port, Queue=native(queue_of(program)), Timeout=5, **settings)


def message_id(data):
    return email.message_from_bytes(data)["Message-Id"]


def test_a_message_for_a_server_that_is_down_is_queued_and_sent_once_later(program, smtp_server):
    configure(program, free_port())  # nothing listens there
    run = program.send("-bcc", "archive@example.com", "mail.txt", "ops@example.com", body=b"disk full on db1\n")
    assert run.returncode == 0, run.lines
    (file,) = queued(program)
    assert re.fullmatch(r"queued for a later try: .+\.mail \[.+\]", run.lines[-1]), run.lines
    assert run.lines[-1].split(": ", 1)[1].startswith(native(file))
    if not WINE:
        assert stat.S_IMODE(file.stat().st_mode) == 0o600
    stored = file.read_bytes()
    server = smtp_server()
    configure(program, server.port)
    run = program.run("-q")
    assert run.returncode == 0, run.lines
    assert run.lines == [f"sent from the queue: {native(file)}"]
    (message,) = server.messages
    assert message.rcpt_tos == ["ops@example.com", "archive@example.com"]
    assert b"archive" not in message.data
    # The message as it was composed: its own Date and Message-Id.
    assert stored.endswith(message.data)
    assert queued(program) == []
    assert program.run("-q").returncode == 0 and len(server.messages) == 1


def test_what_is_queued_goes_before_the_new_message_and_a_refusal_is_never_queued(program, smtp_server):
    server = smtp_server(fault=("MAIL", "4xx"))
    configure(program, server.port)
    assert program.send(body=b"first\n").returncode == 0
    assert len(queued(program)) == 1 and not server.messages
    server.recorder.behaviour.fault = ()
    run = program.send(body=b"second\n")
    assert run.returncode == 0, run.lines
    assert [m.data.split(b"\r\n\r\n", 1)[1] for m in server.messages] == [b"first\r\n", b"second\r\n"]
    assert queued(program) == []
    server.recorder.behaviour.fault = ("end", "5xx")
    run = program.send(body=b"third\n")
    assert run.returncode == 69, run.lines
    assert queued(program) == []


# The sender refused for now would be refused for the new message too: it
# is queued without a try. A recipient refused for now is the message's own.
@pytest.mark.parametrize("stage, connections", [("MAIL", 2), ("RCPT", 3)])
def test_a_queue_the_server_still_refuses_holds_the_new_message_up_no_longer_than_its_try(
        program, smtp_server, stage, connections):
    server = smtp_server(fault=(stage, "4xx"))
    configure(program, server.port)
    assert program.send(body=b"first\n").returncode == 0
    run = program.send(body=b"second\n")
    assert run.returncode == 0, run.lines
    assert run.lines[-2].startswith("still queued: ") and run.lines[-1].startswith("queued for a later try: ")
    assert len(queued(program)) == 2 and server.connections == connections


@pytest.mark.parametrize("step, whole", [("created", False), ("half", False), ("written", False),
                                         ("committed", True)])
def test_a_crash_while_queueing_leaves_nothing_or_the_whole_message(program, smtp_server, step, whole):
    configure(program, free_port())
    big = os.urandom(300000)
    (program.directory / "data.bin").write_bytes(big)
    run = program.send("-a", "data.bin", "mail.txt", "ops@example.com", env={"POSTRINE_CRASH_AT": step})
    assert run.returncode == 99, run.lines
    assert len(queued(program)) == (1 if whole else 0)
    server = smtp_server()
    configure(program, server.port)
    left = list(queue_of(program).glob("*.tmp"))
    assert program.run("-q").returncode == 0
    assert len(server.messages) == (1 if whole else 0)
    if whole:
        (part,) = email.message_from_bytes(server.messages[0].data, policy=email.policy.default).iter_attachments()
        assert part.get_payload(decode=True) == big
    # A temporary file is cleared once it has not been written for a while
    # (a young one may be another run's, being written).
    assert list(queue_of(program).glob("*.tmp")) == left
    for f in left:
        os.utime(f, (time.time() - 1200, time.time() - 1200))
    assert program.run("-q").returncode == 0
    assert list(queue_of(program).iterdir()) == [], "a crashed run's temporary file is cleared"


def test_two_runs_at_once_send_each_queued_message_once(program, smtp_server):
    configure(program, free_port())
    for i in range(6):
        assert program.send(body=b"alert %d\n" % i).returncode == 0
    assert len(queued(program)) == 6
    server = smtp_server()
    configure(program, server.port)
    runs = [subprocess.Popen(program.command(["-q"]), cwd=program.directory, stdout=subprocess.PIPE,
                             env={"WINEDEBUG": "-all", **os.environ}) for _ in range(2)]
    for p in runs:
        p.communicate(timeout=120)
    ids = [message_id(m.data) for m in server.messages]
    assert len(ids) == 6 and len(set(ids)) == 6
    assert queued(program) == []


def test_a_message_past_its_age_is_given_up_with_its_last_reason(program, smtp_server):
    configure(program, free_port(), QueueMaxAge=1)
    assert program.send().returncode == 0
    assert program.run("-q").returncode == 0  # still down: the reason is kept
    refusing = smtp_server(fault=("RCPT", "4xx"))
    configure(program, refusing.port, QueueMaxAge=1)
    assert program.run("-q").returncode == 0  # and replaced by the next one
    (file,) = queued(program)
    assert b"451 4.3.0 fault injected" in (queue_of(program) / (file.name + ".reason")).read_bytes()
    data = file.read_bytes()
    file.write_bytes(re.sub(rb"Queued: \d+", b"Queued: %d" % (time.time() - 7200), data, count=1))
    server = smtp_server()
    configure(program, server.port, QueueMaxAge=1)
    run = program.run("-q")
    assert run.returncode == 69, run.lines
    failed = queue_of(program) / "failed" / file.name
    assert run.lines[-1].startswith(f"given up: {native(failed)} [older than QueueMaxAge 1 hours; last: RCPT"), run.lines
    assert failed.exists() and not server.messages and queued(program) == []
    assert (queue_of(program) / "failed" / (file.name + ".reason")).read_bytes().startswith(b"older than")


def test_a_logon_refused_for_good_leaves_the_queue_as_it_is(program, smtp_server):
    configure(program, free_port())
    for i in range(3):
        assert program.send(body=b"alert %d\n" % i).returncode == 0
    server = smtp_server(auth=True, mechanisms=["PLAIN"])
    configure(program, server.port, UserName="mailuser", Password="wrong", TLS="off")
    run = program.run("-q")
    assert run.returncode == 69, run.lines
    assert run.lines[-1].startswith("still queued: ") and "535" in run.lines[-1], run.lines
    assert len(queued(program)) == 3 and server.connections == 1
    assert not (queue_of(program) / "failed").exists()


def test_a_message_for_thousands_of_recipients_is_queued_and_sent_whole(program, smtp_server):
    configure(program, free_port())
    recipients = [f"r{i}@example.com" for i in range(2500)]
    (program.directory / "all.txt").write_text("\n".join(recipients) + "\n")
    assert program.send("-tf", "all.txt", "mail.txt", "ops@example.com").returncode == 0
    server = smtp_server()
    configure(program, server.port)
    run = program.run("-q")
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    assert message.rcpt_tos == ["ops@example.com"] + recipients


def test_a_relative_queue_is_beside_the_settings_file(program, tmp_path):
    program.configure(None, PortNumber=free_port(), Queue="spool", Timeout=5)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    (program.directory / "mail.txt").write_bytes(b"report\n")
    p = subprocess.run(program.command([native(program.directory / "mail.txt"), "ops@example.com"]), cwd=elsewhere,
                       capture_output=True, env={"WINEDEBUG": "-all", **os.environ}, timeout=120)
    assert p.returncode == 0, p.stdout
    assert len(list((program.directory / "spool").glob("*.mail"))) == 1
    assert not (elsewhere / "spool").exists()


def test_q_without_a_queue_is_a_settings_error(program):
    program.configure(None)
    run = program.run("-Q")
    assert run.returncode == 78, run.lines
    assert run.lines[-1] == "-q delivers the queue, and postrine.ini names none (set Queue to a directory)"
