#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "mailclient/digest.h"
#include "runtime/activation.h"

namespace mailclient {

std::string HmacMd5Hex(std::string_view key, std::string_view data) {
  const runtime::Activation activation("HMACMD5HEX", __LINE__);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &length) == nullptr) {
    return {};
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[mac[i] >> 4];
    hex += kHex[mac[i] & 15];
  }
  return hex;
}

}  // namespace mailclient
