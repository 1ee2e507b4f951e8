#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/activation.h"
#include "runtime/whole_file.h"

namespace runtime {

namespace {
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};
}  // namespace

bool ReadWholeFile(const std::string& name, std::string& content, std::string& reason) {
  const Activation activation("READWHOLEFILE", __LINE__);
  content.clear();
  Descriptor file{::open(name.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat info {};
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    reason = std::strerror(EISDIR);
    return false;
  }
  // The size is a first guess only: a file that grows or a pipe still
  // reads to its end.
  content.resize(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0);
  std::size_t used = 0;
  char probe[65536];
  for (;;) {
    // Fill the space of the known size first; past it, read into a small
    // buffer so that a file of the expected size is never copied again.
    bool into_content = used < content.size();
    char* at = into_content ? content.data() + used : probe;
    std::size_t room = into_content ? content.size() - used : sizeof probe;
    ssize_t n = ::read(file.fd, at, room);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::strerror(errno);
      content.clear();
      return false;
    }
    if (n == 0) break;
    if (!into_content) {
      content.resize(used);
      content.append(probe, static_cast<std::size_t>(n));
    }
    used += static_cast<std::size_t>(n);
  }
  content.resize(used);
  return true;
}

}  // namespace runtime
