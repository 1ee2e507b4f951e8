// The TLS engine on Windows: Schannel (SSPI) on memory buffers. The
// portable front (tls.cpp) moves the bytes to and from the server. Schannel
// is told to leave the certificate alone; the system checks it afterwards
// with its SSL chain policy (chain, validity, usage and the server's name),
// the CAFile certificates added to the roots it trusts.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS and TLS_PARAMETERS
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mailclient/net/tls_engine.h"
#include "runtime/activation.h"
#include "runtime/owned.h"
#include "runtime/system_text.h"
#include "runtime/whole_file.h"
#include "runtime/wide_text_win32.h"

namespace mailclient {

namespace {

void CloseStore(HCERTSTORE store) { CertCloseStore(store, 0); }
using Store = runtime::Owned<void, CloseStore>;
using Certificate = runtime::Owned<const CERT_CONTEXT, CertFreeCertificateContext>;
using Chain = runtime::Owned<const CERT_CHAIN_CONTEXT, CertFreeCertificateChain>;
using ChainEngine = runtime::Owned<void, CertFreeCertificateChainEngine>;
void FreeLocal(void* p) { LocalFree(p); }
using AltNames = runtime::Owned<CERT_ALT_NAME_INFO, FreeLocal>;

// A credentials or context handle of SSPI, released by `Release` once it
// holds one.
template <auto Release>
class SecurityHandle {
 public:
  SecurityHandle() { SecInvalidateHandle(&h_); }
  ~SecurityHandle() {
    if (valid()) Release(&h_);
  }
  SecurityHandle(const SecurityHandle&) = delete;
  SecurityHandle& operator=(const SecurityHandle&) = delete;

  SecHandle* get() { return &h_; }
  bool valid() const { return SecIsValidHandle(&h_); }
  /// Forgets a handle that a failed call left behind.
  void invalidate() { SecInvalidateHandle(&h_); }

 private:
  SecHandle h_;
};

// A status by its name and value ("SEC_E_INTERNAL_ERROR (0x80090304)"):
// the system's text for these is often missing, or beside the point ("The
// Local Security Authority cannot be contacted" for an internal error).
// Others get the system's text, or their value in hex.
std::string Reason(long status) {
  struct Named {
    long status;
    const char* name;
  };
  static const Named kNames[] = {
      {SEC_E_INSUFFICIENT_MEMORY, "SEC_E_INSUFFICIENT_MEMORY"},
      {SEC_E_INVALID_HANDLE, "SEC_E_INVALID_HANDLE"},
      {SEC_E_UNSUPPORTED_FUNCTION, "SEC_E_UNSUPPORTED_FUNCTION"},
      {SEC_E_TARGET_UNKNOWN, "SEC_E_TARGET_UNKNOWN"},
      {SEC_E_INTERNAL_ERROR, "SEC_E_INTERNAL_ERROR"},
      {SEC_E_SECPKG_NOT_FOUND, "SEC_E_SECPKG_NOT_FOUND"},
      {SEC_E_INVALID_TOKEN, "SEC_E_INVALID_TOKEN"},
      {SEC_E_NO_CREDENTIALS, "SEC_E_NO_CREDENTIALS"},
      {SEC_E_MESSAGE_ALTERED, "SEC_E_MESSAGE_ALTERED"},
      {SEC_E_CONTEXT_EXPIRED, "SEC_E_CONTEXT_EXPIRED"},
      {SEC_E_BUFFER_TOO_SMALL, "SEC_E_BUFFER_TOO_SMALL"},
      {SEC_E_WRONG_PRINCIPAL, "SEC_E_WRONG_PRINCIPAL"},
      {SEC_E_UNTRUSTED_ROOT, "SEC_E_UNTRUSTED_ROOT"},
      {SEC_E_ILLEGAL_MESSAGE, "SEC_E_ILLEGAL_MESSAGE"},
      {SEC_E_CERT_UNKNOWN, "SEC_E_CERT_UNKNOWN"},
      {SEC_E_CERT_EXPIRED, "SEC_E_CERT_EXPIRED"},
      {SEC_E_ENCRYPT_FAILURE, "SEC_E_ENCRYPT_FAILURE"},
      {SEC_E_DECRYPT_FAILURE, "SEC_E_DECRYPT_FAILURE"},
      {SEC_E_ALGORITHM_MISMATCH, "SEC_E_ALGORITHM_MISMATCH"},
      {CERT_E_REVOKED, "CERT_E_REVOKED"},
      {CERT_E_REVOCATION_FAILURE, "CERT_E_REVOCATION_FAILURE"},
      {CERT_E_WRONG_USAGE, "CERT_E_WRONG_USAGE"},
      {CERT_E_UNTRUSTEDCA, "CERT_E_UNTRUSTEDCA"},
      {CRYPT_E_REVOKED, "CRYPT_E_REVOKED"},
      {CRYPT_E_NO_REVOCATION_CHECK, "CRYPT_E_NO_REVOCATION_CHECK"},
      {CRYPT_E_REVOCATION_OFFLINE, "CRYPT_E_REVOCATION_OFFLINE"},
      {TRUST_E_CERT_SIGNATURE, "TRUST_E_CERT_SIGNATURE"},
      {TRUST_E_BASIC_CONSTRAINTS, "TRUST_E_BASIC_CONSTRAINTS"},
  };
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(status));
  for (const Named& n : kNames) {
    if (n.status == status) return std::string(n.name) + " (" + hex + ")";
  }
  return runtime::SystemErrorText(static_cast<unsigned long>(status));
}

// A memory store of the PEM certificates in `pem`; `first` (when asked)
// gets the first of them. Null when `pem` holds none.
Store PemStore(const std::string& pem, Certificate* first = nullptr) {
  Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (store == nullptr) return nullptr;
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
    PCCERT_CONTEXT added_cert = nullptr;
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                             der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                         first != nullptr && added == 0 ? &added_cert : nullptr)) {
      if (added_cert != nullptr) first->reset(added_cert);
      ++added;
    }
  }
  if (added == 0) return nullptr;
  return store;
}

