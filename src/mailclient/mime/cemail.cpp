#include "mailclient/mime/cemail.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mailclient/mime/address.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/mime/system.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/identity.h"
#include "runtime/places.h"
#include "runtime/whole_file.h"
#include "runtime/ansi_text.h"

namespace mailclient {

namespace {

// SMTP's limit for a line, without its CR LF (RFC 5321 section 4.5.3.1.6).
constexpr std::size_t kMaxLine = 998;
// The length a header line should keep to (RFC 5322 section 2.1.1).
constexpr std::size_t kHeaderLine = 78;
constexpr std::size_t kChunk = 64 * 1024;
// Base64 lines hold 76 characters (RFC 2045 section 6.8).
constexpr std::size_t kBase64Line = 76;

// A header value may not break the header: CR, LF and NUL become blanks.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return out;
}

std::string DateText(std::time_t now) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const LocalTime t = LocalTimeOf(now);
  const int offset = t.offset_minutes < 0 ? -t.offset_minutes : t.offset_minutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                kDays[t.weekday % 7], t.day, kMonths[(t.month + 11) % 12], t.year, t.hour, t.minute,
                t.second, t.offset_minutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

// An address as the header shows it: in the form it travels in, and a bare
// "postmaster" as an empty group of that name, since a header's address
// has a domain (RFC 5322 section 3.4). One that cannot be used (the client
// sends none) is at least kept on its line.
std::string HeaderAddress(const std::string& typed, bool recipient, bool utf8) {
  Address address;
  if (!ParseAddress(typed, recipient, address).empty()) return OneLine(typed);
  if (address.domain.empty()) return address.local + ":;";
  return address.Mailbox(utf8);
}

// A subject that a reader would not show as typed goes as encoded words:
// one with bytes beyond ASCII, with control characters (RFC 5322 allows
// none), or with text that looks like an encoded word itself.
bool NeedsEncodedWords(std::string_view subject) {
  if (!IsAscii(subject)) return true;
  for (char c : subject) {
    if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
  }
  const std::size_t open = subject.find("=?");
  return open != std::string_view::npos && subject.find("?=", open + 2) != std::string_view::npos;
}

// The length of the longest of the CR LF lines of `text`.
std::size_t LongestLine(std::string_view text) {
  std::size_t longest = 0;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    longest = std::max(longest, end - at);
    at = end + 2;
  }
  return longest;
}

// "To: a, b, ..." folded before an address that would make the line long.
std::string ToHeader(const std::vector<std::string>& recipients) {
  std::string out = "To:";
  std::size_t line = out.size();
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    const std::string& r = recipients[i];
    const bool last = i + 1 == recipients.size();
    const std::size_t piece = r.size() + (last ? 0 : 1);
    if (i > 0 && line + 1 + piece > kHeaderLine) {
      out += "\r\n";
      line = 0;
    }
    out += ' ';
    out += r;
    if (!last) out += ',';
    line += 1 + piece;
  }
  return out + "\r\n";
}

// The caller's extra lines with CR LF line ends, long ones folded; empty
// lines are left out, since one would end the header there.
std::string CargoLines(std::string_view cargo) {
  std::string out;
  std::size_t at = 0;
  while (at < cargo.size()) {
    std::size_t end = cargo.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = cargo.size();
    std::string_view line = cargo.substr(at, end - at);
    if (!runtime::TrimBlanks(line).empty()) {
      std::string clean(line);
      for (char& c : clean) c = c == '\0' ? ' ' : c;
      out += FoldAtBlanks(clean) + "\r\n";
    }
    at = end + 1;
  }
  return out;
}

constexpr char kPreamble[] = "This is a multi-part message in MIME format.\r\n";

std::uint64_t Base64Size(std::uint64_t bytes) {
  const std::uint64_t encoded = (bytes + 2) / 3 * 4;
  return encoded + 2 * ((encoded + kBase64Line - 1) / kBase64Line);
}

