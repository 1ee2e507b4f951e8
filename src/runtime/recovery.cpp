#include "runtime/recovery.h"

#include <cstddef>

namespace runtime {

namespace {
std::size_t g_active = 0;

// Carries the break to the recovery point that was innermost when it was
// thrown; an outer point never takes an inner point's break.
struct BreakSignal {
  std::size_t level;
  Value value;
};

struct ActiveScope {
  ActiveScope() { ++g_active; }
  ~ActiveScope() { --g_active; }
};
}  // namespace

bool CanBreak() { return g_active > 0; }

void Break(const Value& value) { throw BreakSignal{g_active, value}; }

bool RunRecoveryPoint(const std::function<void()>& body, Value* broken) {
  const std::size_t level = g_active + 1;
  try {
    ActiveScope scope;
    body();
    return true;
  } catch (BreakSignal& signal) {
    if (signal.level != level) throw;
    if (broken != nullptr) *broken = std::move(signal.value);
    return false;
  }
}

}  // namespace runtime
