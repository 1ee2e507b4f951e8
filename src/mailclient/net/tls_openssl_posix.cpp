// The TLS engine on POSIX: OpenSSL on memory buffers. The portable front
// (tls.cpp) moves the bytes to and from the server; this file holds the
// library calls, the roots to trust and what a failed check means.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "mailclient/net/tls_engine.h"
#include "runtime/activation.h"
#include "runtime/owned.h"

namespace mailclient {

namespace {

using runtime::Owned;
using SslContext = Owned<SSL_CTX, SSL_CTX_free>;
using Ssl = Owned<SSL, SSL_free>;
using Bio = Owned<BIO, BIO_free>;
using Certificate = Owned<X509, X509_free>;
using StoreContext = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using Names = Owned<GENERAL_NAMES, GENERAL_NAMES_free>;
using Directory = Owned<DIR, ::closedir>;

void FreeCertificates(STACK_OF(X509) * list) { sk_X509_pop_free(list, X509_free); }
using Certificates = Owned<STACK_OF(X509), FreeCertificates>;

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "the handshake failed";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  // "error:0A000086:SSL routines::certificate verify failed": the words
  // after the last colon say it.
  std::string s = text;
  const std::size_t colon = s.rfind(':');
  return colon == std::string::npos ? s : s.substr(colon + 1);
}

CertificateCheck VerdictOf(long result) {
  switch (result) {
    case X509_V_OK: return {};
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return {CertificateVerdict::kNameMismatch, ""};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return {CertificateVerdict::kSelfSigned, ""};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return {CertificateVerdict::kIssuerUnknown, ""};
    case X509_V_ERR_CERT_HAS_EXPIRED: return {CertificateVerdict::kExpired, ""};
    case X509_V_ERR_CERT_NOT_YET_VALID: return {CertificateVerdict::kNotYetValid, ""};
    default: return {CertificateVerdict::kUntrusted, X509_verify_cert_error_string(result)};
  }
}

// True when `dir` holds hashed certificate names ("1a2b3c4d.0"): then
// OpenSSL looks up only the roots a chain needs, instead of parsing the
// whole bundle on every run.
bool HasHashedCertificates(const char* dir) {
  const Directory d(dir != nullptr ? ::opendir(dir) : nullptr);
  if (d == nullptr) return false;
  while (const dirent* e = ::readdir(d.get())) {
    const std::size_t n = std::strlen(e->d_name);
    if (n == 10 && e->d_name[8] == '.' && e->d_name[9] >= '0' && e->d_name[9] <= '9') return true;
  }
  return false;
}

// The system's bundle of trusted roots, read only when a chain cannot be
// completed without it: parsing the whole bundle costs more than the rest
// of a run, and the hashed directory or CAFile usually holds the root.
struct LazyRoots {
  std::string file;
  bool loaded = false;
};

bool IssuerMissing(int error) {
  return error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY || error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT;
}

// Verifies the server's chain; when its issuer is missing, once more with
// the bundle added to the store.
int VerifyWithLazyRoots(X509_STORE_CTX* check, void* arg) {
  auto* lazy = static_cast<LazyRoots*>(arg);
  int ok = X509_verify_cert(check);
  if (ok == 1 || lazy->loaded || lazy->file.empty() || !IssuerMissing(X509_STORE_CTX_get_error(check))) {
    return ok;
  }
  lazy->loaded = true;
  X509_STORE* store = X509_STORE_CTX_get0_store(check);
  if (X509_STORE_load_file(store, lazy->file.c_str()) != 1) {
    ERR_clear_error();
    return ok;
  }
  const StoreContext again(X509_STORE_CTX_new());
  if (again == nullptr) return ok;
  if (X509_STORE_CTX_init(again.get(), store, X509_STORE_CTX_get0_cert(check), X509_STORE_CTX_get0_untrusted(check)) ==
          1 &&
      X509_VERIFY_PARAM_set1(X509_STORE_CTX_get0_param(again.get()), X509_STORE_CTX_get0_param(check)) == 1) {
    ok = X509_verify_cert(again.get());
    X509_STORE_CTX_set_error(check, X509_STORE_CTX_get_error(again.get()));
  }
  return ok;
}

// The system's trusted roots: the hashed directory is searched as chains
// need it; the bundle file (SSL_CERT_FILE or OpenSSL's default) is left
// for VerifyWithLazyRoots.
std::string TrustSystemRoots(SSL_CTX* ctx) {
  const char* dir = std::getenv(X509_get_default_cert_dir_env());
  if (dir == nullptr) dir = X509_get_default_cert_dir();
  if (HasHashedCertificates(dir)) SSL_CTX_load_verify_dir(ctx, dir);
  const char* file = std::getenv(X509_get_default_cert_file_env());
  if (file == nullptr) file = X509_get_default_cert_file();
  ERR_clear_error();
  return file != nullptr && ::access(file, R_OK) == 0 ? file : "";
}

// The name the certificate must carry: a DNS name (a wildcard only as a
// whole leftmost label) or an IP address.
void ExpectName(X509_VERIFY_PARAM* param, const std::string& host) {
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (IsIpAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  } else {
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
  }
}

// A client context: TLS 1.2 or later, and with checks on the roots to
// trust (the system's, whose bundle file goes to `bundle` for
// VerifyWithLazyRoots, and CAFile's). Null on failure, with a sentence in
// `error`.
SslContext NewContext(const TlsOptions& options, std::string& bundle, std::string& error) {
  SslContext ctx(SSL_CTX_new(TLS_client_method()));
  if (ctx == nullptr) {
    error = "TLS cannot start: " + OpenSslReason();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  if (!options.verify) {
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    return ctx;
  }
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  bundle = TrustSystemRoots(ctx.get());
  if (!options.ca_file.empty() && SSL_CTX_load_verify_locations(ctx.get(), options.ca_file.c_str(), nullptr) != 1) {
    error = "cannot read the CA file " + options.ca_file + " (CAFile in postrine.ini): " + OpenSslReason();
    return nullptr;
  }
  return ctx;
}

// A certificate name as RFC 2253 writes it ("CN=mail.example.com,O=...").
std::string NameText(const X509_NAME* name) {
  const Bio out(BIO_new(BIO_s_mem()));
  if (out == nullptr) return "";
  std::string text;
  if (X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253) >= 0) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    if (n > 0) text.assign(data, static_cast<std::size_t>(n));
  }
  return text;
}

