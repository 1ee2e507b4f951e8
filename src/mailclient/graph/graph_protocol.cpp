#include "mailclient/graph/graph_protocol.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

constexpr std::size_t kMostQuotedField = 300;

std::string Member(const nlohmann::json& json, const char* name) {
  const auto it = json.find(name);
  return it != json.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

GraphError ReadGraphError(std::string_view body) {
  const runtime::Activation activation("READGRAPHERROR", __LINE__);
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return {};
  const auto error = json.find("error");
  if (error == json.end() || !error->is_object()) return {};
  return {runtime::Printable(Member(*error, "code"), kMostQuotedField),
          runtime::Printable(Member(*error, "message"), kMostQuotedField)};
}

std::optional<int> RetryWait(int status, std::string_view retry_after, int timeout_seconds) {
  const runtime::Activation activation("RETRYWAIT", __LINE__);
  if (status != 429 && status != 503) return std::nullopt;
  const std::string_view text = runtime::TrimBlanks(retry_after);
  // Graph gives seconds; an HTTP date, which it does not send, counts as
  // no advice.
  int wait = kGraphDefaultWait;
  if (!text.empty() && std::all_of(text.begin(), text.end(), runtime::IsAsciiDigit)) {
    if (text.size() > 6) return std::nullopt;
    wait = std::stoi(std::string(text));
  }
  if (wait > timeout_seconds) return std::nullopt;
  return wait;
}

std::vector<BytePiece> UploadPieces(std::uint64_t size) {
  const runtime::Activation activation("UPLOADPIECES", __LINE__);
  std::vector<BytePiece> pieces;
  for (std::uint64_t first = 0; first < size; first += kGraphPiece) {
    pieces.push_back({first, std::min(first + kGraphPiece, size) - 1});
  }
  return pieces;
}

std::string ContentRange(const BytePiece& piece, std::uint64_t size) {
  return "bytes " + std::to_string(piece.first) + "-" + std::to_string(piece.last) + "/" + std::to_string(size);
}

std::string PathSegment(std::string_view text) {
  const runtime::Activation activation("PATHSEGMENT", __LINE__);
  static constexpr std::string_view kKept = "-._~!$&'()*+,;=:@";
  std::string out;
  for (char c : text) {
    if (runtime::IsAsciiAlnum(c) || kKept.find(c) != std::string_view::npos) {
      out += c;
    } else {
      out += '%';
      runtime::AppendHex(out, static_cast<unsigned char>(c));
    }
  }
  return out;
}

std::string UrlWithoutQuery(std::string_view url) {
  const std::size_t query = url.find('?');
  if (query == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, query)) + "?" + runtime::kRedacted;
}

}  // namespace mailclient
