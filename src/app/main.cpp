// Process entry: the start-up steps in their fixed order, then Start.
#include <exception>
#include <new>

#include "app/postrine.h"
#include "env/international.h"
#include "error/def_error.h"
#include "mailclient/net/setup.h"
#include "runtime/activation.h"
#include "runtime/error_slot.h"
#include "runtime/exceptions.h"
#include "runtime/process.h"
#include "runtime/standard_streams.h"

#if defined(POSTRINE_SHORT_PAUSE)
#include <cstdlib>
#include <cstring>

#include "app/queue.h"
namespace {
// Test build only: the pauses last 50 ms instead of seconds.
void ShortPause(unsigned ms) { runtime::PlatformSleepFor(ms < 50 ? ms : 50); }
// Test build only: the process ends at once, as in a crash or a power cut,
// at the step of writing a queue file that POSTRINE_CRASH_AT names.
void CrashAtStep(const char* step) {
  const char* at = std::getenv("POSTRINE_CRASH_AT");
  if (at != nullptr && std::strcmp(at, step) == 0) std::_Exit(99);
}
}  // namespace
#endif

#if defined(POSTRINE_FORCE_FAULT)
namespace {
// Test build only: the first pause (after a refusal or a failed send) meets
// a processor exception, as a fault in the send path would.
void FaultingPause(unsigned) { runtime::ForceProcessorException(); }
}  // namespace
#endif

#if defined(POSTRINE_FAULT_IN_ALLOCATOR)
#include "support/locked_allocator.h"
namespace {
// Test build only: the same, but inside the allocator with its lock held.
void FaultingPause(unsigned) { test_support::FaultInsideAllocator(); }
}  // namespace
#endif

int main(int argc, char** argv) {
  runtime::GuardStandardStreams();
  runtime::InitProcess(argc, argv);
  const runtime::Activation activation("MAIN", __LINE__);
#if defined(POSTRINE_SHORT_PAUSE)
  runtime::SetPauseFunction(ShortPause);
  app::SetQueueStepHook(CrashAtStep);
#endif
#if defined(POSTRINE_FORCE_FAULT) || defined(POSTRINE_FAULT_IN_ALLOCATOR)
  runtime::SetPauseFunction(FaultingPause);
#endif
  runtime::InstallExceptionTranslation();
  // Only a process without an error handler of its own takes the default
  // handler, and with it the user's locale.
  if (error::InstallDefError()) SetInternational(runtime::Symbol{"Windows"});
  error::RegisterDefErrorGen();
  mailclient::Setup();
  // An exception that leaves the command is a run-time error like any
  // other: it goes to the handler, which ends the process.
  try {
    Start();
  } catch (const std::bad_alloc&) {
    runtime::RaiseFatal(runtime::kGenMemory, "Out of memory");
  } catch (const std::exception& e) {
    runtime::RaiseFatal(runtime::kGenInternal, e.what());
  }
  return runtime::ErrorLevel();
}
