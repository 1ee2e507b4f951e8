#include "mailclient/smtp/smtp_channel.h"

#include "runtime/activation.h"

namespace mailclient {

SmtpChannel::SmtpChannel(std::unique_ptr<Connection> connection, ProtocolTrace* trace)
    : connection_(std::move(connection)), trace_(trace) {
  const runtime::Activation activation("SMTPCHANNEL:INIT", __LINE__);
}

bool SmtpChannel::Send(std::string_view bytes, int timeout_ms) {
  const runtime::Activation activation("SMTPCHANNEL:SEND", __LINE__);
  if (trace_ != nullptr) trace_->Sent(bytes);
  if (connection_->Send(bytes, Deadline(timeout_ms))) return true;
  return Failed("the connection failed while sending: " + connection_->error());
}

bool SmtpChannel::Failed(std::string why) {
  const runtime::Activation activation("SMTPCHANNEL:FAILED", __LINE__);
  error_ = std::move(why);
  if (trace_ != nullptr) trace_->Broken(error_);
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
      if (trace_ != nullptr) trace_->Received(line);
      return true;
    }
    if (buffer_.size() - pos_ > kMaxReplyLine + 2) {
      return Failed("the server sent a reply line longer than " + std::to_string(kMaxReplyLine) + " bytes");
    }
    buffer_.erase(0, pos_);
    pos_ = 0;
    if (deadline.Passed()) return Failed("the server did not answer: " + TimedOut(deadline));
    char chunk[4096];
    const long n = connection_->Receive(chunk, sizeof chunk, deadline);
    if (n == 0) return Failed("the server closed the connection");
    if (n < 0) return Failed("the server did not answer: " + connection_->error());
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
      case ReplyParser::Status::kMalformed: return Failed(parser.error());
    }
  }
}

}  // namespace mailclient
