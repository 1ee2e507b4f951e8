// The text of any HTML: well-formed UTF-8 in lines ended by CR LF, state
// within its bound, and the same text when the HTML comes in two pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mailclient/mime/html_text.h"
#include "runtime/unicode.h"

namespace {

std::string Convert(std::string_view html, std::size_t cut, bool utf8) {
  mailclient::HtmlText converter(utf8);
  std::string text;
  converter.Feed(html.substr(0, cut), text);
  if (converter.Held() > mailclient::HtmlText::kMaxHeld) std::abort();
  converter.Feed(html.substr(cut), text);
  if (converter.Held() > mailclient::HtmlText::kMaxHeld) std::abort();
  converter.Finish(text);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  // The first byte's low bit picks the input's charset.
  const bool utf8 = size == 0 || (data[0] & 1) == 0;
  const std::string text = Convert(html, size, utf8);
  std::u16string utf16;
  if (!runtime::Utf8ToUtf16(text, utf16)) std::abort();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool cr = text[i] == '\r', lf = text[i] == '\n';
    if (cr && (i + 1 == text.size() || text[i + 1] != '\n')) std::abort();
    if (lf && (i == 0 || text[i - 1] != '\r')) std::abort();
  }
  if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) std::abort();
  if (size > 0 && Convert(html, data[0] % size, utf8) != text) std::abort();
  return 0;
}
