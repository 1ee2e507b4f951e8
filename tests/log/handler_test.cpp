// The default error handler in the slot, as the program installs it at
// start-up; shared by the log tests and their helper program.
#include "error/error.h"
#include "runtime/error_slot.h"
#include "support.h"

namespace logtest {

void InstallDefaultHandler() {
  runtime::ErrorFunc(&DefErrorGen);
  // Until DefError is built: what it does with a sharing conflict.
  runtime::ErrorBlock([](const runtime::Value&) {
    runtime::NetErr(true);
    return runtime::Value(false);
  });
}

}  // namespace logtest
