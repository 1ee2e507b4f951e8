#include "mailclient/graph/graph.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "mailclient/graph/graph_protocol.h"
#include "mailclient/mime/address.h"
#include "mailclient/mime/encoding.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/process.h"

namespace mailclient {

namespace {

// A created draft comes back with its body: larger than a token answer,
// yet bounded by what the draft itself may hold.
constexpr std::size_t kMostGraphAnswer = 2 * kGraphLargestRequest;
constexpr std::size_t kSlice = 64 * 1024;

// Sends the base64 of what it is fed, without line breaks, each send under
// a deadline of its own: a large message takes longer than one Timeout,
// but no single wait may.
class Base64Stream {
 public:
  Base64Stream(Connection& connection, int timeout_ms) : connection_(connection), timeout_ms_(timeout_ms) {}

  bool Feed(std::string_view bytes) {
    held_.append(bytes);
    const std::size_t whole = held_.size() / 3 * 3;
    const bool sent = Put(Base64(std::string_view(held_).substr(0, whole)));
    held_.erase(0, whole);
    return sent;
  }
  bool Finish() { return Put(Base64(held_)); }

 private:
  bool Put(const std::string& text) { return text.empty() || connection_.Send(text, Deadline(timeout_ms_)); }

  Connection& connection_;
  int timeout_ms_;
  std::string held_;
};

// The reason a body could not be sent: the file, when it was the file,
// else the line.
bool BodyFailed(const CEmail& email, Connection& connection, std::string& why) {
  why = email.ReadError().empty() ? connection.error() : email.ReadError();
  return false;
}

std::string Member(const std::string& body, const char* name) {
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return {};
  const auto it = json.find(name);
  return it != json.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string Megabytes(std::uint64_t bytes) { return std::to_string(bytes / (1024 * 1024)) + " MB"; }

}  // namespace

std::optional<std::string> GraphAttachmentRefusal(const CEmail& email) {
  const runtime::Activation activation("GRAPHATTACHMENTREFUSAL", __LINE__);
  for (const CEmail::AttachmentFacts& facts : email.AttachmentList()) {
    if (facts.size > kGraphLargestAttachment) {
      return "the attachment " + facts.name + " is larger than the " + Megabytes(kGraphLargestAttachment) +
             " that Microsoft Graph takes for one attachment";
    }
  }
  return std::nullopt;
}

GraphSender::GraphSender(const CEmail& email, GraphSettings settings, TokenSource& tokens, Transport transport)
    : email_(email), settings_(std::move(settings)), tokens_(tokens), transport_(std::move(transport)) {
  while (!settings_.base_url.empty() && settings_.base_url.back() == '/') settings_.base_url.pop_back();
}

void GraphSender::Event(const std::string& line) const {
  if (events_) events_("Graph: " + line);
}

std::optional<Failure> GraphSender::Send(std::time_t now) {
  const runtime::Activation activation("GRAPHSENDER:SEND", __LINE__);
  Address sender;
  if (const std::string why = ParseAddress(settings_.sender, false, sender); !why.empty()) {
    return Failure{Outcome::kBadAddress, "the sender \"" + runtime::Printable(settings_.sender, runtime::kMostQuoted) +
                                             "\" names no mailbox for Graph (" + why + ")"};
  }
  const std::string mailbox = sender.Mailbox(false);
  // 7-bit clean, as Graph's MIME form asks; the Bcc line is Graph's to
  // read and to remove.
  const BodyPlan plan = email_.Plan(false);
  const std::string header = email_.Header(plan, now, false, true);
  const std::uint64_t size = email_.DataSize(plan, header);
  if (size == 0) return Failure{Outcome::kTemporary, email_.ReadError()};
  if (Base64Length(size) > kGraphLargestRequest) return SendLarge(now, plan, mailbox);
  Request request = MimeRequest(email_, plan, header, size);
  request.method = "POST";
  request.url = settings_.base_url + "/users/" + PathSegment(mailbox) + "/sendMail";
  request.what = "the message";
  request.accepted = {202};
  HttpResponse response;
  return Call(request, response);
}

GraphSender::Request GraphSender::MimeRequest(const CEmail& message, const BodyPlan& plan, const std::string& header,
                                              std::uint64_t size) {
  Request request;
  request.fields = {"Content-Type: text/plain"};
  request.length = Base64Length(size);
  const int timeout_ms = settings_.timeout_ms;
  request.body = [&message, plan, header, timeout_ms](Connection& connection, std::string& why) {
    Base64Stream stream(connection, timeout_ms);
    if (!message.WriteMessage(plan, header, [&](std::string_view chunk) { return stream.Feed(chunk); }) ||
        !stream.Finish()) {
      return BodyFailed(message, connection, why);
    }
    return true;
  };
  return request;
}

// Graph's way for large mail: a draft holding what fits in one request,
// each large attachment added apart, then the draft sent. A draft left by
// a step that failed is deleted, so that no half message waits in Drafts.
std::optional<Failure> GraphSender::SendLarge(std::time_t now, const BodyPlan& plan, const std::string& mailbox) {
  const runtime::Activation activation("GRAPHSENDER:SENDLARGE", __LINE__);
  const std::vector<CEmail::AttachmentFacts> facts = email_.AttachmentList();
  std::vector<bool> apart(facts.size());
  for (std::size_t i = 0; i < facts.size(); ++i) apart[i] = facts[i].size >= kGraphUploadFrom;
  // Smaller attachments stay in the draft while it fits in one request;
  // the largest of them go apart first.
  for (;;) {
    const CEmail draft = email_.Without(apart);
    const std::string header = draft.Header(plan, now, false, true);
    const std::uint64_t size = draft.DataSize(plan, header);
    if (size == 0) return Failure{Outcome::kTemporary, draft.ReadError()};
    if (Base64Length(size) <= kGraphLargestRequest) break;
    std::optional<std::size_t> largest;
    for (std::size_t i = 0; i < facts.size(); ++i) {
      if (!apart[i] && (!largest || facts[i].size > facts[*largest].size)) largest = i;
    }
    if (!largest) {
      return Failure{Outcome::kPermanent, "the message without its attachments is larger than the " +
                                              Megabytes(kGraphLargestRequest) +
                                              " that Microsoft Graph takes in one request"};
    }
    apart[*largest] = true;
  }
  const CEmail draft = email_.Without(apart);
  const std::string header = draft.Header(plan, now, false, true);
  Request create = MimeRequest(draft, plan, header, draft.DataSize(plan, header));
  create.method = "POST";
  const std::string messages = settings_.base_url + "/users/" + PathSegment(mailbox) + "/messages";
  create.url = messages;
  create.what = "the draft";
  create.accepted = {201};
  HttpResponse response;
  if (auto failure = Call(create, response)) return failure;
  const std::string id = Member(response.body, "id");
  if (id.empty()) return Failure{Outcome::kPermanent, "Graph created the draft but gave no id for it"};
  const std::string message_url = messages + "/" + PathSegment(id);
  std::optional<Failure> failure;
  for (std::size_t i = 0; i < facts.size() && !failure; ++i) {
    if (!apart[i]) continue;
    failure = facts[i].size >= kGraphUploadFrom ? Upload(message_url, i, facts[i])
                                                : AddSmallAttachment(message_url, i, facts[i]);
  }
  if (!failure) {
    Request send{"POST", message_url + "/send", "the sending of the draft"};
    send.accepted = {202};
    failure = Call(send, response);
  }
  if (failure) {
    Request drop{"DELETE", message_url, "the deletion of the draft"};
    drop.accepted = {204};
    HttpResponse ignored;
    Call(drop, ignored);
  }
  return failure;
}

std::optional<Failure> GraphSender::Upload(const std::string& message_url, std::size_t index,
                                           const CEmail::AttachmentFacts& facts) {
  const runtime::Activation activation("GRAPHSENDER:UPLOAD", __LINE__);
  const nlohmann::json item = {{"AttachmentItem",
                                {{"attachmentType", "file"},
                                 {"name", facts.name},
                                 {"size", facts.size},
                                 {"contentType", facts.type},
                                 {"isInline", false}}}};
  const std::string json = item.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  Request session{"POST", message_url + "/attachments/createUploadSession", "the upload session for " + facts.name};
  session.fields = {"Content-Type: application/json"};
  session.length = json.size();
  session.body = [&json, this](Connection& connection, std::string& why) {
    if (connection.Send(json, Deadline(settings_.timeout_ms))) return true;
    why = connection.error();
    return false;
  };
  session.accepted = {201};
  HttpResponse response;
  if (auto failure = Call(session, response)) return failure;
  const std::string upload_url = Member(response.body, "uploadUrl");
  if (upload_url.empty()) {
    return Failure{Outcome::kPermanent, "Graph opened the upload session for " + facts.name + " but gave no uploadUrl"};
  }
  // One piece in memory at a time, sent as soon as it is whole.
  const std::vector<BytePiece> pieces = UploadPieces(facts.size);
  std::size_t next = 0;
  std::string piece;
  piece.reserve(static_cast<std::size_t>(std::min(kGraphPiece, facts.size)));
  std::optional<Failure> failure;
  auto put = [&]() {
    const BytePiece& range = pieces[next];
    const bool last = next + 1 == pieces.size();
    Request request{"PUT", upload_url, "the upload of " + facts.name + " (" + ContentRange(range, facts.size) + ")"};
    request.fields = {"Content-Type: application/octet-stream", "Content-Range: " + ContentRange(range, facts.size)};
    request.length = piece.size();
    request.body = [&piece, this](Connection& connection, std::string& why) {
      // In slices, so that the TLS layer never holds a second copy of it.
      for (std::size_t at = 0; at < piece.size(); at += kSlice) {
        if (!connection.Send(std::string_view(piece).substr(at, kSlice), Deadline(settings_.timeout_ms))) {
          why = connection.error();
          return false;
        }
      }
      return true;
    };
    request.accepted = {last ? 201 : 200};
    request.bearer = false;
    request.note = " " + ContentRange(range, facts.size);
    HttpResponse answer;
    failure = Call(request, answer);
    piece.clear();
    ++next;
    return !failure;
  };
  const bool read = email_.ReadAttachment(index, [&](std::string_view chunk) {
    while (!chunk.empty()) {
      const std::uint64_t want = pieces[next].last - pieces[next].first + 1 - piece.size();
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(want, chunk.size()));
      piece.append(chunk.substr(0, take));
      chunk.remove_prefix(take);
      if (piece.size() == pieces[next].last - pieces[next].first + 1 && !put()) return false;
    }
    return true;
  });
  if (failure) return failure;
  if (!read) return Failure{Outcome::kTemporary, email_.ReadError()};
  return std::nullopt;
}

// An attachment under 3 MB that the draft had no room for: one POST of
// its bytes in JSON, as Graph takes small files.
std::optional<Failure> GraphSender::AddSmallAttachment(const std::string& message_url, std::size_t index,
                                                       const CEmail::AttachmentFacts& facts) {
  const runtime::Activation activation("GRAPHSENDER:ADDSMALLATTACHMENT", __LINE__);
  const nlohmann::json fields = {
      {"@odata.type", "#microsoft.graph.fileAttachment"}, {"name", facts.name}, {"contentType", facts.type}};
  std::string prefix = fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  prefix.pop_back();  // the closing brace: contentBytes follows
  prefix += ",\"contentBytes\":\"";
  const std::string suffix = "\"}";
  Request request{"POST", message_url + "/attachments", "the attachment " + facts.name};
  request.fields = {"Content-Type: application/json"};
  request.length = prefix.size() + Base64Length(facts.size) + suffix.size();
  request.body = [&, index](Connection& connection, std::string& why) {
    Base64Stream stream(connection, settings_.timeout_ms);
    if (!connection.Send(prefix, Deadline(settings_.timeout_ms)) ||
        !email_.ReadAttachment(index, [&](std::string_view chunk) { return stream.Feed(chunk); }) ||
        !stream.Finish() || !connection.Send(suffix, Deadline(settings_.timeout_ms))) {
      return BodyFailed(email_, connection, why);
    }
    return true;
  };
  request.accepted = {201};
  HttpResponse response;
  return Call(request, response);
}

std::optional<Failure> GraphSender::Call(const Request& request, HttpResponse& response) {
  const runtime::Activation activation("GRAPHSENDER:CALL", __LINE__);
  bool waited = false;
  for (;;) {
    if (request.bearer && token_.empty()) {
      if (auto failure = tokens_.Token(fresh_, token_, kept_)) return failure;
    }
    if (auto failure = Exchange(request, response)) return failure;
    if (response.status == 401 && request.bearer) {
      // A refused token is never used again; one kept from an earlier run
      // may only have expired early, so a fresh one gets one more try.
      tokens_.Refused();
      token_.clear();
      if (kept_ && !fresh_) {
        fresh_ = true;
        continue;
      }
    }
    const auto retry_after = response.headers.find("retry-after");
    const std::string advice = retry_after == response.headers.end() ? "" : retry_after->second;
    if (!waited) {
      if (const auto wait = RetryWait(response.status, advice, settings_.timeout_ms / 1000)) {
        Event("waiting " + std::to_string(*wait) + " s before trying once more");
        runtime::Sleep(static_cast<unsigned>(*wait) * 1000);
        waited = true;
        continue;
      }
    }
    break;
  }
  const auto& ok = request.accepted;
  if (std::find(ok.begin(), ok.end(), response.status) != ok.end()) return std::nullopt;
  return StatusFailure(request, response);
}

std::optional<Failure> GraphSender::Exchange(const Request& request, HttpResponse& response) {
  const runtime::Activation activation("GRAPHSENDER:EXCHANGE", __LINE__);
  const std::string shown = runtime::Printable(UrlWithoutQuery(request.url), 300);
  Event(request.method + " " + shown + request.note);
  HttpsUrl url;
  if (const std::string why = ParseHttpsUrl(request.url, url); !why.empty()) {
    return Failure{Outcome::kPermanent, "the URL " + shown + " for " + request.what + " cannot be used: " + why};
  }
  auto failed = [&](Outcome kind, const std::string& why) {
    Event(why);
    return Failure{kind, "Graph request " + request.method + " " + shown + " failed: " + why};
  };
  std::string why;
  bool temporary = true;
  std::unique_ptr<Connection> tls =
      ConnectHttps(transport_, url, settings_.verify, settings_.ca_file, settings_.timeout_ms, why, temporary);
  if (!tls) return failed(temporary ? Outcome::kTemporary : Outcome::kPermanent, why);
  std::vector<std::string> fields = request.fields;
  fields.push_back("Accept: application/json");
  if (request.bearer) fields.push_back("Authorization: Bearer " + token_);
  if (!tls->Send(HttpRequestHead(request.method, url, fields, request.length), Deadline(settings_.timeout_ms))) {
    return failed(Outcome::kTemporary, tls->error());
  }
  if (request.body && !request.body(*tls, why)) return failed(Outcome::kTemporary, why);
  bool lost = false;
  if (!ReadHttpResponse(*tls, Deadline(settings_.timeout_ms), response, why, lost, kMostGraphAnswer)) {
    return failed(lost ? Outcome::kTemporary : Outcome::kPermanent, why);
  }
  const GraphError error = ReadGraphError(response.body);
  std::string line = "HTTP " + std::to_string(response.status);
  if (!response.reason.empty()) line += " " + runtime::Printable(response.reason, runtime::kMostQuoted);
  if (!error.code.empty()) line += "; error.code " + error.code;
  if (!error.message.empty()) line += "; error.message " + error.message;
  Event(line);
  return std::nullopt;
}

Failure GraphSender::StatusFailure(const Request& request, const HttpResponse& response) const {
  const int status = response.status;
  const GraphError error = ReadGraphError(response.body);
  std::string detail = std::to_string(status);
  if (!error.code.empty()) detail += " " + error.code;
  if (!error.message.empty()) detail += (error.code.empty() ? " " : ": ") + error.message;
  if (error.code.empty() && error.message.empty() && !response.reason.empty()) {
    detail += " " + runtime::Printable(response.reason, runtime::kMostQuoted);
  }
  // Throttling and the service's own faults pass; the rest (no permission,
  // no such mailbox, a request Graph cannot take) needs a change first.
  const bool passing = status == 408 || status == 429 || status >= 500;
  // A request Graph cannot take, or a message too large, is the message's
  // own; no permission or no such mailbox holds for any message.
  Failure failure{passing ? Outcome::kTemporary : Outcome::kPermanent, "", status == 400 || status == 413};
  if (status >= 200 && status < 300) {
    failure.text = "Graph did not confirm " + request.what + " (" + detail + ")";
    return failure;
  }
  failure.text = "Graph refused " + request.what + " (" + detail + ")";
  if (status == 429 || status == 503) {
    const auto retry_after = response.headers.find("retry-after");
    const std::string advice = retry_after == response.headers.end() ? "" : retry_after->second;
    if (!RetryWait(status, advice, settings_.timeout_ms / 1000)) {
      failure.text += " and asked to wait " + runtime::Printable(advice, 20) + " s, longer than Timeout";
    } else {
      failure.text += " once more after the one retry";
    }
  }
  if (status >= 300 && status < 400) failure.text += " (postrine follows no redirect; check GraphURL)";
  return failure;
}

}  // namespace mailclient
