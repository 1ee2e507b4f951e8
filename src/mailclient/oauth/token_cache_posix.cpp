#include <fcntl.h>
#include <unistd.h>

#include "mailclient/oauth/token_cache.h"
#include "runtime/identity.h"

namespace mailclient {

bool detail::ReplaceFileWith(const std::string& file, const std::string& content) {
  const std::string temp = file + "." + runtime::RandomHex(8) + ".tmp";
  // Mode 0600 from the start: the token is never readable by others, not
  // even for a moment.
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), file.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

void detail::RemoveFile(const std::string& file) { ::unlink(file.c_str()); }

}  // namespace mailclient
