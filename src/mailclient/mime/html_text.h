// The plain-text alternative of an HTML body: the text a reader that shows
// no HTML presents instead, made as the HTML streams past, in time linear
// in it and in state of a fixed bound whatever the input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mailclient {

/// Plain text for readers that show no HTML, made from an HTML document
/// given in chunks of any size; the text is the same however the document
/// is cut. The text is UTF-8 in lines of at most 76 characters (a longer
/// word, a table row and preformatted text excepted), each ended by CR LF:
/// blocks start lines, paragraphs, headings, lists, tables and quotes
/// stand between blank lines, list items get bullets or numbers, table
/// cells are joined by " | ", links keep their targets, images their alt
/// text; scripts, styles, the head and comments are dropped.
class HtmlText {
 public:
  /// `utf8`: the HTML's bytes beyond ASCII are UTF-8 (or it has none).
  /// Otherwise they are in the ANSI code page and each is converted to UTF-8
  /// (a byte the code page does not define alone becomes U+FFFD).
  explicit HtmlText(bool utf8 = true);
  /// Appends the text of `html` to `text` (never clears it).
  void Feed(std::string_view html, std::string& text);
  /// Call once after the last chunk: appends what is still held back.
  void Finish(std::string& text);
  /// The bytes held between calls; never more than kMaxHeld.
  std::size_t Held() const;
  static constexpr std::size_t kMaxHeld = 8192;

  /// The width lines are wrapped to, in code points.
  static constexpr std::size_t kWidth = 76;
  /// The longest word held whole; a longer one is written in pieces of
  /// this many bytes, each on a line of its own where lines are wrapped.
  static constexpr std::size_t kMaxWord = 998;
  /// The longest link target kept; a longer one is left out of the text.
  static constexpr std::size_t kMaxTarget = 2000;

 private:
  enum class State : std::uint8_t {
    kText, kEntity, kTagOpen, kEndTagOpen, kTagName, kBeforeAttr, kAttrName, kAfterAttrName,
    kBeforeValue, kValueQuoted, kValueUnquoted, kBang, kComment, kCdata, kBogus, kRaw,
  };
  struct Level {
    std::uint8_t kind = 0;        // the list's tag
    std::uint32_t number = 0;     // of its last item
    std::uint32_t indent = 0;     // of its item's wrapped lines
  };
  static constexpr std::size_t kMaxLevels = 16;

  std::size_t Run(std::string_view html);
  void Byte(unsigned char c);
  void Step(unsigned char c);
  void StepReplacement();
  void StartTagName(unsigned char c, bool end);
  void EndTagName();
  void StartAttr(unsigned char c);
  void StartValue();
  void ValueByte(unsigned char c);
  void EndValue();
  void EmitTag();
  void Tag(int kind, bool end);
  void ResolveEntity(bool terminated);
  void Decoded(std::uint32_t code_point);

  // What a reader sees, word by word.
  bool Dropping() const;
  bool InCell() const;
  bool Preserve() const;
  bool Wrapping() const;
  void Char(unsigned char c);
  void Space(unsigned char c);
  void Chars(std::string_view s);
  void FlushWord();
  void Put(std::string_view word);
  void StartLine();
  void EndLine();
  void Block(bool blank);
  void LineBreak();
  void WantBlank();
  void OpenLink();
  void CloseLink();
  void Cell();
  void Item(bool bullet, bool deeper);
  void List(int kind, bool end);
  void Quote(bool end);

  const std::array<std::string, 128>* ansi_ = nullptr;
  std::string* out_ = nullptr;

  // The input: a UTF-8 sequence not yet complete, and the tokenizer.
  std::string sequence_;
  unsigned need_ = 0;
  unsigned char low_ = 0x80, high_ = 0xBF;
  bool begun_ = false;
  State state_ = State::kText;
  std::string name_;
  bool name_long_ = false;
  bool end_tag_ = false;
  int tag_ = 0;
  std::string attr_;
  bool attr_long_ = false;
  bool capturing_ = false;
  char quote_ = 0;
  std::string value_;
  bool value_found_ = false;
  bool value_long_ = false;
  std::string entity_;
  unsigned matched_ = 0;  // of "--" or "[CDATA[" after "<!", of "]]" or of "</name" in raw text
  char bang_ = 0;
  unsigned dashes_ = 0;
  int raw_ = 0;

  // Where the text stands.
  std::string word_;
  std::size_t column_ = 0;
  std::size_t hard_blanks_ = 0;
  bool soft_blank_ = false;
  bool line_open_ = false;
  bool written_ = false;
  bool blank_pending_ = false;
  std::size_t blank_depth_ = 0;
  bool after_cr_ = false;
  std::string bullet_;
  std::size_t indent_ = 0;
  std::array<Level, kMaxLevels> levels_{};
  std::size_t depth_ = 0;
  std::size_t lost_levels_ = 0;
  std::size_t quote_depth_ = 0;
  std::size_t pre_depth_ = 0;
  std::size_t table_depth_ = 0;
  std::uint64_t cells_open_ = 0;
  std::size_t cells_ = 0;
  bool in_head_ = false;
  std::size_t template_depth_ = 0;
  bool link_open_ = false;
  bool link_text_ok_ = false;
  std::string link_;
  std::string link_text_;
};

}  // namespace mailclient