std::string TimeText(const ASN1_TIME* time) {
  std::tm tm{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return "";
  char text[32];
  return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) > 0 ? text : "";
}

// The subject alternative names a client matches: DNS names and addresses.
std::vector<std::string> AlternativeNames(X509* cert) {
  std::vector<std::string> names;
  const Names list(static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; list != nullptr && i < sk_GENERAL_NAME_num(list.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(list.get(), i);
    int type = 0;
    const auto* value = static_cast<const ASN1_STRING*>(GENERAL_NAME_get0_value(name, &type));
    const auto* bytes = ASN1_STRING_get0_data(value);
    const int size = ASN1_STRING_length(value);
    if (type == GEN_DNS) {
      names.push_back("DNS:" + std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size)));
    } else if (type == GEN_IPADD && (size == 4 || size == 16)) {
      char text[INET6_ADDRSTRLEN] = {};
      if (inet_ntop(size == 4 ? AF_INET : AF_INET6, bytes, text, sizeof text) != nullptr) {
        names.push_back(std::string("IP:") + text);
      }
    }
  }
  return names;
}

class OpenSslEngine final : public TlsEngine {
 public:
  OpenSslEngine(SslContext ctx, Ssl ssl, const std::string& bundle) : ctx_(std::move(ctx)), owned_(std::move(ssl)) {
    lazy_roots_.file = bundle;
  }

  // Sets the connection up as a client of `options.host`; false when the
  // library could not (no memory), with the reason in error().
  bool Start(const TlsOptions& options) {
    Bio in(BIO_new(BIO_s_mem()));
    Bio out(BIO_new(BIO_s_mem()));
    if (in == nullptr || out == nullptr) {
      error_ = "TLS cannot start: " + OpenSslReason();
      return false;
    }
    // The connection owns its buffers from here on.
    SSL_set_bio(ssl_, in.release(), out.release());
    SSL_set_connect_state(ssl_);
    if (!IsIpAddress(options.host)) SSL_set_tlsext_host_name(ssl_, options.host.c_str());
    if (!options.verify) return true;
    SSL_CTX_set_cert_verify_callback(ctx_.get(), VerifyWithLazyRoots, &lazy_roots_);
    ExpectName(SSL_get0_param(ssl_), options.host);
    return true;
  }

  void Feed(std::string_view bytes) override {
    BIO_write(SSL_get_rbio(ssl_), bytes.data(), static_cast<int>(bytes.size()));
  }

  Status Handshake(std::string& out) override {
    const runtime::Activation activation("OPENSSLENGINE:HANDSHAKE", __LINE__);
    ERR_clear_error();
    return Outcome(SSL_do_handshake(ssl_), out);
  }

