// Calendar time broken down in the local zone or in UTC, by the platform's
// reentrant conversions.
#pragma once

#include <ctime>

namespace runtime {

/// `t` as local time (`local`) or UTC; false when the system cannot
/// convert it.
bool BrokenDownTime(std::time_t t, bool local, std::tm& out);

}  // namespace runtime
