#include "log/fopen_retry.h"

#include <chrono>

#include "runtime/activation.h"
#include "runtime/error_slot.h"
#include "runtime/files.h"
#include "runtime/process.h"

runtime::Handle FOpenRetry(const std::string& path, unsigned mode) {
  const runtime::Activation activation("FOPENRETRY", __LINE__);
  int tries = logging::kOpenTries;
  for (;;) {
    const runtime::Handle h = runtime::FOpen(path, mode);
    if (h != runtime::kInvalidHandle) return h;
    if (runtime::NetErr()) {
      --tries;
      runtime::Sleep(logging::kRetryPauseMs);
    } else {
      tries = 0;
    }
    if (tries == 0) return runtime::kInvalidHandle;
  }
}

namespace logging {

runtime::Handle OpenLogForWrite(const std::string& path) {
  const runtime::Activation activation("OPENLOGFORWRITE", __LINE__);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLogWriteWaitMs);
  for (int round = 0; round < kLogWriteRounds && std::chrono::steady_clock::now() < deadline; ++round) {
    const runtime::Handle h = FOpenRetry(path, runtime::FO_READWRITE);
    if (h != runtime::kInvalidHandle || !runtime::NetErr()) return h;
  }
  return runtime::kInvalidHandle;
}

}  // namespace logging
