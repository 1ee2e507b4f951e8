// Recovery points: a scope to which a run-time error can transfer control.
// A break is an exception that only the innermost recovery point catches;
// code in between unwinds normally.
#pragma once

#include <functional>

#include "runtime/value.h"

namespace runtime {

/// True while a recovery point is active.
bool CanBreak();

/// Transfers control to the innermost recovery point with `value`. Must
/// only be called while CanBreak() is true.
[[noreturn]] void Break(const Value& value);

/// Runs `body` as a recovery point. True when it ran to its end; false when
/// a break left it, with the break's value in `*broken` when given.
bool RunRecoveryPoint(const std::function<void()>& body, Value* broken = nullptr);

}  // namespace runtime
