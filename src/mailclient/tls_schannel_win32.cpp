// TLS through Schannel (SSPI). The handshake and the records are driven by
// hand over the plain stream, so every wait keeps the stream's time-out.
// Schannel is told to leave the certificate alone; the chain is checked
// here against the system's roots plus the CAFile certificates, and the
// name against the certificate's subject alternative names.
#define SECURITY_WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mailclient/tls.h"
#include "runtime/activation.h"
#include "runtime/system_text.h"
#include "runtime/whole_file.h"

namespace mailclient {

namespace {

std::string Reason(SECURITY_STATUS status) {
  return runtime::SystemErrorText(static_cast<unsigned long>(status));
}

bool Lower(char a, char b) {
  auto l = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return l(a) == l(b);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Lower(a[i], b[i])) return false;
  }
  return true;
}

// A certificate name against the host: exact, or "*." standing for one
// whole leftmost label.
bool NameMatches(const std::string& pattern, const std::string& host) {
  if (pattern.size() > 2 && pattern[0] == '*' && pattern[1] == '.') {
    const std::size_t dot = host.find('.');
    return dot != std::string::npos && dot > 0 && SameName(pattern.substr(1), host.substr(dot));
  }
  return SameName(pattern, host);
}

std::string Narrow(const wchar_t* w) {
  std::string s;
  for (; w != nullptr && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
  return s;
}

// The host as IP address bytes; empty when it is a name.
std::vector<unsigned char> IpBytes(const std::string& host) {
  unsigned char buf[16];
  if (inet_pton(AF_INET, host.c_str(), buf) == 1) return {buf, buf + 4};
  if (inet_pton(AF_INET6, host.c_str(), buf) == 1) return {buf, buf + 16};
  return {};
}

bool CertificateNames(PCCERT_CONTEXT cert, const std::string& host) {
  const std::vector<unsigned char> ip = IpBytes(host);
  PCERT_EXTENSION ext = CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                          cert->pCertInfo->rgExtension);
  if (ext != nullptr) {
    CERT_ALT_NAME_INFO* info = nullptr;
    DWORD size = 0;
    if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                            CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size)) {
      bool match = false;
      bool any_dns = false;
      for (DWORD i = 0; i < info->cAltEntry && !match; ++i) {
        const CERT_ALT_NAME_ENTRY& e = info->rgAltEntry[i];
        if (e.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
          any_dns = true;
          match = ip.empty() && NameMatches(Narrow(e.pwszDNSName), host);
        } else if (e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
          match = !ip.empty() && e.IPAddress.cbData == ip.size() &&
                  std::memcmp(e.IPAddress.pbData, ip.data(), ip.size()) == 0;
        }
      }
      LocalFree(info);
      if (match || any_dns || !ip.empty()) return match;
    }
  }
  // No alternative names: the common name, for a DNS name only.
  char cn[256] = {};
  CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), cn, sizeof cn);
  return ip.empty() && NameMatches(cn, host);
}

// The CAFile's certificates in a memory store.
HCERTSTORE LoadCaFile(const std::string& file, std::string& error) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  if (file.empty() || store == nullptr) return store;
  std::string pem;
  std::string reason;
  if (!runtime::ReadWholeFile(file, pem, reason)) {
    error = "cannot read the CA file " + file + " (CAFile in postrine.ini): " + reason;
    CertCloseStore(store, 0);
    return nullptr;
  }
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::string end = "-----END CERTIFICATE-----";
  int added = 0;
  for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at + 1)) {
    const std::size_t stop = pem.find(end, at);
    if (stop == std::string::npos) break;
    const std::string block = pem.substr(at, stop + end.size() - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                             der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_ALWAYS, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    error = "the CA file " + file + " (CAFile in postrine.ini) holds no PEM certificate";
    CertCloseStore(store, 0);
    return nullptr;
  }
  return store;
}

