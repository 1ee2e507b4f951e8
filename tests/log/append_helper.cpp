// A writer for the shared-log test: from the moment the start file exists,
// so that the writers begin together, appends COUNT numbered lines to LOG
// with LogFile:DebugMsg as fast as it can; 0 when every line was written.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "error/def_error.h"
#include "log/log_file.h"
#include "runtime/files.h"
#include "runtime/process.h"

int main(int argc, char** argv) {
  runtime::InitProcess(argc, argv);
  if (argc != 5) {
    std::fprintf(stderr, "usage: log_append_helper LOG TAG COUNT START\n");
    return 64;
  }
  // The program's default handler, as the program installs it at start-up.
  error::InstallDefError();
  error::RegisterDefErrorGen();
  const std::string tag = argv[2];
  const long count = std::strtol(argv[3], nullptr, 10);
  for (int waited = 0; !runtime::File(argv[4]); ++waited) {
    if (waited > 60000) return 70;
    runtime::Sleep(1);
  }
  const std::string log_name = argv[1];
  LogFile log(log_name);
  long lost = 0;
  for (long i = 0; i < count; ++i) {
    if (!log.DebugMsg(tag + " " + std::to_string(i))) ++lost;
  }
  return lost == 0 ? 0 : 1;
}
