#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
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
// A large body is touched once from end to end: with large pages the
// system sets it up in a few steps instead of one per 4 KiB page.
void BackWithLargePages(char* data, std::size_t size) {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kLargePage = 2 * 1024 * 1024;
  if (size < 4 * kLargePage) return;
  const auto start = (reinterpret_cast<std::uintptr_t>(data) + kLargePage - 1) & ~(kLargePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLargePage - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

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
  const std::size_t expected = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
  content.reserve(expected);
  BackWithLargePages(content.data(), expected);
  content.resize(expected);
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