// Checks the server's certificate: a chain to a trusted root (the system's
// or one from CAFile), valid now, for server use, issued for `host`.
bool CheckCertificate(PCCERT_CONTEXT cert, const TlsOptions& options, std::string& error) {
  const std::string& host = options.host;
  HCERTSTORE extra = LoadCaFile(options.ca_file, error);
  if (extra == nullptr) return false;
  HCERTSTORE all = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  CertAddStoreToCollection(all, extra, 0, 0);
  if (cert->hCertStore != nullptr) CertAddStoreToCollection(all, cert->hCertStore, 0, 0);

  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  bool ok = false;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, all, &para, 0, nullptr, &chain)) {
    error = "cannot check the certificate for " + host + ": " + runtime::SystemErrorText(GetLastError());
  } else {
    const DWORD status = chain->TrustStatus.dwErrorStatus;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    const bool root_from_ca_file =
        CertFindCertificateInStore(extra, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr) != nullptr;
    const DWORD ignorable = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION |
                            (root_from_ca_file ? CERT_TRUST_IS_UNTRUSTED_ROOT : 0);
    const DWORD problems = status & ~ignorable;
    const bool self_signed = simple->cElement == 1;
    if (problems & CERT_TRUST_IS_NOT_TIME_VALID) {
      error = "certificate for " + host + " has expired or is not valid yet";
    } else if (problems & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
      error = "certificate for " + host + " is not trusted (" + (self_signed ? "self-signed" : "issuer unknown") +
              "); add its CA with CAFile=... in postrine.ini";
    } else if (problems != 0) {
      error = "certificate for " + host + " is not trusted (chain status 0x" +
              [&] {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(problems));
                return std::string(hex);
              }() +
              ")";
    } else if (!CertificateNames(cert, host)) {
      error = "the certificate of the server is not issued for " + host + " (host name mismatch)";
    } else {
      ok = true;
    }
    CertFreeCertificateChain(chain);
  }
  CertCloseStore(all, 0);
  CertCloseStore(extra, 0);
  return ok;
}

class SchannelConnection final : public Connection {
 public:
  explicit SchannelConnection(std::unique_ptr<Connection> plain) : plain_(std::move(plain)) {
    SecInvalidateHandle(&cred_);
    SecInvalidateHandle(&ctx_);
  }
  ~SchannelConnection() override {
    if (SecIsValidHandle(&ctx_)) DeleteSecurityContext(&ctx_);
    if (SecIsValidHandle(&cred_)) FreeCredentialsHandle(&cred_);
  }

  bool Handshake(const TlsOptions& options, std::string& error) {
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    SECURITY_STATUS s = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                                  nullptr, &cred, nullptr, nullptr, &cred_, &expiry);
    if (s != SEC_E_OK) {
      error = "TLS cannot start: " + Reason(s);
      return false;
    }
    const bool name = IpBytes(options.host).empty();
    const DWORD flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    bool first = true;
    for (;;) {
      SecBuffer in[2] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
      SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
      SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
      DWORD attributes = 0;
      s = InitializeSecurityContextA(&cred_, first ? nullptr : &ctx_,
                                     name ? const_cast<char*>(options.host.c_str()) : nullptr, flags, 0, 0,
                                     first ? nullptr : &in_desc, 0, &ctx_, &out_desc, &attributes, &expiry);
      first = false;
      if (out[0].cbBuffer > 0 && out[0].pvBuffer != nullptr) {
        const bool sent = plain_->Send(
            std::string_view(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer), options.timeout_ms);
        FreeContextBuffer(out[0].pvBuffer);
        if (!sent) {
          error = "TLS handshake with " + options.host + " failed: " + plain_->error();
          return false;
        }
      }
      if (s == SEC_E_INCOMPLETE_MESSAGE) {
        if (!ReceiveMore(options.timeout_ms, error)) return false;
        continue;
      }
      if (s != SEC_E_OK && s != SEC_I_CONTINUE_NEEDED) {
        error = "TLS handshake with " + options.host + " failed: " + Reason(s);
        return false;
      }
      KeepExtra(in[1]);
      if (s == SEC_E_OK) break;
      if (incoming_.empty() && !ReceiveMore(options.timeout_ms, error)) return false;
    }
    QueryContextAttributesA(&ctx_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (!options.verify) return true;
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesA(&ctx_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || cert == nullptr) {
      error = "the server " + options.host + " showed no certificate";
      return false;
    }
    const bool trusted = CheckCertificate(cert, options, error);
    CertFreeCertificateContext(cert);
    return trusted;
  }