std::string BaseName(const std::string& path) {
  const std::size_t cut = path.find_last_of(std::string("/") + runtime::PathSeparator());
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A file name that a quoted string carries as it is: printable ASCII.
bool IsPlainName(std::string_view name) {
  for (char c : name) {
    if (c < 0x20 || c >= 0x7f) return false;
  }
  return true;
}

// A parameter value in RFC 2231's extended form: bytes beyond the
// attribute characters as %XX.
std::string PercentEncoded(std::string_view text) {
  std::string out;
  for (char ch : text) {
    if (runtime::IsAsciiAlnum(ch) || std::string_view("!#$&+-.^_`|~").find(ch) != std::string_view::npos) {
      out += ch;
    } else {
      out += '%';
      runtime::AppendHex(out, static_cast<unsigned char>(ch));
    }
  }
  return out;
}

// A parameter of a header field, as written after its ";".
struct Parameter {
  std::string text;
  bool own_line = false;  // on a line of its own whatever its length
};

// "Content-Type: text/plain; name=..." with each parameter on the line it
// fits on, its ";" included, else folded onto a line of its own.
std::string FieldWithParameters(std::string out, const std::vector<Parameter>& parameters) {
  std::size_t line = out.size();
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const Parameter& p = parameters[i];
    const std::size_t after = i + 1 < parameters.size() ? 1 : 0;
    out += ';';
    if (p.own_line || line + 2 + p.text.size() + after > kHeaderLine) {
      out += "\r\n ";
      line = 1;
    } else {
      out += ' ';
      line += 2;
    }
    out += p.text;
    const std::size_t fold = p.text.rfind('\n');
    line = fold == std::string::npos ? line + p.text.size() : p.text.size() - fold - 1;
  }
  return out + "\r\n";
}

// The bytes of the character at `at`: a UTF-8 sequence whole, so that no
// piece of a cut value holds half a character; one byte in other charsets.
std::size_t CharacterSize(std::string_view text, std::size_t at, bool utf8) {
  const auto c = static_cast<unsigned char>(text[at]);
  std::size_t n = !utf8 || c < 0xc0 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
  return std::min(n, text.size() - at);
}

// A file name too long for one line as RFC 2231 continuations, each on a
// line of its own within 78 characters: "filename*0*=utf-8''%E6...",
// "filename*1*=..." in `charset`, or "filename*0=\"...\"" for a plain name
// (charset empty). Readers decode each piece by itself, so none holds
// part of a character.
std::vector<Parameter> Continuations(std::string_view attribute, std::string_view name, const std::string& charset) {
  const bool extended = !charset.empty();
  std::vector<Parameter> out;
  std::string value = extended ? charset + "''" : "";
  std::size_t written = extended ? value.size() : 2;  // the quotes
  bool empty = true;
  auto head = [&] { return std::string(attribute) + "*" + std::to_string(out.size()) + (extended ? "*=" : "="); };
  auto close = [&] {
    out.push_back({head() + (extended ? value : QuotedString(value)), true});
    value.clear();
    written = extended ? 0 : 2;
    empty = true;
  };
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t n = CharacterSize(name, i, charset == "utf-8");
    const std::string_view raw = name.substr(i, n);
    const std::string piece = extended ? PercentEncoded(raw) : std::string(raw);
    const std::size_t size = extended ? piece.size() : piece.size() + (raw == "\"" || raw == "\\" ? 1 : 0);
    // A blank before it and a ";" after it.
    if (!empty && 1 + head().size() + written + size + 1 > kHeaderLine) close();
    value += piece;
    written += size;
    empty = false;
    i += n;
  }
  close();
  return out;
}

const char* EncodingName(TransferEncoding e) {
  switch (e) {
    case TransferEncoding::k7Bit: return "7bit";
    case TransferEncoding::k8Bit: return "8bit";
    case TransferEncoding::kQuotedPrintable: return "quoted-printable";
    case TransferEncoding::kBase64: return "base64";
  }
  return "7bit";
}

}  // namespace

void CEmail::MailBody(std::string value) {
  const runtime::Activation activation("CEMAIL:MAILBODY", __LINE__);
  body_ = Part{Content(std::move(value)), {}, {}, {}, {}};
  std::string unused;
  Scan(body_, true, unused);
}

