#include "mailclient/net/digest.h"

#include "runtime/activation.h"

namespace mailclient {

std::string HmacMd5Hex(std::string_view key, std::string_view data) {
  const runtime::Activation activation("HMACMD5HEX", __LINE__);
  unsigned char mac[detail::kMd5Size];
  if (!detail::HmacMd5(key, data, mac)) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : mac) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

}  // namespace mailclient
