#include "mailclient/net/http.h"

#include <cstdint>

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

constexpr std::size_t kMaxChunkLine = 1024;

bool IsUnreserved(char c) {
  return runtime::IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// A decimal number of at most 18 digits; false for anything else.
bool Decimal(std::string_view s, std::uint64_t& n) {
  if (s.empty() || s.size() > 18) return false;
  n = 0;
  for (char c : s) {
    if (!runtime::IsAsciiDigit(c)) return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// The answer's bytes as they come, read ahead in pieces; every wait ends
// at the one deadline.
class Reader {
 public:
  Reader(Connection& connection, const Deadline& deadline) : connection_(connection), deadline_(deadline) {}

  // One line without its CR LF (a bare LF is taken too), at most `most`
  // bytes. False when the line is longer or the connection ended first.
  bool Line(std::string& line, std::size_t most) {
    for (;;) {
      const std::size_t lf = buffer_.find('\n', pos_);
      if (lf != std::string::npos) {
        std::size_t end = lf;
        if (end > pos_ && buffer_[end - 1] == '\r') --end;
        if (end - pos_ > most) return TooLong();
        line.assign(buffer_, pos_, end - pos_);
        pos_ = lf + 1;
        return true;
      }
      if (buffer_.size() - pos_ > most + 1) return TooLong();  // + 1: a CR whose LF is to come
      if (!Fill()) return false;
    }
  }

  // Exactly `n` more bytes appended to `out`.
  bool Bytes(std::uint64_t n, std::string& out) {
    while (n > 0) {
      if (pos_ == buffer_.size() && !Fill()) return false;
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, buffer_.size() - pos_));
      out.append(buffer_, pos_, take);
      pos_ += take;
      n -= take;
    }
    return true;
  }

  // Everything up to the close of the connection, at most `most` bytes.
  bool Rest(std::string& out, std::size_t most) {
    for (;;) {
      out.append(buffer_, pos_, std::string::npos);
      pos_ = buffer_.size();
      if (out.size() > most) return TooLong();
      if (!Fill()) return closed_;
    }
  }

  const std::string& why() const { return why_; }
  bool lost() const { return lost_; }

 private:
  bool Fill() {
    if (pos_ == buffer_.size()) {
      buffer_.clear();
      pos_ = 0;
    }
    char piece[4096];
    const long n = connection_.Receive(piece, sizeof piece, deadline_);
    if (n > 0) {
      buffer_.append(piece, static_cast<std::size_t>(n));
      return true;
    }
    closed_ = n == 0;
    lost_ = true;
    why_ = n == 0 ? "the server closed the connection before the answer was complete" : connection_.error();
    return false;
  }

  bool TooLong() {
    why_ = "the answer is larger than postrine takes";
    return false;
  }

  Connection& connection_;
  const Deadline& deadline_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool closed_ = false;
  bool lost_ = false;
  std::string why_;
};

bool ReadChunked(Reader& reader, std::string& body, std::string& why, std::size_t max_body) {
  for (;;) {
    std::string line;
    if (!reader.Line(line, kMaxChunkLine)) return false;
    // The size in hexadecimal, perhaps followed by extensions after ";".
    const std::string size_text = std::string(runtime::TrimBlanks(line.substr(0, line.find(';'))));
    if (size_text.empty() || size_text.size() > 8) {
      why = "a malformed chunk size \"" + runtime::Printable(line, runtime::kMostQuoted) + "\"";
      return false;
    }
    std::uint64_t size = 0;
    for (char c : size_text) {
      const char l = runtime::AsciiLower(c);
      const int digit = runtime::IsAsciiDigit(l) ? l - '0' : (l >= 'a' && l <= 'f') ? l - 'a' + 10 : -1;
      if (digit < 0) {
        why = "a malformed chunk size \"" + runtime::Printable(line, runtime::kMostQuoted) + "\"";
        return false;
      }
      size = size * 16 + static_cast<std::uint64_t>(digit);
    }
    if (size == 0) {
      // The trailer: header lines up to an empty one, all passed over.
      std::size_t taken = 0;
      do {
        if (!reader.Line(line, kMaxHttpHeader)) return false;
        taken += line.size();
        if (taken > kMaxHttpHeader) {
          why = "the answer's trailer is larger than postrine takes";
          return false;
        }
      } while (!line.empty());
      return true;
    }
    if (body.size() + size > max_body) {
      why = "the answer is larger than postrine takes";
      return false;
    }
    if (!reader.Bytes(size, body) || !reader.Line(line, 0)) return false;
  }
}

}  // namespace

