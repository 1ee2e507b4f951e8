// Mail addresses as SMTP and the message header want them (RFC 5321
// section 4.1.2, RFC 5322 section 3.4.1, RFC 6531): an address as it was
// typed is checked, its local part quoted where it is no dot-atom, and its
// domain made ready both as UTF-8 and as IDNA A-labels, so that the client
// can send whichever form the server takes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mailclient {

/// One usable address in the forms it travels in.
struct Address {
  /// As typed, for messages.
  std::string typed;
  /// The display name of "Name <addr>" in UTF-8, without its quotes or
  /// escapes; empty when none was given.
  std::string name;
  /// The local part as it travels: a dot-atom or a quoted string, UTF-8.
  std::string local;
  /// The domain in UTF-8 and as A-labels; both empty for a bare
  /// "postmaster".
  std::string domain;
  std::string ascii_domain;

  bool AsciiLocal() const;
  /// Needs nothing of SMTPUTF8 or IDNA.
  bool Ascii() const;
  /// "local@domain", the domain in UTF-8 (`utf8`) or as A-labels.
  std::string Mailbox(bool utf8) const;
};

/// RFC 5321's limits in octets: a local part, a domain, and the path with
/// its angle brackets.
inline constexpr std::size_t kMaxLocalPart = 64;
inline constexpr std::size_t kMaxDomain = 255;
inline constexpr std::size_t kMaxPath = 256;

/// Checks `typed` and fills `out`. Returns why the address cannot be used,
/// or an empty text when it can. Only a recipient may be the bare
/// "postmaster" (RFC 5321 section 4.1.1.3). Besides a bare address it takes
/// "<addr>", "Name <addr>" and "\"Quoted, Name\" <addr>", blanks around the
/// whole and before the "<" passed over.
std::string ParseAddress(std::string_view typed, bool recipient, Address& out);

/// An address that cannot be used, with the reason.
struct Refusal {
  std::string typed;
  std::string reason;
};

/// The sentence for refused recipients: `recipient address cannot be used:
/// "a" (no "@"), "b" (...)`.
std::string RecipientRefusal(const std::vector<Refusal>& refused);
/// The sentence for a refused sender.
std::string SenderRefusal(const Refusal& refused);

/// RFC 5322 atext; with `utf8` also every byte of a UTF-8 character (RFC
/// 6532).
bool IsAtext(char c, bool utf8);
/// A dot-atom: atext runs joined by single dots.
bool IsDotAtom(std::string_view s, bool utf8);

/// A quoted string holding `content`, only the quote and the backslash
/// escaped (RFC 5321 qtextSMTP and quoted-pairSMTP, RFC 5322 qcontent).
std::string QuotedString(std::string_view content);

}  // namespace mailclient
