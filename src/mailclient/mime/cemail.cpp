#include "mailclient/mime/cemail.h"

#include <algorithm>
#include <cstdio>

#include "mailclient/mime/address.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/mime/header_field.h"
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
// The bytes one utf-8 encoded word of 75 characters holds.
constexpr std::size_t kEncodedWordBytes = 45;

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

// Text that a reader would not show as typed goes as encoded words:
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

// A display name as words a header line may fold between: atoms where it
// is atext and blanks only, one quoted string where it holds specials, and
// encoded words where a reader would not show it as typed or a word would
// not fit on a line.
std::vector<std::string> PhraseWords(const std::string& name) {
  if (!NeedsEncodedWords(name)) {
    const bool atoms = std::all_of(name.begin(), name.end(), [](char c) { return c == ' ' || IsAtext(c, false); });
    std::vector<std::string> words;
    if (atoms) {
      for (std::size_t at = name.find_first_not_of(' '); at != std::string::npos;
           at = name.find_first_not_of(' ', at)) {
        const std::size_t end = std::min(name.find(' ', at), name.size());
        words.push_back(name.substr(at, end - at));
        at = end;
      }
    } else {
      words.push_back(QuotedString(name));
    }
    // Each with a blank before it and a "," after it.
    if (std::all_of(words.begin(), words.end(), [](const std::string& w) { return w.size() + 2 <= kHeaderLine; })) {
      return words;
    }
  }
  // Readers drop the blanks between two encoded words, but some keep them
  // in an address field: a word of the name split between two encoded
  // words would show split there. So a name too long for one word is cut
  // after its own blanks, and only a single word too long for one encoded
  // word is cut inside.
  std::vector<std::string> words;
  for (std::size_t start = 0; start < name.size();) {
    std::size_t end = name.size();
    if (end - start > kEncodedWordBytes) {
      const std::size_t blank = name.rfind(' ', start + kEncodedWordBytes - 1);
      end = blank != std::string::npos && blank >= start ? blank + 1
                                                         : std::min(name.find(' ', start), name.size() - 1) + 1;
    }
    const std::string encoded = EncodedWords(name.substr(start, end - start), "utf-8");
    for (std::size_t at = 0; at < encoded.size();) {
      const std::size_t word_end = std::min(encoded.find("\r\n ", at), encoded.size());
      words.push_back(encoded.substr(at, word_end - at));
      at = word_end + 3;
    }
    start = end;
  }
  return words;
}

// A mailbox as the header shows it, in words a line may fold between: the
// address in the form it travels in, after its display name between "<"
// and ">" when it has one, and a bare "postmaster" as an empty group of
// that name, since a header's address has a domain (RFC 5322 section 3.4).
// One that cannot be used (the client sends none) is at least kept on its
// line.
std::vector<std::string> MailboxWords(const std::string& typed, bool recipient, bool utf8) {
  Address address;
  if (!ParseAddress(typed, recipient, address).empty()) return {OneLine(typed)};
  if (address.domain.empty()) return {address.local + ":;"};
  if (address.name.empty()) return {address.Mailbox(utf8)};
  std::vector<std::string> words = PhraseWords(address.name);
  words.push_back("<" + address.Mailbox(utf8) + ">");
  return words;
}

// The pieces of a list of typed addresses that hold one.
std::vector<std::string> Trimmed(const std::vector<std::string>& pieces) {
  std::vector<std::string> out;
  for (const std::string& piece : pieces) {
    const std::string_view address = runtime::TrimBlanks(piece);
    if (!address.empty()) out.emplace_back(address);
  }
  return out;
}

