// The moment a wait must end. One deadline is carried down through every
// layer of a connection or a child process, so that a peer that trickles
// bytes cannot stretch a wait, and a message can name the configured limit.
#pragma once

#include <string>

namespace runtime {

/// Milliseconds on the monotonic clock.
long long MonotonicMs();

class Deadline {
 public:
  /// `limit_ms` from now.
  explicit Deadline(int limit_ms);
  /// Milliseconds left; 0 once the deadline has passed.
  int Left() const;
  bool Passed() const { return Left() == 0; }
  int limit_ms() const { return limit_ms_; }

 private:
  long long at_ms_;
  int limit_ms_;
};

/// "no answer within N seconds", N the deadline's configured limit.
std::string TimedOut(const Deadline& deadline);

}  // namespace runtime
