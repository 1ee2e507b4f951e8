#include "mailclient/mime/encoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kQuotedLine = 76;
constexpr std::size_t kBase64Line = 76;
// RFC 2047's limits: an encoded word, and a header line that holds one.
constexpr std::size_t kMaxWord = 75;
constexpr std::size_t kWordLine = 76;
}  // namespace

std::size_t LineEnds::Find(char c, std::size_t from) const {
  if (from >= text_.size()) return std::string_view::npos;
  const void* at = std::memchr(text_.data() + from, c, text_.size() - from);
  return at == nullptr ? std::string_view::npos : static_cast<const char*>(at) - text_.data();
}

std::size_t LineEnds::Next(std::size_t from) {
  // A position found earlier stays good while it lies at or after `from`;
  // npos means none in the rest of the text, for good.
  if (!started_ || cr_ < from) cr_ = Find('\r', from);
  if (!started_ || lf_ < from) lf_ = Find('\n', from);
  started_ = true;
  return cr_ < lf_ ? cr_ : lf_;
}

void DataEncoder::Feed(std::string_view chunk, std::string& out) {
  const runtime::Activation activation("DATAENCODER:FEED", __LINE__);
  LineEnds ends(chunk);
  std::size_t i = 0;
  const std::size_t n = chunk.size();
  while (i < n) {
    if (after_cr_) {
      after_cr_ = false;
      if (chunk[i] == '\n') {
        ++i;
        continue;
      }
    }
    if (line_start_ && stuff_dots_ && chunk[i] == '.') out += '.';
    line_start_ = false;
    const std::size_t end = ends.Next(i);
    if (end == std::string_view::npos) {
      out.append(chunk.substr(i));
      break;
    }
    out.append(chunk.substr(i, end - i));
    out += "\r\n";
    line_start_ = true;
    after_cr_ = chunk[end] == '\r';
    i = end + 1;
  }
}

void DataEncoder::EndLine(std::string& out) {
  const runtime::Activation activation("DATAENCODER:ENDLINE", __LINE__);
  if (!line_start_) out += "\r\n";
  line_start_ = true;
  after_cr_ = false;
}

void DataEncoder::Finish(std::string& out) {
  const runtime::Activation activation("DATAENCODER:FINISH", __LINE__);
  EndLine(out);
  if (stuff_dots_) out += ".\r\n";
}

void QuotedPrintableEncoder::Put(std::string_view token, std::string& out) {
  // A soft break leaves room for its own "=" within the 76 characters.
  if (line_length_ + token.size() > kQuotedLine - 1) {
    out += "=\r\n";
    line_length_ = 0;
  }
  out.append(token);
  line_length_ += token.size();
}

void QuotedPrintableEncoder::PutEncoded(unsigned char c, std::string& out) {
  const char token[3] = {'=', runtime::HexDigit(c >> 4), runtime::HexDigit(c)};
  Put(std::string_view(token, 3), out);
}

void QuotedPrintableEncoder::HardBreak(std::string& out) {
  if (pending_blank_ != 0) {
    // A blank at the end of a line would be lost in transport.
    PutEncoded(static_cast<unsigned char>(pending_blank_), out);
    pending_blank_ = 0;
  }
  out += "\r\n";
  line_length_ = 0;
}

void QuotedPrintableEncoder::Feed(std::string_view chunk, std::string& out) {
  const runtime::Activation activation("QUOTEDPRINTABLEENCODER:FEED", __LINE__);
  for (char ch : chunk) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (after_cr_) {
      after_cr_ = false;
      if (c == '\n') continue;
    }
    if (c == '\r' || c == '\n') {
      HardBreak(out);
      after_cr_ = c == '\r';
      continue;
    }
    if (pending_blank_ != 0) {
      Put(std::string_view(&pending_blank_, 1), out);
      pending_blank_ = 0;
    }
    if (c == ' ' || c == '\t') {
      pending_blank_ = static_cast<char>(c);
    } else if (c >= 33 && c <= 126 && c != '=') {
      Put(std::string_view(&ch, 1), out);
    } else {
      PutEncoded(c, out);
    }
  }
}

void QuotedPrintableEncoder::Finish(std::string& out) {
  const runtime::Activation activation("QUOTEDPRINTABLEENCODER:FINISH", __LINE__);
  if (pending_blank_ != 0) {
    PutEncoded(static_cast<unsigned char>(pending_blank_), out);
    pending_blank_ = 0;
  }
  after_cr_ = false;
  if (line_length_ > 0) {
    out += "\r\n";
    line_length_ = 0;
  }
}

