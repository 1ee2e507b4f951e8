#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/private_file.h"

namespace runtime {

Handle OpenNewPrivate(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_CLOEXEC | O_WRONLY | O_CREAT | O_EXCL, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kInvalidHandle : fd;
}

bool FCreateNewPrivate(const std::string& name) {
  const Handle h = OpenNewPrivate(name);
  if (h == kInvalidHandle) return false;
  ::close(static_cast<int>(h));
  return true;
}

bool IsRegularFile(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace runtime