std::string ParseHttpsUrl(std::string_view text, HttpsUrl& url) {
  const runtime::Activation activation("PARSEHTTPSURL", __LINE__);
  url = HttpsUrl{};
  constexpr std::string_view kScheme = "https://";
  if (text.size() < kScheme.size() || runtime::AsciiLower(text.substr(0, kScheme.size())) != kScheme) {
    return "it does not start with https://";
  }
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7f) {
      return "it holds a blank, a control byte or a byte beyond ASCII";
    }
  }
  std::string_view rest = text.substr(kScheme.size());
  const std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
  std::string_view authority = rest.substr(0, end);
  std::string_view target = rest.substr(end);
  target = target.substr(0, std::min(target.find('#'), target.size()));
  if (authority.find('@') != std::string_view::npos) {
    return "it holds a user name or password before the host";
  }
  std::string_view port_text;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      return "its IPv6 address lacks the closing \"]\"";
    }
    url.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') {
      return "text follows the IPv6 address";
    }
    if (!after.empty()) port_text = after.substr(1);
    if (!after.empty() && port_text.empty()) port_text = "x";
  } else {
    const std::size_t colon = authority.find(':');
    url.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) port_text = authority.substr(colon + 1);
    if (colon != std::string_view::npos && port_text.empty()) port_text = "x";
  }
  if (url.host.empty()) {
    return "it names no host";
  }
  if (!port_text.empty()) {
    std::uint64_t port = 0;
    if (!Decimal(port_text, port) || port < 1 || port > 65535) {
      return "its port is not a number from 1 to 65535";
    }
    url.port = static_cast<int>(port);
  }
  url.target = target.empty() || target.front() != '/' ? "/" + std::string(target) : std::string(target);
  return "";
}

std::string UrlForDisplay(std::string_view url) {
  const runtime::Activation activation("URLFORDISPLAY", __LINE__);
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = url.substr(0, end).rfind('@');
  if (at == std::string_view::npos || at < start) return std::string(url);
  return std::string(url.substr(0, start)) + runtime::kRedacted + std::string(url.substr(at));
}

std::string FormEncoded(std::string_view text) {
  const runtime::Activation activation("FORMENCODED", __LINE__);
  std::string out;
  for (char c : text) {
    if (IsUnreserved(c)) {
      out += c;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      runtime::AppendHex(out, static_cast<unsigned char>(c));
    }
  }
  return out;
}

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
  const runtime::Activation activation("FORMENCODE", __LINE__);
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    out += FormEncoded(name) + '=' + FormEncoded(value);
  }
  return out;
}

std::string HttpPostRequest(const HttpsUrl& url, std::string_view body) {
  const runtime::Activation activation("HTTPPOSTREQUEST", __LINE__);
  return HttpRequestHead("POST", url, {"Content-Type: application/x-www-form-urlencoded", "Accept: application/json"},
                         body.size()) +
         std::string(body);
}

std::string HttpRequestHead(std::string_view method, const HttpsUrl& url, const std::vector<std::string>& fields,
                            std::uint64_t content_length) {
  const runtime::Activation activation("HTTPREQUESTHEAD", __LINE__);
  const bool v6 = url.host.find(':') != std::string::npos;
  std::string host = v6 ? "[" + url.host + "]" : url.host;
  if (url.port != 443) host += ":" + std::to_string(url.port);
  std::string request = std::string(method) + " " + url.target + " HTTP/1.1\r\n";
  request += "Host: " + host + "\r\n";
  for (const std::string& field : fields) request += field + "\r\n";
  request += "Content-Length: " + std::to_string(content_length) + "\r\n";
  request += "Connection: close\r\n\r\n";
  return request;
}