void Base64Encoder::Emit(const unsigned char* triple, std::size_t count, std::string& out) {
  unsigned bits = (static_cast<unsigned>(triple[0]) << 16) |
                  (count > 1 ? static_cast<unsigned>(triple[1]) << 8 : 0u) | (count > 2 ? triple[2] : 0u);
  out += kBase64[(bits >> 18) & 63];
  out += kBase64[(bits >> 12) & 63];
  out += count > 1 ? kBase64[(bits >> 6) & 63] : '=';
  out += count > 2 ? kBase64[bits & 63] : '=';
  line_length_ += 4;
  if (line_length_ >= kBase64Line) {
    out += "\r\n";
    line_length_ = 0;
  }
}

void Base64Encoder::Feed(std::string_view chunk, std::string& out) {
  const runtime::Activation activation("BASE64ENCODER:FEED", __LINE__);
  std::size_t i = 0;
  const std::size_t n = chunk.size();
  while (held_count_ > 0 && held_count_ < 3 && i < n) held_[held_count_++] = static_cast<unsigned char>(chunk[i++]);
  if (held_count_ == 3) {
    Emit(held_, 3, out);
    held_count_ = 0;
  }
  // Whole groups are written straight into the output, a line at a time:
  // an attachment may be hundreds of megabytes.
  const std::size_t groups = (n - i) / 3;
  if (groups > 0) {
    const std::size_t chars = groups * 4;
    const std::size_t breaks = (line_length_ + chars) / kBase64Line;
    const std::size_t old_size = out.size();
    out.resize(old_size + chars + 2 * breaks);
    char* to = out.data() + old_size;
    const auto* from = reinterpret_cast<const unsigned char*>(chunk.data() + i);
    for (std::size_t g = 0; g < groups; ++g, from += 3) {
      const unsigned bits = (static_cast<unsigned>(from[0]) << 16) | (static_cast<unsigned>(from[1]) << 8) | from[2];
      to[0] = kBase64[(bits >> 18) & 63];
      to[1] = kBase64[(bits >> 12) & 63];
      to[2] = kBase64[(bits >> 6) & 63];
      to[3] = kBase64[bits & 63];
      to += 4;
      line_length_ += 4;
      if (line_length_ >= kBase64Line) {
        to[0] = '\r';
        to[1] = '\n';
        to += 2;
        line_length_ = 0;
      }
    }
    i += groups * 3;
  }
  while (i < n) held_[held_count_++] = static_cast<unsigned char>(chunk[i++]);
}

void Base64Encoder::Finish(std::string& out) {
  const runtime::Activation activation("BASE64ENCODER:FINISH", __LINE__);
  if (held_count_ > 0) Emit(held_, held_count_, out);
  held_count_ = 0;
  if (line_length_ > 0) out += "\r\n";
  line_length_ = 0;
}