// "To: a, b, ..." with each mailbox's words, folded before a word that
// would make the line long.
std::string AddressField(std::string out, const std::vector<std::vector<std::string>>& mailboxes) {
  std::size_t line = out.size();
  bool first = true;
  for (std::size_t i = 0; i < mailboxes.size(); ++i) {
    const std::vector<std::string>& words = mailboxes[i];
    for (std::size_t j = 0; j < words.size(); ++j) {
      const bool comma = j + 1 == words.size() && i + 1 < mailboxes.size();
      const std::size_t piece = words[j].size() + (comma ? 1 : 0);
      if (!first && line + 1 + piece > kHeaderLine) {
        out += "\r\n";
        line = 0;
      }
      out += ' ';
      out += words[j];
      if (comma) out += ',';
      line += 1 + piece;
      first = false;
    }
  }
  return out + "\r\n";
}

// An unstructured field (RFC 5322 section 3.6.5): folded at its blanks, or
// as encoded words where a reader would not show it as typed or a word is
// longer than a line may be.
std::string UnstructuredField(const std::string& field, const std::string& text) {
  const std::string folded = NeedsEncodedWords(text) ? std::string() : FoldAtBlanks(field + text);
  if (!folded.empty() && LongestLine(folded) <= kMaxLine) return folded + "\r\n";
  const std::string charset = IsUtf8(text) ? "utf-8" : runtime::AnsiCharset();
  return field + EncodedWords(text, charset, field.size()) + "\r\n";
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

// The charset of a text whose byte-order mark says UTF-16 or UTF-32 (as
// PowerShell 5.1 writes files); empty for others. Such a text goes as
// base64 of its very bytes: its line ends are no CR LF bytes to make.
std::string WideCharset(const ContentScan& scan) {
  const std::string charset = scan.CharsetByByteOrderMark();
  return charset == "utf-16" || charset == "utf-32" ? charset : std::string();
}

// "=_" can occur in neither base64 nor quoted-printable; a body or text
// sent as it is that holds it goes as quoted-printable (Plan).
std::string NewBoundary() { return "=_" + runtime::RandomHex(24); }

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
  body_ = Part{Content(std::move(value)), "the mail file"};
  Scan(body_, true);
  body_.charset = WideCharset(body_.scan);
  MakeText();
}

std::optional<std::string> CEmail::MailBody(std::shared_ptr<runtime::FileSource> file) {
  const runtime::Activation activation("CEMAIL:MAILBODY", __LINE__);
  body_ = Part{Content(std::move(file)), "the mail file"};
  if (auto reason = Scan(body_, true)) return reason;
  body_.charset = WideCharset(body_.scan);
  MakeText();
  return text_.scan.size > runtime::kMaxWholeFile ? std::optional(std::string(runtime::kFileTooLarge)) : std::nullopt;
}

std::optional<std::string> CEmail::StoredMessage(std::shared_ptr<runtime::FileSource> file, std::uint64_t offset) {
  const runtime::Activation activation("CEMAIL:STOREDMESSAGE", __LINE__);
  stored_ = true;
  body_ = Part{Content(std::move(file), offset), "the queued message"};
  return Scan(body_, true);
}

void CEmail::Html(bool on) {
  html_ = on;
  if (on && boundary_[1].empty()) boundary_[1] = NewBoundary();
  MakeText();
}

void CEmail::MakeText() {
  if (!html_ || text_given_ || body_.what.empty()) return;
  // The text is made from the HTML on every pass: the first one learns
  // its size and charset like a body's. The HTML was read just before, so
  // a failure here shows again, and is reported, when the text is sent.
  text_ = Part{Content::TextOfHtml(body_.content, body_.scan.utf8), "the mail file"};
  Scan(text_, true);
}

std::optional<std::string> CEmail::AlternativeText(std::shared_ptr<runtime::FileSource> file) {
  const runtime::Activation activation("CEMAIL:ALTERNATIVETEXT", __LINE__);
  text_given_ = true;
  text_ = Part{Content(std::move(file)), "the text alternative"};
  if (auto reason = Scan(text_, true)) return reason;
  text_.charset = WideCharset(text_.scan);
  return std::nullopt;
}

