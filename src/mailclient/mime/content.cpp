#include "mailclient/mime/content.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "mailclient/mime/html_text.h"
#include "mailclient/mime/system.h"
#include "runtime/activation.h"
#include "runtime/ansi_text.h"
#include "runtime/unicode.h"
#include "runtime/whole_file.h"

namespace mailclient {

namespace {
constexpr std::size_t kChunk = 64 * 1024;

// The characters of an HTML document for HtmlText, from chunks of any
// size: a byte-order mark is left out, and UTF-16 (as PowerShell 5.1
// writes files) is decoded to UTF-8. Until its first three bytes are seen
// it hands on nothing; a byte or a high surrogate at the end of a chunk
// waits for the next.
class HtmlCharacters {
 public:
  /// Appends what of `chunk` can go on to `out`.
  void Feed(std::string_view chunk, std::string& out) {
    if (!decided_) {
      lead_.append(chunk);
      if (lead_.size() < 3) return;
      Decide(out);
      return;
    }
    Pass(chunk, out);
  }
  /// The rest, after the last chunk.
  void Finish(std::string& out) {
    if (!decided_) Decide(out);
    if (odd_ || high_ != 0) out += "\xEF\xBF\xBD";
  }
  bool Decided() const { return decided_; }
  /// The text was UTF-16: what goes on is UTF-8 whatever the scan said.
  bool Wide() const { return wide_; }

 private:
  void Decide(std::string& out) {
    decided_ = true;
    std::string_view lead(lead_);
    if (lead.starts_with("\xFF\xFE") || lead.starts_with("\xFE\xFF")) {
      wide_ = true;
      big_endian_ = lead[0] == '\xFE';
      lead.remove_prefix(2);
    } else if (lead.starts_with("\xEF\xBB\xBF")) {
      lead.remove_prefix(3);
    }
    Pass(lead, out);
    lead_.clear();
  }

  void Pass(std::string_view bytes, std::string& out) {
    if (!wide_) {
      out.append(bytes);
      return;
    }
    units_.clear();
    if (high_ != 0) units_ += high_;
    high_ = 0;
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (!odd_) {
        first_ = byte;
        odd_ = true;
        continue;
      }
      odd_ = false;
      units_ += static_cast<char16_t>(big_endian_ ? first_ << 8 | byte : byte << 8 | first_);
    }
    if (!units_.empty() && units_.back() >= 0xD800 && units_.back() <= 0xDBFF) {
      high_ = units_.back();
      units_.pop_back();
    }
    runtime::Utf16ToUtf8(units_, decoded_);
    out += decoded_;
  }

  std::string lead_;  // the first bytes, until the mark is known
  bool decided_ = false;
  bool wide_ = false;
  bool big_endian_ = false;
  bool odd_ = false;  // a byte waits for the other of its unit
  unsigned char first_ = 0;
  char16_t high_ = 0;
  std::u16string units_;
  std::string decoded_;
};
}  // namespace

namespace {
constexpr std::uint64_t kMultiplier1 = 0x9e3779b97f4a7c15;
constexpr std::uint64_t kMultiplier2 = 0xbf58476d1ce4e5b9;

std::uint64_t Word(const void* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}
}  // namespace

// Four lanes of eight bytes each, so that the processor works on them
// side by side; the multiplication of a word is off the chain that
// carries a lane's state.
void ContentDigest::Mix(const unsigned char* block) {
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    const std::uint64_t mixed = state_[lane] ^ Word(block + 8 * lane) * kMultiplier1;
    state_[lane] = ((mixed << 29) | (mixed >> 35)) * kMultiplier2;
  }
}

void ContentDigest::Feed(std::string_view chunk) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(chunk.data());
  const std::size_t n = chunk.size();
  size_ += n;
  std::size_t i = 0;
  if (tail_size_ > 0) {
    i = std::min(n, sizeof tail_ - tail_size_);
    std::memcpy(tail_ + tail_size_, bytes, i);
    tail_size_ += i;
    if (tail_size_ < sizeof tail_) return;
    Mix(tail_);
    tail_size_ = 0;
  }
  for (; i + sizeof tail_ <= n; i += sizeof tail_) Mix(bytes + i);
  std::memcpy(tail_, bytes + i, n - i);
  tail_size_ = n - i;
}