bool ReadHttpResponse(Connection& connection, const Deadline& deadline, HttpResponse& response,
                      std::string& why, bool& lost, std::size_t max_body) {
  const runtime::Activation activation("READHTTPRESPONSE", __LINE__);
  response = HttpResponse{};
  lost = false;
  Reader reader(connection, deadline);
  auto failed = [&](std::string text) {
    lost = reader.lost();
    why = text.empty() ? reader.why() : std::move(text);
    return false;
  };
  std::string line;
  // An interim answer (100 Continue) comes before the real one.
  do {
    if (!reader.Line(line, kMaxHttpHeader)) return failed("");
    if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 || line[8] != ' ' ||
        !runtime::IsAsciiDigit(line[9]) || !runtime::IsAsciiDigit(line[10]) ||
        !runtime::IsAsciiDigit(line[11]) || (line.size() > 12 && line[12] != ' ')) {
      return failed("the answer is not HTTP: \"" + runtime::Printable(line, runtime::kMostQuoted) + "\"");
    }
    response.status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    response.reason = line.size() > 13 ? line.substr(13) : "";
    std::size_t header_size = 0;
    response.headers.clear();
    for (;;) {
      if (!reader.Line(line, kMaxHttpHeader)) return failed("");
      if (line.empty()) break;
      header_size += line.size() + 2;
      if (header_size > kMaxHttpHeader) return failed("the answer's header is larger than postrine takes");
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos || colon == 0) {
        return failed("a malformed header line \"" + runtime::Printable(line, runtime::kMostQuoted) + "\"");
      }
      response.headers[runtime::AsciiLower(line.substr(0, colon))] = std::string(runtime::TrimBlanks(line.substr(colon + 1)));
    }
  } while (response.status >= 100 && response.status < 200);

  const auto encoding = response.headers.find("transfer-encoding");
  const auto length = response.headers.find("content-length");
  bool ok = true;
  std::string problem;
  if (encoding != response.headers.end() && runtime::AsciiLower(encoding->second) != "identity") {
    if (runtime::AsciiLower(encoding->second) != "chunked") {
      return failed("an answer in the transfer coding \"" + runtime::Printable(encoding->second, runtime::kMostQuoted) + "\"");
    }
    ok = ReadChunked(reader, response.body, problem, max_body);
  } else if (length != response.headers.end()) {
    std::uint64_t n = 0;
    if (!Decimal(length->second, n)) {
      return failed("a malformed Content-Length \"" + runtime::Printable(length->second, runtime::kMostQuoted) + "\"");
    }
    if (n > max_body) return failed("the answer is larger than postrine takes");
    ok = reader.Bytes(n, response.body);
  } else if (response.status != 204 && response.status != 304) {
    ok = reader.Rest(response.body, max_body);
  }
  return ok || failed(problem);
}

std::unique_ptr<Connection> ConnectHttps(const Transport& transport, const HttpsUrl& url, bool verify,
                                         const std::string& ca_file, int timeout_ms, std::string& why,
                                         bool& temporary) {
  const runtime::Activation activation("CONNECTHTTPS", __LINE__);
  temporary = true;
  std::unique_ptr<Connection> plain = transport.connect(url.host, url.port, timeout_ms, why, {});
  if (!plain) return nullptr;
  bool line_failed = false;
  std::unique_ptr<Connection> tls = transport.start_tls(std::make_unique<LineWatch>(std::move(plain), line_failed),
                                                        {url.host, verify, ca_file, timeout_ms}, why);
  temporary = line_failed;
  return tls;
}

}  // namespace mailclient