std::optional<std::string> CEmail::ContentIdRefusal(const std::string& name) const {
  const std::string base = BaseName(name);
  // A dot-atom of the characters that a URL and a message identifier both
  // carry as they are (RFC 2392: the cid: URL is the Content-ID unescaped).
  const bool plain = !base.empty() && std::all_of(base.begin(), base.end(), [](char c) {
    return runtime::IsAsciiAlnum(c) || std::string_view("-._~+").find(c) != std::string_view::npos;
  });
  if (!plain || base.front() == '.' || base.back() == '.' || base.find("..") != std::string::npos) {
    return "its name cannot follow cid: as it stands: use a name of letters, digits and . - _ ~ +";
  }
  for (const Part& image : images_) {
    if (image.name == base) return "an image of the name " + base + " is embedded already";
  }
  return std::nullopt;
}

std::optional<std::string> CEmail::Embed(const std::string& name, std::shared_ptr<runtime::FileSource> file,
                                         std::string type) {
  const runtime::Activation activation("CEMAIL:EMBED", __LINE__);
  Part part{Content(std::move(file)), "the embedded image " + BaseName(name), BaseName(name), std::move(type)};
  part.inline_image = true;
  if (auto reason = Scan(part, false)) return reason;
  images_.push_back(std::move(part));
  if (boundary_[2].empty()) boundary_[2] = NewBoundary();
  return std::nullopt;
}

std::optional<std::string> CEmail::Scan(Part& part, bool text) {
  const runtime::Activation activation("CEMAIL:SCAN", __LINE__);
  part.scan = ContentScan{};
  ContentDigest digest;
  std::string reason;
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
  if (!read) return reason;
  if (part.scan.size > runtime::kMaxWholeFile) return std::string(runtime::kFileTooLarge);
  return std::nullopt;
}

std::optional<std::string> CEmail::Attach(const std::string& name, std::shared_ptr<runtime::FileSource> file,
                                          std::string type) {
  const runtime::Activation activation("CEMAIL:ATTACH", __LINE__);
  Part part{Content(file), "the attachment " + BaseName(name), BaseName(name), std::move(type)};
  // An attachment goes as base64 whatever it holds: the plan needs only
  // its size, and a text's charset, since a reader takes text without
  // one for US-ASCII.
  const bool text = part.type.starts_with("text/");
  if (auto reason = Scan(part, text)) return reason;
  if (text) part.charset = part.scan.CharsetByByteOrderMark();
  attachments_.push_back(std::move(part));
  if (boundary_[0].empty()) boundary_[0] = NewBoundary();
  return std::nullopt;
}

std::vector<std::string> CEmail::Recipients() const {
  const runtime::Activation activation("CEMAIL:RECIPIENTS", __LINE__);
  std::vector<std::string> out = Trimmed(dest_);
  for (const auto* list : {&cc_, &bcc_}) {
    std::vector<std::string> more = Trimmed(*list);
    out.insert(out.end(), more.begin(), more.end());
  }
  return out;
}

std::optional<std::string> CEmail::HeaderField(const std::string& name, const std::string& value) {
  const runtime::Activation activation("CEMAIL:HEADERFIELD", __LINE__);
  if (auto reason = HeaderFieldRefusal(name, value)) return reason;
  fields_ += UnstructuredField(name + ": ", value);
  return std::nullopt;
}