bool CEmail::MailBody(std::shared_ptr<runtime::FileSource> file, std::string& reason) {
  const runtime::Activation activation("CEMAIL:MAILBODY", __LINE__);
  body_ = Part{Content(std::move(file)), {}, {}, {}, {}};
  return Scan(body_, true, reason);
}

bool CEmail::Scan(Part& part, bool text, std::string& reason) {
  const runtime::Activation activation("CEMAIL:SCAN", __LINE__);
  part.scan = ContentScan{};
  ContentDigest digest;
  const bool read = part.content.Read(
      [&](std::string_view chunk) {
        digest.Feed(chunk);
        if (text) {
          part.scan.Feed(chunk);
        } else {
          part.scan.size += chunk.size();
        }
        return true;
      },
      runtime::kMaxWholeFile, reason);
  part.scan.Finish();
  part.digest = digest.Value();
  if (!read) return false;
  if (part.scan.size > runtime::kMaxWholeFile) {
    reason = runtime::kFileTooLarge;
    return false;
  }
  return true;
}

bool CEmail::Attach(const std::string& name, std::shared_ptr<runtime::FileSource> file, std::string type,
                    std::string& reason) {
  const runtime::Activation activation("CEMAIL:ATTACH", __LINE__);
  Part part{Content(file), {}, BaseName(name), std::move(type), {}};
  // An attachment goes as base64 whatever it holds: the plan needs only
  // its size, and a text's charset, since a reader takes text without
  // one for US-ASCII.
  const bool text = part.type.starts_with("text/");
  if (!Scan(part, text, reason)) return false;
  if (text) part.charset = part.scan.CharsetByByteOrderMark();
  attachments_.push_back(std::move(part));
  // "=_" can occur in neither base64 nor quoted-printable; a body sent as
  // it is that holds it goes as quoted-printable (Plan).
  if (boundary_.empty()) boundary_ = "=_" + runtime::RandomHex(24);
  return true;
}

std::vector<std::string> CEmail::Recipients() const {
  const runtime::Activation activation("CEMAIL:RECIPIENTS", __LINE__);
  std::vector<std::string> out;
  for (const std::string& piece : dest_) {
    const std::string_view address = runtime::TrimBlanks(piece);
    if (!address.empty()) out.emplace_back(address);
  }
  return out;
}

BodyPlan CEmail::Plan(bool eight_bit_ok) const {
  const runtime::Activation activation("CEMAIL:PLAN", __LINE__);
  const ContentScan& scan = body_.scan;
  BodyPlan plan;
  plan.charset = scan.Charset();
  const bool long_lines = scan.longest_line > kMaxLine;
  if (scan.has_nul) {
    plan.encoding = TransferEncoding::kBase64;
  } else if (long_lines || (!scan.ascii && !eight_bit_ok) || (Multipart() && scan.has_boundary_mark)) {
    plan.encoding = TransferEncoding::kQuotedPrintable;
  } else if (!scan.ascii) {
    plan.encoding = TransferEncoding::k8Bit;
    plan.eight_bit_mime = true;
  }
  return plan;
}

std::string CEmail::Header(const BodyPlan& plan, std::time_t now, bool utf8) const {
  const runtime::Activation activation("CEMAIL:HEADER", __LINE__);
  std::string h;
  h += "Date: " + DateText(now) + "\r\n";
  h += "From: " + HeaderAddress(from_, false, utf8) + "\r\n";
  std::vector<std::string> to;
  for (const std::string& r : Recipients()) to.push_back(HeaderAddress(r, true, utf8));
  h += ToHeader(to);
  const std::string subject = OneLine(subject_);
  const std::string field = "Subject: ";
  const std::string folded = NeedsEncodedWords(subject) ? std::string() : FoldAtBlanks(field + subject);
  if (!folded.empty() && LongestLine(folded) <= kMaxLine) {
    h += folded + "\r\n";
  } else {
    const std::string charset = IsUtf8(subject) ? "utf-8" : runtime::AnsiCharset();
    h += field + EncodedWords(subject, charset, field.size()) + "\r\n";
  }
  h += CargoLines(cargo_);
  h += "MIME-Version: 1.0\r\n";
  if (Multipart()) {
    // A multipart entity is 7bit or 8bit as its most demanding part is.
    h += "Content-Type: multipart/mixed; boundary=\"" + boundary_ + "\"\r\n";
    h += std::string("Content-Transfer-Encoding: ") +
         (plan.encoding == TransferEncoding::k8Bit ? "8bit" : "7bit") + "\r\n";
  } else {
    h += BodyPartHeader(plan);
  }
  h += "\r\n";
  return h;
}

