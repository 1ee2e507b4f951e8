"""Attachments and a body from standard input: what arrives
decodes to the very bytes of each file without a defect, and standard
input leaves no spool file behind."""

import os
from pathlib import Path

import pytest

from conftest import WINE, parsed, run_measured

BODY = b"Report attached.\n.a dot line\nlast line"
SENT_BODY = b"Report attached.\r\n.a dot line\r\nlast line\r\n"
BINARY = bytes(range(256)) * 41 + b"\r\n.\r\n"


# The types of some common extensions, the same in every table of them
# (/etc/mime.types when it is installed, the program's own), and where
# wine's registry, like Windows' own, names another. What is not here
# goes as application/octet-stream: a message (.eml) too, since a
# message cannot travel as base64.
COMMON_TYPES = {"pdf": "application/pdf", "csv": "text/csv", "txt": "text/plain", "log": "text/plain",
                "xml": "application/xml", "zip": "application/zip", "gz": "application/gzip", "png": "image/png",
                "docx": "application/vnd.openxmlformats-officedocument.wordprocessingml.document"}
WINE_REGISTRY = {"xml": "text/xml", "zip": "application/x-zip-compressed", "gz": "application/x-gzip"}

# Text as editors and shells save it, and the charset it must say: a reader
# takes text without one for US-ASCII. Text that is neither ASCII nor UTF-8
# is taken as the ANSI code page's: windows-1252 under wine and for a POSIX
# locale in ASCII. PowerShell 5.1's ">" writes UTF-16 with a byte-order mark.
CHARSETS = {"utf8.csv": "utf-8", "latin1.log": "windows-1252", "powershell.txt": "utf-16"}

# Each case: the files to attach (name, bytes) and the subject, if any.
# Names and subjects of any length keep the header lines short; text
# beyond the ANSI code page arrives as typed.
LONG_SUBJECT = " ".join(["Nightly backup report of every file server, with the totals, the skipped files"] * 4
                        + ["Gr\u00fc\u00dfe \u65e5\u672c \U0001f4ce"])
CASES = {
    "several": ([("empty.csv", b""), ("data.bin", BINARY), ("Q1 report 2026.csv", b"a,b\n1,2\n"),
                 ("forwarded.eml", b"From: a@example.com\nSubject: old\n\n.old body\n")], "Monthly figures"),
    "common types": ([(f"report.{extension}", b"x") for extension in COMMON_TYPES], None),
    "texts": ([("utf8.csv", "Z\u00fcrich;\u65e5\u672c\r\n".encode()), ("latin1.log", b"Z\xfcrich\r\n"),
               ("powershell.txt", "\ufeffZ\u00fcrich \u65e5\u672c\r\n".encode("utf-16-le"))], None),
    # Beyond any ANSI code page of a Western Windows, and long.
    "names beyond ASCII": ([("B\u00e4r \u00dcbersicht.txt", b"inhalt\n"), ("\U0001f4ce notes \U0001f600.txt", b"x\n"),
                            ("\u65e5\u672c\u8a9e\u306e\u5831\u544a\u66f8" * 11 + "\U0001f4ce.pdf", b"%PDF-1.4\n")],
                           LONG_SUBJECT),
}


def overlong_lines(data):
    """Lines beyond 78 characters that hold more than a field name and one word."""
    return [line for line in data.split(b"\r\n") if len(line) > 78 and len(line.split(b" ")) > 2]