std::uint64_t ContentDigest::Value() const {
  ContentDigest last = *this;
  unsigned char block[sizeof tail_] = {};
  std::memcpy(block, tail_, tail_size_);
  last.Mix(block);
  // The lanes and the size folded into one, then the final mix of
  // splitmix64, so that every bit counts.
  std::uint64_t z = size_;
  for (const std::uint64_t lane : last.state_) z = ((z << 23) | (z >> 41)) ^ lane * kMultiplier1;
  z = (z ^ (z >> 30)) * kMultiplier2;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

void ContentScan::Feed(std::string_view chunk) {
  const runtime::Activation activation("CONTENTSCAN:FEED", __LINE__);
  if (chunk.empty()) return;
  for (std::size_t i = 0; lead_size_ < sizeof lead_ && i < chunk.size(); ++i) lead_[lead_size_++] = chunk[i];
  size += chunk.size();
  has_nul = has_nul || std::memchr(chunk.data(), 0, chunk.size()) != nullptr;
  ascii = ascii && IsAscii(chunk);
  // Before the first byte beyond ASCII the check has nothing to learn.
  if (!ascii) utf8_check_.Feed(chunk);
  has_boundary_mark = has_boundary_mark || (last_ == '=' && chunk.front() == '_') ||
                      chunk.find("=_") != std::string_view::npos;

  std::size_t i = 0;
  const std::size_t n = chunk.size();
  if (after_cr_ && chunk[0] == '\n') {
    ++line_end_bytes;
    i = 1;
  }
  after_cr_ = false;
  LineEnds ends(chunk);
  while (i < n) {
    std::size_t end = ends.Next(i);
    if (end == std::string_view::npos) {
      line_ += n - i;
      break;
    }
    line_ += end - i;
    longest_line = std::max(longest_line, line_);
    line_ = 0;
    ++line_ends;
    ++line_end_bytes;
    if (chunk[end] == '\r') {
      if (end + 1 == n) {
        after_cr_ = true;  // its LF may open the next chunk
      } else if (chunk[end + 1] == '\n') {
        ++line_end_bytes;
        ++end;
      }
    }
    i = end + 1;
  }
  last_ = chunk.back();
}

void ContentScan::Finish() {
  const runtime::Activation activation("CONTENTSCAN:FINISH", __LINE__);
  longest_line = std::max(longest_line, line_);
  open_end = size > 0 && last_ != '\r' && last_ != '\n';
  utf8 = ascii || utf8_check_.Valid();
}

std::string ContentScan::Charset() const {
  if (ascii) return "us-ascii";
  return utf8 ? "utf-8" : runtime::AnsiCharset();
}

std::string ContentScan::CharsetByByteOrderMark() const {
  using namespace std::string_view_literals;
  const std::string_view lead(lead_, lead_size_);
  // UTF-32's little-endian mark starts with UTF-16's.
  if (lead == "\xff\xfe\0\0"sv || lead == "\0\0\xfe\xff"sv) return "utf-32";
  if (lead.starts_with("\xff\xfe"sv) || lead.starts_with("\xfe\xff"sv)) return "utf-16";
  return Charset();
}

Content Content::TextOfHtml(const Content& html, bool utf8) {
  Content text;
  text.html_ = std::make_shared<const Content>(html);
  text.html_utf8_ = utf8;
  return text;
}

bool Content::Read(const std::function<bool(std::string_view)>& sink, std::uint64_t limit,
                   std::string& error) const {
  const runtime::Activation activation("CONTENT:READ", __LINE__);
  if (html_) {
    HtmlCharacters characters;
    std::optional<HtmlText> converter;
    std::string html;
    std::string text;
    // The text of a chunk may be somewhat longer than the chunk: it goes
    // on in pieces of at most a chunk.
    auto convert = [&](bool last) {
      if (!converter && !characters.Decided()) return true;
      if (!converter) converter.emplace(characters.Wide() || html_utf8_);
      converter->Feed(html, text);
      html.clear();
      if (last) converter->Finish(text);
      for (std::size_t at = 0; at < text.size(); at += kChunk) {
        if (!sink(std::string_view(text).substr(at, kChunk))) return false;
      }
      text.clear();
      return true;
    };
    const bool read = html_->Read(
        [&](std::string_view chunk) {
          characters.Feed(chunk, html);
          return convert(false);
        },
        runtime::kMaxWholeFile, error);
    if (!read) return false;
    characters.Finish(html);
    return convert(true);
  }
  if (!file_) {
    for (std::size_t at = 0; at < text_.size(); at += kChunk) {
      if (!sink(std::string_view(text_).substr(at, kChunk))) return false;
    }
    return true;
  }
  if (!file_->Rewind(error)) return false;
  std::vector<char> buffer(kChunk);
  for (std::uint64_t skipped = 0; skipped < offset_;) {
    const long long n =
        file_->Read(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, offset_ - skipped)), error);
    if (n <= 0) {
      if (n == 0) error = "the file ended early";
      return false;
    }
    skipped += static_cast<std::uint64_t>(n);
  }
  std::uint64_t total = 0;
  for (;;) {
    const std::uint64_t allowed = limit + 1 - total;
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), allowed));
    if (room == 0) return true;
    const long long n = file_->Read(buffer.data(), room, error);
    if (n < 0) return false;
    if (n == 0) return true;
    total += static_cast<std::uint64_t>(n);
    if (!sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return false;
  }
}

}  // namespace mailclient
