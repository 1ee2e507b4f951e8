#include "mailclient/smtp/reply.h"

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

std::string Reply::Quote() const {
  const runtime::Activation activation("REPLY:QUOTE", __LINE__);
  std::string text = std::to_string(code);
  for (const std::string& line : lines) {
    if (!line.empty()) text += ' ' + line;
  }
  return text;
}

void ReplyParser::Reset() {
  const runtime::Activation activation("REPLYPARSER:RESET", __LINE__);
  reply_ = Reply();
  error_.clear();
}

ReplyParser::Status ReplyParser::Fail(std::string why, std::string_view line) {
  const runtime::Activation activation("REPLYPARSER:FAIL", __LINE__);
  error_ = "the server's reply is malformed (" + why + "): \"" + runtime::Printable(line, runtime::kMostQuoted) + "\"";
  return Status::kMalformed;
}

ReplyParser::Status ReplyParser::Feed(std::string_view line) {
  const runtime::Activation activation("REPLYPARSER:FEED", __LINE__);
  if (line.size() > kMaxReplyLine) return Fail("a line longer than 4096 bytes", line);
  if (line.size() < 3 || !runtime::IsAsciiDigit(line[0]) || !runtime::IsAsciiDigit(line[1]) ||
      !runtime::IsAsciiDigit(line[2])) {
    return Fail("no reply code", line);
  }
  int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  if (code < 200 || code > 599) return Fail("reply code out of range", line);
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return Fail("no blank after the code", line);
  if (!reply_.lines.empty() && code != reply_.code) return Fail("the code changes within the reply", line);
  if (reply_.lines.size() >= kMaxReplyLines) return Fail("more than 512 lines", line);
  reply_.code = code;
  reply_.lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
  bool last = line.size() == 3 || line[3] == ' ';
  return last ? Status::kDone : Status::kMore;
}

}  // namespace mailclient
