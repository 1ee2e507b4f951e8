#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "runtime/file_source.h"
#include "runtime/standard_streams.h"

namespace runtime::detail {

bool CreateSpool(Handle& h, std::string& reason) {
  const char* dir = std::getenv("TMPDIR");
  std::string name = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  name += "/postrine-XXXXXX";
  // mkstemp makes the file with mode 0600; unlinked at once, it can be
  // left behind by no outcome, a crash included.
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  ::unlink(name.c_str());
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  h = fd;
  return true;
}

bool WriteSpool(Handle h, const char* data, std::size_t size, std::string& reason) {
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(h), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = std::strerror(n < 0 ? errno : ENOSPC);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

long long ReadStandardInput(char* at, std::size_t room, std::string& reason) {
  if (StandardInputClosed()) {
    reason = kStandardInputClosed;
    return -1;
  }
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, at, room);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    reason = std::strerror(errno);
    return -1;
  }
}

bool RewindReading(Handle h, std::string& reason) {
  if (::lseek(static_cast<int>(h), 0, SEEK_SET) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

}  // namespace runtime::detail
