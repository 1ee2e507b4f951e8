// TLS through OpenSSL. The TLS engine works on memory buffers and this file
// moves the bytes between them and the plain stream, so every wait keeps
// the stream's time-out.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "mailclient/tls.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {

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

bool IsIpAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string VerifyFailure(long result, const std::string& host) {
  switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "the certificate of the server is not issued for " + host + " (host name mismatch)";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "certificate for " + host + " is not trusted (self-signed); add its CA with CAFile=... in postrine.ini";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
      return "certificate for " + host + " is not trusted (issuer unknown); add its CA with CAFile=... in postrine.ini";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "certificate for " + host + " has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificate for " + host + " is not valid yet";
    default:
      return "certificate for " + host + " is not trusted (" +
             X509_verify_cert_error_string(result) + "); add its CA with CAFile=... in postrine.ini";
  }
}

// True when `dir` holds hashed certificate names ("1a2b3c4d.0"): then
// OpenSSL looks up only the roots a chain needs, instead of parsing the
// whole bundle on every run.
bool HasHashedCertificates(const char* dir) {
  DIR* d = dir != nullptr ? ::opendir(dir) : nullptr;
  if (d == nullptr) return false;
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    const std::size_t n = std::strlen(e->d_name);
    if (n == 10 && e->d_name[8] == '.' && e->d_name[9] >= '0' && e->d_name[9] <= '9') {
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
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
  X509_STORE_CTX* again = X509_STORE_CTX_new();
  if (again == nullptr) return ok;
  if (X509_STORE_CTX_init(again, store, X509_STORE_CTX_get0_cert(check), X509_STORE_CTX_get0_untrusted(check)) == 1 &&
      X509_VERIFY_PARAM_set1(X509_STORE_CTX_get0_param(again), X509_STORE_CTX_get0_param(check)) == 1) {
    ok = X509_verify_cert(again);
    X509_STORE_CTX_set_error(check, X509_STORE_CTX_get_error(again));
  }
  X509_STORE_CTX_free(again);
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

class OpenSslConnection final : public Connection {
 public:
  OpenSslConnection(std::unique_ptr<Connection> plain, SSL_CTX* ctx, SSL* ssl)
      : plain_(std::move(plain)), ctx_(ctx), ssl_(ssl) {}
  ~OpenSslConnection() override {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
  }

  // Runs `op` until it completes, moving bytes to and from the stream as
  // the engine asks. Returns op's result, or -1 with error_ set.
  template <typename Op>
  int Drive(Op op, int timeout_ms) {
    for (;;) {
      ERR_clear_error();
      const int rc = op();
      const int why = rc > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, rc);
      if (!Flush(timeout_ms)) return -1;
      if (why == SSL_ERROR_NONE) return rc;
      if (why == SSL_ERROR_WANT_READ) {
        char buf[16384];
        const long n = plain_->Receive(buf, sizeof buf, timeout_ms);
        if (n <= 0) {
          error_ = n == 0 ? "the server closed the connection" : plain_->error();
          return -1;
        }
        BIO_write(SSL_get_rbio(ssl_), buf, static_cast<int>(n));
        continue;
      }
      if (why == SSL_ERROR_ZERO_RETURN) return 0;
      error_ = OpenSslReason();
      return -1;
    }
  }

  bool Send(std::string_view bytes, int timeout_ms) override {
    const runtime::Activation activation("OPENSSLCONNECTION:SEND", __LINE__);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 16384));
      const int n = Drive([&] { return SSL_write(ssl_, bytes.data() + done, chunk); }, timeout_ms);
      if (n <= 0) {
        if (n == 0) error_ = "the server closed the connection";
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  long Receive(char* buffer, std::size_t size, int timeout_ms) override {
    const runtime::Activation activation("OPENSSLCONNECTION:RECEIVE", __LINE__);
    const int want = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
    return Drive([&] { return SSL_read(ssl_, buffer, want); }, timeout_ms);
  }

  const std::string& error() const override { return error_; }

  SSL* ssl() { return ssl_; }
  LazyRoots& lazy_roots() { return lazy_roots_; }
  void SetError(std::string e) { error_ = std::move(e); }

 private:
  // Sends what the engine has written.
  bool Flush(int timeout_ms) {
    BIO* out = SSL_get_wbio(ssl_);
    char buf[16384];
    int n;
    while ((n = BIO_read(out, buf, sizeof buf)) > 0) {
      if (!plain_->Send(std::string_view(buf, static_cast<std::size_t>(n)), timeout_ms)) {
        error_ = plain_->error();
        return false;
      }
    }
    return true;
  }

  std::unique_ptr<Connection> plain_;
  SSL_CTX* ctx_;
  SSL* ssl_;
  std::string error_;
  LazyRoots lazy_roots_;
};

}  // namespace

std::unique_ptr<Connection> StartTls(std::unique_ptr<Connection> plain, const TlsOptions& options,
                                     std::string& error) {
  const runtime::Activation activation("STARTTLS", __LINE__);
  const std::string note = options.verify ? "" : kVerifyOffNote;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) {
    error = "TLS cannot start: " + OpenSslReason();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  std::string bundle;
  if (options.verify) {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    bundle = TrustSystemRoots(ctx);
    if (!options.ca_file.empty() &&
        SSL_CTX_load_verify_locations(ctx, options.ca_file.c_str(), nullptr) != 1) {
      error = "cannot read the CA file " + options.ca_file + " (CAFile in postrine.ini): " + OpenSslReason();
      SSL_CTX_free(ctx);
      return nullptr;
    }
  } else {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  }
  SSL* ssl = SSL_new(ctx);
  SSL_set_bio(ssl, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
  SSL_set_connect_state(ssl);
  auto tls = std::make_unique<OpenSslConnection>(std::move(plain), ctx, ssl);
  tls->lazy_roots().file = bundle;
  if (options.verify) SSL_CTX_set_cert_verify_callback(ctx, VerifyWithLazyRoots, &tls->lazy_roots());
  const bool ip = IsIpAddress(options.host);
  if (!ip) SSL_set_tlsext_host_name(ssl, options.host.c_str());
  if (options.verify) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (ip) {
      X509_VERIFY_PARAM_set1_ip_asc(param, options.host.c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(param, options.host.c_str(), 0);
    }
  }
  if (tls->Drive([&] { return SSL_do_handshake(ssl); }, options.timeout_ms) != 1) {
    const long result = SSL_get_verify_result(ssl);
    if (options.verify && result != X509_V_OK) {
      error = VerifyFailure(result, options.host);
    } else {
      error = "TLS handshake with " + options.host + " failed: " + tls->error() + note;
    }
    return nullptr;
  }
  return tls;
}

}  // namespace mailclient