std::string CEmail::BodyPartHeader(const BodyPlan& plan) const {
  return std::string("Content-Type: ") + (html_ ? "text/html" : "text/plain") + "; charset=" + plan.charset +
         "\r\nContent-Transfer-Encoding: " + EncodingName(plan.encoding) + "\r\n";
}

std::string CEmail::AttachmentHeader(const Part& part) const {
  const runtime::Activation activation("CEMAIL:ATTACHMENTHEADER", __LINE__);
  std::vector<Parameter> type;
  if (!part.charset.empty()) type.push_back({"charset=" + part.charset});
  std::vector<Parameter> disposition;
  // A printable ASCII name goes as quoted strings while they fit on a line.
  // Others go in RFC 2231's form for the readers that know it, and as
  // encoded words in the name parameter for those that do not.
  const std::string charset = IsUtf8(part.name) ? "utf-8" : runtime::AnsiCharset();
  const std::string quoted = IsPlainName(part.name) ? QuotedString(part.name) : "";
  if (!quoted.empty() && 1 + 5 + quoted.size() <= kHeaderLine) {
    type.push_back({"name=" + quoted});
  } else {
    type.push_back({"name=\"" + EncodedWords(part.name, charset, 7) + "\"", true});
  }
  if (!quoted.empty()) {
    if (1 + 9 + quoted.size() <= kHeaderLine) {
      disposition.push_back({"filename=" + quoted});
    } else {
      disposition = Continuations("filename", part.name, "");
    }
  } else {
    const std::string value = charset + "''" + PercentEncoded(part.name);
    if (1 + 10 + value.size() <= kHeaderLine) {
      disposition.push_back({"filename*=" + value, true});
    } else {
      disposition = Continuations("filename", part.name, charset);
    }
  }
  return FieldWithParameters("Content-Type: " + part.type, type) + "Content-Transfer-Encoding: base64\r\n" +
         FieldWithParameters("Content-Disposition: attachment", disposition) + "\r\n";
}

std::string CEmail::What(const Part& part) {
  return part.name.empty() ? std::string("the mail file") : "the attachment " + part.name;
}

std::string CEmail::Delimiter(bool last) const { return "--" + boundary_ + (last ? "--\r\n" : "\r\n"); }

std::uint64_t CEmail::BodySize(const BodyPlan& plan) const {
  const runtime::Activation activation("CEMAIL:BODYSIZE", __LINE__);
  const ContentScan& scan = body_.scan;
  const std::uint64_t canonical = scan.size - scan.line_end_bytes + 2 * scan.line_ends;
  switch (plan.encoding) {
    case TransferEncoding::kBase64:
      return Base64Size(canonical);
    case TransferEncoding::kQuotedPrintable: {
      // Soft breaks depend on every byte: count what the encoder makes.
      QuotedPrintableEncoder qp;
      std::string encoded;
      std::uint64_t size = 0;
      const bool read = body_.content.Read(
          [&](std::string_view chunk) {
            encoded.clear();
            qp.Feed(chunk, encoded);
            size += encoded.size();
            return true;
          },
          scan.size, read_error_);
      if (!read) {
        read_error_ = "cannot read " + What(body_) + " [" + read_error_ + "]";
        return 0;
      }
      encoded.clear();
      qp.Finish(encoded);
      return size + encoded.size();
    }
    default:
      // Every line end becomes CR LF, and an open last line is closed.
      return canonical + (scan.open_end ? 2 : 0);
  }
}

