#include "mailclient/smtp_channel.h"

#include "runtime/activation.h"

namespace mailclient {

SmtpChannel::SmtpChannel(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {
  const runtime::Activation activation("SMTPCHANNEL:INIT", __LINE__);
}

bool SmtpChannel::Send(std::string_view bytes, int timeout_ms) {
  const runtime::Activation activation("SMTPCHANNEL:SEND", __LINE__);
  if (connection_->Send(bytes, Deadline(timeout_ms))) return true;
  error_ = "the connection failed while sending: " + connection_->error();
  return false;
}

bool SmtpChannel::ReadLine(std::string& line, const Deadline& deadline) {
  const runtime::Activation activation("SMTPCHANNEL:READLINE", __LINE__);
  for (;;) {
    const std::size_t nl = buffer_.find('\n', pos_);
    if (nl != std::string::npos) {
      std::size_t end = nl;
      if (end > pos_ && buffer_[end - 1] == '\r') --end;
      line.assign(buffer_, pos_, end - pos_);
      pos_ = nl + 1;
      return true;
    }
    if (buffer_.size() - pos_ > kMaxReplyLine + 2) {
      error_ = "the server sent a reply line longer than " + std::to_string(kMaxReplyLine) + " bytes";
      return false;
    }
    buffer_.erase(0, pos_);
    pos_ = 0;
    if (deadline.Passed()) {
      error_ = "the server did not answer: " + TimedOut(deadline);
      return false;
    }
    char chunk[4096];
    const long n = connection_->Receive(chunk, sizeof chunk, deadline);
    if (n == 0) {
      error_ = "the server closed the connection";
      return false;
    }
    if (n < 0) {
      error_ = "the server did not answer: " + connection_->error();
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool SmtpChannel::ReadReply(Reply& reply, int timeout_ms) {
  const runtime::Activation activation("SMTPCHANNEL:READREPLY", __LINE__);
  const Deadline deadline(timeout_ms);
  ReplyParser parser;
  std::string line;
  for (;;) {
    if (!ReadLine(line, deadline)) return false;
    switch (parser.Feed(line)) {
      case ReplyParser::Status::kMore: continue;
      case ReplyParser::Status::kDone: reply = parser.reply(); return true;
      case ReplyParser::Status::kMalformed: error_ = parser.error(); return false;
    }
  }
}

}  // namespace mailclient
