"""HTML bodies as mail readers want them: a text alternative made from the
HTML or given, the images the HTML shows inside the message, each level of
the structure only where it has more than one part, every part decoded to
the very bytes it was made of."""

import os
import re

import pytest

from conftest import WINE, parsed, run_measured

PAGE = ("<html><head><title>t</title><style>p {color: red}</style></head><body>\n"
        "<h1>Nightly backup</h1><p>Gr\u00fc\u00dfe &amp; <a href=\"https://example.com/r\">details</a></p>\n"
        "<table><tr><th>host</th><th>state</th></tr><tr><td>db1</td><td>ok</td></tr></table>\n"
        "<img src=\"cid:chart.png\"><img src=\"cid:logo.gif\"></body></html>\n").encode()
TEXT = ("Nightly backup\r\n\r\nGr\u00fc\u00dfe & details <https://example.com/r>\r\n\r\n"
        "host | state\r\ndb1 | ok\r\n")
IMAGES = {"chart.png": b"\x89PNG\r\n\x1a\n" + os.urandom(5000) + b"\r\n.\r\n", "logo.gif": b"GIF89a" + os.urandom(300)}


def tree(part):
    """The structure of a message as nested content types."""
    if part.is_multipart():
        return (part.get_content_type(), [tree(p) for p in part.iter_parts()])
    return part.get_content_type()


def leaves(part):
    return [p for p in part.walk() if not p.is_multipart()]


def send(program, server, *args, name="report.html", body=PAGE, files=IMAGES):
    program.configure(server)
    for file, content in files.items():
        (program.directory / file).write_bytes(content)
    (program.directory / "notes.txt").write_bytes(b"plain notes\n")
    (program.directory / "figures.csv").write_bytes(b"a,b\n1,2\n")
    return program.send(*args, name, "ops@example.com", body=body, name=name)


ALTERNATIVE = ("multipart/alternative", ["text/plain", "text/html"])
RELATED = ("multipart/alternative", ["text/plain", ("multipart/related", ["text/html", "image/png", "image/gif"])])
STRUCTURES = {
    "html alone": ([], ALTERNATIVE),
    "text given": (["-alt", "notes.txt"], ALTERNATIVE),
    "images": (["-embed", "chart.png", "-EMBED", "logo.gif"], RELATED),
    "attachment": (["-a", "figures.csv"], ("multipart/mixed", [ALTERNATIVE, "text/csv"])),
    "everything": (["-a", "figures.csv", "-embed", "chart.png", "-alt", "notes.txt", "-embed", "logo.gif"],
                   ("multipart/mixed", [RELATED, "text/csv"])),
}


@pytest.mark.parametrize("args, structure", STRUCTURES.values(), ids=STRUCTURES.keys())
def test_each_combination_has_the_structure_and_the_bytes_of_its_parts(program, smtp_server, args, structure):
    server = smtp_server()
    run = send(program, server, *args)
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    assert f"SIZE={len(message.data)}" in message.options
    mail = parsed(message)
    assert tree(mail) == structure
    parts = leaves(mail)
    text, html = parts[0], parts[1]
    expected = "plain notes\r\n" if "-alt" in args else TEXT
    assert text.get_payload(decode=True).decode(text.get_content_charset()) == expected
    assert html.get_payload(decode=True) == PAGE.replace(b"\n", b"\r\n")
    images = [p for p in parts if p.get_content_maintype() == "image"]
    for image in images:
        assert image.get_content_disposition() == "inline"
        assert image.get_payload(decode=True) == IMAGES[image.get_filename()]
    # Every cid: of the HTML names an image of the same related part.
    if images:
        ids = {p["Content-ID"] for p in images}
        assert {f"<{cid}>" for cid in re.findall(rb'src="cid:([^"]+)"', PAGE) for cid in [cid.decode()]} == ids
        related = mail.get_payload(0).get_payload(1) if mail.get_content_type() == "multipart/mixed" \
            else mail.get_payload(1)
        assert related.get_param("type") == "text/html"
    if "-a" in args:
        assert mail.get_payload(1).get_payload(decode=True) == b"a,b\n1,2\n"


