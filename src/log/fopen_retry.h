// Opening a file that another process may hold for a moment: a sharing or
// lock conflict (the network-error flag NetErr after the failed open) is
// tried again, 1 millisecond later, up to 10 attempts in all.
#pragma once

#include <string>

#include "runtime/handle.h"

/// Opens the existing file `path` with the access `mode` (1 write, 2 read
/// and write; no sharing flags); the invalid handle after 10 attempts that
/// met a conflict or after the first failure of any other kind.
runtime::Handle FOpenRetry(const std::string& path, unsigned mode);

namespace logging {

inline constexpr int kOpenTries = 10;
inline constexpr unsigned kRetryPauseMs = 1;

/// The log's own open for one write: FOpenRetry again and again while the
/// file stays busy, so that a line is not lost to another writer that has
/// the file at each of the 10 attempts. Gives up on a conflict that lasts
/// kLogWriteRounds rounds or kLogWriteWaitMs milliseconds, whichever comes
/// first (a pause of 1 ms may take much longer on Windows), and at once on
/// any other failure.
runtime::Handle OpenLogForWrite(const std::string& path);
inline constexpr int kLogWriteRounds = 500;
inline constexpr int kLogWriteWaitMs = 5000;

}  // namespace logging