BodyPlan CEmail::Plan(bool eight_bit_ok) const {
  const runtime::Activation activation("CEMAIL:PLAN", __LINE__);
  const bool multipart = Multipart();
  auto encoding = [&](const Part& part) {
    const ContentScan& scan = part.scan;
    if (scan.has_nul || !part.charset.empty()) return TransferEncoding::kBase64;
    if (scan.longest_line > kMaxLine || (!scan.ascii && !eight_bit_ok) || (multipart && scan.has_boundary_mark)) {
      return TransferEncoding::kQuotedPrintable;
    }
    return scan.ascii ? TransferEncoding::k7Bit : TransferEncoding::k8Bit;
  };
  BodyPlan plan;
  // A stored message goes as it was composed: its header must never be
  // encoded as a body would be.
  if (stored_) {
    plan.encoding = body_.scan.ascii ? TransferEncoding::k7Bit : TransferEncoding::k8Bit;
    plan.eight_bit_mime = !body_.scan.ascii;
    return plan;
  }
  plan.charset = body_.charset.empty() ? body_.scan.Charset() : body_.charset;
  plan.encoding = encoding(body_);
  if (html_) {
    plan.text_charset = text_.charset.empty() ? text_.scan.Charset() : text_.charset;
    plan.text_encoding = encoding(text_);
  }
  plan.eight_bit_mime = plan.encoding == TransferEncoding::k8Bit || plan.text_encoding == TransferEncoding::k8Bit;
  return plan;
}

std::string CEmail::Header(const BodyPlan& plan, std::time_t now, bool utf8, bool bcc_field) const {
  const runtime::Activation activation("CEMAIL:HEADER", __LINE__);
  auto mailboxes = [&](const std::vector<std::string>& typed) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& r : Trimmed(typed)) out.push_back(MailboxWords(r, true, utf8));
    return out;
  };
  // A stored message has its header; only the Bcc line is made anew.
  if (stored_) return bcc_field && !Trimmed(bcc_).empty() ? AddressField("Bcc:", mailboxes(bcc_)) : "";
  std::string h;
  h += "Date: " + DateText(now) + "\r\n";
  h += AddressField("From:", {MailboxWords(from_, false, utf8)});
  std::vector<std::vector<std::string>> to = mailboxes(dest_);
  const std::vector<std::vector<std::string>> cc = mailboxes(cc_);
  // A To: field holds at least one address (RFC 5322 section 3.6.3): a
  // message only for Cc or Bcc recipients names the empty group instead.
  if (to.empty() && !Recipients().empty()) to.push_back({"undisclosed-recipients:;"});
  h += AddressField("To:", to);
  if (!cc.empty()) h += AddressField("Cc:", cc);
  if (const auto bcc = mailboxes(bcc_); bcc_field && !bcc.empty()) h += AddressField("Bcc:", bcc);
  const std::string_view reply_to = runtime::TrimBlanks(reply_to_);
  if (!reply_to.empty()) h += AddressField("Reply-To:", {MailboxWords(std::string(reply_to), false, utf8)});
  h += UnstructuredField("Subject: ", OneLine(subject_));
  h += CargoLines(cargo_);
  h += fields_;
  h += "MIME-Version: 1.0\r\n";
  h += EntityHeader(Outer(), plan);
  h += "\r\n";
  return h;
}

CEmail::Entity CEmail::Outer() const {
  if (!attachments_.empty()) return Entity::kMixed;
  return Inner(Entity::kMixed);
}

CEmail::Entity CEmail::Inner(Entity entity) const {
  if (entity == Entity::kMixed && html_) return Entity::kAlternative;
  if (entity != Entity::kRelated && !images_.empty()) return Entity::kRelated;
  return Entity::kBody;
}

