#include <csignal>

#include "mailclient/net/setup.h"

namespace mailclient {

bool Setup() {
  // A server that closes the connection must give a write error, not end
  // the process with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace mailclient