// The CAFile's certificates in a memory store; null (with a sentence in
// `error`) when the file cannot be read or holds none.
Store LoadCaFile(const std::string& file, std::string& error) {
  std::string pem;
  std::string reason;
  if (!runtime::ReadWholeFile(file, pem, reason)) {
    error = "cannot read the CA file " + file + " (CAFile in postrine.ini): " + reason;
    return nullptr;
  }
  Store store = PemStore(pem);
  if (store == nullptr) error = "the CA file " + file + " (CAFile in postrine.ini) holds no PEM certificate";
  return store;
}

// The roots to trust: the system's, with CAFile's certificates (when there
// are any) added through a chain engine of their own. Without CAFile the
// system's own engine is used, so that it may still fetch a root it lacks.
class TrustedRoots {
 public:
  // Adds `ca` (a store of CAFile's certificates), which the collection
  // keeps open. False with a sentence in `error` when the system will not
  // build the engine.
  bool Add(Store ca, std::string& error) {
    roots_.reset(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    const Store system(CertOpenSystemStoreA(0, "ROOT"));
    if (system != nullptr) CertAddStoreToCollection(roots_.get(), system.get(), 0, 0);
    CertAddStoreToCollection(roots_.get(), ca.get(), 0, 0);
    CERT_CHAIN_ENGINE_CONFIG config{};
    // The size of the structure as Windows 7 defined it, the first with
    // hExclusiveRoot: later systems take it too, and wine takes no other.
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveTrustedPeople) + sizeof(HCERTSTORE);
    config.hExclusiveRoot = roots_.get();
    HCERTCHAINENGINE engine = nullptr;
    if (!CertCreateCertificateChainEngine(&config, &engine)) {
      error = "cannot trust the CA file (CAFile in postrine.ini): " + runtime::SystemErrorText(GetLastError());
      return false;
    }
    engine_.reset(engine);
    return true;
  }

  HCERTCHAINENGINE engine() const { return engine_.get(); }

 private:
  Store roots_;
  ChainEngine engine_;  // released before the roots it uses
};

