// The error dialog as a prompt on the controlling terminal. A process
// without one (a cron job, a daemon, a test run in its own session) is
// never asked, and neither is a background job: its read of the terminal
// would stop it until someone brought it to the foreground.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "runtime/error_dialog.h"
#include "runtime/exceptions.h"

namespace runtime {

namespace {
struct Terminal {
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  ~Terminal() {
    if (fd >= 0) ::close(fd);
  }
  // A person at the terminal sees this process's output and answers it.
  bool HasPerson() const { return fd >= 0 && ::tcgetpgrp(fd) == ::getpgrp(); }
  void Write(const std::string& text) const {
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  // One line typed by the user; false at the end of input.
  bool ReadLine(std::string& line) const {
    line.clear();
    char c = 0;
    for (;;) {
      ssize_t n = ::read(fd, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return !line.empty();
      if (c == '\n') return true;
      if (c != '\r') line += c;
    }
  }
};
}  // namespace

namespace detail {

bool PlatformAsk(const std::string& text, const std::string& caption, std::uint32_t def, std::uint32_t retry,
                 std::uint32_t quit, std::uint32_t& answer) {
  Terminal tty;
  if (!tty.HasPerson()) return false;
  // The report of a processor exception may take as long as the person.
  const WatchdogPause pause;
  std::string choices;
  if (def != 0) choices += "[D]efault, ";
  if (retry != 0) choices += "[R]etry, ";
  choices += "[Q]uit";
  tty.Write("\r\n" + caption + "\r\n" + text + "\r\n" + choices + "? ");
  std::string line;
  answer = quit;
  while (tty.ReadLine(line)) {
    const char c = line.empty() ? ' ' : static_cast<char>(line[0] | 0x20);
    if (c == 'd' && def != 0) {
      answer = def;
      return true;
    }
    if (c == 'r' && retry != 0) {
      answer = retry;
      return true;
    }
    if (c == 'q') return true;
    tty.Write(choices + "? ");
  }
  return true;
}

bool PlatformInform(const std::string& text, const std::string& caption) {
  Terminal tty;
  if (!tty.HasPerson()) return false;
  tty.Write("\r\n" + caption + "\r\n" + text + "\r\n");
  return true;
}

void PlatformTone(unsigned, unsigned) {
  Terminal tty;
  if (tty.HasPerson()) tty.Write("\a");
}

}  // namespace detail

}  // namespace runtime
