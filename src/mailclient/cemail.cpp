#include "mailclient/cemail.h"

#include <cstdio>
#include <cstring>

#include "mailclient/address.h"
#include "mailclient/encoding.h"
#include "mailclient/system.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {

// SMTP's limit for a line, without its CR LF (RFC 5321 section 4.5.3.1.6).
constexpr std::size_t kMaxLine = 998;
constexpr std::size_t kChunk = 64 * 1024;
// Base64 lines hold 76 characters (RFC 2045 section 6.8).
constexpr std::size_t kBase64Line = 76;

std::string_view TrimBlanks(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

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

// "To: a, b, ..." folded before an address that would make the line long.
std::string ToHeader(const std::vector<std::string>& recipients) {
  std::string out = "To:";
  std::size_t line = out.size();
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    const std::string& r = recipients[i];
    const bool last = i + 1 == recipients.size();
    const std::size_t piece = r.size() + (last ? 0 : 1);
    if (i > 0 && line + 1 + piece > 78) {
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

// The caller's extra lines with CR LF line ends; empty lines are left out,
// since one would end the header there.
std::string CargoLines(std::string_view cargo) {
  std::string out;
  std::size_t at = 0;
  while (at < cargo.size()) {
    std::size_t end = cargo.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = cargo.size();
    std::string_view line = cargo.substr(at, end - at);
    if (!TrimBlanks(line).empty()) {
      for (char c : line) out += c == '\0' ? ' ' : c;
      out += "\r\n";
    }
    at = end + 1;
  }
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
  body_ = std::move(value);
  has_nul_ = std::memchr(body_.data(), 0, body_.size()) != nullptr;
  ascii_ = IsAscii(body_);
  longest_line_ = 0;
  line_ends_ = 0;
  line_end_bytes_ = 0;
  LineEnds ends(body_);
  std::size_t start = 0;
  for (std::size_t i = ends.Next(0); i != std::string::npos; i = ends.Next(start)) {
    longest_line_ = std::max(longest_line_, i - start);
    ++line_ends_;
    ++line_end_bytes_;
    if (body_[i] == '\r' && i + 1 < body_.size() && body_[i + 1] == '\n') {
      ++line_end_bytes_;
      ++i;
    }
    start = i + 1;
  }
  longest_line_ = std::max(longest_line_, body_.size() - start);
}

std::vector<std::string> CEmail::Recipients() const {
  const runtime::Activation activation("CEMAIL:RECIPIENTS", __LINE__);
  std::vector<std::string> out;
  for (const std::string& piece : dest_) {
    const std::string_view address = TrimBlanks(piece);
    if (!address.empty()) out.emplace_back(address);
  }
  return out;
}

BodyPlan CEmail::Plan(bool eight_bit_ok) const {
  const runtime::Activation activation("CEMAIL:PLAN", __LINE__);
  BodyPlan plan;
  if (!ascii_) plan.charset = IsUtf8(body_) ? "utf-8" : AnsiCharset();
  const bool long_lines = longest_line_ > kMaxLine;
  if (has_nul_) {
    plan.encoding = TransferEncoding::kBase64;
  } else if (long_lines || (!ascii_ && !eight_bit_ok)) {
    plan.encoding = TransferEncoding::kQuotedPrintable;
  } else if (!ascii_) {
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
  if (!NeedsEncodedWords(subject) && field.size() + subject.size() <= kMaxLine) {
    h += field + subject + "\r\n";
  } else {
    const std::string charset = IsUtf8(subject) ? "utf-8" : AnsiCharset();
    h += field + EncodedWords(subject, charset, field.size()) + "\r\n";
  }
  h += CargoLines(cargo_);
  h += "MIME-Version: 1.0\r\n";
  h += "Content-Type: text/plain; charset=" + plan.charset + "\r\n";
  h += std::string("Content-Transfer-Encoding: ") + EncodingName(plan.encoding) + "\r\n";
  h += "\r\n";
  return h;
}

std::size_t CEmail::DataSize(const BodyPlan& plan, const std::string& header) const {
  const runtime::Activation activation("CEMAIL:DATASIZE", __LINE__);
  const std::size_t n = body_.size();
  switch (plan.encoding) {
    case TransferEncoding::kBase64: {
      const std::size_t canonical = n - line_end_bytes_ + 2 * line_ends_;
      const std::size_t encoded = (canonical + 2) / 3 * 4;
      return header.size() + encoded + 2 * ((encoded + kBase64Line - 1) / kBase64Line);
    }
    case TransferEncoding::kQuotedPrintable: {
      // Soft breaks depend on every byte: count what the encoder makes.
      std::size_t size = 0;
      Encode(plan, header, false, [&](std::string_view chunk) {
        size += chunk.size();
        return true;
      });
      return size;
    }
    default: {
      // Every line end becomes CR LF, and an open last line is closed.
      const bool open_end = n > 0 && body_.back() != '\r' && body_.back() != '\n';
      return header.size() + n - line_end_bytes_ + 2 * line_ends_ + (open_end ? 2 : 0);
    }
  }
}

bool CEmail::WriteData(const BodyPlan& plan, const std::string& header,
                       const std::function<bool(std::string_view)>& sink) const {
  const runtime::Activation activation("CEMAIL:WRITEDATA", __LINE__);
  return Encode(plan, header, true, sink);
}

bool CEmail::Encode(const BodyPlan& plan, const std::string& header, bool stuff_dots,
                    const std::function<bool(std::string_view)>& sink) const {
  const runtime::Activation activation("CEMAIL:ENCODE", __LINE__);
  DataEncoder data(stuff_dots);
  std::string out;
  out.reserve(2 * kChunk);
  auto flush = [&](bool force) {
    if (out.empty() || (!force && out.size() < kChunk)) return true;
    const bool ok = sink(out);
    out.clear();
    return ok;
  };
  data.Feed(header, out);
  std::string encoded;
  std::string canonical;
  DataEncoder line_ends(false);
  QuotedPrintableEncoder qp;
  Base64Encoder b64;
  for (std::size_t at = 0; at < body_.size(); at += kChunk) {
    const std::string_view chunk = std::string_view(body_).substr(at, kChunk);
    switch (plan.encoding) {
      case TransferEncoding::kQuotedPrintable:
        encoded.clear();
        qp.Feed(chunk, encoded);
        data.Feed(encoded, out);
        break;
      case TransferEncoding::kBase64:
        // Text is encoded from its canonical form, every line end CR LF
        // (RFC 2045 section 6.8).
        canonical.clear();
        line_ends.Feed(chunk, canonical);
        encoded.clear();
        b64.Feed(canonical, encoded);
        data.Feed(encoded, out);
        break;
      default:
        data.Feed(chunk, out);
    }
    if (!flush(false)) return false;
  }
  encoded.clear();
  if (plan.encoding == TransferEncoding::kQuotedPrintable) qp.Finish(encoded);
  if (plan.encoding == TransferEncoding::kBase64) b64.Finish(encoded);
  data.Feed(encoded, out);
  data.Finish(out);
  return flush(true);
}

}  // namespace mailclient