@pytest.mark.parametrize("files, subject", CASES.values(), ids=CASES.keys())
def test_attachments_arrive_byte_for_byte_after_the_body(program, smtp_server, files, subject):
    server = smtp_server()
    program.configure(server)
    args = []
    for name, content in files:
        (program.directory / "files").mkdir(exist_ok=True)
        (program.directory / "files" / name).write_bytes(content)
        args += ["-a", "files" + ("\\" if WINE else "/") + name]
    if subject is not None:
        args += ["-s", subject]
    run = program.send(*args[:2], "mail.txt", *args[2:], "ops@example.com", body=BODY,
                       env=None if WINE else {"LC_ALL": "C"})
    assert run.returncode == 0, run.lines
    assert run.lines == ["will send mail.txt to ops@example.com"]
    (message,) = server.messages
    assert f"SIZE={len(message.data)}" in message.options
    assert overlong_lines(message.data) == []
    mail = parsed(message)
    assert mail.get_content_type() == "multipart/mixed"
    assert mail["MIME-Version"] == "1.0" and message.data.count(b"MIME-Version:") == 1
    assert mail["Subject"] == (subject or "")
    (body,) = [p for p in mail.iter_parts() if not p.is_attachment()]
    assert body.get_content_type() == "text/plain"
    assert body.get_payload(decode=True) == SENT_BODY
    parts = list(mail.iter_attachments())
    assert [(p.get_filename(), p.get_payload(decode=True)) for p in parts] == files
    for part, (name, _) in zip(parts, files):
        extension = name.rsplit(".", 1)[-1]
        expected = (WINE_REGISTRY if WINE else {}).get(extension) or COMMON_TYPES.get(extension)
        assert part.get_content_type() == (expected or "application/octet-stream"), name
        if name in CHARSETS:
            assert part.get_content_charset() == CHARSETS[name], name


def test_a_large_attachment_is_streamed_without_the_memory_growing(program, smtp_server):
    server = smtp_server(size_limit=100 << 20)
    program.configure(server)
    (program.directory / "mail.txt").write_bytes(BODY)
    big = program.directory / "big.bin"
    big.write_bytes(os.urandom(20 << 20))
    returncode, lines, memory = run_measured(program, "-a", "big.bin", "mail.txt", "ops@example.com", timeout=120)
    assert returncode == 0, lines
    (message,) = server.messages
    assert f"SIZE={len(message.data)}" in message.options
    (part,) = parsed(message).iter_attachments()
    assert part.get_payload(decode=True) == big.read_bytes()
    # Held whole, the file alone (or its base64) would take more than this;
    # wine's own start-up takes about as much.
    if not WINE:
        assert memory < 16 << 20, memory


def spool(tmp_path):
    """The environment for a run and a function listing the spool files it
    could leave (wine takes the prefix's temporary folder whatever the
    environment says)."""
    if WINE:
        prefix = Path(os.environ.get("WINEPREFIX", Path.home() / ".wine"))
        return {}, lambda: set(prefix.glob("drive_c/users/*/Temp/pst*.tmp"))
    d = tmp_path / "spool"
    d.mkdir()
    return {"TMPDIR": str(d)}, lambda: set(d.iterdir())


@pytest.mark.parametrize("fault, args, code", [
    ((), ["ops@example.com"], 0),
    (("end", "5xx"), ["ops@example.com"], 69),
    ((), ["no address"], 65),
])
def test_standard_input_is_the_body_of_mail_file_dash_and_its_spool_goes(program, smtp_server, tmp_path, fault,
                                                                         args, code):
    server = smtp_server(fault=fault)
    program.configure(server)
    # Large, and with a NUL byte: base64 of its CR LF form.
    source = tmp_path / "input"
    body = b"line one\nline two\n" * 300000 + b"\0 end\n"
    source.write_bytes(body)
    env, spooled = spool(tmp_path)
    before = spooled()
    with open(source, "rb") as stdin:
        run = program.run("-s", "listing", "-", *args, stdin=stdin, env=env)
    assert run.returncode == code, run.lines
    assert run.lines[0] == f"will send - to {args[0]}"
    assert spooled() - before == set()
    if code == 0:
        (message,) = server.messages
        assert parsed(message).get_payload(decode=True) == body.replace(b"\n", b"\r\n")


@pytest.mark.skipif(WINE, reason="wine takes the prefix's temporary folder")
def test_the_spool_file_is_made_in_tmpdir(program, smtp_server, tmp_path):
    server = smtp_server()
    program.configure(server)
    with open(Path(__file__), "rb") as stdin:
        run = program.run("-", "ops@example.com", stdin=stdin, env={"TMPDIR": str(tmp_path / "none")})
    assert run.returncode == 66
    assert run.lines[1] == "cannot read mail file - [No such file or directory]"
    assert server.connections == 0
