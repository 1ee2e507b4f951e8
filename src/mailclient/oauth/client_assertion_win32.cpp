// The certificate by its thumbprint in the user's or the machine's
// store, its private key used through CNG where it lives: the key never
// leaves the store, and a key that may not be exported still signs.
#include <windows.h>
// After windows.h, which they need.
#include <bcrypt.h>
#include <ncrypt.h>
#include <wincrypt.h>

#include "mailclient/oauth/client_assertion.h"
#include "runtime/ascii.h"
#include "runtime/owned.h"

namespace mailclient::detail {

namespace {

struct StoreTraits {
  using Value = HCERTSTORE;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { CertCloseStore(v, 0); }
};
struct KeyTraits {
  using Value = NCRYPT_KEY_HANDLE;
  static Value Invalid() { return 0; }
  static bool Valid(Value v) { return v != 0; }
  static void Close(Value v) { NCryptFreeObject(v); }
};
struct AlgorithmTraits {
  using Value = BCRYPT_ALG_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { BCryptCloseAlgorithmProvider(v, 0); }
};
struct HashTraits {
  using Value = BCRYPT_HASH_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { BCryptDestroyHash(v); }
};
using Store = runtime::UniqueHandle<StoreTraits>;
using KeyHandle = runtime::UniqueHandle<KeyTraits>;
using CertContext = runtime::Owned<const CERT_CONTEXT, CertFreeCertificateContext>;

std::string Hex(unsigned long value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 15];
  return text;
}

class StoreKey final : public CertificateKey {
 public:
  StoreKey(CertContext certificate, KeyHandle key, bool owned)
      : certificate_(std::move(certificate)), key_(std::move(key)), owned_(owned),
        der_(reinterpret_cast<const char*>(certificate_->pbCertEncoded), certificate_->cbCertEncoded) {}
  ~StoreKey() override {
    // A handle the certificate's context keeps for itself is not ours to free.
    if (!owned_) key_.release();
  }
  StoreKey(const StoreKey&) = delete;
  StoreKey& operator=(const StoreKey&) = delete;

  const std::string& Der() const override { return der_; }

  bool Sign(std::string_view data, bool pss, std::string& signature, bool& refused_pss, std::string& why) override {
    refused_pss = false;
    const std::string digest = Digest(data, false);
    if (digest.size() != 32) {
      why = "this system cannot compute SHA-256";
      return false;
    }
    BCRYPT_PSS_PADDING_INFO pss_padding{BCRYPT_SHA256_ALGORITHM, 32};
    BCRYPT_PKCS1_PADDING_INFO pkcs1_padding{BCRYPT_SHA256_ALGORITHM};
    void* padding = pss ? static_cast<void*>(&pss_padding) : static_cast<void*>(&pkcs1_padding);
    const DWORD flags = pss ? BCRYPT_PAD_PSS : BCRYPT_PAD_PKCS1;
    auto* hash = reinterpret_cast<BYTE*>(const_cast<char*>(digest.data()));
    DWORD size = 0;
    SECURITY_STATUS status = NCryptSignHash(key_.get(), padding, hash, 32, nullptr, 0, &size, flags | NCRYPT_SILENT_FLAG);
    if (status == ERROR_SUCCESS) {
      signature.assign(size, '\0');
      status = NCryptSignHash(key_.get(), padding, hash, 32, reinterpret_cast<BYTE*>(signature.data()), size, &size,
                              flags | NCRYPT_SILENT_FLAG);
      signature.resize(size);
    }
    if (status == ERROR_SUCCESS) return true;
    refused_pss = pss && (status == NTE_NOT_SUPPORTED || status == NTE_BAD_FLAGS || status == NTE_INVALID_PARAMETER);
    why = "its private key cannot sign (CNG error " + Hex(static_cast<unsigned long>(status)) + ")";
    return false;
  }

 private:
  CertContext certificate_;
  KeyHandle key_;
  bool owned_;
  std::string der_;
};

}  // namespace

std::string CertificateForDisplay(const std::string& certificate) {
  const std::string hex = ThumbprintHex(certificate);
  return hex.empty() ? "\"" + runtime::Printable(certificate, runtime::kMostQuoted) + "\"" : hex;
}

std::unique_ptr<CertificateKey> OpenCertificateKey(const std::string& certificate, std::string& why) {
  const std::string hex = ThumbprintHex(certificate);
  if (hex.empty()) {
    why = "it is not a certificate's SHA-1 thumbprint (40 hexadecimal digits, as certmgr shows it)";
    return nullptr;
  }
  BYTE thumbprint[20];
  for (int i = 0; i < 20; ++i) {
    auto nibble = [](char c) { return static_cast<BYTE>(c <= '9' ? c - '0' : c - 'A' + 10); };
    thumbprint[i] = static_cast<BYTE>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  CRYPT_HASH_BLOB blob{sizeof thumbprint, thumbprint};
  CertContext found;
  // The user's own store first: a certificate there is the one meant for
  // this user; a service account's may live in the machine's.
  for (const DWORD location : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
    Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location | CERT_STORE_READONLY_FLAG |
                                                                  CERT_STORE_OPEN_EXISTING_FLAG, L"MY"));
    if (!store) continue;
    found.reset(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                           CERT_FIND_SHA1_HASH, &blob, nullptr));
    if (found) break;
  }
  if (!found) {
    why = "no certificate with this thumbprint in the Personal store of the current user or the local machine";
    return nullptr;
  }
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
  DWORD key_kind = 0;
  BOOL owned = FALSE;
  if (!CryptAcquireCertificatePrivateKey(found.get(), CRYPT_ACQUIRE_ONLY_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG,
                                         nullptr, &handle, &key_kind, &owned)) {
    const DWORD error = GetLastError();
    why = error == static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY) || error == static_cast<DWORD>(NTE_BAD_KEYSET)
              ? "the certificate has no private key in the store (import it from its .pfx file)"
              : "its private key cannot be opened (error " + Hex(error) + "; may this user read it?)";
    return nullptr;
  }
  if (key_kind != CERT_NCRYPT_KEY_SPEC) {
    // Only a CryptoAPI handle came back: freed as one, and refused.
    if (owned) CryptReleaseContext(handle, 0);
    why = "its private key is not held by a CNG key storage provider (import its .pfx with the Microsoft "
          "Software Key Storage Provider)";
    return nullptr;
  }
  return std::make_unique<StoreKey>(std::move(found), KeyHandle(handle), owned != FALSE);
}

std::string Digest(std::string_view data, bool sha1) {
  runtime::UniqueHandle<AlgorithmTraits> algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM,
                                                  nullptr, 0))) {
    return {};
  }
  runtime::UniqueHandle<HashTraits> hash;
  std::string digest(sha1 ? 20 : 32, '\0');
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
      !BCRYPT_SUCCESS(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                     static_cast<ULONG>(data.size()), 0)) ||
      !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()),
                                       static_cast<ULONG>(digest.size()), 0))) {
    return {};
  }
  return digest;
}

}  // namespace mailclient::detail
