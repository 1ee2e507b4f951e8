#include <cerrno>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#include "runtime/process.h"

namespace runtime {

namespace {
std::vector<std::string> g_args;
}

void InitProcess(int argc, char** argv) {
  g_args.assign(argv, argv + argc);
}

std::string CommandLine() { return JoinCommandLine(g_args); }

bool CommandLineIsText() { return true; }

std::string ExeFileName() {
  char buf[1024];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) {
    return g_args.empty() ? std::string() : g_args.front().substr(0, 1023);
  }
  return std::string(buf, static_cast<std::size_t>(n));
}

void PlatformSleepFor(unsigned ms) {
  // A monotonic sleep that carries on across signals.
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
  }
}

int ExitStatusFor(unsigned long code) { return code % 256 == 0 ? 1 : static_cast<int>(code % 256); }

}  // namespace runtime
