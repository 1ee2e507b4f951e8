#include <windows.h>
#include <bcrypt.h>

#include "mailclient/net/digest.h"

namespace mailclient::detail {

bool HmacMd5(std::string_view key, std::string_view data, unsigned char (&mac)[kMd5Size]) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_MD5_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0) {
    return false;
  }
  auto bytes = [](std::string_view s) { return reinterpret_cast<PUCHAR>(const_cast<char*>(s.data())); };
  bool done = false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptCreateHash(alg, &hash, nullptr, 0, bytes(key), static_cast<ULONG>(key.size()), 0) == 0) {
    done = BCryptHashData(hash, bytes(data), static_cast<ULONG>(data.size()), 0) == 0 &&
           BCryptFinishHash(hash, mac, kMd5Size, 0) == 0;
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(alg, 0);
  return done;
}

}  // namespace mailclient::detail