std::uint64_t CEmail::DataSize(const BodyPlan& plan, const std::string& header) const {
  const runtime::Activation activation("CEMAIL:DATASIZE", __LINE__);
  read_error_.clear();
  std::uint64_t size = header.size() + BodySize(plan);
  if (!read_error_.empty()) return 0;
  if (Multipart()) {
    size += std::strlen(kPreamble) + Delimiter(false).size() + BodyPartHeader(plan).size() + 2;
    for (const Part& a : attachments_) {
      size += 2 + Delimiter(false).size() + AttachmentHeader(a).size() + Base64Size(a.scan.size);
    }
    size += 2 + Delimiter(true).size();
  }
  return size;
}

bool CEmail::WriteData(const BodyPlan& plan, const std::string& header,
                       const std::function<bool(std::string_view)>& sink) const {
  const runtime::Activation activation("CEMAIL:WRITEDATA", __LINE__);
  return Encode(plan, header, true, sink);
}

bool CEmail::Encode(const BodyPlan& plan, const std::string& header, bool stuff_dots,
                    const std::function<bool(std::string_view)>& sink) const {
  const runtime::Activation activation("CEMAIL:ENCODE", __LINE__);
  read_error_.clear();
  DataEncoder data(stuff_dots);
  std::string out;
  out.reserve(3 * kChunk);
  bool sink_ok = true;
  auto flush = [&](bool force) {
    if (out.empty() || (!force && out.size() < kChunk)) return true;
    sink_ok = sink(out);
    out.clear();
    return sink_ok;
  };
  // Reads a part again and checks that it still holds the bytes the plan
  // was made for, byte for byte: a size announced to the server must not
  // turn out false, and a file rewritten while it is sent must not reach
  // the server half old, half new. The end of the message is never sent
  // when the digests of the two passes differ.
  auto pass = [&](const Part& part, const std::function<void(std::string_view)>& encode) {
    std::uint64_t seen = 0;
    ContentDigest again;
    const bool read = part.content.Read(
        [&](std::string_view chunk) {
          seen += chunk.size();
          if (seen > part.scan.size) return false;
          again.Feed(chunk);
          encode(chunk);
          return flush(false);
        },
        part.scan.size, read_error_);
    if (!sink_ok) return false;
    if (read && seen == part.scan.size && again.Value() == part.digest) return true;
    read_error_ = read_error_.empty() ? What(part) + " changed while it was sent"
                                      : "cannot read " + What(part) + " [" + read_error_ + "]";
    return false;
  };

  data.Feed(header, out);
  if (Multipart()) data.Feed(kPreamble + Delimiter(false) + BodyPartHeader(plan) + "\r\n", out);
  std::string encoded;
  std::string canonical;
  DataEncoder line_ends(false);
  QuotedPrintableEncoder qp;
  Base64Encoder b64;
  const bool body_read = pass(body_, [&](std::string_view chunk) {
    switch (plan.encoding) {
      case TransferEncoding::kQuotedPrintable:
        encoded.clear();
        qp.Feed(chunk, encoded);
        data.Feed(encoded, out);
        break;
      case TransferEncoding::kBase64:
        // Text is encoded from its canonical form, every line end CR LF
        // (RFC 2045 section 6.8). Base64 lines never start with a dot.
        canonical.clear();
        line_ends.Feed(chunk, canonical);
        b64.Feed(canonical, out);
        break;
      default:
        data.Feed(chunk, out);
    }
  });
  if (!body_read) return false;
  encoded.clear();
  if (plan.encoding == TransferEncoding::kQuotedPrintable) qp.Finish(encoded);
  if (plan.encoding == TransferEncoding::kBase64) b64.Finish(out);
  data.Feed(encoded, out);
  data.EndLine(out);
  for (const Part& a : attachments_) {
    data.Feed("\r\n" + Delimiter(false) + AttachmentHeader(a), out);
    Base64Encoder attachment;
    if (!pass(a, [&](std::string_view chunk) { attachment.Feed(chunk, out); })) return false;
    attachment.Finish(out);
  }
  if (Multipart()) data.Feed("\r\n" + Delimiter(true), out);
  data.Finish(out);
  return flush(true);
}

}  // namespace mailclient