// The policy's answer in the words both platforms use.
CertificateCheck VerdictOf(long status, PCCERT_CONTEXT cert) {
  switch (status) {
    case 0: return {};
    case CERT_E_CN_NO_MATCH: return {CertificateVerdict::kNameMismatch, ""};
    case CERT_E_UNTRUSTEDROOT: return {CertificateVerdict::kSelfSigned, ""};
    case CERT_E_CHAINING: return {CertificateVerdict::kIssuerUnknown, ""};
    case CERT_E_EXPIRED:
      // The policy says the same for both ends of the validity period.
      return {CertVerifyTimeValidity(nullptr, cert->pCertInfo) < 0 ? CertificateVerdict::kNotYetValid
                                                                    : CertificateVerdict::kExpired,
              ""};
    default: return {CertificateVerdict::kUntrusted, Reason(status)};
  }
}

// Builds the chain from `cert` (with what the server sent beside it, in
// `sent`) and checks it with the system's SSL policy for `host`.
CertificateCheck CheckServerCertificate(PCCERT_CONTEXT cert, HCERTSTORE sent, const std::string& host,
                                        const TrustedRoots& roots) {
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(roots.engine(), cert, nullptr, sent, &para, 0, nullptr, &built)) {
    return {CertificateVerdict::kUntrusted, runtime::SystemErrorText(GetLastError())};
  }
  const Chain chain(built);
  std::wstring name = runtime::WideText(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
    return {CertificateVerdict::kUntrusted, runtime::SystemErrorText(GetLastError())};
  }
  if (status.dwError == 0 && (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0) {
    // Windows' policy refuses a chain that ends short of any root
    // (CERT_E_CHAINING); wine's lets it pass. Refuse it here as well.
    return VerdictOf(CERT_E_CHAINING, cert);
  }
  return VerdictOf(static_cast<long>(status.dwError), cert);
}

// A certificate name as X.500 writes it, most significant part last
// ("CN=mail.example.com, O=...").
std::string NameText(const CERT_NAME_BLOB& name) {
  CERT_NAME_BLOB copy = name;
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &copy, type, nullptr, 0);
  if (size <= 1) return "";
  std::string text(size, '\0');
  CertNameToStrA(X509_ASN_ENCODING, &copy, type, text.data(), size);
  text.resize(size - 1);
  return text;
}

std::string TimeText(const FILETIME& time) {
  SYSTEMTIME t{};
  if (!FileTimeToSystemTime(&time, &t)) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return text;
}

// The subject alternative names a client matches: DNS names and addresses.
std::vector<std::string> AlternativeNames(PCCERT_CONTEXT cert) {
  std::vector<std::string> names;
  const CERT_EXTENSION* extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                                     cert->pCertInfo->rgExtension);
  CERT_ALT_NAME_INFO* decoded = nullptr;
  DWORD size = 0;
  if (extension == nullptr ||
      !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size)) {
    return names;
  }
  const AltNames info(decoded);
  for (DWORD i = 0; i < info->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = info->rgAltEntry[i];
    if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
      names.push_back("DNS:" + runtime::TextFromWide(entry.pwszDNSName != nullptr ? entry.pwszDNSName : L""));
    } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
               (entry.IPAddress.cbData == 4 || entry.IPAddress.cbData == 16)) {
      char text[INET6_ADDRSTRLEN] = {};
      if (inet_ntop(entry.IPAddress.cbData == 4 ? AF_INET : AF_INET6, entry.IPAddress.pbData, text, sizeof text)) {
        names.push_back(std::string("IP:") + text);
      }
    }
  }
  return names;
}

std::string ProtocolText(DWORD protocol) {
  if ((protocol & SP_PROT_TLS1_3) != 0) return "TLSv1.3";
  if ((protocol & SP_PROT_TLS1_2) != 0) return "TLSv1.2";
  if ((protocol & SP_PROT_TLS1_1) != 0) return "TLSv1.1";
  if ((protocol & SP_PROT_TLS1_0) != 0) return "TLSv1";
  return "";
}

