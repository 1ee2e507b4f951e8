#include "runtime/deadline.h"

#include <chrono>

namespace runtime {

long long MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Deadline::Deadline(int limit_ms) : at_ms_(MonotonicMs() + limit_ms), limit_ms_(limit_ms) {}

int Deadline::Left() const {
  const long long left = at_ms_ - MonotonicMs();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string TimedOut(const Deadline& deadline) {
  const int seconds = (deadline.limit_ms() + 999) / 1000;
  return "no answer within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

}  // namespace runtime
