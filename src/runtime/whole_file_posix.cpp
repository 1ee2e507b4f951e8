#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/whole_file.h"

namespace runtime::detail {

bool OpenForReading(const std::string& name, Handle& h, std::uint64_t& size, bool& regular, std::string& reason) {
  // Without O_NONBLOCK the open of a FIFO waits for a writer; without
  // O_NOCTTY a terminal named here could become the controlling one.
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    reason = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    reason = std::strerror(EISDIR);
    ::close(fd);
    return false;
  }
  h = fd;
  regular = S_ISREG(info.st_mode);
  size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  // A regular file reads as it always does.
  if (regular) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return true;
}

long long ReadChunk(Handle h, char* at, std::size_t room, std::string& reason) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(h), at, room);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    reason = std::strerror(errno);
    return -1;
  }
}

void CloseReading(Handle h) { ::close(static_cast<int>(h)); }

// A large body is touched once from end to end: with large pages the
// system sets it up in a few steps instead of one per 4 KiB page.
void PrepareLargeBuffer(char* data, std::size_t size) {
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

}  // namespace runtime::detail
