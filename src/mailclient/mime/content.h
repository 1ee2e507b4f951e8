// The bytes of a message's body or of an attachment: text in memory, or a
// file read from disk on every pass, and what one pass over them learns
// (size, line ends, charset) so that the encoding and the exact size are
// known before the first byte is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "mailclient/mime/encoding.h"
#include "runtime/file_source.h"

namespace mailclient {

/// What a text holds, learnt from its chunks in order.
class ContentScan {
 public:
  void Feed(std::string_view chunk);
  /// Call once after the last chunk.
  void Finish();

  std::uint64_t size = 0;
  bool has_nul = false;
  bool ascii = true;
  bool utf8 = true;  // well-formed UTF-8 (set by Finish)
  std::uint64_t longest_line = 0;
  std::uint64_t line_ends = 0;       // a CR LF, a bare CR or a bare LF each count once
  std::uint64_t line_end_bytes = 0;  // the CR and LF bytes of those line ends
  bool open_end = false;             // the last line has no line end
  /// "=_" occurs: text that the boundary of a multipart message, which
  /// holds it, might meet (neither base64 nor quoted-printable can).
  bool has_boundary_mark = false;

  /// The charset that labels the text: us-ascii, utf-8 when it is
  /// well-formed UTF-8, else that of the ANSI code page. Call after Finish.
  std::string Charset() const;
  /// As Charset, but a text that starts with a UTF-16 or UTF-32 byte-order
  /// mark is labelled by it (PowerShell 5.1 writes UTF-16 files so).
  std::string CharsetByByteOrderMark() const;

 private:
  char lead_[4] = {};  // the first bytes, for the byte-order mark
  std::size_t lead_size_ = 0;
  Utf8Check utf8_check_;
  std::uint64_t line_ = 0;
  bool after_cr_ = false;
  char last_ = 0;
};

/// A digest of a text given in chunks of any size, to tell whether a file
/// read twice gave the same bytes both times. Not a cryptographic digest:
/// it finds a file that changed between two readings, at gigabytes a
/// second, not one forged to look the same.
class ContentDigest {
 public:
  void Feed(std::string_view chunk);
  std::uint64_t Value() const;

 private:
  static constexpr std::size_t kLanes = 4;  // words mixed side by side
  void Mix(const unsigned char* block);

  std::uint64_t state_[kLanes] = {0x243f6a8885a308d3, 0x13198a2e03707344, 0xa4093822299f31d0, 0x082efa98ec4e6c89};
  std::uint64_t size_ = 0;
  unsigned char tail_[kLanes * 8] = {};  // the bytes of a block not yet complete
  std::size_t tail_size_ = 0;
};

/// Where a part's bytes come from, given again on each pass.
class Content {
 public:
  Content() = default;
  explicit Content(std::string text) : text_(std::move(text)) {}
  explicit Content(std::shared_ptr<runtime::FileSource> file) : file_(std::move(file)) {}
  /// The bytes of `file` after its first `offset` bytes.
  Content(std::shared_ptr<runtime::FileSource> file, std::uint64_t offset) : file_(std::move(file)), offset_(offset) {}
  /// The text made from the HTML of `html` (HtmlText), made anew on each
  /// pass so that it is never held whole. `utf8`: the HTML's bytes beyond
  /// ASCII are UTF-8, not the ANSI code page's; a byte-order mark is left
  /// out, and one of UTF-16 says how to read the document, whatever `utf8`.
  static Content TextOfHtml(const Content& html, bool utf8);

  /// Hands every byte to `sink` in chunks of at most 64 KiB, a file from
  /// its first byte; reads no more than `limit` + 1 bytes (text made from
  /// HTML reads all of its HTML: the caller's limit is one of the text).
  /// False when the file could not be read (`error` says why) or `sink`
  /// refused a chunk.
  bool Read(const std::function<bool(std::string_view)>& sink, std::uint64_t limit, std::string& error) const;

  bool InMemory() const { return !file_ && !html_; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  std::shared_ptr<runtime::FileSource> file_;
  std::uint64_t offset_ = 0;
  std::shared_ptr<const Content> html_;  // the source of text made from HTML
  bool html_utf8_ = true;
};

}  // namespace mailclient