std::string Base64(std::string_view bytes) {
  const runtime::Activation activation("BASE64", __LINE__);
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::size_t count = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned bits = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16;
    if (count > 1) bits |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (count > 2) bits |= static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64[(bits >> 18) & 63];
    out += kBase64[(bits >> 12) & 63];
    out += count > 1 ? kBase64[(bits >> 6) & 63] : '=';
    out += count > 2 ? kBase64[bits & 63] : '=';
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
  const runtime::Activation activation("BASE64DECODE", __LINE__);
  out.clear();
  unsigned bits = 0;
  int count = 0;
  std::size_t pad = 0;
  for (char c : text) {
    if (c == '=') {
      ++pad;
      continue;
    }
    const char* at = std::strchr(kBase64, c);
    if (c == '\0' || at == nullptr || pad > 0) return false;
    bits = (bits << 6) | static_cast<unsigned>(at - kBase64);
    if (++count == 4) {
      out += static_cast<char>((bits >> 16) & 0xff);
      out += static_cast<char>((bits >> 8) & 0xff);
      out += static_cast<char>(bits & 0xff);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || pad > 2) return false;
  if (count == 2) out += static_cast<char>((bits >> 4) & 0xff);
  if (count == 3) {
    out += static_cast<char>((bits >> 10) & 0xff);
    out += static_cast<char>((bits >> 2) & 0xff);
  }
  return true;
}

bool IsAscii(std::string_view text) {
  const runtime::Activation activation("ISASCII", __LINE__);
  // Eight bytes at a time: a body may be many megabytes.
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if ((word & kHighBits) != 0) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

bool IsUtf8(std::string_view text) {
  const runtime::Activation activation("ISUTF8", __LINE__);
  Utf8Check check;
  check.Feed(text);
  return check.Valid();
}

void Utf8Check::Feed(std::string_view chunk) {
  const runtime::Activation activation("UTF8CHECK:FEED", __LINE__);
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  const std::size_t n = chunk.size();
  std::size_t i = 0;
  while (valid_ && i < n) {
    const auto c = static_cast<unsigned char>(chunk[i]);
    if (pending_ > 0) {
      if (c < low_ || c > high_) valid_ = false;
      low_ = 0x80;
      high_ = 0xbf;
      --pending_;
      ++i;
      continue;
    }
    if (c < 0x80) {
      // Runs of ASCII go eight bytes at a time: a body may be large.
      ++i;
      std::uint64_t word;
      while (i + 8 <= n && (std::memcpy(&word, chunk.data() + i, sizeof word), (word & kHighBits) == 0)) i += 8;
      continue;
    }
    if (c >= 0xc2 && c <= 0xdf) {
      pending_ = 1;
    } else if (c >= 0xe0 && c <= 0xef) {
      pending_ = 2;
      if (c == 0xe0) low_ = 0xa0;   // overlong
      if (c == 0xed) high_ = 0x9f;  // surrogates
    } else if (c >= 0xf0 && c <= 0xf4) {
      pending_ = 3;
      if (c == 0xf0) low_ = 0x90;   // overlong
      if (c == 0xf4) high_ = 0x8f;  // above U+10FFFF
    } else {
      valid_ = false;
    }
    ++i;
  }
}

std::string EncodedWords(std::string_view text, const std::string& charset, std::size_t first_line_used) {
  const runtime::Activation activation("ENCODEDWORDS", __LINE__);
  const std::string open = "=?" + charset + "?B?";
  const std::size_t overhead = open.size() + 2;
  // Bytes a word holds: as many whole groups of three as fit in `room`
  // characters; at least one group, whatever the charset's name.
  auto per_word = [&](std::size_t room) -> std::size_t {
    const std::size_t groups = room > overhead ? (room - overhead) / 4 : 0;
    return groups == 0 ? 3 : groups * 3;
  };
  const std::size_t first_room = first_line_used < kWordLine ? kWordLine - first_line_used : 0;
  const bool utf8 = charset == "utf-8";
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    // A word stays within 75 characters and its line within 76, the fold's
    // blank included (RFC 2047 section 2).
    const std::size_t most = per_word(out.empty() ? std::min(first_room, kMaxWord) : kMaxWord);
    std::size_t take = std::min(text.size() - i, most);
    if (utf8 && i + take < text.size()) {
      std::size_t cut = i + take;
      while (cut > i && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) --cut;
      if (cut > i) take = cut - i;
    }
    if (!out.empty()) out += "\r\n ";
    out += open + Base64(text.substr(i, take)) + "?=";
    i += take;
  }
  return out;
}

std::string FoldAtBlanks(std::string_view line, std::size_t limit) {
  const runtime::Activation activation("FOLDATBLANKS", __LINE__);
  if (line.size() <= limit) return std::string(line);
  auto blank = [&](std::size_t i) { return line[i] == ' ' || line[i] == '\t'; };
  // Folds go at the first blank of a run that follows a word of the value
  // and comes before another one.
  const std::size_t colon = line.find(':');
  std::size_t i = colon == std::string_view::npos ? 0 : colon + 1;
  while (i < line.size() && blank(i)) ++i;
  std::string out;
  std::size_t begin = 0;                          // where the line being made starts
  std::size_t candidate = std::string_view::npos;  // its last fold that fits
  auto fold = [&](std::size_t at) {
    out.append(line.substr(begin, at - begin));
    out += "\r\n";
    begin = at;
    candidate = std::string_view::npos;
  };
  while (i < line.size()) {
    while (i < line.size() && !blank(i)) ++i;
    const std::size_t at = i;
    while (i < line.size() && blank(i)) ++i;
    if (i == line.size()) break;  // only blanks after it
    if (at - begin > limit && candidate != std::string_view::npos) fold(candidate);
    if (at - begin > limit) {
      fold(at);  // a word longer than a line: it stands alone
    } else {
      candidate = at;
    }
  }
  if (line.size() - begin > limit && candidate != std::string_view::npos) fold(candidate);
  out.append(line.substr(begin));
  return out;
}

}  // namespace mailclient