std::string CEmail::EntityHeader(Entity entity, const BodyPlan& plan) const {
  if (entity == Entity::kBody) return BodyPartHeader(plan);
  static const char* const kTypes[] = {"multipart/mixed", "multipart/alternative", "multipart/related"};
  const auto level = static_cast<std::size_t>(entity);
  std::vector<Parameter> parameters{{"boundary=\"" + boundary_[level] + "\""}};
  // RFC 2387: the type of the part that the others belong to.
  if (entity == Entity::kRelated) parameters.push_back({html_ ? "type=\"text/html\"" : "type=\"text/plain\""});
  // A multipart entity is 7bit or 8bit as its most demanding part is.
  const bool eight_bit = plan.encoding == TransferEncoding::k8Bit ||
                         (entity != Entity::kRelated && plan.text_encoding == TransferEncoding::k8Bit);
  return FieldWithParameters(std::string("Content-Type: ") + kTypes[level], parameters) +
         "Content-Transfer-Encoding: " + (eight_bit ? "8bit" : "7bit") + "\r\n";
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
  // An image's name is plain (ContentIdRefusal): its Content-ID is the
  // name as the HTML's cid: URL gives it.
  const std::string id = part.inline_image ? "Content-ID: <" + part.name + ">\r\n" : "";
  return FieldWithParameters("Content-Type: " + part.type, type) + "Content-Transfer-Encoding: base64\r\n" + id +
         FieldWithParameters(part.inline_image ? "Content-Disposition: inline" : "Content-Disposition: attachment",
                             disposition) +
         "\r\n";
}

std::string CEmail::Delimiter(Entity entity, bool last) const {
  return "--" + boundary_[static_cast<std::size_t>(entity)] + (last ? "--\r\n" : "\r\n");
}

// The pieces of the message as Layout gives them: its own text (header,
// delimiters, part headers) as it is, and each part whole, so that the
// counter can tell a part's encoded size from its first pass.
class CEmail::MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual bool Put(std::string_view text) = 0;
  /// The body in `encoding`, its last line ended.
  virtual bool Body(const Part& body, TransferEncoding encoding) = 0;
  /// An attachment as base64 of its bytes.
  virtual bool Attachment(const Part& part) = 0;
};

// The size as SIZE counts it. Only a quoted-printable body is read again:
// its soft breaks depend on every byte.
class CEmail::SizeCounter final : public CEmail::MessageSink {
 public:
  explicit SizeCounter(std::string& error) : error_(error) {}
  std::uint64_t Size() const { return size_; }

  bool Put(std::string_view text) override {
    size_ += text.size();
    return true;
  }

  bool Body(const Part& body, TransferEncoding encoding) override {
    const ContentScan& scan = body.scan;
    const std::uint64_t canonical = scan.size - scan.line_end_bytes + 2 * scan.line_ends;
    switch (encoding) {
      case TransferEncoding::kBase64:
        size_ += Base64Size(canonical);
        return true;
      case TransferEncoding::kQuotedPrintable: {
        QuotedPrintableEncoder qp;
        std::string encoded;
        const bool read = body.content.Read(
            [&](std::string_view chunk) {
              encoded.clear();
              qp.Feed(chunk, encoded);
              size_ += encoded.size();
              return true;
            },
            scan.size, error_);
        if (!read) {
          error_ = "cannot read " + body.what + " [" + error_ + "]";
          return false;
        }
        encoded.clear();
        qp.Finish(encoded);
        size_ += encoded.size();
        return true;
      }
      default:
        // Every line end becomes CR LF, and an open last line is closed.
        size_ += canonical + (scan.open_end ? 2 : 0);
        return true;
    }
  }

  bool Attachment(const Part& part) override {
    size_ += Base64Size(part.scan.size);
    return true;
  }

 private:
  std::string& error_;
  std::uint64_t size_ = 0;
};

// The DATA phase: line ends CR LF and dots doubled, handed on in chunks of
// about 64 KiB.
class CEmail::DataWriter final : public CEmail::MessageSink {
 public:
  /// `smtp`: dots doubled and the data ended by the line "."; otherwise
  /// the message as it is.
  DataWriter(const std::function<bool(std::string_view)>& sink, std::string& error, bool smtp = true)
      : sink_(sink), error_(error), data_(smtp) {
    out_.reserve(3 * kChunk);
  }

  bool Put(std::string_view text) override {
    data_.Feed(text, out_);
    return true;
  }