// Credentials for a client that checks the server itself. TLS 1.2 and 1.3
// through SCH_CREDENTIALS where the system knows it; older systems (and
// wine) refuse that and get TLS 1.2 through SCHANNEL_CRED.
SECURITY_STATUS AcquireClientCredentials(CredHandle& cred) {
  const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TimeStamp expiry;
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = flags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  SECURITY_STATUS s = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                                nullptr, &modern, nullptr, nullptr, &cred, &expiry);
  if (s == SEC_E_OK) return s;
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  older.dwFlags = flags;
  return AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                   &older, nullptr, nullptr, &cred, &expiry);
}

class SchannelEngine final : public TlsEngine {
 public:
  explicit SchannelEngine(const TlsOptions& options) : host_(options.host) {}

  bool Start(const TlsOptions& options, std::string& error) {
    if (options.verify && !options.ca_file.empty()) {
      Store ca = LoadCaFile(options.ca_file, error);
      if (ca == nullptr || !roots_.Add(std::move(ca), error)) return false;
    }
    const SECURITY_STATUS s = AcquireClientCredentials(*cred_.get());
    if (s != SEC_E_OK) {
      cred_.invalidate();
      error = "TLS cannot start: " + Reason(s);
      return false;
    }
    return true;
  }

  void Feed(std::string_view bytes) override { incoming_.append(bytes); }

