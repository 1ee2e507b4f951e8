// A peer played from a script for the code above TCP: it hands out its
// pieces one per read, then the end of the stream (or, when `silent`, a
// time-out), and keeps what was sent to it.
#pragma once

#include <algorithm>
#include <deque>
#include <string>

#include "mailclient/net/net.h"

namespace scripted {

class Peer final : public mailclient::Connection {
 public:
  explicit Peer(std::deque<std::string> pieces, bool silent = false, std::string* sent = nullptr)
      : silent_(silent), sent_(sent) {
    for (std::string& p : pieces) {
      if (!p.empty()) pieces_.push_back(std::move(p));
    }
  }
  bool Send(std::string_view bytes, const mailclient::Deadline&) override {
    if (sent_ != nullptr) sent_->append(bytes);
    return true;
  }
  long Receive(char* buffer, std::size_t size, const mailclient::Deadline& deadline) override {
    if (pieces_.empty()) {
      if (silent_) error_ = mailclient::TimedOut(deadline);
      return silent_ ? -1 : 0;
    }
    std::string& front = pieces_.front();
    const std::size_t n = std::min(size, front.size());
    front.copy(buffer, n);
    front.erase(0, n);
    if (front.empty()) pieces_.pop_front();
    return static_cast<long>(n);
  }
  const std::string& error() const override { return error_; }

 private:
  std::deque<std::string> pieces_;
  bool silent_;
  std::string* sent_;
  std::string error_;
};

/// `text` in pieces of `size` bytes, the last one shorter.
inline std::deque<std::string> Cut(const std::string& text, std::size_t size) {
  std::deque<std::string> pieces;
  for (std::size_t at = 0; at < text.size(); at += size) pieces.push_back(text.substr(at, size));
  return pieces;
}

}  // namespace scripted
