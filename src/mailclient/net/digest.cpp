#include "mailclient/net/digest.h"

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

std::string HmacMd5Hex(std::string_view key, std::string_view data) {
  const runtime::Activation activation("HMACMD5HEX", __LINE__);
  unsigned char mac[detail::kMd5Size];
  if (!detail::HmacMd5(key, data, mac)) return {};
  std::string hex;
  for (unsigned char b : mac) runtime::AppendHex(hex, b, true);
  return hex;
}

}  // namespace mailclient
