// Graph's answer on any bytes, split anywhere: the HTTP reader keeps the
// larger bound Graph's answers get, the error fields it quotes stay on one
// line and short, and Retry-After never asks for a wait beyond Timeout.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mailclient/graph/graph_protocol.h"
#include "mailclient/net/http.h"

namespace {

class Bytes final : public mailclient::Connection {
 public:
  Bytes(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  bool Send(std::string_view, const mailclient::Deadline&) override { return true; }
  long Receive(char* buffer, std::size_t size, const mailclient::Deadline&) override {
    const std::size_t n = std::min({size, piece_, bytes_.size() - at_});
    bytes_.copy(buffer, n, at_);
    at_ += n;
    return static_cast<long>(n);
  }
  const std::string& error() const override { return error_; }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t at_ = 0;
  std::string error_;
};

bool OneLine(const std::string& text) {
  return text.size() < 400 && std::none_of(text.begin(), text.end(), [](char c) {
           return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
         });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t bound = 256 + data[1] * 16;
  Bytes connection(std::string(reinterpret_cast<const char*>(data + 2), size - 2), data[0] % 16 + 1);
  mailclient::HttpResponse response;
  std::string why;
  bool lost = false;
  if (!mailclient::ReadHttpResponse(connection, mailclient::Deadline(1000), response, why, lost, bound)) return 0;
  if (response.body.size() > bound) std::abort();
  const mailclient::GraphError error = mailclient::ReadGraphError(response.body);
  if (!OneLine(error.code) || !OneLine(error.message)) std::abort();
  const auto advice = response.headers.find("retry-after");
  const int timeout = data[0] % 8;
  const auto wait =
      mailclient::RetryWait(response.status, advice == response.headers.end() ? "" : advice->second, timeout);
  if (wait && (*wait < 0 || *wait > timeout)) std::abort();
  return 0;
}
