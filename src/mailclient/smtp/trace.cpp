#include "mailclient/smtp/trace.h"

#include "mailclient/smtp/reply.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

// The reply code of a reply line, and whether the line ends its reply.
int Code(std::string_view line) {
  if (line.size() < 3) return 0;
  int code = 0;
  for (char c : line.substr(0, 3)) {
    if (!runtime::IsAsciiDigit(c)) return 0;
    code = code * 10 + (c - '0');
  }
  return code;
}

bool EndsReply(std::string_view line) { return line.size() <= 3 || line[3] != '-'; }

}  // namespace

void ProtocolTrace::Event(std::string_view text) {
  const runtime::Activation activation("PROTOCOLTRACE:EVENT", __LINE__);
  sink_(runtime::Printable(text));
}

void ProtocolTrace::Sent(std::string_view bytes) {
  const runtime::Activation activation("PROTOCOLTRACE:SENT", __LINE__);
  while (!bytes.empty()) {
    if (phase_ == Phase::kBody) {
      BodyBytes(bytes);
      return;
    }
    const std::size_t nl = bytes.find('\n');
    if (nl == std::string_view::npos) {
      partial_.append(bytes);
      return;
    }
    partial_.append(bytes.substr(0, nl));
    bytes.remove_prefix(nl + 1);
    if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
    const std::string line = std::move(partial_);
    partial_.clear();
    Line(line);
  }
}

// One whole line from the client.
void ProtocolTrace::Line(std::string_view line) {
  const runtime::Activation activation("PROTOCOLTRACE:LINE", __LINE__);
  switch (phase_) {
    case Phase::kLogon:
      // Whatever the mechanism, the client's answers are its secret.
      Event(std::string("C: ") + runtime::kRedacted);
      return;
    case Phase::kHeader:
      if (line.empty()) {
        phase_ = Phase::kBody;
        body_bytes_ = 0;
        body_lines_ = 0;
        body_line_start_.clear();
        return;
      }
      Event("C: " + std::string(line));
      return;
    case Phase::kCommands:
    case Phase::kDataSent:
    case Phase::kBody:
      break;
  }
  const std::string upper = runtime::AsciiUpper(std::string(line.substr(0, 5)));
  if (upper == "AUTH " || upper == "AUTH") {
    phase_ = Phase::kLogon;
    // "AUTH", the mechanism, and nothing of the initial response.
    const std::size_t name_end = line.find(' ', 5);
    std::string shown(line.substr(0, name_end));
    if (name_end != std::string_view::npos) shown.append(" ").append(runtime::kRedacted);
    Event("C: " + shown);
    return;
  }
  if (runtime::AsciiUpper(std::string(line)) == "DATA") phase_ = Phase::kDataSent;
  Event("C: " + std::string(line));
}

// The body as it goes out: counted, never shown, up to the line "." that
// ends it; anything sent after that line is a command again.
void ProtocolTrace::BodyBytes(std::string_view bytes) {
  const runtime::Activation activation("PROTOCOLTRACE:BODYBYTES", __LINE__);
  while (!bytes.empty()) {
    const std::size_t nl = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, nl == std::string_view::npos ? bytes.size() : nl + 1);
    bytes.remove_prefix(piece.size());
    if (body_line_start_.size() < 3) body_line_start_.append(piece.substr(0, 3 - body_line_start_.size()));
    body_bytes_ += piece.size();
    if (nl == std::string_view::npos) return;
    if (body_line_start_ == ".\r\n") {
      body_bytes_ -= body_line_start_.size();
      phase_ = Phase::kCommands;
      Event("body: " + std::to_string(body_bytes_) + " bytes, " + std::to_string(body_lines_) + " lines");
      Event("C: .");
      Sent(bytes);
      return;
    }
    ++body_lines_;
    body_line_start_.clear();
  }
}

void ProtocolTrace::Received(std::string_view line) {
  const runtime::Activation activation("PROTOCOLTRACE:RECEIVED", __LINE__);
  Event("S: " + std::string(line));
  if (!EndsReply(line)) return;
  const int code = Code(line);
  if (phase_ == Phase::kLogon && code != 334) phase_ = Phase::kCommands;
  if (phase_ == Phase::kDataSent) phase_ = code == 354 ? Phase::kHeader : Phase::kCommands;
}

void ProtocolTrace::Broken(std::string_view why) {
  const runtime::Activation activation("PROTOCOLTRACE:BROKEN", __LINE__);
  Event("error: " + std::string(why));
  phase_ = Phase::kCommands;
  partial_.clear();
}

}  // namespace mailclient
