#include "runtime/unicode.h"

#include "runtime/activation.h"

namespace runtime {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// One character from `text` at `i`, which moves past it. A sequence that is
// not well formed gives U+FFFD and moves past its longest valid start (at
// least one byte), as the Unicode standard recommends.
char32_t DecodeOne(std::string_view text, std::size_t& i, bool& ok) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  std::size_t more = 0;
  char32_t value = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // a surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    ok = false;
    return kReplacement;
  }
  for (std::size_t k = 0; k < more; ++k) {
    const unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    if (i >= text.size() || c < low || c > high) {
      ok = false;
      return kReplacement;
    }
    value = (value << 6) | (c & 0x3F);
    low = 0x80;
    high = 0xBF;
    ++i;
  }
  return value;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool Utf8ToUtf16(std::string_view utf8, std::u16string& utf16) {
  const Activation activation("UTF8TOUTF16", __LINE__);
  utf16.clear();
  utf16.reserve(utf8.size());
  bool ok = true;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = DecodeOne(utf8, i, ok);
    if (c < 0x10000) {
      utf16 += static_cast<char16_t>(c);
    } else {
      utf16 += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      utf16 += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return ok;
}

bool Utf16ToUtf8(std::u16string_view utf16, std::string& utf8) {
  const Activation activation("UTF16TOUTF8", __LINE__);
  utf8.clear();
  utf8.reserve(utf16.size());
  bool ok = true;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      ok = false;
      c = kReplacement;
    }
    AppendUtf8(utf8, c);
  }
  return ok;
}

std::size_t Utf8PrefixLength(std::string_view utf8, std::size_t max) {
  if (utf8.size() <= max) return utf8.size();
  std::size_t n = max;
  while (n > 0 && IsContinuation(static_cast<unsigned char>(utf8[n]))) --n;
  return n;
}

}  // namespace runtime
