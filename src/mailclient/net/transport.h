// How a client reaches a server: a connection to a host and port, and the
// TLS handshake over a connection. The system's TCP and the platform's TLS
// unless a test plays the server.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "mailclient/net/net.h"
#include "mailclient/net/tls.h"

namespace mailclient {

struct Transport {
  std::function<std::unique_ptr<Connection>(const std::string& host, int port, int timeout_ms, std::string& error,
                                            const EventSink& events)>
      connect = ConnectTcp;
  std::function<std::unique_ptr<Connection>(std::unique_ptr<Connection> plain, const TlsOptions& options,
                                            std::string& error)>
      start_tls = StartTls;
};

}  // namespace mailclient
