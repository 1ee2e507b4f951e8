// Text2Array on any text, with any delimiter and quote: no crash, and no
// token longer than the text it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string delimiter(1, static_cast<char>(data[0]));
  const std::string quote = data[1] % 4 == 0 ? "" : std::string(1, static_cast<char>(data[1]));
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  for (const std::string& token : Text2Array(text, delimiter, quote)) {
    if (token.size() > text.size()) std::abort();
  }
  return 0;
}
