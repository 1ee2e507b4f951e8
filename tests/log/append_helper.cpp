// A second writer for the shared-log tests: waits until the start file
// exists, so that the writers of one test begin together, then appends
// `count` numbered lines to the log as fast as it can and exits with 0 when
// every line was written.
//
//   log_append_helper logfile|fopenretry LOG TAG COUNT START
//
// "logfile" writes with LogFile:DebugMsg; "fopenretry" makes one FOpenRetry
// per line, nothing more, to measure what the ten tries alone lose. Prints
// the number of lines that could not be written, the number of pauses that
// conflicts with the other writers cost, and the most pauses of one line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/fopen_retry.h"
#include "log/log_file.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "support/default_handler.h"

namespace {
long g_pauses = 0;
void CountedPause(unsigned ms) {
  ++g_pauses;
  runtime::PlatformSleepFor(ms);
}
}  // namespace

int main(int argc, char** argv) {
  runtime::InitProcess(argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: log_append_helper logfile|fopenretry LOG TAG COUNT START\n");
    return 64;
  }
  test_support::InstallDefaultHandler();
  const std::string mode = argv[1];
  const std::string log_name = argv[2];
  const std::string tag = argv[3];
  const long count = std::strtol(argv[4], nullptr, 10);
  for (int waited = 0; !runtime::File(argv[5]); ++waited) {
    if (waited > 60000) return 70;
    runtime::Sleep(1);
  }
  long lost = 0;
  runtime::SetPauseFunction(&CountedPause);
  LogFile log(log_name);
  long most = 0;
  for (long i = 0; i < count; ++i) {
    const long before = g_pauses;
    const std::string line = tag + " " + std::to_string(i);
    if (mode == "logfile") {
      if (!log.DebugMsg(line)) ++lost;
    } else if (const runtime::Handle h = FOpenRetry(log_name, runtime::FO_READWRITE); h != runtime::kInvalidHandle) {
      runtime::FSeek(h, 0, runtime::FS_END);
      runtime::FPutS(h, line);
      runtime::FClose(h);
    } else {
      ++lost;
    }
    most = std::max(most, g_pauses - before);
  }
  std::printf("%ld %ld %ld\n", lost, g_pauses, most);
  return lost == 0 ? 0 : 1;
}