  bool Body(const Part& body, TransferEncoding encoding) override {
    std::string encoded;
    std::string canonical;
    DataEncoder line_ends(false);
    QuotedPrintableEncoder qp;
    Base64Encoder b64;
    const bool read = Pass(body, [&](std::string_view chunk) {
      switch (encoding) {
        case TransferEncoding::kQuotedPrintable:
          encoded.clear();
          qp.Feed(chunk, encoded);
          data_.Feed(encoded, out_);
          break;
        case TransferEncoding::kBase64:
          // Text is encoded from its canonical form, every line end CR LF
          // (RFC 2045 section 6.8). Base64 lines never start with a dot.
          canonical.clear();
          line_ends.Feed(chunk, canonical);
          b64.Feed(canonical, out_);
          break;
        default:
          data_.Feed(chunk, out_);
      }
    });
    if (!read) return false;
    encoded.clear();
    if (encoding == TransferEncoding::kQuotedPrintable) qp.Finish(encoded);
    if (encoding == TransferEncoding::kBase64) b64.Finish(out_);
    data_.Feed(encoded, out_);
    data_.EndLine(out_);
    return true;
  }

  bool Attachment(const Part& part) override {
    Base64Encoder b64;
    if (!Pass(part, [&](std::string_view chunk) { b64.Feed(chunk, out_); })) return false;
    b64.Finish(out_);
    return true;
  }

  /// The line "." that ends the data, and what is still held back.
  bool Finish() {
    data_.Finish(out_);
    return Flush(true);
  }

 private:
  bool Flush(bool force) {
    if (out_.empty() || (!force && out_.size() < kChunk)) return true;
    sink_ok_ = sink_(out_);
    out_.clear();
    return sink_ok_;
  }

  // Reads a part again and checks that it still holds the bytes the plan
  // was made for, byte for byte: a size announced to the server must not
  // turn out false, and a file rewritten while it is sent must not reach
  // the server half old, half new. The end of the message is never sent
  // when the digests of the two passes differ.
  bool Pass(const Part& part, const std::function<void(std::string_view)>& encode) {
    std::uint64_t seen = 0;
    ContentDigest again;
    const bool read = part.content.Read(
        [&](std::string_view chunk) {
          seen += chunk.size();
          if (seen > part.scan.size) return false;
          again.Feed(chunk);
          encode(chunk);
          return Flush(false);
        },
        part.scan.size, error_);
    if (!sink_ok_) return false;
    if (read && seen == part.scan.size && again.Value() == part.digest) return true;
    error_ = error_.empty() ? part.what + " changed while it was sent"
                            : "cannot read " + part.what + " [" + error_ + "]";
    return false;
  }

  const std::function<bool(std::string_view)>& sink_;
  std::string& error_;
  DataEncoder data_;
  std::string out_;
  bool sink_ok_ = true;
};

bool CEmail::Layout(const BodyPlan& plan, const std::string& header, MessageSink& sink) const {
  const runtime::Activation activation("CEMAIL:LAYOUT", __LINE__);
  if (!sink.Put(header)) return false;
  if (Multipart() && !sink.Put(kPreamble)) return false;
  return LayoutEntity(Outer(), plan, sink);
}

