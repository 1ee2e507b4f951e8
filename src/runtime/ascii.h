// Character classes, case, blanks and hexadecimal digits of ASCII alone.
// The <cctype> functions follow the process's locale, which the locale
// set-up changes; protocol words, host names and settings keys must not.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace runtime {

constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiAlnum(char c) { return IsAsciiDigit(c) || IsAsciiAlpha(c); }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

inline std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

/// The hexadecimal digit of `value` (0 to 15), upper case unless `lower`.
constexpr char HexDigit(unsigned value, bool lower = false) {
  return (lower ? "0123456789abcdef" : "0123456789ABCDEF")[value & 0xf];
}

/// `byte` as two hexadecimal digits after `out`.
inline void AppendHex(std::string& out, unsigned char byte, bool lower = false) {
  out += HexDigit(byte >> 4, lower);
  out += HexDigit(byte, lower);
}

/// `s` without the blanks (by default blanks and tabs) at either end.
constexpr std::string_view TrimBlanks(std::string_view s, std::string_view blanks = " \t") {
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

/// What a message or the protocol trace shows in the place of a secret.
inline constexpr char kRedacted[] = "<redacted>";

/// Most bytes of a peer's malformed text that a message quotes.
inline constexpr std::size_t kMostQuoted = 80;

/// Text from a peer or the user as a message quotes it: control bytes
/// shown as dots, so that nothing can write to the user's terminal, and cut
/// after `most` bytes ("..." then marks the cut).
inline std::string Printable(std::string_view text, std::size_t most = std::string_view::npos) {
  std::string out;
  for (char c : text.substr(0, most)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7f) ? '.' : c;
  }
  if (text.size() > most) out += "...";
  return out;
}

}  // namespace runtime
