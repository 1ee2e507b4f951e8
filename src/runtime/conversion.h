// Conversions of run-time values that report a value of the wrong type as
// a data type error record (GenCode 33): the handler may hand back a
// substitute of the requested type, or let the conversion take its default.
#pragma once

#include <cstdint>

#include "runtime/value.h"

namespace runtime {

/// The value as an integer (a floating-point number loses its fraction).
/// Anything else raises the error with `operation` and the argument's
/// position; the result is then the handler's number, or 0.
std::int64_t ToLong(const Value& v, const char* operation, std::uint32_t arg_num);

}  // namespace runtime
