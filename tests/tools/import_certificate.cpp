// Imports the certificate and key of a PFX file (no password) into the
// current user's Personal store and prints its SHA-1 thumbprint, so that
// the end-to-end tests can name it as OAuthClientCertificate.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: import_certificate FILE.pfx\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string pfx((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), reinterpret_cast<BYTE*>(pfx.data())};
  // The key in CNG's software provider, as Windows puts it on import; a
  // system that cannot do that takes it into CryptoAPI's.
  HCERTSTORE imported = PFXImportCertStore(&blob, L"", CRYPT_USER_KEYSET | PKCS12_ALWAYS_CNG_KSP);
  if (!imported) imported = PFXImportCertStore(&blob, L"", CRYPT_USER_KEYSET | PKCS12_PREFER_CNG_KSP);
  if (!imported) imported = PFXImportCertStore(&blob, L"", CRYPT_USER_KEYSET);
  if (!imported) {
    std::fprintf(stderr, "PFXImportCertStore failed: 0x%08lx\n", GetLastError());
    return 1;
  }
  HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(imported, nullptr);
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!my || !certificate ||
      !CertAddCertificateContextToStore(my, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) ||
      !CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
    std::fprintf(stderr, "the certificate could not be added: 0x%08lx\n", GetLastError());
    return 1;
  }
  for (DWORD i = 0; i < size; ++i) std::printf("%02X", hash[i]);
  std::printf("\n");
  CertFreeCertificateContext(certificate);
  // The store is written out when it is closed.
  CertCloseStore(my, 0);
  CertCloseStore(imported, 0);
  return 0;
}
