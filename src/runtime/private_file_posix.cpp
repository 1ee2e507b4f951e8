#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/private_file.h"

namespace runtime {

bool FCreateNewPrivate(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_CLOEXEC | O_WRONLY | O_CREAT | O_EXCL, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool IsRegularFile(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace runtime
