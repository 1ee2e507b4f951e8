#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "mailclient/digest.h"
#include "runtime/activation.h"

namespace mailclient {

std::string HmacMd5Hex(std::string_view key, std::string_view data) {
  const runtime::Activation activation("HMACMD5HEX", __LINE__);
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_MD5_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0) {
    return {};
  }
  std::string hex;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char mac[16];
  auto bytes = [](std::string_view s) {
    return reinterpret_cast<PUCHAR>(const_cast<char*>(s.data()));
  };
  if (BCryptCreateHash(alg, &hash, nullptr, 0, bytes(key), static_cast<ULONG>(key.size()), 0) == 0) {
    if (BCryptHashData(hash, bytes(data), static_cast<ULONG>(data.size()), 0) == 0 &&
        BCryptFinishHash(hash, mac, sizeof mac, 0) == 0) {
      static const char kHex[] = "0123456789abcdef";
      for (unsigned char b : mac) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
      }
    }
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(alg, 0);
  return hex;
}

}  // namespace mailclient
