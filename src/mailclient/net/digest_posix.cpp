#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>

#include "mailclient/net/digest.h"

namespace mailclient::detail {

bool HmacMd5(std::string_view key, std::string_view data, unsigned char (&mac)[kMd5Size]) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
           data.size(), out, &length) == nullptr ||
      length != kMd5Size) {
    return false;
  }
  std::copy(out, out + kMd5Size, mac);
  return true;
}

}  // namespace mailclient::detail
