#include <windows.h>

#include "runtime/standard_streams.h"

namespace runtime {

namespace {
bool g_input_closed = false;
}

// A Windows process gets handles, not descriptors: a file opened later
// never becomes a standard stream, so only the closed input is noted.
void GuardStandardStreams() {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  g_input_closed = in == nullptr || in == INVALID_HANDLE_VALUE;
}

bool StandardInputClosed() { return g_input_closed; }

}  // namespace runtime
