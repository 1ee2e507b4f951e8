// The default error handler in the slot, as the program installs it at
// start-up; shared by the log tests and their helper program.
#include "error/def_error.h"
#include "support.h"

namespace logtest {

void InstallDefaultHandler() {
  error::InstallDefError();
  error::RegisterDefErrorGen();
}

}  // namespace logtest