  bool Send(std::string_view bytes, int timeout_ms) override {
    const runtime::Activation activation("SCHANNELCONNECTION:SEND", __LINE__);
    std::string record;
    while (!bytes.empty()) {
      const std::size_t n = std::min<std::size_t>(bytes.size(), sizes_.cbMaximumMessage);
      record.assign(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
      std::memcpy(&record[sizes_.cbHeader], bytes.data(), n);
      SecBuffer b[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                        {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                        {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
                        {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
      const SECURITY_STATUS s = EncryptMessage(&ctx_, 0, &desc, 0);
      if (s != SEC_E_OK) {
        error_ = "TLS cannot encrypt: " + Reason(s);
        return false;
      }
      const std::size_t total = b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer;
      if (!plain_->Send(std::string_view(record.data(), total), timeout_ms)) {
        error_ = plain_->error();
        return false;
      }
      bytes.remove_prefix(n);
    }
    return true;
  }

  long Receive(char* buffer, std::size_t size, int timeout_ms) override {
    const runtime::Activation activation("SCHANNELCONNECTION:RECEIVE", __LINE__);
    while (plain_pos_ >= plaintext_.size()) {
      plaintext_.clear();
      plain_pos_ = 0;
      if (incoming_.empty()) {
        const long got = ReceiveRaw(timeout_ms);
        if (got <= 0) return got;
      }
      SecBuffer b[4] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                        {0, SECBUFFER_EMPTY, nullptr},
                        {0, SECBUFFER_EMPTY, nullptr},
                        {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
      const SECURITY_STATUS s = DecryptMessage(&ctx_, &desc, 0, nullptr);
      if (s == SEC_E_INCOMPLETE_MESSAGE) {
        const long got = ReceiveRaw(timeout_ms);
        if (got <= 0) return got;
        continue;
      }
      if (s == SEC_I_CONTEXT_EXPIRED) return 0;  // the server ended the session
      if (s != SEC_E_OK) {
        error_ = "TLS cannot decrypt: " + Reason(s);
        return -1;
      }
      SecBuffer* extra = nullptr;
      for (SecBuffer& x : b) {
        if (x.BufferType == SECBUFFER_DATA) plaintext_.append(static_cast<const char*>(x.pvBuffer), x.cbBuffer);
        if (x.BufferType == SECBUFFER_EXTRA) extra = &x;
      }
      if (extra != nullptr) {
        KeepExtra(*extra);
      } else {
        incoming_.clear();
      }
    }
    const std::size_t n = std::min(size, plaintext_.size() - plain_pos_);
    std::memcpy(buffer, plaintext_.data() + plain_pos_, n);
    plain_pos_ += n;
    return static_cast<long>(n);
  }

  const std::string& error() const override { return error_; }

 private:
  // Keeps the bytes Schannel did not consume (the tail of incoming_).
  void KeepExtra(const SecBuffer& b) {
    if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0 && b.cbBuffer <= incoming_.size()) {
      incoming_.erase(0, incoming_.size() - b.cbBuffer);
    } else {
      incoming_.clear();
    }
  }

  long ReceiveRaw(int timeout_ms) {
    char chunk[16384];
    const long n = plain_->Receive(chunk, sizeof chunk, timeout_ms);
    if (n < 0) error_ = plain_->error();
    if (n > 0) incoming_.append(chunk, static_cast<std::size_t>(n));
    return n;
  }

  bool ReceiveMore(int timeout_ms, std::string& error) {
    const long n = ReceiveRaw(timeout_ms);
    if (n > 0) return true;
    error = "TLS handshake failed: " + (n == 0 ? std::string("the server closed the connection") : error_);
    return false;
  }

  std::unique_ptr<Connection> plain_;
  CredHandle cred_;
  CtxtHandle ctx_;
  SecPkgContext_StreamSizes sizes_{};
  std::string incoming_;
  std::string plaintext_;
  std::size_t plain_pos_ = 0;
  std::string error_;
};

}  // namespace

std::unique_ptr<Connection> StartTls(std::unique_ptr<Connection> plain, const TlsOptions& options,
                                     std::string& error) {
  const runtime::Activation activation("STARTTLS", __LINE__);
  auto tls = std::make_unique<SchannelConnection>(std::move(plain));
  if (!tls->Handshake(options, error)) {
    if (!options.verify) error += kVerifyOffNote;
    return nullptr;
  }
  return tls;
}

}  // namespace mailclient
