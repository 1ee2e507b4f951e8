// The encoders of a message on its way to the server. Each takes its input
// in chunks of any size and appends its output, in time linear in the
// input, so that a body is never copied whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mailclient {

/// Finds the line ends (CR or LF) of one text from front to back in time
/// linear in its length: each of the two bytes is searched for once.
class LineEnds {
 public:
  explicit LineEnds(std::string_view text) : text_(text) {}
  /// The first CR or LF at or after `from`; npos when there is none.
  std::size_t Next(std::size_t from);

 private:
  std::size_t Find(char c, std::size_t from) const;

  std::string_view text_;
  std::size_t cr_ = 0;
  std::size_t lf_ = 0;
  bool started_ = false;
};

/// Line ends made CR LF (a bare LF, a bare CR and CR LF each count as one
/// line end) and, for the DATA phase, a dot at the start of a line doubled
/// (RFC 5321 section 4.5.2), so that no text can end the data early.
class DataEncoder {
 public:
  explicit DataEncoder(bool stuff_dots = true) : stuff_dots_(stuff_dots) {}
  void Feed(std::string_view chunk, std::string& out);
  /// Ends an unterminated last line, so that what follows starts a line.
  void EndLine(std::string& out);
  /// Ends an unterminated last line; with dot-stuffing, also appends the
  /// line "." that ends the data.
  void Finish(std::string& out);

 private:
  bool stuff_dots_;
  bool line_start_ = true;
  bool after_cr_ = false;
};

/// Quoted-printable (RFC 2045 section 6.7) of a text: line ends become
/// CR LF hard breaks, lines are kept to 76 characters by soft breaks,
/// blanks before a line end and every byte that is not printable ASCII are
/// written as =XX.
class QuotedPrintableEncoder {
 public:
  void Feed(std::string_view chunk, std::string& out);
  void Finish(std::string& out);

 private:
  void Put(std::string_view token, std::string& out);
  void PutEncoded(unsigned char c, std::string& out);
  void HardBreak(std::string& out);

  std::size_t line_length_ = 0;
  char pending_blank_ = 0;
  bool after_cr_ = false;
};

/// Base64 (RFC 2045 section 6.8) in lines of 76 characters ended by CR LF.
class Base64Encoder {
 public:
  void Feed(std::string_view chunk, std::string& out);
  void Finish(std::string& out);

 private:
  void Emit(const unsigned char* triple, std::size_t count, std::string& out);

  unsigned char held_[3] = {};
  std::size_t held_count_ = 0;
  std::size_t line_length_ = 0;
};

/// Base64 of `bytes` in one line, for SASL.
std::string Base64(std::string_view bytes);

/// Decodes base64 text (no line breaks); false when it is not base64.
bool Base64Decode(std::string_view text, std::string& out);

/// True when every byte is below 128.
bool IsAscii(std::string_view text);
/// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
/// nothing above U+10FFFF).
bool IsUtf8(std::string_view text);

/// IsUtf8 over a text given in chunks of any size: a character may be
/// split between two chunks.
class Utf8Check {
 public:
  void Feed(std::string_view chunk);
  /// Everything fed is well-formed UTF-8 and no character is left open.
  bool Valid() const { return valid_ && pending_ == 0; }

 private:
  bool valid_ = true;
  int pending_ = 0;  // continuation bytes still due
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xbf;  // bounds of the next continuation byte
};

/// `text` as RFC 2047 encoded words in `charset` ("=?utf-8?B?...?="), each
/// at most 75 characters, joined by a folding CR LF and blank, so that no
/// line is longer than 76 characters when the first one already holds
/// `first_line_used` (the field name). A UTF-8 character is never split
/// between two words.
std::string EncodedWords(std::string_view text, const std::string& charset,
                         std::size_t first_line_used = 0);

/// The header line `line` (no CR LF) folded before blanks (RFC 5322
/// section 2.1.1), so that no line is longer than `limit` characters unless
/// a single word is: unfolded, it gives `line` again. A fold never comes
/// before the field's first word, nor leaves a line of blanks only; a line
/// that fits is given back as it is.
std::string FoldAtBlanks(std::string_view line, std::size_t limit = 78);

}  // namespace mailclient
