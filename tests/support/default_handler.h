// The program's default error handler in the handler slot, as the program
// installs it at start-up, for tests and helper programs that need a
// sharing conflict to set NetErr.
#pragma once

namespace test_support {

/// Installs the program's default error handler for the rest of the run.
void InstallDefaultHandler();

}  // namespace test_support
