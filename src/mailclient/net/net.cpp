#include "mailclient/net/net.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "mailclient/net/net_platform.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {

// A connected socket. Every wait is bounded by the caller's time-out, so a
// silent server can never hold the program.
class TcpConnection final : public Connection {
 public:
  explicit TcpConnection(detail::OwnedSocket s) : owned_(std::move(s)) {}

  // The limit of a send is on silence: every byte the system takes starts
  // it anew, so a slow but steady link is waited for as long as it moves.
  // The system reports a full send buffer as writable only once a good
  // part of it has drained, which on a slow link can take longer than the
  // limit: the wait looks again every few moments whether it takes bytes.
  bool Send(std::string_view bytes, const Deadline& deadline) override {
    const runtime::Activation activation("TCPCONNECTION:SEND", __LINE__);
    Deadline quiet = deadline;
    while (!bytes.empty()) {
      const long n = detail::SocketSend(s_, bytes.data(), bytes.size());
      if (n == detail::kFailed) {
        error_ = detail::SocketError();
        return false;
      }
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        quiet = Deadline(deadline.limit_ms());
        continue;
      }
      if (quiet.Passed()) {
        error_ = TimedOut(quiet);
        return false;
      }
      if (detail::SocketWait(s_, true, std::min(quiet.Left(), kSendLook)) < 0) {
        error_ = detail::SocketError();
        return false;
      }
    }
    return true;
  }

  long Receive(char* buffer, std::size_t size, const Deadline& deadline) override {
    const runtime::Activation activation("TCPCONNECTION:RECEIVE", __LINE__);
    for (;;) {
      const long n = detail::SocketReceive(s_, buffer, size);
      if (n >= 0) return n;
      if (n == detail::kFailed) error_ = detail::SocketError();
      if (n == detail::kFailed || !Wait(false, deadline)) return -1;
    }
  }

  const std::string& error() const override { return error_; }

 private:
  bool Wait(bool write, const Deadline& deadline) {
    const int ready = detail::SocketWait(s_, write, deadline.Left());
    if (ready == 1) return true;
    error_ = ready == 0 ? TimedOut(deadline) : detail::SocketError();
    return false;
  }

  static constexpr int kSendLook = 100;  // ms

  detail::OwnedSocket owned_;
  const detail::Socket s_ = owned_.get();
  std::string error_;
};

}  // namespace


// The system's resolver knows no time limit, so it runs on a thread of its
// own; at the deadline the thread is left to finish alone and its answer
// is thrown away.
std::vector<Endpoint> detail::ResolveWithin(const Resolver& resolve, const std::string& host, int port,
                                            const Deadline& deadline, std::string& error) {
  const runtime::Activation activation("RESOLVEWITHIN", __LINE__);
  struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<Endpoint> endpoints;
    std::string error;
  };
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, resolve, host, port] {
      std::string why;
      std::vector<Endpoint> endpoints = resolve(host, port, why);
      const std::lock_guard<std::mutex> lock(lookup->mutex);
      lookup->endpoints = std::move(endpoints);
      lookup->error = std::move(why);
      lookup->finished = true;
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return resolve(host, port, error);  // no thread to spare: wait as the system does
  }
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->done.wait_for(lock, std::chrono::milliseconds(deadline.Left()), [&] { return lookup->finished; })) {
    error = "the name service gave " + TimedOut(deadline);
    return {};
  }
  error = lookup->error;
  return std::move(lookup->endpoints);
}

bool LineWatch::Send(std::string_view bytes, const Deadline& deadline) {
  const bool sent = inner_->Send(bytes, deadline);
  failed_ = failed_ || !sent;
  return sent;
}

long LineWatch::Receive(char* buffer, std::size_t size, const Deadline& deadline) {
  const long n = inner_->Receive(buffer, size, deadline);
  failed_ = failed_ || n <= 0;
  return n;
}

std::string BareHost(const std::string& server) {
  const bool bracketed = server.size() > 2 && server.front() == '[' && server.back() == ']' &&
                         server.find(':') != std::string::npos;
  return bracketed ? server.substr(1, server.size() - 2) : server;
}

std::unique_ptr<Connection> ConnectTcp(const std::string& host, int port, int timeout_ms, std::string& error,
                                       const EventSink& events) {
  const runtime::Activation activation("CONNECTTCP", __LINE__);
  const std::string where = host + " port " + std::to_string(port);
  if (port <= 0 || port > 65535) {
    error = "cannot connect to " + where + ": the port number is out of range";
    return nullptr;
  }
  std::string why;
  const std::vector<Endpoint> endpoints = detail::ResolveWithin(Resolve, host, port, Deadline(timeout_ms), why);
  if (endpoints.empty()) {
    error = "cannot find the server " + host + ": " + why;
    if (events) events(error);
    return nullptr;
  }
  // Each address in turn: a server may listen on IPv4 only, or IPv6 only.
  std::string reason;
  for (const Endpoint& endpoint : endpoints) {
    detail::OwnedSocket s = detail::Connect(endpoint, timeout_ms, reason);
    if (events) {
      events("connect " + detail::EndpointText(endpoint) + " port " + std::to_string(port) + ": " +
             (s ? "connected" : reason));
    }
    if (s) return std::make_unique<TcpConnection>(std::move(s));
  }
  error = "cannot connect to " + where + ": " + reason;
  return nullptr;
}

}  // namespace mailclient