def test_html_from_standard_input_with_an_image(program, smtp_server):
    server = smtp_server()
    program.configure(server)
    (program.directory / "chart.png").write_bytes(IMAGES["chart.png"])
    (program.directory / "page").write_bytes(PAGE)
    with open(program.directory / "page", "rb") as stdin:
        run = program.run("-s", "report", "-html", "-", "-embed", "chart.png", "ops@example.com", stdin=stdin)
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    mail = parsed(message)
    assert tree(mail) == ("multipart/alternative", ["text/plain", ("multipart/related", ["text/html", "image/png"])])
    text, html, image = leaves(mail)
    assert text.get_content_charset() == "utf-8" and "Gr\u00fc\u00dfe" in text.get_content()
    assert html.get_payload(decode=True) == PAGE.replace(b"\n", b"\r\n")
    assert image.get_payload(decode=True) == IMAGES["chart.png"]


# PowerShell 5.1's ">" writes UTF-16 with a byte-order mark: such a body
# goes as its very bytes, labelled so, and its text is made from what it
# reads as.
@pytest.mark.parametrize("name", ["services.html", "services.txt"])
def test_a_utf16_mail_file_arrives_as_written(program, smtp_server, name):
    server = smtp_server()
    page = "\ufeff".encode("utf-16-le") + PAGE.decode().replace("\n", "\r\n").encode("utf-16-le")
    run = send(program, server, name=name, body=page, files={})
    assert run.returncode == 0, run.lines
    (message,) = server.messages
    assert f"SIZE={len(message.data)}" in message.options
    mail = parsed(message)
    body = leaves(mail)[-1]
    assert body.get_content_charset() == "utf-16"
    assert body.get_payload(decode=True) == page
    if name.endswith(".html"):
        assert leaves(mail)[0].get_content() == TEXT


# Each refused before any connection, with the line that says why.
REFUSED = {
    "missing image": (["-embed", "absent.png"], 66, "cannot read embedded image absent.png ["),
    "missing text": (["-alt", "absent.txt"], 66, "cannot read text file absent.txt ["),
    "name with a blank": (["-embed", "my chart.png"], 64,
                          "cannot embed my chart.png [its name cannot follow cid: as it stands:"),
    "same name twice": (["-embed", "chart.png", "-embed", "chart.png"], 64,
                        "cannot embed chart.png [an image of the name chart.png is embedded already]"),
}


@pytest.mark.parametrize("args, code, line", REFUSED.values(), ids=REFUSED.keys())
def test_an_image_or_text_that_cannot_go_stops_the_run(program, smtp_server, args, code, line):
    server = smtp_server()
    run = send(program, server, *args, files={**IMAGES, "my chart.png": b"x"})
    assert run.returncode == code, run.lines
    assert run.lines[1].startswith(line), run.lines
    assert server.connections == 0


@pytest.mark.parametrize("option", ["-alt", "-embed"])
def test_a_text_body_takes_no_alternative_or_image(program, smtp_server, option):
    server = smtp_server()
    run = send(program, server, option, "chart.png", name="report.txt", body=b"plain\n")
    assert run.returncode == 64, run.lines
    assert run.lines[1] == f"{option} goes with an HTML body: name the mail file .html or add -html"
    assert server.connections == 0


@pytest.mark.skipif(WINE, reason="wine's own start-up takes more than the bound")
def test_a_large_html_body_and_image_are_streamed(program, smtp_server):
    server = smtp_server(size_limit=200 << 20)
    program.configure(server)
    rows = b"".join(b"<tr><td>host%d</td><td>ok &amp; fine</td></tr>\n" % i for i in range(400000))
    (program.directory / "big.html").write_bytes(b"<table>" + rows + b"</table>")
    (program.directory / "chart.png").write_bytes(os.urandom(20 << 20))
    returncode, lines, memory = run_measured(program, "-embed", "chart.png", "big.html", "ops@example.com",
                                             timeout=120)
    assert returncode == 0, lines
    (message,) = server.messages
    assert f"SIZE={len(message.data)}" in message.options
    text, _, image = leaves(parsed(message))
    assert text.get_content().count("\n") == 400000
    assert image.get_payload(decode=True) == (program.directory / "chart.png").read_bytes()
    assert memory < 16 << 20, memory