// mixed (alternative (text, related (html, images)), attachments): the
// first part of each level, then the parts that follow it.
bool CEmail::LayoutEntity(Entity entity, const BodyPlan& plan, MessageSink& sink) const {
  // A wide text (WideCharset) goes as its very bytes, as an attachment does.
  auto text = [&sink](const Part& part, TransferEncoding encoding) {
    return part.charset.empty() ? sink.Body(part, encoding) : sink.Attachment(part);
  };
  if (entity == Entity::kBody) return text(body_, plan.encoding);
  const std::string delimiter = Delimiter(entity, false);
  const Entity inner = Inner(entity);
  static const std::vector<Part> kNone;
  const std::vector<Part>& following =
      entity == Entity::kAlternative ? kNone : entity == Entity::kRelated ? images_ : attachments_;
  if (entity == Entity::kAlternative) {
    const std::string text_header = std::string("Content-Type: text/plain; charset=") + plan.text_charset +
                                    "\r\nContent-Transfer-Encoding: " + EncodingName(plan.text_encoding) + "\r\n";
    if (!sink.Put(delimiter + text_header + "\r\n") || !text(text_, plan.text_encoding) ||
        !sink.Put("\r\n" + delimiter + EntityHeader(inner, plan) + "\r\n") || !LayoutEntity(inner, plan, sink)) {
      return false;
    }
  } else if (entity == Entity::kRelated) {
    if (!sink.Put(delimiter + BodyPartHeader(plan) + "\r\n") || !text(body_, plan.encoding)) return false;
  } else if (!sink.Put(delimiter + EntityHeader(inner, plan) + "\r\n") || !LayoutEntity(inner, plan, sink)) {
    return false;
  }
  for (const Part& part : following) {
    if (!sink.Put("\r\n" + delimiter + AttachmentHeader(part)) || !sink.Attachment(part)) return false;
  }
  return sink.Put("\r\n" + Delimiter(entity, true));
}

std::uint64_t CEmail::DataSize(const BodyPlan& plan, const std::string& header) const {
  const runtime::Activation activation("CEMAIL:DATASIZE", __LINE__);
  read_error_.clear();
  SizeCounter counter(read_error_);
  return Layout(plan, header, counter) ? counter.Size() : 0;
}

bool CEmail::WriteData(const BodyPlan& plan, const std::string& header,
                       const std::function<bool(std::string_view)>& sink) const {
  const runtime::Activation activation("CEMAIL:WRITEDATA", __LINE__);
  read_error_.clear();
  DataWriter writer(sink, read_error_);
  return Layout(plan, header, writer) && writer.Finish();
}

bool CEmail::WriteMessage(const BodyPlan& plan, const std::string& header,
                          const std::function<bool(std::string_view)>& sink) const {
  const runtime::Activation activation("CEMAIL:WRITEMESSAGE", __LINE__);
  read_error_.clear();
  DataWriter writer(sink, read_error_, false);
  return Layout(plan, header, writer) && writer.Finish();
}

std::vector<CEmail::AttachmentFacts> CEmail::AttachmentList() const {
  const runtime::Activation activation("CEMAIL:ATTACHMENTLIST", __LINE__);
  std::vector<AttachmentFacts> out;
  for (const Part& part : attachments_) out.push_back({part.name, part.type, part.scan.size});
  return out;
}

CEmail CEmail::Without(const std::vector<bool>& left_out) const {
  const runtime::Activation activation("CEMAIL:WITHOUT", __LINE__);
  CEmail copy = *this;
  copy.attachments_.clear();
  for (std::size_t i = 0; i < attachments_.size(); ++i) {
    if (i >= left_out.size() || !left_out[i]) copy.attachments_.push_back(attachments_[i]);
  }
  return copy;
}

bool CEmail::ReadAttachment(std::size_t index, const std::function<bool(std::string_view)>& sink) const {
  const runtime::Activation activation("CEMAIL:READATTACHMENT", __LINE__);
  read_error_.clear();
  const Part& part = attachments_.at(index);
  // As in the DATA phase: the bytes must be those the size was announced
  // for, or the upload stops before its last piece.
  std::uint64_t seen = 0;
  ContentDigest again;
  bool refused = false;
  const bool read = part.content.Read(
      [&](std::string_view chunk) {
        seen += chunk.size();
        if (seen > part.scan.size) return false;
        again.Feed(chunk);
        refused = !sink(chunk);
        return !refused;
      },
      part.scan.size, read_error_);
  if (refused) return false;
  if (read && seen == part.scan.size && again.Value() == part.digest) return true;
  read_error_ = read_error_.empty() ? part.what + " changed while it was sent"
                                    : "cannot read " + part.what + " [" + read_error_ + "]";
  return false;
}

}  // namespace mailclient