  Status Handshake(std::string& out) override {
    const runtime::Activation activation("SCHANNELENGINE:HANDSHAKE", __LINE__);
    const DWORD flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    // No name for an address: SNI carries host names only.
    char* target = IsIpAddress(host_) ? nullptr : host_.data();
    for (;;) {
      const bool first = !ctx_.valid();
      if (!first && incoming_.empty()) return Status::kWantInput;
      SecBuffer in[2] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
      SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &token};
      DWORD attributes = 0;
      TimeStamp expiry;
      const SECURITY_STATUS s =
          InitializeSecurityContextA(cred_.get(), first ? nullptr : ctx_.get(), target, flags, 0, 0,
                                     first ? nullptr : &in_desc, 0, ctx_.get(), &out_desc, &attributes, &expiry);
      if (token.cbBuffer > 0 && token.pvBuffer != nullptr) {
        out.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
        FreeContextBuffer(token.pvBuffer);
      }
      if (s == SEC_E_INCOMPLETE_MESSAGE) return Status::kWantInput;
      if (s == SEC_I_INCOMPLETE_CREDENTIALS) continue;  // asked for a client certificate: go on without
      if (s != SEC_E_OK && s != SEC_I_CONTINUE_NEEDED) {
        error_ = Reason(s);
        return Status::kFailed;
      }
      if (!first) KeepExtra(in[1]);
      if (s == SEC_E_OK) {
        handshake_done_ = true;
        QueryContextAttributesA(ctx_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes_);
        return Status::kOk;
      }
    }
  }

  bool Encrypt(std::string_view plain, std::string& out) override {
    const runtime::Activation activation("SCHANNELENGINE:ENCRYPT", __LINE__);
    std::string record;
    while (!plain.empty()) {
      const std::size_t n = std::min<std::size_t>(plain.size(), sizes_.cbMaximumMessage);
      record.assign(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
      std::memcpy(&record[sizes_.cbHeader], plain.data(), n);
      SecBuffer b[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                        {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                        {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
                        {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
      const SECURITY_STATUS s = EncryptMessage(ctx_.get(), 0, &desc, 0);
      if (s != SEC_E_OK) {
        error_ = "TLS cannot encrypt: " + Reason(s);
        return false;
      }
      out.append(record.data(), b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
      plain.remove_prefix(n);
    }
    return true;
  }

  Status Decrypt(std::string& plain, std::string& out) override {
    const runtime::Activation activation("SCHANNELENGINE:DECRYPT", __LINE__);
    if (renegotiating_) {
      const Status status = Handshake(out);
      if (status != Status::kOk) return status;
      renegotiating_ = false;
    }
    if (incoming_.empty()) return Status::kWantInput;
    SecBuffer b[4] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    const SECURITY_STATUS s = DecryptMessage(ctx_.get(), &desc, 0, nullptr);
    if (s == SEC_E_INCOMPLETE_MESSAGE) return Status::kWantInput;
    if (s == SEC_I_CONTEXT_EXPIRED) return Status::kClosed;
    if (s != SEC_E_OK && s != SEC_I_RENEGOTIATE) {
      error_ = "TLS cannot decrypt: " + Reason(s);
      return Status::kFailed;
    }
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& x : b) {
      if (x.BufferType == SECBUFFER_DATA) plain.append(static_cast<const char*>(x.pvBuffer), x.cbBuffer);
      if (x.BufferType == SECBUFFER_EXTRA) extra = &x;
    }
    if (extra != nullptr) {
      KeepExtra(*extra);
    } else {
      incoming_.clear();
    }
    // After a TLS 1.3 handshake the server still sends handshake messages
    // (session tickets, key updates); Schannel hands them back (as extra
    // bytes) to go through the handshake call.
    if (s == SEC_I_RENEGOTIATE && !incoming_.empty()) renegotiating_ = true;
    return Status::kOk;
  }

  CertificateCheck Verify() override {
    if (!handshake_done_) return {};
    const Certificate cert = RemoteCertificate();
    if (cert == nullptr) return {CertificateVerdict::kUntrusted, "the server showed no certificate"};
    return CheckServerCertificate(cert.get(), cert->hCertStore, host_, roots_);
  }

  TlsSessionInfo Session() override {
    const runtime::Activation activation("SCHANNELENGINE:SESSION", __LINE__);
    TlsSessionInfo info;
    if (!handshake_done_) return info;
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesA(ctx_.get(), SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK) {
      info.protocol = ProtocolText(connection.dwProtocol);
    }
    // The suite's name where the system tells it (not every Schannel does).
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (QueryContextAttributesA(ctx_.get(), SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK) {
      info.cipher = runtime::TextFromWide(cipher.szCipherSuite);
    }
    const Certificate cert = RemoteCertificate();
    if (cert == nullptr) return info;
    info.subject = NameText(cert->pCertInfo->Subject);
    info.issuer = NameText(cert->pCertInfo->Issuer);
    info.names = AlternativeNames(cert.get());
    info.not_before = TimeText(cert->pCertInfo->NotBefore);
    info.not_after = TimeText(cert->pCertInfo->NotAfter);
    return info;
  }

  const std::string& error() const override { return error_; }

 private:
  // The server's certificate; none before it showed one.
  Certificate RemoteCertificate() {
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesA(ctx_.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK) return nullptr;
    return Certificate(cert);
  }

  // Keeps the bytes Schannel did not consume (the tail of incoming_).
  void KeepExtra(const SecBuffer& b) {
    if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0 && b.cbBuffer <= incoming_.size()) {
      incoming_.erase(0, incoming_.size() - b.cbBuffer);
    } else {
      incoming_.clear();
    }
  }

  std::string host_;
  TrustedRoots roots_;
  SecurityHandle<FreeCredentialsHandle> cred_;
  SecurityHandle<DeleteSecurityContext> ctx_;  // released before the credentials it was made with
  SecPkgContext_StreamSizes sizes_{};
  std::string incoming_;
  bool handshake_done_ = false;
  bool renegotiating_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<TlsEngine> NewTlsEngine(const TlsOptions& options, std::string& error) {
  const runtime::Activation activation("NEWTLSENGINE", __LINE__);
  auto engine = std::make_unique<SchannelEngine>(options);
  if (!engine->Start(options, error)) return nullptr;
  return engine;
}

CertificateCheck CheckCertificateChain(const std::string& chain_pem, const TlsOptions& options) {
  const runtime::Activation activation("CHECKCERTIFICATECHAIN", __LINE__);
  TrustedRoots roots;
  std::string error;
  if (!options.ca_file.empty()) {
    Store ca = LoadCaFile(options.ca_file, error);
    if (ca == nullptr || !roots.Add(std::move(ca), error)) return {CertificateVerdict::kUntrusted, error};
  }
  Certificate leaf;
  const Store sent = PemStore(chain_pem, &leaf);
  if (sent == nullptr || leaf == nullptr) return {CertificateVerdict::kUntrusted, "no certificate"};
  return CheckServerCertificate(leaf.get(), sent.get(), options.host, roots);
}

}  // namespace mailclient
