#include <time.h>

#include "runtime/local_time.h"

namespace runtime {

bool BrokenDownTime(std::time_t t, bool local, std::tm& out) {
  return (local ? ::localtime_r(&t, &out) : ::gmtime_r(&t, &out)) != nullptr;
}

}  // namespace runtime