  bool Encrypt(std::string_view plain, std::string& out) override {
    const runtime::Activation activation("OPENSSLENGINE:ENCRYPT", __LINE__);
    while (!plain.empty()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(plain.size(), 16384));
      ERR_clear_error();
      const int n = SSL_write(ssl_, plain.data(), chunk);
      if (Outcome(n, out) != Status::kOk) return false;
      plain.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  Status Decrypt(std::string& plain, std::string& out) override {
    const runtime::Activation activation("OPENSSLENGINE:DECRYPT", __LINE__);
    char buf[16384];
    for (;;) {
      ERR_clear_error();
      const Status status = Outcome(SSL_read(ssl_, buf, sizeof buf), out, buf, &plain);
      if (status != Status::kOk) return plain.empty() ? status : Status::kOk;
    }
  }

  CertificateCheck Verify() override { return VerdictOf(SSL_get_verify_result(ssl_)); }

  TlsSessionInfo Session() override {
    const runtime::Activation activation("OPENSSLENGINE:SESSION", __LINE__);
    TlsSessionInfo info;
    if (SSL_is_init_finished(ssl_)) {
      info.protocol = SSL_get_version(ssl_);
      const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_);
      if (cipher != nullptr) info.cipher = SSL_CIPHER_get_name(cipher);
    }
    // The chain as the server sent it, its own certificate first: kept
    // also when the check refused it and the handshake stopped.
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl_);
    X509* cert = chain != nullptr && sk_X509_num(chain) > 0 ? sk_X509_value(chain, 0) : nullptr;
    if (cert == nullptr) return info;
    info.subject = NameText(X509_get_subject_name(cert));
    info.issuer = NameText(X509_get_issuer_name(cert));
    info.names = AlternativeNames(cert);
    info.not_before = TimeText(X509_get0_notBefore(cert));
    info.not_after = TimeText(X509_get0_notAfter(cert));
    return info;
  }

  const std::string& error() const override { return error_; }

 private:
  // What the call that returned `rc` came to; the bytes it read (into
  // `buf`) go to `plain`, what it wrote for the server to `out`.
  Status Outcome(int rc, std::string& out, const char* buf = nullptr, std::string* plain = nullptr) {
    const int why = rc > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, rc);
    BIO* written = SSL_get_wbio(ssl_);
    char chunk[16384];
    int n;
    while ((n = BIO_read(written, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<std::size_t>(n));
    switch (why) {
      case SSL_ERROR_NONE:
        if (plain != nullptr) plain->append(buf, static_cast<std::size_t>(rc));
        return Status::kOk;
      case SSL_ERROR_WANT_READ: return Status::kWantInput;
      case SSL_ERROR_ZERO_RETURN: return Status::kClosed;
      default: error_ = OpenSslReason(); return Status::kFailed;
    }
  }

  SslContext ctx_;
  Ssl owned_;
  SSL* const ssl_ = owned_.get();
  LazyRoots lazy_roots_;
  std::string error_;
};

}  // namespace

std::unique_ptr<TlsEngine> NewTlsEngine(const TlsOptions& options, std::string& error) {
  const runtime::Activation activation("NEWTLSENGINE", __LINE__);
  std::string bundle;
  SslContext ctx = NewContext(options, bundle, error);
  if (ctx == nullptr) return nullptr;
  Ssl ssl(SSL_new(ctx.get()));
  if (ssl == nullptr) {
    error = "TLS cannot start: " + OpenSslReason();
    return nullptr;
  }
  auto engine = std::make_unique<OpenSslEngine>(std::move(ctx), std::move(ssl), bundle);
  if (!engine->Start(options)) {
    error = engine->error();
    return nullptr;
  }
  return engine;
}

CertificateCheck CheckCertificateChain(const std::string& chain_pem, const TlsOptions& options) {
  const runtime::Activation activation("CHECKCERTIFICATECHAIN", __LINE__);
  std::string error;
  LazyRoots lazy;
  const SslContext ctx = NewContext(options, lazy.file, error);
  if (ctx == nullptr) return {CertificateVerdict::kUntrusted, error};
  const Bio in(BIO_new_mem_buf(chain_pem.data(), static_cast<int>(chain_pem.size())));
  const Certificate leaf(in != nullptr ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
  const Certificates sent(sk_X509_new_null());
  while (leaf != nullptr && sent != nullptr) {
    Certificate more(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    if (more == nullptr || sk_X509_push(sent.get(), more.get()) <= 0) break;
    more.release();  // the list has it
  }
  ERR_clear_error();
  const StoreContext store(X509_STORE_CTX_new());
  if (leaf == nullptr || sent == nullptr || store == nullptr ||
      X509_STORE_CTX_init(store.get(), SSL_CTX_get_cert_store(ctx.get()), leaf.get(), sent.get()) != 1) {
    return {CertificateVerdict::kUntrusted, "no certificate"};
  }
  // As a handshake checks: the chain for a TLS server, the name as configured.
  X509_STORE_CTX_set_default(store.get(), "ssl_server");
  ExpectName(X509_STORE_CTX_get0_param(store.get()), options.host);
  VerifyWithLazyRoots(store.get(), &lazy);
  return VerdictOf(X509_STORE_CTX_get_error(store.get()));
}

}  // namespace mailclient
