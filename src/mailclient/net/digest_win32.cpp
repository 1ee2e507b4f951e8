#include <windows.h>
#include <bcrypt.h>

#include "mailclient/net/digest.h"
#include "runtime/owned.h"

namespace mailclient::detail {

namespace {
void CloseProvider(void* alg) { BCryptCloseAlgorithmProvider(alg, 0); }
using Provider = runtime::Owned<void, CloseProvider>;
using Hash = runtime::Owned<void, BCryptDestroyHash>;
}  // namespace

bool HmacMd5(std::string_view key, std::string_view data, unsigned char (&mac)[kMd5Size]) {
  BCRYPT_ALG_HANDLE opened = nullptr;
  if (BCryptOpenAlgorithmProvider(&opened, BCRYPT_MD5_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0) {
    return false;
  }
  const Provider alg(opened);
  auto bytes = [](std::string_view s) { return reinterpret_cast<PUCHAR>(const_cast<char*>(s.data())); };
  BCRYPT_HASH_HANDLE created = nullptr;
  if (BCryptCreateHash(alg.get(), &created, nullptr, 0, bytes(key), static_cast<ULONG>(key.size()), 0) != 0) {
    return false;
  }
  const Hash hash(created);
  return BCryptHashData(hash.get(), bytes(data), static_cast<ULONG>(data.size()), 0) == 0 &&
         BCryptFinishHash(hash.get(), mac, kMd5Size, 0) == 0;
}

}  // namespace mailclient::detail
