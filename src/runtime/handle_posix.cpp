#include "runtime/handle.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace runtime {

// A standard stream that is missing: 0 is a real descriptor (standard input).
const Handle kNullHandle = -2;

Handle GetStdHandle(StdHandle which) {
  int fd = STDIN_FILENO;
  if (which == StdHandle::Output) fd = STDOUT_FILENO;
  if (which == StdHandle::Error) fd = STDERR_FILENO;
  if (fcntl(fd, F_GETFD) == -1) return kNullHandle;
  return fd;
}

std::size_t WriteHandle(Handle h, std::string_view bytes) {
  if (h < 0) return 0;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(static_cast<int>(h), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::string ReadHandle(Handle h, std::size_t max) {
  if (h < 0 || max == 0) return {};
  std::string buf(max, '\0');
  ssize_t n;
  do {
    n = ::read(static_cast<int>(h), buf.data(), max);
  } while (n < 0 && errno == EINTR);
  buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return buf;
}

bool IsTerminal(Handle h) { return h >= 0 && ::isatty(static_cast<int>(h)) == 1; }

}  // namespace runtime
