// Process entry: the start-up steps in their fixed order, then Start.
#include "app/postrine.h"
#include "mailclient/mailclient.h"
#include "runtime/activation.h"
#include "runtime/process.h"

#if defined(POSTRINE_SHORT_PAUSE)
namespace {
// Test build only: the pauses last 50 ms instead of seconds.
void ShortPause(unsigned ms) { runtime::PlatformSleepFor(ms < 50 ? ms : 50); }
}  // namespace
#endif

int main(int argc, char** argv) {
  runtime::InitProcess(argc, argv);
  const runtime::Activation activation("MAIN", __LINE__);
#if defined(POSTRINE_SHORT_PAUSE)
  runtime::SetPauseFunction(ShortPause);
#endif
  mailclient::Setup();
  Start();
  return runtime::ErrorLevel();
}
