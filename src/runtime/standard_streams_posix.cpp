#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/standard_streams.h"

namespace runtime {

namespace {
bool g_input_closed = false;
}

void GuardStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDIN_FILENO) g_input_closed = true;
    // open takes the lowest free descriptor, which is this one.
    const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null != fd && null >= 0) ::close(null);
  }
}

bool StandardInputClosed() { return g_input_closed; }

}  // namespace runtime
