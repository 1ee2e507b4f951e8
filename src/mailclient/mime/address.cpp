#include "mailclient/mime/address.h"

#include "mailclient/mime/encoding.h"
#include "mailclient/mime/system.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/ansi_text.h"

namespace mailclient {

bool IsAtext(char c, bool utf8) {
  return runtime::IsAsciiAlnum(c) || (utf8 && static_cast<unsigned char>(c) >= 0x80) ||
         std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool IsDotAtom(std::string_view s, bool utf8) {
  if (s.empty() || s.front() == '.' || s.back() == '.') return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '.' ? s[i - 1] == '.' : !IsAtext(s[i], utf8)) return false;
  }
  return true;
}

namespace {

// The content of a local part typed as an RFC 5321 quoted string; false
// when it is not one.
bool Unquote(std::string_view s, std::string& content) {
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
  content.clear();
  for (std::size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == '"') return false;
    if (s[i] == '\\') {
      if (i + 2 == s.size()) return false;  // it would escape the closing quote
      ++i;
    }
    content += s[i];
  }
  return true;
}

// An RFC 5321 domain of ASCII labels: letters, digits and inner hyphens,
// each label 1 to 63 octets.
bool IsHostName(std::string_view s) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = std::min(s.find('.', start), s.size());
    const std::string_view label = s.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      if (!runtime::IsAsciiAlnum(c) && c != '-') return false;
    }
    if (dot == s.size()) return true;
    start = dot + 1;
  }
}

// "[192.0.2.1]" or "[IPv6:...]": dtext between brackets.
bool IsAddressLiteral(std::string_view s) {
  if (s.size() < 3 || s.front() != '[' || s.back() != ']') return false;
  for (char c : s.substr(1, s.size() - 2)) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 33 || u > 126 || c == '[' || c == ']' || c == '\\') return false;
  }
  return true;
}

// A long address is named by its start.
std::string Quoted(std::string_view text) { return "\"" + runtime::Printable(text, runtime::kMostQuoted) + "\""; }

}  // namespace

bool Address::AsciiLocal() const { return IsAscii(local); }

bool Address::Ascii() const { return IsAscii(local) && IsAscii(domain); }

std::string Address::Mailbox(bool utf8) const {
  if (domain.empty()) return local;
  return local + "@" + (utf8 ? domain : ascii_domain);
}

namespace {

// The bare address "local@domain" (or "postmaster") into `out`.
std::string ParseBare(std::string_view typed, bool recipient, Address& out) {
  if (typed.empty()) return "empty";
  for (char ch : typed) {
    const auto c = static_cast<unsigned char>(ch);
    // Nothing that could end a command or a header line, or stand for one.
    if (c < 0x20 || c == 0x7f) return "a control character";
    if (c == ' ') return "a blank";
    if (c == '<' || c == '>') return "\"<\" or \">\"";
  }
  std::string text;
  if (IsUtf8(typed)) {
    text = typed;
  } else if (!runtime::AnsiToUtf8(typed, text)) {
    return "a character that the code page does not define";
  }

  const std::size_t at = text.rfind('@');
  if (at == std::string::npos) {
    // The one address without a domain (RFC 5321 section 4.1.1.3).
    if (recipient && runtime::AsciiLower(text) == "postmaster") {
      out.local = text;
      return {};
    }
    return "no \"@\"";
  }
  const std::string_view local = std::string_view(text).substr(0, at);
  const std::string_view domain = std::string_view(text).substr(at + 1);
  if (local.empty()) return "nothing before the \"@\"";
  if (domain.empty()) return "no domain after the \"@\"";

  // A local part typed as a quoted string counts by its content; either
  // way it travels as a dot-atom where it can.
  std::string content;
  if (!Unquote(local, content)) content = local;
  out.local = IsDotAtom(content, true) ? content : QuotedString(content);

  out.domain = domain;
  if (IsAddressLiteral(domain)) {
    out.ascii_domain = domain;
  } else {
    if (IsAscii(domain)) {
      out.ascii_domain = domain;
    } else if (!DomainToAscii(out.domain, out.ascii_domain)) {
      return "the domain is no valid international domain name";
    }
    if (!IsHostName(out.ascii_domain)) return "the domain is no valid domain name";
  }

  const std::size_t longest_domain = std::max(out.domain.size(), out.ascii_domain.size());
  if (out.local.size() > kMaxLocalPart || longest_domain > kMaxDomain ||
      out.local.size() + longest_domain + 3 > kMaxPath) {
    return "longer than SMTP allows: " + std::to_string(kMaxLocalPart) + " octets before the \"@\", " +
           std::to_string(kMaxDomain) + " after it, " + std::to_string(kMaxPath - 2) + " in all";
  }
  return {};
}

// Where the quoted string that starts `text` ends, after its closing
// quote; npos when it is not closed.
std::size_t QuoteEnd(std::string_view text) {
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// The display name before the "<": a quoted string by its content, other
// text as typed without the blanks around it. Nothing in it may break a
// header line or stand for a line end.
std::string ParseName(std::string_view typed, std::string& name) {
  const std::string_view text = runtime::TrimBlanks(typed);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) return "a control character in the name";
  }
  if (text.starts_with('"')) {
    const std::size_t end = QuoteEnd(text);
    if (end == std::string_view::npos) return "no closing quote after the name";
    if (end != text.size()) return "text between the quoted name and \"<\"";
    Unquote(text, name);
  } else {
    name = text;
  }
  if (!IsUtf8(name)) {
    std::string utf8;
    if (!runtime::AnsiToUtf8(name, utf8)) return "a character in the name that the code page does not define";
    name = utf8;
  }
  return {};
}

}  // namespace

std::string ParseAddress(std::string_view typed, bool recipient, Address& out) {
  const runtime::Activation activation("PARSEADDRESS", __LINE__);
  out = Address{};
  const std::string_view text = runtime::TrimBlanks(typed);
  // A "<" inside a quoted name is part of the name.
  std::size_t name_end = 0;
  if (text.starts_with('"')) {
    name_end = QuoteEnd(text);
    if (name_end == std::string_view::npos) name_end = 0;
  }
  const std::size_t open = text.find('<', name_end);
  if (open == std::string_view::npos) {
    out.typed = typed;
    return ParseBare(typed, recipient, out);
  }
  std::string name;
  if (std::string reason = ParseName(text.substr(0, open), name); !reason.empty()) {
    out.typed = typed;
    return reason;
  }
  const std::size_t close = text.find('>', open);
  std::string reason;
  if (close == std::string_view::npos) {
    reason = "no closing \">\"";
  } else if (close + 1 != text.size()) {
    reason = "text after \">\"";
  } else {
    reason = ParseBare(text.substr(open + 1, close - open - 1), recipient, out);
  }
  out.typed = typed;
  out.name = std::move(name);
  return reason;
}

std::string RecipientRefusal(const std::vector<Refusal>& refused) {
  const runtime::Activation activation("RECIPIENTREFUSAL", __LINE__);
  std::string text = "recipient address cannot be used: ";
  for (std::size_t i = 0; i < refused.size(); ++i) {
    if (i > 0) text += ", ";
    text += Quoted(refused[i].typed) + " (" + refused[i].reason + ")";
  }
  return text;
}

std::string SenderRefusal(const Refusal& refused) {
  const runtime::Activation activation("SENDERREFUSAL", __LINE__);
  return "the sender address " + Quoted(refused.typed) + " cannot be used (" + refused.reason + ")";
}

std::string QuotedString(std::string_view content) {
  std::string out = "\"";
  for (char c : content) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

}  // namespace mailclient
