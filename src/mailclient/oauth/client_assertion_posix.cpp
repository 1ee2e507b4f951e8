// The certificate and its key from a PEM file of the user's own, signed
// with OpenSSL 3.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "mailclient/oauth/client_assertion.h"
#include "runtime/ascii.h"
#include "runtime/owned.h"
#include "runtime/whole_file.h"

namespace mailclient::detail {

namespace {

// A certificate and key in PEM are a few kilobytes; a chain, a few more.
constexpr std::uint64_t kLargestPemFile = 1 << 20;

using Bio = runtime::Owned<BIO, BIO_free>;
using Key = runtime::Owned<EVP_PKEY, EVP_PKEY_free>;
using Certificate = runtime::Owned<X509, X509_free>;
using SignContext = runtime::Owned<EVP_MD_CTX, EVP_MD_CTX_free>;

// A key under a passphrase cannot be used unattended, and OpenSSL must not
// ask for one on the terminal of a script.
int NoPassphrase(char*, int, int, void*) { return -1; }

class PemKey final : public CertificateKey {
 public:
  PemKey(Key key, std::string der) : key_(std::move(key)), der_(std::move(der)) {}

  const std::string& Der() const override { return der_; }

  bool Sign(std::string_view data, bool pss, std::string& signature, bool& refused_pss, std::string& why) override {
    refused_pss = false;
    SignContext context(EVP_MD_CTX_new());
    EVP_PKEY_CTX* key_context = nullptr;  // the signing context's own
    std::size_t size = 0;
    bool ok = context && EVP_DigestSignInit(context.get(), &key_context, EVP_sha256(), nullptr, key_.get()) == 1;
    if (ok && pss) {
      ok = EVP_PKEY_CTX_set_rsa_padding(key_context, RSA_PKCS1_PSS_PADDING) == 1 &&
           EVP_PKEY_CTX_set_rsa_pss_saltlen(key_context, 32) == 1 &&
           EVP_PKEY_CTX_set_rsa_mgf1_md(key_context, EVP_sha256()) == 1;
      refused_pss = !ok;
    }
    ok = ok &&
         EVP_DigestSign(context.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(data.data()),
                        data.size()) == 1;
    if (ok) {
      signature.assign(size, '\0');
      ok = EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                          reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
      signature.resize(size);
    }
    if (!ok) why = "its key cannot sign with SHA-256";
    return ok;
  }

 private:
  Key key_;
  std::string der_;
};

}  // namespace

std::string CertificateForDisplay(const std::string& certificate) { return runtime::Printable(certificate); }

std::unique_ptr<CertificateKey> OpenCertificateKey(const std::string& certificate, std::string& why) {
  // Like ssh with a private key: a file that others may read is not
  // used, so that a careless copy is noticed before the key is stolen.
  struct stat status {};
  if (::stat(certificate.c_str(), &status) != 0) {
    why = std::strerror(errno);
    return nullptr;
  }
  if (S_ISREG(status.st_mode) && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    why = "the file may be read by others (it holds the private key: chmod 600 it)";
    return nullptr;
  }
  std::string pem;
  if (!runtime::ReadWholeFile(certificate, pem, why, kLargestPemFile)) return nullptr;
  // The certificate and the key may come in either order: each is read
  // from the start.
  Bio for_certificate(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  Bio for_key(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!for_certificate || !for_key) {
    why = "out of memory";
    return nullptr;
  }
  Certificate x509(PEM_read_bio_X509(for_certificate.get(), nullptr, NoPassphrase, nullptr));
  if (!x509) {
    why = "the file holds no PEM certificate (-----BEGIN CERTIFICATE-----)";
    return nullptr;
  }
  Key key(PEM_read_bio_PrivateKey(for_key.get(), nullptr, NoPassphrase, nullptr));
  if (!key) {
    why = pem.find("ENCRYPTED") != std::string::npos
              ? "its private key is encrypted with a passphrase (keep it without one, readable by this user alone)"
              : "the file holds no PEM private key beside the certificate";
    return nullptr;
  }
  if (!EVP_PKEY_is_a(key.get(), "RSA")) {
    why = "its key is not an RSA key (RS256 and PS256 need one)";
    return nullptr;
  }
  if (X509_check_private_key(x509.get(), key.get()) != 1) {
    why = "the private key in the file is not the certificate's";
    return nullptr;
  }
  const int size = i2d_X509(x509.get(), nullptr);
  std::string der(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  auto* out = reinterpret_cast<unsigned char*>(der.data());
  if (size <= 0 || i2d_X509(x509.get(), &out) != size) {
    why = "its certificate cannot be encoded";
    return nullptr;
  }
  return std::make_unique<PemKey>(std::move(key), std::move(der));
}

std::string Digest(std::string_view data, bool sha1) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, sha1 ? EVP_sha1() : EVP_sha256(), nullptr) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), size);
}

}  // namespace mailclient::detail
